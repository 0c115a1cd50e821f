# Cross build for Windows with Debian's MinGW-w64 i686 compilers.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZEL_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# IEEE double arithmetic in SSE2 registers, as 64-bit builds and the
# platform's own 32-bit build do; the x87 default keeps 80-bit intermediates,
# so the same weight or cost computed twice can round differently.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

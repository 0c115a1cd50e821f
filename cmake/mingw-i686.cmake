# Cross build for Windows with Debian's MinGW-w64 i686 compilers.
# The driver's own threads and locks go through platform/ (Win32 calls), so
# either thread model builds it. The posix model is taken because GoogleTest
# needs std::mutex, which GCC 12's win32 model lacks; its winpthreads is
# linked statically (-static), so the DLL still imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZEL_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${ZEL_MINGW_PREFIX}-gcc-posix ${ZEL_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZEL_MINGW_PREFIX}-g++-posix ${ZEL_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZEL_MINGW_PREFIX}-windres)
find_program(CMAKE_AR NAMES ${ZEL_MINGW_PREFIX}-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES ${ZEL_MINGW_PREFIX}-ranlib REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${ZEL_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine.
find_program(CMAKE_CROSSCOMPILING_EMULATOR wine)


# IEEE double arithmetic in SSE2 registers, as 64-bit builds and the
# platform's own 32-bit build do; the x87 default keeps 80-bit intermediates,
# so the same weight or cost computed twice can round differently.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

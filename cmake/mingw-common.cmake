# Shared part of the MinGW-w64 toolchain files; they set
# CMAKE_SYSTEM_PROCESSOR and ZEL_MINGW_PREFIX before including it.
# The driver's own threads and locks go through platform/ (Win32 calls), so
# either thread model builds it. The posix model is taken because GoogleTest
# needs std::mutex, which GCC 12's win32 model lacks; its winpthreads is
# linked statically (-static), so the DLL still imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
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


// Which system and processor the code is compiled for, as plain 0/1 macros,
// so the layers above can lay out binary interfaces (calling conventions,
// record sizes) without asking the compiler's system macros themselves.
#pragma once

#if defined(_WIN32)
#define ZEL_WINDOWS 1
#else
#define ZEL_WINDOWS 0
#endif

#if defined(_M_IX86) || defined(__i386__)
#define ZEL_X86_32 1
#else
#define ZEL_X86_32 0
#endif

#if defined(__linux__) && defined(__x86_64__)
#define ZEL_LINUX_X86_64 1
#else
#define ZEL_LINUX_X86_64 0
#endif

// Linked into the shipped zelscales executable only, beside glibc_compat.cpp.
// The start code of a new glibc calls __libc_start_main@GLIBC_2.34 and
// passes no initialiser, leaving the executable's constructors to it. An old
// glibc has only __libc_start_main@GLIBC_2.2.5, which runs whatever
// initialiser it is given and nothing else, so this one hands it one that
// runs them: _init, then .init_array, as the start code of old did. The
// destructors (.fini_array) are the loader's business on either.
#include <features.h>

#if !defined(__GLIBC__) || !defined(__x86_64__)
#error "glibc_compat_start.cpp is for glibc on x86_64"
#endif

extern "C" {

using MainFunction = int (*)(int, char**, char**);
using InitFunction = void (*)(int, char**, char**);

int zel_glibc___libc_start_main(MainFunction, int, char**, InitFunction, void (*)(), void (*)(), void*);
__asm__(".symver zel_glibc___libc_start_main, __libc_start_main@GLIBC_2.2.5");

// Provided by the linker and crti.o for the executable being linked.
extern InitFunction __init_array_start[] __attribute__((visibility("hidden")));
extern InitFunction __init_array_end[] __attribute__((visibility("hidden")));
void _init();

static void RunInitializers(int argc, char** argv, char** envp) {
    _init();
    for (InitFunction* f = __init_array_start; f != __init_array_end; ++f) (*f)(argc, argv, envp);
}

__attribute__((visibility("hidden"))) int __libc_start_main(MainFunction main, int argc, char** argv,
                                                            InitFunction init, void (*fini)(),
                                                            void (*rtldFini)(), void* stackEnd) {
    return zel_glibc___libc_start_main(main, argc, argv, init ? init : RunInitializers, fini, rtldFini,
                                       stackEnd);
}

}  // extern "C"

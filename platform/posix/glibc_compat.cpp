// Linked into the shipped Linux binaries (the driver library and zelscales),
// which are built against a new glibc but must load with glibc 2.17 and later.
// Every definition here is hidden, so it binds only the references inside the
// binary it is linked into, ours and those of the static C++ runtime and
// unwinder alike, and is seen by nothing else in the process.
//  - Functions whose default version is newer than 2.17 (the threads and
//    dl* moved into libc at 2.34, pow at 2.29) are tail jumps to the version
//    an old glibc exports; the binary lists libpthread and libdl as needed so
//    an old glibc finds them there.
//  - Functions an old glibc does not have at all are written here: the
//    stat family over __xstat and its kin, getrandom and getentropy over the
//    system call, arc4random, __libc_single_threaded and _dl_find_object.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if !defined(__GLIBC__) || !defined(__x86_64__)
#error "glibc_compat.cpp is for glibc on x86_64"
#endif

#define ZEL_HIDDEN __attribute__((visibility("hidden")))

// NAME -> NAME@VERSION, as a jump that keeps the caller's frame and
// arguments whatever the signature (dlsym sees its real caller).
#define ZEL_FORWARD(name, version)                                   \
    __asm__(".symver zel_glibc_" #name ", " #name "@" version "\n"   \
            ".pushsection .text." #name ",\"ax\",@progbits\n"        \
            ".globl " #name "\n"                                     \
            ".hidden " #name "\n"                                    \
            ".type " #name ", @function\n"                           \
            ".p2align 4\n" #name ":\n"                               \
            "\tjmp zel_glibc_" #name "@PLT\n"                        \
            ".size " #name ", . - " #name "\n"                       \
            ".popsection\n")

// libpthread before 2.34.
ZEL_FORWARD(pthread_create, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_detach, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_join, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_once, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_key_create, "GLIBC_2.2.5");
ZEL_FORWARD(__pthread_key_create, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_key_delete, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_getspecific, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_setspecific, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_mutexattr_init, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_mutexattr_destroy, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_mutexattr_settype, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_rwlock_rdlock, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_rwlock_wrlock, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_rwlock_unlock, "GLIBC_2.2.5");
ZEL_FORWARD(pthread_condattr_setclock, "GLIBC_2.3.3");
// libdl before 2.34.
ZEL_FORWARD(dlopen, "GLIBC_2.2.5");
ZEL_FORWARD(dlclose, "GLIBC_2.2.5");
ZEL_FORWARD(dlsym, "GLIBC_2.2.5");
ZEL_FORWARD(dlerror, "GLIBC_2.2.5");
ZEL_FORWARD(dladdr, "GLIBC_2.2.5");
ZEL_FORWARD(dlinfo, "GLIBC_2.3.3");
// libm before 2.29.
ZEL_FORWARD(pow, "GLIBC_2.2.5");

extern "C" {

// The stat family became functions of its own at 2.33; before, the headers
// turned each call into the versioned __xstat kind, which glibc still has.
int zel_glibc___xstat(int, const char*, struct stat*);
int zel_glibc___lxstat(int, const char*, struct stat*);
int zel_glibc___fxstat(int, int, struct stat*);
int zel_glibc___fxstat64(int, int, struct stat64*);
__asm__(".symver zel_glibc___xstat, __xstat@GLIBC_2.2.5");
__asm__(".symver zel_glibc___lxstat, __lxstat@GLIBC_2.2.5");
__asm__(".symver zel_glibc___fxstat, __fxstat@GLIBC_2.2.5");
__asm__(".symver zel_glibc___fxstat64, __fxstat64@GLIBC_2.2.5");
constexpr int kStatVersion = 1;  // _STAT_VER_LINUX: the kernel's struct stat

ZEL_HIDDEN int stat(const char* path, struct stat* st) { return zel_glibc___xstat(kStatVersion, path, st); }
ZEL_HIDDEN int lstat(const char* path, struct stat* st) { return zel_glibc___lxstat(kStatVersion, path, st); }
ZEL_HIDDEN int fstat(int fd, struct stat* st) { return zel_glibc___fxstat(kStatVersion, fd, st); }
ZEL_HIDDEN int fstat64(int fd, struct stat64* st) { return zel_glibc___fxstat64(kStatVersion, fd, st); }

// getrandom (2.25) is the system call itself (Linux 3.17); where the kernel
// lacks it, getentropy and arc4random read /dev/urandom instead.
ZEL_HIDDEN ssize_t getrandom(void* buf, size_t n, unsigned int flags) {
    return syscall(SYS_getrandom, buf, n, flags);
}

static bool FillFromUrandom(unsigned char* p, size_t n) {
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (n > 0) {
        ssize_t got = read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        p += got;
        n -= static_cast<size_t>(got);
    }
    close(fd);
    return n == 0;
}

static bool FillRandom(void* buf, size_t n) {
    auto* p = static_cast<unsigned char*>(buf);
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == ENOSYS) return FillFromUrandom(p, n);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

ZEL_HIDDEN int getentropy(void* buf, size_t n) {
    if (n > 256) {
        errno = EIO;
        return -1;
    }
    int saved = errno;
    if (!FillRandom(buf, n)) {
        errno = EIO;
        return -1;
    }
    errno = saved;
    return 0;
}

// Like glibc's, it cannot fail: without a random source the process ends.
ZEL_HIDDEN uint32_t arc4random(void) {
    uint32_t value;
    if (!FillRandom(&value, sizeof value)) abort();
    return value;
}

// The C++ runtime skips its atomics while this says the process has one
// thread. Always 0: it always takes them, as it did before glibc told it.
ZEL_HIDDEN char __libc_single_threaded = 0;

// The unwinder finds the unwind tables of the code at an address through
// _dl_find_object (2.35) and has no other way left in it: a failure here
// is "no handler", and a throw ends the process. So look the object up as
// the unwinder did before, with dl_iterate_phdr: its loaded segments hold
// the address, its PT_GNU_EH_FRAME segment is the table.
namespace {
struct FindRequest {
    uintptr_t address;
    struct dl_find_object* result;
    bool found;
};

int FindObject(struct dl_phdr_info* info, size_t, void* data) {
    auto* request = static_cast<FindRequest*>(data);
    uintptr_t low = UINTPTR_MAX, high = 0;
    bool holds = false;
    const void* ehFrame = nullptr;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (ph.p_type == PT_LOAD) {
            uintptr_t end = start + ph.p_memsz;
            if (start < low) low = start;
            if (end > high) high = end;
            if (request->address >= start && request->address < end) holds = true;
        } else if (ph.p_type == PT_GNU_EH_FRAME) {
            ehFrame = reinterpret_cast<const void*>(start);
        }
    }
    if (!holds) return 0;
    memset(request->result, 0, sizeof *request->result);
    request->result->dlfo_map_start = reinterpret_cast<void*>(low);
    request->result->dlfo_map_end = reinterpret_cast<void*>(high);
    request->result->dlfo_eh_frame = const_cast<void*>(ehFrame);
    request->found = true;
    return 1;
}
}  // namespace

ZEL_HIDDEN int _dl_find_object(void* address, struct dl_find_object* result) {
    FindRequest request{reinterpret_cast<uintptr_t>(address), result, false};
    dl_iterate_phdr(FindObject, &request);
    return request.found ? 0 : -1;
}

}  // extern "C"

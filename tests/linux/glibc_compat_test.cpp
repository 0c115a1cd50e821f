// The definitions that let the shipped Linux binaries load with an old glibc
// (platform/posix/glibc_compat*.cpp), linked into this test as into them:
// with the static C++ runtime and unwinder, which bind to them.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include "tests/skip_or_fail.h"

extern "C" char __libc_single_threaded;

namespace {

// Constructors of the executable run once, before main, with the arguments
// the loader gives them (the start code of old hands them to an initialiser).
int constructorRuns = 0;
struct CountsConstruction {
    CountsConstruction() { ++constructorRuns; }
} countsConstruction;

char** initArgv = nullptr;
void SeeArguments(int, char** argv, char**) { initArgv = argv; }
__attribute__((section(".init_array"), used)) void (*seeArguments)(int, char**, char**) = SeeArguments;

TEST(GlibcCompatStart, ConstructorsRunOnceWithTheArguments) {
    EXPECT_EQ(constructorRuns, 1);
    ASSERT_NE(initArgv, nullptr);
    EXPECT_NE(initArgv[0], nullptr);
}

// Without a way to find the unwind tables every throw ends the process.
[[gnu::noinline]] void ThrowDeep(int depth) {
    if (depth == 0) throw std::runtime_error("deep");
    ThrowDeep(depth - 1);
    asm volatile("");  // no tail call: one frame per level
}

TEST(GlibcCompatUnwind, ExceptionsAreCaught) {
    for (int depth : {0, 1, 10}) {
        try {
            ThrowDeep(depth);
            FAIL() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "deep");
        }
    }
}

TEST(GlibcCompatUnwind, ExceptionsAreCaughtOnOtherThreads) {
    std::atomic<int> caught{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int n = 0; n < 100; ++n) {
                try {
                    ThrowDeep(n % 5);
                } catch (const std::exception&) {
                    ++caught;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(caught, 400);
}

using FindObject = int (*)(void*, dl_find_object*);

void ExpectFound(void* address, const char* what) {
    dl_find_object ours{};
    ASSERT_EQ(_dl_find_object(address, &ours), 0) << what;
    EXPECT_LE(ours.dlfo_map_start, address) << what;
    EXPECT_GT(ours.dlfo_map_end, address) << what;
    EXPECT_NE(ours.dlfo_eh_frame, nullptr) << what;
    // The glibc that has one agrees on the table.
    if (auto real = reinterpret_cast<FindObject>(dlsym(RTLD_DEFAULT, "_dl_find_object"))) {
        ASSERT_NE(real, &_dl_find_object);
        dl_find_object theirs{};
        ASSERT_EQ(real(address, &theirs), 0) << what;
        EXPECT_EQ(ours.dlfo_eh_frame, theirs.dlfo_eh_frame) << what;
    }
}

TEST(GlibcCompatUnwind, FindsTheObjectOfAnAddress) {
    ExpectFound(reinterpret_cast<void*>(&ThrowDeep), "this executable");
    ExpectFound(dlsym(RTLD_DEFAULT, "memcpy"), "libc");
    void* libm = dlopen("libm.so.6", RTLD_NOW);
    ASSERT_NE(libm, nullptr);
    ExpectFound(dlsym(libm, "cos"), "libm");
    dlclose(libm);
    // A heap block belongs to no object.
    std::unique_ptr<char[]> block(new char[1 << 20]);
    dl_find_object none{};
    EXPECT_EQ(_dl_find_object(block.get() + 100, &none), -1);
}

// The C++ runtime must take its atomics: shared counts stay right when the
// process has threads.
TEST(GlibcCompatThreads, RuntimeAlwaysTakesItsAtomics) {
    EXPECT_EQ(__libc_single_threaded, 0);
    auto shared = std::make_shared<int>(1);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([shared] {
            for (int n = 0; n < 100000; ++n) std::shared_ptr<int> copy(shared);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared.use_count(), 1);
}

std::atomic<int> keyDestructorRuns{0};
std::atomic<int> onceRuns{0};
pthread_once_t once = PTHREAD_ONCE_INIT;

TEST(GlibcCompatThreads, OnceKeysAndJoin) {
    pthread_key_t key;
    ASSERT_EQ(pthread_key_create(&key, [](void*) { ++keyDestructorRuns; }), 0);
    struct Arg {
        pthread_key_t key;
        int value;
    } arg{key, 7};
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, nullptr,
                  [](void* p) -> void* {
                      auto* a = static_cast<Arg*>(p);
                      pthread_setspecific(a->key, &a->value);
                      pthread_once(&once, [] { ++onceRuns; });
                      pthread_once(&once, [] { ++onceRuns; });
                      return pthread_getspecific(a->key);
                  },
                  &arg),
              0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(thread, &result), 0);
    EXPECT_EQ(result, &arg.value);
    EXPECT_EQ(keyDestructorRuns, 1);
    EXPECT_EQ(onceRuns, 1);
    EXPECT_EQ(pthread_key_delete(key), 0);
}

class GlibcCompatStat : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/zel-glibc-compat.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        file_ = dir_ + "/file";
        link_ = dir_ + "/link";
        std::ofstream(file_) << std::string(1234, 'x');
        ASSERT_EQ(symlink("file", link_.c_str()), 0);
    }
    void TearDown() override {
        unlink(link_.c_str());
        unlink(file_.c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_, file_, link_;
};

TEST_F(GlibcCompatStat, StatLstatAndFstatSeeTheFile) {
    struct stat byPath{}, byLink{}, ofLink{}, byFd{};
    ASSERT_EQ(stat(file_.c_str(), &byPath), 0);
    EXPECT_TRUE(S_ISREG(byPath.st_mode));
    EXPECT_EQ(byPath.st_size, 1234);
    ASSERT_EQ(stat(link_.c_str(), &byLink), 0);
    EXPECT_EQ(byLink.st_ino, byPath.st_ino);
    ASSERT_EQ(lstat(link_.c_str(), &ofLink), 0);
    EXPECT_TRUE(S_ISLNK(ofLink.st_mode));
    EXPECT_NE(ofLink.st_ino, byPath.st_ino);
    int fd = open(file_.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fstat(fd, &byFd), 0);
    struct stat64 byFd64{};
    ASSERT_EQ(fstat64(fd, &byFd64), 0);
    close(fd);
    EXPECT_EQ(byFd.st_ino, byPath.st_ino);
    EXPECT_EQ(byFd.st_dev, byPath.st_dev);
    EXPECT_EQ(byFd.st_mtim.tv_nsec, byPath.st_mtim.tv_nsec);
    EXPECT_EQ(byFd64.st_ino, byPath.st_ino);
    EXPECT_EQ(byFd64.st_size, 1234);
    errno = 0;
    EXPECT_EQ(stat((dir_ + "/none").c_str(), &byPath), -1);
    EXPECT_EQ(errno, ENOENT);
    // A C++ stream sizes its buffer with fstat64.
    std::ifstream in(file_);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.size(), 1234u);
}

TEST_F(GlibcCompatStat, AgreesWithTheGlibcThatHasStat) {
    using Stat = int (*)(const char*, struct stat*);
    auto real = reinterpret_cast<Stat>(dlsym(RTLD_DEFAULT, "stat"));
    if (!real) ZEL_SKIP_OR_FAIL("this glibc has no stat of its own");
    struct stat ours{}, theirs{};
    ASSERT_EQ(stat(file_.c_str(), &ours), 0);
    ASSERT_EQ(real(file_.c_str(), &theirs), 0);
    EXPECT_EQ(memcmp(&ours, &theirs, sizeof ours), 0);
}

TEST(GlibcCompatRandom, SourcesGiveBytes) {
    unsigned char a[64] = {}, b[64] = {};
    ASSERT_EQ(getrandom(a, sizeof a, 0), static_cast<ssize_t>(sizeof a));
    ASSERT_EQ(getentropy(b, sizeof b), 0);
    EXPECT_NE(memcmp(a, b, sizeof a), 0);
    EXPECT_NE(memcmp(a, std::vector<unsigned char>(64).data(), sizeof a), 0);
    unsigned char tooMany[257];
    errno = 0;
    EXPECT_EQ(getentropy(tooMany, sizeof tooMany), -1);
    EXPECT_EQ(errno, EIO);
    bool differ = false;
    uint32_t first = arc4random();
    for (int i = 0; i < 8 && !differ; ++i) differ = arc4random() != first;
    EXPECT_TRUE(differ);
    // The C++ runtime's own source goes through them too.
    std::random_device device;
    std::vector<unsigned> draws;
    for (int i = 0; i < 8; ++i) draws.push_back(device());
    EXPECT_NE(std::count(draws.begin(), draws.end(), draws[0]), 8);
}

TEST(GlibcCompatMath, PowIsTheLibraryOne) {
    volatile double base = 2.0, exponent = 0.5;
    EXPECT_DOUBLE_EQ(pow(base, exponent), std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(pow(base, 10.0), 1024.0);
}

}  // namespace

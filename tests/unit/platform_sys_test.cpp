// The operating-system seam, checked against the real system calls: the
// same expectations hold for the POSIX build and for the Windows build that
// runs under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/sync.h"
#include "platform/sys.h"

namespace {

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

TEST(PlatformTime, SleepAdvancesTheMonotonicClock) {
    const uint64_t start = platform::MonotonicMs();
    platform::SleepMs(60);
    const uint64_t elapsed = platform::MonotonicMs() - start;
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 2000u);

    uint64_t last = platform::MonotonicMs();
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = platform::MonotonicMs();
        ASSERT_GE(now, last);
        last = now;
    }
}

TEST(PlatformTime, LocalTimeAndEpochArePlausible) {
    const platform::LocalTime t = platform::Now();
    EXPECT_GE(t.year, 2020);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
    EXPECT_GE(t.day, 1);
    EXPECT_LE(t.day, 31);
    EXPECT_LE(t.hour, 23);
    EXPECT_LE(t.minute, 59);
    EXPECT_LE(t.second, 60);
    EXPECT_LE(t.millisecond, 999);
    EXPECT_GE(t.millisecond, 0);
    // 2020-01-01 .. 2200-01-01
    EXPECT_GT(platform::UnixSeconds(), INT64_C(1577836800));
    EXPECT_LT(platform::UnixSeconds(), INT64_C(7258118400));
}

TEST(PlatformRandom, FillsEveryByteAndDiffers) {
    EXPECT_TRUE(platform::RandomBytes(nullptr, 0));
    unsigned char a[64], b[64];
    std::memset(a, 0, sizeof a);
    std::memset(b, 0, sizeof b);
    ASSERT_TRUE(platform::RandomBytes(a, sizeof a));
    ASSERT_TRUE(platform::RandomBytes(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    // The last bytes are written too (a short fill would leave zeros).
    int zeroTails = 0;
    for (int i = 0; i < 8; ++i) {
        unsigned char buf[33] = {};
        ASSERT_TRUE(platform::RandomBytes(buf, sizeof buf));
        zeroTails += buf[32] == 0;
    }
    EXPECT_LT(zeroTails, 4);
}

TEST(PlatformPaths, DirectoriesExistWithoutTrailingSeparator) {
    EXPECT_EQ(platform::PathSeparator(), kWindows ? '\\' : '/');
    const std::string exe = platform::ExecutableDirectory();
    const std::string module = platform::ModuleDirectory();
    ASSERT_FALSE(exe.empty());
    EXPECT_NE(exe.back(), platform::PathSeparator());
    EXPECT_TRUE(platform::FileExists(exe)) << exe;
    // Linked statically into this program, the module is the executable.
    EXPECT_EQ(module, exe);
}

TEST(PlatformPaths, FileExists) {
    const std::string dir = platform::ExecutableDirectory();
    const std::string sep(1, platform::PathSeparator());
    struct Case {
        std::string path;
        bool exists;
    } cases[] = {
        {dir, true},
        {"", false},
        {dir + sep + "no-such-file-7f3a9c.txt", false},
        {dir + sep + "no-such-dir-7f3a9c" + sep + "x", false},
        {std::string("a\0b", 3), false},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::FileExists(c.path), c.exists) << c.path;
}

TEST(PlatformText, AnsiConversionsKeepAsciiAndHonourLength) {
    const char16_t text[] = u"COM3;9600 ok\0tail";
    EXPECT_EQ(platform::WideToAnsi(text, 12), "COM3;9600 ok");
    EXPECT_EQ(platform::WideToAnsi(text, 4), "COM3");
    EXPECT_EQ(platform::WideToAnsi(text, 0), "");
    EXPECT_EQ(platform::WideToAnsi(nullptr, 5), "");
    EXPECT_EQ(platform::AnsiToWide("127.0.0.1"), u"127.0.0.1");
    EXPECT_EQ(platform::AnsiToWide(""), u"");
    EXPECT_EQ(platform::AnsiToWide(nullptr), u"");
    // Whatever the code page, a text survives the round trip or degrades
    // without crashing; ASCII always survives.
    const char16_t mixed[] = u"\u0412\u0435\u0441 1.5";
    const std::string narrow = platform::WideToAnsi(mixed, 7);
    EXPECT_FALSE(narrow.empty());
    EXPECT_EQ(narrow.substr(narrow.size() - 4), " 1.5");
}

TEST(PlatformLocale, DecimalSeparatorOfNamedLocales) {
    struct Case {
        const char* name;
        bool known;     // every system must know it
        bool windowsOnly;
        char separator;
    } cases[] = {
        {"C", true, false, '.'},
        {"C.UTF-8", false, false, '.'},
        {"ru_RU", false, false, ','},
        {"ru-RU", false, true, ','},
        {"ru_RU.UTF-8", false, false, ','},
        {"de_DE", false, false, ','},
        {"en_US", false, false, '.'},
        {"Russian_Russia.1251", false, true, ','},
        {"English_United States.1252", false, true, '.'},
        {"German_Germany", false, true, ','},
    };
    for (const Case& c : cases) {
        char sep = 0;
        const bool ok = platform::LocaleDecimalSeparator(c.name, &sep);
        if (kWindows || c.known) {
            if (!kWindows && c.windowsOnly) continue;
            ASSERT_TRUE(ok) << c.name;
            EXPECT_EQ(sep, c.separator) << c.name;
        } else if (ok) {
            // Locales that are not installed may be missing on POSIX hosts.
            EXPECT_EQ(sep, c.separator) << c.name;
        }
    }

    const std::string tooLong(4000, 'x');
    const char* unknown[] = {"xx_YY", "no_such_locale", "_", "ru_", "\x01\x02", tooLong.c_str()};
    for (const char* name : unknown) {
        char sep = '?';
        EXPECT_FALSE(platform::LocaleDecimalSeparator(name, &sep)) << name;
        EXPECT_EQ(sep, '?') << "unchanged on failure: " << name;
    }
}

TEST(PlatformMessages, RegisteredNumbersAreStableAndDistinct) {
    const unsigned a = platform::RegisterWindowMessageId("WM_UPDATE_ZELVATSCALES1CDRIVER_V3_0_0");
    const unsigned b = platform::RegisterWindowMessageId("WM_UPDATE_ZELVATSCALES1CDRIVER_V3_0_0");
    const unsigned c = platform::RegisterWindowMessageId("ZEL_TEST_OTHER_MESSAGE");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    for (unsigned id : {a, c}) {
        EXPECT_GE(id, 0xC000u);
        EXPECT_LE(id, 0xFFFFu);
    }
    // Nobody listens in a test; the broadcast must simply not fail or block.
    const uint64_t start = platform::MonotonicMs();
    platform::BroadcastWindowMessage(a, 1234u, static_cast<uint32_t>(-500));
    platform::BroadcastWindowMessage(a, 0xFFFFFFFFu, 0);
    EXPECT_LT(platform::MonotonicMs() - start, 2000u);
}

// --- locks, threads, events -----------------------------------------------

struct Counter {
    platform::RecursiveMutex lock;
    long value = 0;  // guarded by lock, deliberately not atomic
};

void AddMany(void* p) {
    auto* c = static_cast<Counter*>(p);
    for (int i = 0; i < 20000; ++i) {
        CAutoLockMutex outer(c->lock);
        CAutoLockMutex inner(c->lock);  // re-entry by the owner
        long v = c->value;
        c->value = v + 1;
    }
}

TEST(PlatformSync, RecursiveMutexExcludesOtherThreads) {
    Counter counter;
    platform::Thread t1, t2;
    ASSERT_TRUE(t1.Start(AddMany, &counter));
    ASSERT_TRUE(t2.Start(AddMany, &counter));
    AddMany(&counter);
    t1.Join();
    t2.Join();
    EXPECT_EQ(counter.value, 60000);
}

struct Sleeper {
    platform::Event release;
    std::atomic<bool> done{false};
};

void WaitForRelease(void* p) {
    auto* s = static_cast<Sleeper*>(p);
    s->release.Wait(10000);
    s->done = true;
}

TEST(PlatformSync, ThreadWaitForIsBoundedAndJoinWaits) {
    Sleeper s;
    platform::Thread t;
    EXPECT_TRUE(t.WaitFor(0)) << "a thread never started has ended";
    ASSERT_TRUE(t.Start(WaitForRelease, &s));
    EXPECT_TRUE(t.Started());
    EXPECT_FALSE(t.Start(WaitForRelease, &s)) << "one thread per object";

    uint64_t start = platform::MonotonicMs();
    EXPECT_FALSE(t.WaitFor(80));
    uint64_t elapsed = platform::MonotonicMs() - start;
    EXPECT_GE(elapsed, 70u);
    EXPECT_LT(elapsed, 2000u);

    start = platform::MonotonicMs();
    s.release.Signal();
    EXPECT_TRUE(t.WaitFor(5000));
    EXPECT_LT(platform::MonotonicMs() - start, 2000u) << "the signal must wake the thread early";
    EXPECT_TRUE(s.done);
    t.Join();
    EXPECT_FALSE(t.Started());
    // Released, the object takes a new thread.
    s.done = false;
    s.release.Signal();
    ASSERT_TRUE(t.Start(WaitForRelease, &s));
    t.Join();
    EXPECT_TRUE(s.done);
}

TEST(PlatformSync, DestroyingAThreadJoinsIt) {
    Sleeper s;
    {
        platform::Thread t;
        ASSERT_TRUE(t.Start(WaitForRelease, &s));
        s.release.Signal();
    }
    EXPECT_TRUE(s.done);
}

TEST(PlatformSync, EventIsConsumedByOneWait) {
    platform::Event e;
    struct Step {
        bool signalFirst;
        bool expected;
    } steps[] = {{true, true}, {false, false}, {true, true}, {false, false}};
    for (const Step& step : steps) {
        if (step.signalFirst) e.Signal();
        const uint64_t start = platform::MonotonicMs();
        EXPECT_EQ(e.Wait(600), step.expected);
        const uint64_t elapsed = platform::MonotonicMs() - start;
        if (step.expected) {
            EXPECT_LT(elapsed, 300u) << "a pending signal returns at once";
        } else {
            EXPECT_GE(elapsed, 550u);
            EXPECT_LT(elapsed, 5000u);
        }
    }
    // Two signals before one wait still count once.
    e.Signal();
    e.Signal();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

// Kept in a volatile pointer so the compiler cannot drop the block.
char* volatile gMemoryBlock = nullptr;

TEST(PlatformMemory, FollowsABlockTouchedAndFreed) {
    const size_t kBlock = 64u << 20;
    platform::MemoryUse before, held, after;
    ASSERT_TRUE(platform::ProcessMemory(&before));
    EXPECT_GT(before.resident, 0u);
    gMemoryBlock = new char[kBlock];
    for (size_t i = 0; i < kBlock; i += 4096) gMemoryBlock[i] = static_cast<char>(i);
    ASSERT_TRUE(platform::ProcessMemory(&held));
    delete[] gMemoryBlock;
    gMemoryBlock = nullptr;
    ASSERT_TRUE(platform::ProcessMemory(&after));
    // Other threads of the test program may move the figures a little.
    EXPECT_GE(held.resident, before.resident + kBlock * 3 / 4);
    // No heap figure where the system has none (Wine reports no commit charge).
    if (before.heap == 0) return;
    EXPECT_GE(held.heap, before.heap + kBlock);
    EXPECT_LE(after.heap + kBlock * 3 / 4, held.heap) << "freed memory leaves the heap figure";
}

}  // namespace

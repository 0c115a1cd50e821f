// Lines the benchmark holds for the driver itself: pseudo-terminal masters
// and accepted loopback connections. While the driver's devices are being
// opened a helper thread accepts connections and answers the first request
// on each line with one reply frame; then it stops, and nothing in this
// process reads or writes those lines again. The process's CPU time and
// memory are then the driver's (and the host's) alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/Component.h"
#include "platform/pty.h"
#include "platform/sync.h"
#include "platform/sys.h"

namespace bench {

class HeldLines {
public:
    HeldLines() = default;
    ~HeldLines() {
        StopServing();
        for (Line& l : lines_) platform::IoClose(l.handle);
        if (listener_ != platform::kNoHandle) platform::IoClose(listener_);
    }
    HeldLines(const HeldLines&) = delete;
    HeldLines& operator=(const HeldLines&) = delete;

    // A new pseudo-terminal; returns the path the driver opens, "" on failure.
    std::string NewPty() {
        std::string slave;
        const int master = platform::PtyOpenMaster(&slave);
        if (master == platform::kNoHandle) return std::string();
        Add(master, true);
        return slave;
    }

    // The loopback port every TCP device connects to (one listener for all).
    uint16_t TcpPort() {
        if (listener_ == platform::kNoHandle) listener_ = platform::TcpListen(0, &port_);
        return listener_ == platform::kNoHandle ? 0 : port_;
    }

    // Starts the helper thread: accepts connections and answers the first
    // bytes that arrive on a line with `reply` (empty: answers nothing).
    void Serve(const std::string& reply) {
        reply_ = reply;
        stop_ = false;
        thread_.Start(&HeldLines::Entry, this);
    }
    void StopServing() {
        if (!thread_.Started()) return;
        stop_ = true;
        thread_.Join();
    }

    // Room for `count` lines, so adding them allocates nothing.
    void Reserve(size_t count) {
        CAutoLockMutex lock(mu_);
        lines_.reserve(count);
    }

    int Answered() const { return answered_; }
    // Lines a device holds now: pty slaves open, TCP connections the driver
    // has not closed. (A TCP line with bytes waiting loses them here.)
    int Held() {
        CAutoLockMutex lock(mu_);
        int held = 0;
        for (Line& l : lines_) {
            if (l.pty) {
                held += platform::PtyPeerOpen(l.handle);
                continue;
            }
            if (l.closed) continue;
            platform::WaitItem item{l.handle, platform::kWaitReadable, 0};
            char byte;
            if (platform::WaitHandles(&item, 1, 0) > 0 &&
                ((item.got & (platform::kWaitHangUp | platform::kWaitError)) ||
                 platform::IoRead(l.handle, &byte, 1) < 0))
                l.closed = true;
            held += !l.closed;
        }
        return held;
    }

private:
    struct Line {
        int handle;
        bool pty;
        bool answered;
        bool closed;  // TCP: the driver closed it
    };

    void Add(int handle, bool pty) {
        CAutoLockMutex lock(mu_);
        lines_.push_back(Line{handle, pty, false, false});
    }

    static void Entry(void* self) { static_cast<HeldLines*>(self)->Run(); }

    // A plain 1 ms polling loop: it runs only while devices are opened.
    void Run() {
        char buf[512];
        while (!stop_) {
            if (listener_ != platform::kNoHandle) {
                for (int h; (h = platform::TcpAccept(listener_)) != platform::kNoHandle;) Add(h, false);
            }
            {
                CAutoLockMutex lock(mu_);
                for (Line& l : lines_) {
                    if (l.answered || reply_.empty()) continue;
                    if (platform::IoRead(l.handle, buf, sizeof buf) <= 0) continue;
                    // The request comes in one write; let the rest of it land.
                    platform::SleepMs(2);
                    while (platform::IoRead(l.handle, buf, sizeof buf) > 0) {
                    }
                    if (platform::IoWrite(l.handle, reply_.data(), reply_.size()) == static_cast<long>(reply_.size())) {
                        l.answered = true;
                        ++answered_;
                    }
                }
            }
            platform::SleepMs(1);
        }
    }

    mutable platform::RecursiveMutex mu_;
    std::vector<Line> lines_;
    int listener_ = platform::kNoHandle;
    uint16_t port_ = 0;
    std::string reply_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    platform::Thread thread_;
};

// Sets the component's parameters for a device on a held line.
inline void PointAt(zel::host::Component& driver, HeldLines& lines, bool tcp, const std::string& ptyPath) {
    using zel::host::Value;
    if (tcp) {
        driver.SetParameter(u"conntype", Value::Int(1));
        driver.SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
        driver.SetParameter(u"eport", Value::Int(lines.TcpPort()));
    } else {
        driver.SetParameter(u"conntype", Value::Int(0));
        driver.SetParameter(u"cport", Value::Text(zel::host::FromUtf8(ptyPath)));
        driver.SetParameter(u"cbaudrate", Value::Int(9600));
    }
}

}  // namespace bench

#include "scales/listener/ListenerScale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/Text.h"
#include "platform/sys.h"
#include "transport/Log.h"

namespace zel {
namespace listener {

const char kWindowMessageName[] = "WM_UPDATE_ZELVATSCALES1CDRIVER_V3_0_0";

int32_t WholeValue(double value) { return zel::TruncToInt32(zel::WholeTowardZero(value)); }

uint32_t MessageValue(double value) {
    // The bit pattern of the signed value: -1500 travels as 0xFFFFFA24, as a
    // 32-bit signed parameter would.
    return static_cast<uint32_t>(WholeValue(value));
}

uint32_t WeightMessageParam(double weightKg) {
    double grams = weightKg * 1000.0;
    if (grams > 2000000000.0) return MessageValue(weightKg);
    return MessageValue(grams);
}

uint32_t TareMessageParam(double tareKg) { return MessageValue(tareKg * 1000.0); }

std::string WithoutMinusZero(std::string text) {
    const size_t minus = text.find('-');
    if (minus == std::string::npos) return text;
    bool digit = false;
    for (size_t i = minus + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '1' && c <= '9') return text;
        if (c == '0') digit = true;
    }
    if (digit) text[minus] = ' ';
    return text;
}

std::string FixedField(double value, int width, int decimals) {
    return WithoutMinusZero(FormatFixed(value, width, decimals));
}

std::string BoundedLine(std::string line) {
    if (line.size() > kLineBufferSize - 1) line.resize(kLineBufferSize - 1);
    return line;
}

bool WaitForFrameBytes(exchange::IByteLine& line, ReadClock& clock, bool frameStarted) {
    using platform::WaitOutcome;
    if (clock.budgetMs <= 0) return false;
    const uint64_t start = line.NowMs();
    const bool idle = !frameStarted && clock.mayIdle && line.CanSleep();
    const WaitOutcome r = line.WaitForInputOrWake(idle ? platform::kWaitForever : static_cast<unsigned>(clock.budgetMs));
    const uint64_t now = line.NowMs();
    uint64_t took = now > start ? now - start : 0;
    if (r == WaitOutcome::kTimeout) {
        // The budget ran out, or there is no line to wait on: the cycle's
        // pause and reconnection follow.
        clock.budgetMs = 0;
        return false;
    }
    if (took < 1) took = 1;
    if (r == WaitOutcome::kWoken) clock.mayIdle = false;
    if (!idle) {
        clock.budgetMs -= took < static_cast<uint64_t>(clock.budgetMs) ? static_cast<int>(took) : clock.budgetMs;
        return clock.budgetMs > 0;
    }
    // After a sleep, the first bytes of a frame get the whole budget from
    // the moment they land, so a frame is never cut because it began late in
    // a read that had been waiting on silence. A wake-up (a command, a stop)
    // leaves the read the budget it had: it runs out as it would have, and
    // the pause and the next cycle follow.
    if (r == WaitOutcome::kInput) clock.budgetMs = static_cast<int>(kReadBudgetMs);
    return true;
}

int ReadFrameBytes(exchange::IByteLine& line, ReadClock& clock, FrameReadHooks& hooks, uint8_t* frame, int length,
                   int held) {
    if (!frame || length <= 0) return 0;
    int count = std::max(0, std::min(held, length));
    while (count < length) {
        hooks.BeforeRead();
        const int n = line.Read(frame + count, length - count);
        if (n > 0) {
            count += std::min(n, length - count);
        } else {
            // A line that closed under us brings nothing more: end the read
            // so that the next cycle reopens it instead of spending the whole
            // budget.
            if (hooks.LineClosed()) break;
            if (!WaitForFrameBytes(line, clock, count > 0)) break;
        }
        if (count >= length || hooks.Stopped()) break;
    }
    return count;
}

}  // namespace listener
}  // namespace zel

using namespace zel::listener;

namespace {

// The names IScalesObject stores; a null or over-long one is refused.
bool UsableName(const char* name) { return name && std::strlen(name) <= static_cast<size_t>(IScalesObject::kTextMax); }
}  // namespace

CScalesListener::CScalesListener() : stopRequested(0), windowMessage_(0) {}

CScalesListener::~CScalesListener() {
    // The concrete class has stopped the thread already; this only covers a
    // class that forgot, before the members go.
    Shutdown();
}

void CScalesListener::Shutdown() {
    StopListener(false);
    CAutoLockMutex guard(lock);
    port.Close();
}

void CScalesListener::StopListener(bool reopen) {
    {
        CAutoLockMutex guard(lock);
        stopRequested = 1;
    }
    port.Wake();
    if (listenerThread.Started()) {
        // The loop sees the stop within one read attempt (plus a command
        // being sent), so the bounded wait normally suffices. Should it not,
        // the object still must not go while the thread can touch it: wait on
        // until the thread has really ended.
        listenerThread.WaitFor(kStopWaitMs);
        listenerThread.Join();
    }
    if (reopen) {
        CAutoLockMutex guard(lock);
        stopRequested = 0;
    }
}

bool CScalesListener::StartListener() { return listenerThread.Start(&CScalesListener::ThreadEntry, this); }

void CScalesListener::WakeListener() { port.Wake(); }

int CScalesListener::PortLine::Read(uint8_t* buffer, int size) {
    CAutoLockMutex guard(owner_.lock);
    return PortByteLine::Read(buffer, size);
}

int CScalesListener::PortLine::LineState() {
    CAutoLockMutex guard(owner_.lock);
    return owner_.port.LineState();
}

bool CScalesListener::Listening() { return listenerThread.Started() && !listenerThread.WaitFor(0); }

int32_t CScalesListener::OpenCom(const char* name, int32_t baud, zel::IPlatformEvents* conn) {
    StopListener(true);
    CAutoLockMutex guard(lock);
    int32_t r = IScalesObject::OpenCom(name, baud, conn);
    // Without a usable name there is nothing a listener could ever open.
    if (!UsableName(name)) return r;
    return StartListener() ? 0 : r;
}

int32_t CScalesListener::OpenTcp(const char* host, int32_t tcp, zel::IPlatformEvents* conn) {
    StopListener(true);
    CAutoLockMutex guard(lock);
    int32_t r = IScalesObject::OpenTcp(host, tcp, conn);
    if (!UsableName(host)) return r;
    return StartListener() ? 0 : r;
}

int32_t CScalesListener::Connect() {
    CAutoLockMutex guard(lock);
    return ConnectLine();
}

int32_t CScalesListener::Disconnect() {
    CAutoLockMutex guard(lock);
    port.Close();
    return 0;
}

int32_t CScalesListener::ReadWeight(double&, double&, double&, int32_t&) { return zel::kNotSupported; }

int32_t CScalesListener::SetCoeff(double coefficient) {
    CAutoLockMutex guard(lock);
    coeff = coefficient;
    return 0;
}

double CScalesListener::GetCoeff() {
    CAutoLockMutex guard(lock);
    return coeff;
}

void CScalesListener::ThreadEntry(void* self) {
    auto* object = static_cast<CScalesListener*>(self);
    try {
        object->RunListener();
    } catch (...) {
        // An error inside the loop ends the listener; the line is released.
        try {
            object->Disconnect();
        } catch (...) {
        }
    }
}

bool CScalesListener::StopSeen() {
    CAutoLockMutex guard(lock);
    return stopRequested != 0;
}

void CScalesListener::Pause(unsigned ms) {
    // One wait: bytes on an open line end it, and so does a stop; a command
    // flagged meanwhile waits for the next cycle.
    const uint64_t end = platform::MonotonicMs() + ms;
    auto left = [end]() -> unsigned {
        const uint64_t now = platform::MonotonicMs();
        return now >= end ? 0u : static_cast<unsigned>(end - now);
    };
    while (!StopSeen()) {
        unsigned rest = left();
        if (rest == 0) return;
        platform::WaitOutcome r = port.WaitForInputOrWake(rest);
        if (r == platform::WaitOutcome::kInput) return;
        if (r == platform::WaitOutcome::kTimeout) {
            // Time is up, or the wait had nothing to wait on (no line open,
            // or it closed meanwhile) and came back at once: the rest of the
            // pause is slept, still ended by a stop.
            rest = left();
            if (rest == 0) return;
            r = port.SleepOrWake(rest);
            if (r != platform::WaitOutcome::kWoken) return;
        }
    }
}

void CScalesListener::RunListener() {
    windowMessage_ = platform::RegisterWindowMessageId(kWindowMessageName);
    uint8_t frame[kMaxFrame];
    int held = 0;  // bytes of a refused frame that may begin the next one
    while (!StopSeen()) {
        int32_t connected;
        {
            CAutoLockMutex guard(lock);
            connected = EnsureConnected();
        }
        if (connected != 0) {
            held = 0;
            Pause(kCyclePauseMs);
            continue;
        }
        BeforeCycle();
        cycle = ReadClock();
        const int count = ReadOneFrame(frame, kMaxFrame, held);
        held = 0;
        const Next next = HandleFrame(frame, count);
        if (next == Next::Pause) {
            Pause(kCyclePauseMs);
        } else if (next == Next::Refused && count > 1) {
            const int start = std::max(1, std::min(NextFrameStart(frame, count), count));
            held = count - start;
            if (held > 0) std::memmove(frame, frame + start, static_cast<size_t>(held));
        }
    }
    Disconnect();
}

int CScalesListener::ReadOneFrame(uint8_t* frame, int capacity, int held) {
    return ReadFrame(frame, std::min(FrameLength(), capacity), held);
}

int CScalesListener::ReadFrame(uint8_t* frame, int length, int held) {
    class Hooks : public FrameReadHooks {
    public:
        Hooks(CScalesListener& owner, PortLine& line) : owner_(owner), line_(line) {}
        void BeforeRead() override { owner_.BeforeReadAttempt(); }
        bool LineClosed() override { return line_.LineState() != 0; }
        bool Stopped() override { return owner_.StopSeen(); }

    private:
        CScalesListener& owner_;
        PortLine& line_;
    };
    PortLine line(*this);
    Hooks hooks(*this, line);
    return ReadFrameBytes(line, cycle, hooks, frame, length, held);
}

bool CScalesListener::SendCommand(const uint8_t* data, int length, unsigned pauseMs) {
    CAutoLockMutex guard(lock);
    int written;
    try {
        written = port.Write(data, length);
    } catch (...) {
        return false;
    }
    platform::SleepMs(pauseMs);
    return written == length;
}

bool CScalesListener::NotifyPlatform(const std::string& line) {
    zel::IPlatformEvents* target;
    {
        CAutoLockMutex guard(lock);
        target = connection;
    }
    if (!target) return false;
    // The line travels as UTF-16 in a buffer of 1020 characters.
    const std::string bounded = BoundedLine(line);
    std::u16string wide = platform::AnsiToWide(bounded.c_str());
    if (wide.size() > 1019) wide.resize(1019);
    // Waits between offers end at a stop; bytes arriving meanwhile stay in
    // the line for the next cycle.
    const EventDelivery d = DeliverEvent(
        [&] { return target->ExternalEvent(u"EventScales", u"NewData", wide.c_str()); },
        [&](unsigned ms) {
            if (StopSeen()) return false;
            port.SleepOrWake(ms);
            return !StopSeen();
        });
    if (d.offers > 1 && d.delivered) {
        zel::LogWrite(zel::kLogWarn, "device %s: event queue full, reading delivered at offer %d after %u ms: %s",
                      deviceId, d.offers, d.waitedMs, bounded.c_str());
    } else if (!d.delivered) {
        zel::LogWrite(zel::kLogError, "device %s: event queue full, reading lost after %d offers in %u ms%s: %s",
                      deviceId, d.offers, d.waitedMs, d.stopped ? " (device closing)" : "", bounded.c_str());
    }
    return d.delivered;
}

CScalesListener::Next CScalesListener::Refuse(Next next, const char* why) {
    zel::LogWrite(zel::kLogWarn, "device %s: frame refused: %s", deviceId, why);
    return next;
}

void CScalesListener::Publish(const std::string& line, uint32_t wParam, uint32_t lParam) {
    NotifyPlatform(line);
    platform::BroadcastWindowMessage(windowMessage_, wParam, lParam);
}

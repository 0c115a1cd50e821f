#include "scales/listener/ListenerScale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/Text.h"
#include "platform/sys.h"

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

std::string BoundedLine(std::string line) {
    if (line.size() > kLineBufferSize - 1) line.resize(kLineBufferSize - 1);
    return line;
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
    wake_.Signal();
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

bool CScalesListener::StartListener() {
    wake_.Wait(0);  // forget a wake-up meant for an earlier thread
    return listenerThread.Start(&CScalesListener::ThreadEntry, this);
}

bool CScalesListener::Listening() { return listenerThread.Started() && !listenerThread.WaitFor(0); }

int32_t CScalesListener::OpenCom(const char* name, int32_t baud, void* sink, zel::IPlatformEvents* conn) {
    StopListener(true);
    CAutoLockMutex guard(lock);
    int32_t r = IScalesObject::OpenCom(name, baud, sink, conn);
    // Without a usable name there is nothing a listener could ever open.
    if (!UsableName(name)) return r;
    return StartListener() ? 0 : r;
}

int32_t CScalesListener::OpenTcp(const char* host, int32_t tcp, void* sink, zel::IPlatformEvents* conn) {
    StopListener(true);
    CAutoLockMutex guard(lock);
    int32_t r = IScalesObject::OpenTcp(host, tcp, sink, conn);
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

int32_t CScalesListener::ReadWeight(double&, double&, double&, int32_t&) { return 5; }

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
    if (!StopSeen()) wake_.Wait(ms);
}

void CScalesListener::PauseOnLine(unsigned ms) {
    // In read-step slices, so that a stop is seen as soon as in a read; bytes
    // that arrive end the pause, so a frame is taken the moment it lands.
    for (unsigned left = ms; left > 0 && !StopSeen();) {
        unsigned slice = std::min(left, kReadStepMs);
        if (port.WaitForInput(slice)) return;
        left -= slice;
    }
}

void CScalesListener::RunListener() {
    windowMessage_ = platform::RegisterWindowMessageId(kWindowMessageName);
    uint8_t frame[kMaxFrame];
    while (!StopSeen()) {
        int32_t connected;
        {
            CAutoLockMutex guard(lock);
            connected = EnsureConnected();
        }
        if (connected != 0) {
            Pause(kCyclePauseMs);
            continue;
        }
        BeforeCycle();
        int count = ReadOneFrame(frame, kMaxFrame);
        if (HandleFrame(frame, count) == Next::Pause) PauseOnLine(kCyclePauseMs);
    }
    Disconnect();
}

int CScalesListener::ReadOneFrame(uint8_t* frame, int capacity) {
    return ReadFrame(frame, std::min(FrameLength(), capacity));
}

int CScalesListener::ReadFrame(uint8_t* frame, int length) {
    int count = 0;
    int budget = static_cast<int>(kReadBudgetMs);
    while (count < length) {
        BeforeReadAttempt();
        int n;
        bool lineOpen;
        {
            CAutoLockMutex guard(lock);
            n = port.Read(frame + count, length - count);
            lineOpen = n > 0 || port.LineState() == 0;
        }
        if (n > 0) {
            count += std::min(n, length - count);
        } else {
            // A line that closed under us (a Disconnect from the platform, a
            // failed read) brings nothing more: end the read so that the next
            // cycle reopens it instead of spending the whole budget.
            if (!lineOpen) break;
            // Bytes end the wait at once; the wait then costs only the time
            // it took (at least 1 ms), so a frame whose bytes come one by one
            // on a slow line is not charged a whole step per byte.
            const uint64_t start = platform::MonotonicMs();
            int cost = static_cast<int>(kReadStepMs);
            if (port.WaitForInput(kReadStepMs)) {
                const uint64_t took = platform::MonotonicMs() - start;
                cost = took < 1 ? 1 : (took < kReadStepMs ? static_cast<int>(took) : cost);
            }
            budget -= cost;
        }
        if (count >= length || StopSeen() || budget <= 0) break;
    }
    return count;
}

int CScalesListener::SendCommand(const uint8_t* data, int length, unsigned pauseMs) {
    CAutoLockMutex guard(lock);
    int written;
    try {
        written = port.Write(data, length);
    } catch (...) {
        return 1;
    }
    platform::SleepMs(pauseMs);
    return written == length ? 0 : 1;
}

void CScalesListener::NotifyPlatform(const std::string& line) {
    zel::IPlatformEvents* target;
    {
        CAutoLockMutex guard(lock);
        target = connection;
    }
    if (!target) return;
    // The line travels as UTF-16 in a buffer of 1020 characters.
    std::u16string wide = platform::AnsiToWide(BoundedLine(line).c_str());
    if (wide.size() > 1019) wide.resize(1019);
    target->ExternalEvent(u"EventScales", u"NewData", wide.c_str());
}

void CScalesListener::Publish(const std::string& line, uint32_t wParam, uint32_t lParam) {
    NotifyPlatform(line);
    platform::BroadcastWindowMessage(windowMessage_, wParam, lParam);
}

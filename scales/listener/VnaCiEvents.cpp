#include "scales/listener/VnaCiEvents.h"

#include <algorithm>
#include <cstring>

#include "core/Text.h"
#include "scales/Prompribor.h"

namespace zel {
namespace vnaci {

namespace {

const int kStatusByte = 7;
const int kTextStart = 8;

}  // namespace

int ReadCrFrame(exchange::IByteLine& line, uint8_t* frame, int capacity, const std::function<bool()>& stop,
                listener::ReadClock* clock) {
    listener::ReadClock own;
    listener::ReadClock& c = clock ? *clock : own;
    const int room = std::max(0, std::min(capacity, kFrameCapacity));
    std::memset(frame, 0, static_cast<size_t>(room));
    int count = 0;
    while (count < room && c.budgetMs > 0) {
        uint8_t b = 0;
        if (line.Read(&b, 1) > 0) {
            if (count > 0 || b == kFrameStart) {
                frame[count++] = b;
                if (b == kFrameEnd) break;
            } else {
                // Not a frame start: dropped, and it costs a whole step.
                line.Sleep(listener::kReadStepMs);
                c.budgetMs -= static_cast<int>(listener::kReadStepMs);
            }
        } else if (!listener::WaitForFrameBytes(line, c, count > 0)) {
            break;
        }
        if (stop && stop()) break;
    }
    return count;
}

bool FrameOk(const uint8_t* frame, int count) {
    return count >= kMinFrameLength && count < kFrameCapacity && frame[0] == kFrameStart &&
           frame[count - 1] == kFrameEnd;
}

bool WeightFieldOk(const uint8_t* frame) {
    const uint8_t* field = frame + 1;
    const int n = 6;
    int i = 0;
    while (i < n && field[i] == ' ') ++i;
    if (i < n && field[i] == '-') ++i;
    if (i == n) return false;
    for (; i < n; ++i)
        if (field[i] < '0' || field[i] > '9') return false;
    return true;
}

double FrameWeightKg(const uint8_t* frame) {
    return static_cast<double>(prompribor::WeightThousandths(frame + 1, frame[kStatusByte])) / 1000.0;
}

std::string FrameText(const uint8_t* frame, int count) {
    std::string text;
    for (int i = kTextStart; i < count - 1 && frame[i] != 0; ++i) text += static_cast<char>(frame[i]);
    return text;
}

namespace {
const listener::EventField kVnaCiFields[] = {
    {"weight", true}, {nullptr, true}, {nullptr, true}, {"device", false}, {"text", false}};
}  // namespace
const listener::EventLine kVnaCiEventLine = {kVnaCiFields, 5};

std::string VnaCiLine(double weightKg, const char* deviceId, const std::string& text) {
    return listener::BoundedLine(listener::FixedField(weightKg, 6, 3) + ";" + FormatFixed(0.0, 6, 2) + ";" +
                                 FormatFixed(0.0, 6, 2) + ";" + deviceId + ";" + text + ";");
}

}  // namespace vnaci
}  // namespace zel

using namespace zel::vnaci;

ScalesVN_a_Ci_Thread_v2603::ScalesVN_a_Ci_Thread_v2603() : CScalesListener() {}

ScalesVN_a_Ci_Thread_v2603::~ScalesVN_a_Ci_Thread_v2603() { Shutdown(); }

bool ScalesVN_a_Ci_Thread_v2603::ReadMustEnd() {
    CAutoLockMutex guard(lock);
    // A line that closed (a Disconnect from the platform, a failed read)
    // brings nothing more: the next cycle reopens it.
    return stopRequested != 0 || port.LineState() != 0;
}

int ScalesVN_a_Ci_Thread_v2603::ReadOneFrame(uint8_t* frame, int capacity, int) {
    PortLine line(*this);
    return ReadCrFrame(line, frame, capacity, [this] { return ReadMustEnd(); }, &cycle);
}

CScalesListener::Next ScalesVN_a_Ci_Thread_v2603::HandleFrame(const uint8_t* frame, int count) {
    if (!FrameOk(frame, count)) return Next::Pause;
    if (!WeightFieldOk(frame)) return Refuse(Next::Pause, "the weight field holds no number");
    const double weight = FrameWeightKg(frame) * GetCoeff();
    Publish(VnaCiLine(weight, deviceId, FrameText(frame, count)), zel::listener::WeightMessageParam(weight), 0);
    return Next::Pause;
}

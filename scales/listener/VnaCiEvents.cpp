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
    return listener::ReadStartToEnd(line, kVnaCiProtocol, frame, capacity, clock ? *clock : own, stop);
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

listener::EventJudgement JudgeVnaCiFrame(const uint8_t* frame, int count) {
    listener::EventJudgement j;
    if (!FrameOk(frame, count)) {
        j.why = "no frame from '<' to CR of 9 to 49 bytes";
        return j;
    }
    if (!WeightFieldOk(frame)) {
        j.verdict = listener::EventVerdict::kNoNumber;
        j.why = "the weight field holds no number";
        return j;
    }
    j.verdict = listener::EventVerdict::kReading;
    j.reading.weight = FrameWeightKg(frame);
    j.reading.text = FrameText(frame, count);
    return j;
}

namespace {
listener::EventOutput VnaCiOutput(const listener::EventReading& r, const char* deviceId) {
    return {VnaCiLine(r.weight, deviceId, r.text), listener::WeightMessageParam(r.weight), 0};
}
}  // namespace

const listener::EventProtocol kVnaCiProtocol = {
    .name = "vnaci",
    .read = listener::FrameRead::kStartToEnd,
    .length = kFrameCapacity,
    .start = kFrameStart,
    .end = kFrameEnd,
    .judge = JudgeVnaCiFrame,
    .noNumberPauses = true,
    .format = VnaCiOutput,
    .line = &kVnaCiEventLine,
};

}  // namespace vnaci
}  // namespace zel

#include "tests/scratch/scratch_event_model.h"

namespace scratch {

namespace {

zel::listener::EventJudgement Judge(const uint8_t* f, int count) {
    zel::listener::EventJudgement j;
    if (count < 6) return j;  // incomplete
    if (f[0] != '#' || f[5] != '\r') {
        j.verdict = zel::listener::EventVerdict::kResync;
        j.why = "markers";
        return j;
    }
    int grams = 0;
    for (int i = 1; i < 5; ++i) {
        if (f[i] < '0' || f[i] > '9') {
            j.verdict = zel::listener::EventVerdict::kNoNumber;
            j.why = "digits";
            return j;
        }
        grams = grams * 10 + (f[i] - '0');
    }
    j.verdict = zel::listener::EventVerdict::kReading;
    j.reading.weight = grams;
    return j;
}

int NextStart(const uint8_t* f, int count) {
    for (int i = 1; i < count; ++i)
        if (f[i] == '#') return i;
    return count;
}

}  // namespace

const zel::listener::EventProtocol kScratchEvents = [] {
    zel::listener::EventProtocol p;
    p.name = "scratch";
    p.read = zel::listener::FrameRead::kFixed;
    p.length = 6;
    p.judge = &Judge;
    p.nextStart = &NextStart;
    return p;
}();

}  // namespace scratch

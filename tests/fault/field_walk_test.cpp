// Every position of every polled format, every class of byte: the simulator's
// frame for a known display has one byte replaced by a digit, a space, a
// sign, a point, a letter, a control byte or a high byte, and the driver's
// read cycle judges it. What the format's layout says that position holds
// decides what may come of it:
//   any field       refused, or the reading of the good frame;
//   number, binary  in a format without a check of its own, a digit for a
//                   digit gives one value changed by (new - old) x 10^k, a
//                   binary byte any value; a '-' may negate the value;
//   status          only the stable flag changes, or an overload (7);
//   unit, decimals  the weight scaled by a power of ten (a converted unit,
//                   another decimal place);
//   fixed, check, address, free: nothing but a refusal or the good reading.
// The good frame's own reading is held against the display, computed from
// the model row's factor to kilograms, not from the decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/ResultCodes.h"
#include "scales/exchange/Fields.h"
#include "sim/Frames.h"
#include "sim/Simulator.h"
#include "tests/fault/polled_models.h"

using zel::exchange::ByteClass;
using zel::exchange::Field;
using zel::exchange::FrameLayout;
using zel::exchange::Reading;
using zelfault::Judge;
using zelfault::Outcome;
using zelfault::PolledModel;
using zelfault::Same;

namespace {

const uint8_t kSubstitutes[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', ' ', '-', '+', '.', ',',
                                'A', 'E', 'F', 'O', 'L', 'U', 'g', 'k', 'l', 't', 0x00, 0x02, 0x03, 0x0D,
                                0x0A, 0x7F, 0x80, 0xFF};

const char* ClassName(ByteClass c) {
    switch (c) {
        case ByteClass::kFixed: return "fixed";
        case ByteClass::kNumber: return "number";
        case ByteClass::kBinary: return "binary";
        case ByteClass::kUnit: return "unit";
        case ByteClass::kStatus: return "status";
        case ByteClass::kAddress: return "address";
        case ByteClass::kDecimals: return "decimals";
        case ByteClass::kCheck: return "check";
        case ByteClass::kFree: return "free";
    }
    return "?";
}

bool Near(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::max(std::fabs(a), std::fabs(b))); }

bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }

// True when `changed` is `good` times 10^k for some k in -9..9, k != 0 (or
// equal when allowSame).
bool ScaledByPowerOfTen(double changed, double good) {
    if (good == 0.0) return false;
    for (int k = -9; k <= 9; ++k) {
        if (k == 0) continue;
        if (Near(changed, good * std::pow(10.0, k))) return true;
    }
    return false;
}

// One value of three changed by (d - c) x 10^k, the others as they were.
bool OneValueMovedByDigit(const Reading& o, const Reading& g, int delta) {
    const double got[3] = {o.weight, o.price, o.cost};
    const double want[3] = {g.weight, g.price, g.cost};
    int moved = -1;
    for (int i = 0; i < 3; ++i)
        if (got[i] != want[i]) {
            if (moved >= 0) return false;
            moved = i;
        }
    if (moved < 0) return o.stable == g.stable;
    const double d = std::fabs(got[moved] - want[moved]);
    for (int k = -9; k <= 9; ++k)
        if (Near(d, std::abs(delta) * std::pow(10.0, k))) return true;
    return false;
}

struct Walk {
    int model = -1;
    size_t positions = 0;
    int substitutions = 0;
    std::vector<std::string> faults;  // what a position may not give
};

// What one substitution may give, by the class of its position.
bool Allowed(ByteClass cls, bool ownCheck, uint8_t was, uint8_t now, const Outcome& o, const Outcome& good) {
    if (o.result != zel::kOk && o.result != zel::kOverload) return true;  // refused
    if (o.result == zel::kOk && Same(o.reading, good.reading)) return true;
    if (ownCheck) return false;
    const Reading& r = o.reading;
    const Reading& g = good.reading;
    switch (cls) {
        case ByteClass::kStatus:
            return o.result == zel::kOverload ||
                   (r.weight == g.weight && r.price == g.price && r.cost == g.cost);
        case ByteClass::kNumber:
            if (o.result == zel::kOverload) return false;
            if (IsDigit(was) && IsDigit(now)) return OneValueMovedByDigit(r, g, now - was);
            if (now == '-') return Near(r.weight, -g.weight) || Near(r.price, -g.price);
            return false;
        case ByteClass::kBinary:
            return o.result == zel::kOk;
        case ByteClass::kUnit:
        case ByteClass::kDecimals:
            return o.result == zel::kOk && r.price == g.price && ScaledByPowerOfTen(r.weight, g.weight);
        default:
            return false;
    }
}

sim::Display Shown() {
    sim::Display d;
    d.weight = 1.234;
    d.price = 56.78;
    d.cost = std::round(d.weight * d.price * 100.0) / 100.0;
    d.stable = true;
    d.decimals = 3;
    return d;
}

Walk WalkModel(const PolledModel& m) {
    Walk w;
    w.model = m.row->number;
    const auto& p = *m.protocol;
    const bool streams = sim::ModelStreams(w.model);
    const std::string good = sim::EncodeFrame(w.model, Shown());
    if (!p.layout) {
        w.faults.push_back("no layout");
        return w;
    }
    const FrameLayout& layout = *p.layout;
    const Outcome truth = Judge(p, streams, good, good);
    if (good.empty() || truth.result != zel::kOk) {
        w.faults.push_back(zelfault::Format("the good frame gives %d", truth.result));
        return w;
    }
    const double shown = 1.234 / m.row->toKilograms;
    if (!Near(truth.reading.weight, shown))
        w.faults.push_back(zelfault::Format("the good frame reads %.9g, the display shows %.9g", truth.reading.weight,
                                            shown));
    const bool ownCheck = zelfault::HasOwnCheck(m.row->frameCheck);
    w.positions = good.size();
    for (size_t at = 0; at < good.size(); ++at) {
        const Field* field = zel::exchange::FieldAt(layout, at);
        if (!field && !layout.open) {
            w.faults.push_back(zelfault::Format("position %zu is in no field", at));
            continue;
        }
        const ByteClass cls = field ? field->cls : ByteClass::kFixed;
        const uint8_t was = static_cast<uint8_t>(good[at]);
        for (uint8_t now : kSubstitutes) {
            if (now == was) continue;
            std::string changed = good;
            changed[at] = static_cast<char>(now);
            ++w.substitutions;
            const Outcome o = Judge(p, streams, changed, good);
            if (Allowed(cls, ownCheck, was, now, o, truth)) continue;
            w.faults.push_back(zelfault::Format(
                "position %zu (%s) %02X->%02X: result %d, weight %.9g price %.9g cost %.9g stable %d", at,
                ClassName(cls), was, now, o.result, o.reading.weight, o.reading.price, o.reading.cost,
                o.reading.stable));
        }
    }
    return w;
}

std::vector<PolledModel> Walked() {
    std::vector<PolledModel> out;
    for (const PolledModel& m : zelfault::PolledModels())
        if (m.protocol && sim::ModelSupported(m.row->number)) out.push_back(m);
    return out;
}

class FieldWalk : public testing::TestWithParam<PolledModel> {};

// One entry per model: `--gtest_filter='*FieldWalk*model13'`.
TEST_P(FieldWalk, EveryPositionHoldsItsClass) {
    const Walk w = WalkModel(GetParam());
    std::printf("model %d: %zu positions, %d substitutions, %zu faults\n", w.model, w.positions, w.substitutions,
                w.faults.size());
    const size_t shown = w.faults.size() < 6 ? w.faults.size() : 6;
    for (size_t i = 0; i < shown; ++i) ADD_FAILURE() << w.faults[i];
    if (w.faults.size() > shown) ADD_FAILURE() << (w.faults.size() - shown) << " more";
}

INSTANTIATE_TEST_SUITE_P(Polled, FieldWalk, testing::ValuesIn(Walked()),
                         [](const testing::TestParamInfo<PolledModel>& i) {
                             return "model" + std::to_string(i.param.row->number);
                         });

TEST(FieldWalkTable, EveryPolledModelIsWalked) { EXPECT_GT(Walked().size(), 30u); }

}  // namespace

// Every position of every polled format, every class of byte: the simulator's
// frame for a known display has one byte replaced by a digit, a space, a
// sign, a point, a letter, a control byte or a high byte, and the driver's
// read cycle judges it. What the format's layout says that position holds
// decides what may come of it:
//   any field       refused (any result but 0), or the good frame's reading;
//   number          in a format without a check of its own, one value may
//                   change only where the changed field still reads as a
//                   number to the test's own reading (spaces around it, one
//                   sign before the digits, at most one point between
//                   digits); a space, sign or letter among the digits, a
//                   second point or a control byte must be refused;
//   binary          in a format without a check, any value;
//   status          only the stable flag or the weight's sign changes;
//   unit, decimals  the weight scaled by a power of ten (a converted unit,
//                   another decimal place);
//   fixed, check, address, free: nothing but a refusal or the good reading;
//                   in a format that ends its frame by a terminator, a digit
//                   in place of the byte right after a number extends it.
// A format with a CRC or XOR of its own (the model row says) refuses every
// change. The good frame's own reading is held against the display, computed
// from the model row's factor to kilograms, not from the decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// True when at most one of weight, price and cost differs and the stable
// flag is the same.
bool OneValueMoved(const Reading& o, const Reading& g) {
    const int moved = (o.weight != g.weight) + (o.price != g.price) + (o.cost != g.cost);
    return moved <= 1 && o.stable == g.stable;
}

// The test's own reading of a number field: spaces around it, one sign
// before the digits (spaces may part the two), digits with at most one
// point or comma between two of them.
bool ReadsAsNumber(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    if (b < e && (text[b] == '-' || text[b] == '+')) {
        ++b;
        while (b < e && text[b] == ' ') ++b;
    }
    if (b == e || !IsDigit(static_cast<uint8_t>(text[b])) || !IsDigit(static_cast<uint8_t>(text[e - 1]))) return false;
    bool point = false;
    for (size_t i = b; i < e; ++i) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (IsDigit(c)) continue;
        if ((c == '.' || c == ',') && !point) {
            point = true;
            continue;
        }
        return false;
    }
    return true;
}

struct Walk {
    int model = -1;
    size_t positions = 0;
    int substitutions = 0;
    std::vector<std::string> faults;  // what a position may not give
};

// The whole number a number field belongs to: the fields it continues, or
// that continue it, joined; a dash the display leaves unlit reads as 0.
std::string NumberText(const FrameLayout& layout, const Field& field, const std::string& frame) {
    size_t first = static_cast<size_t>(&field - layout.fields);
    while (first > 0 && layout.fields[first].continues) {
        size_t before = first - 1;
        while (before > 0 && layout.fields[before].cls != ByteClass::kNumber) --before;
        if (layout.fields[before].cls != ByteClass::kNumber) break;
        first = before;
    }
    std::string text;
    for (size_t i = first; i < layout.count; ++i) {
        const Field& f = layout.fields[i];
        if (i > first && f.cls == ByteClass::kNumber && !f.continues) break;
        if (f.cls != ByteClass::kNumber || f.offset >= frame.size()) continue;
        std::string part = frame.substr(f.offset, std::min<size_t>(f.length, frame.size() - f.offset));
        if (f.grammar & zel::exchange::kReversed) std::reverse(part.begin(), part.end());
        std::string read;
        for (char c : part) {
            const uint8_t b = static_cast<uint8_t>(c);
            if ((f.grammar & zel::exchange::kDashDigit) && c == '-') {
                read += '0';
            } else if ((f.grammar & zel::exchange::kPointedDigits) && b >= 0xB0 && b <= 0xB9) {
                read += static_cast<char>(b - 0x80);
                read += '.';
            } else {
                read += c;
            }
        }
        text += read;
    }
    return text;
}

// The test's value of a number text that ReadsAsNumber: spaces dropped.
double ValueOf(const std::string& text) {
    std::string t;
    for (char c : text)
        if (c != ' ') t += c == ',' ? '.' : c;
    return std::strtod(t.c_str(), nullptr);
}

// The moved value is the good one scaled as the field's text moved: the
// decoder's own factor (kilograms to grams, hundredths) stays the same.
bool MovedAsTheText(const Reading& r, const Reading& g, const std::string& goodText, const std::string& text) {
    const double was = ValueOf(goodText), now = ValueOf(text);
    const double got[3] = {r.weight, r.price, r.cost};
    const double want[3] = {g.weight, g.price, g.cost};
    for (int i = 0; i < 3; ++i) {
        if (got[i] == want[i]) continue;
        if (was == 0.0) return true;
        return Near(got[i], want[i] * now / was);
    }
    return true;
}

// What one substitution at `at` may give, by the class of its position.
bool Allowed(const FrameLayout& layout, const Field* field, size_t at, bool ownCheck, uint8_t now,
             const std::string& goodFrame, const std::string& changed, const Outcome& o, const Outcome& good) {
    if (o.result != zel::kOk) return true;  // refused, or an overload: no weight
    if (Same(o.reading, good.reading)) return true;
    if (ownCheck) return false;
    const Reading& r = o.reading;
    const Reading& g = good.reading;
    const ByteClass cls = field ? field->cls : ByteClass::kFixed;
    switch (cls) {
        case ByteClass::kStatus:
            // A status byte may carry the weight's sign as well.
            return (r.weight == g.weight || r.weight == -g.weight) && r.price == g.price && r.cost == g.cost;
        case ByteClass::kNumber: {
            // A terminator in place of a digit ends the frame, and the number, early.
            if (layout.open && (now == '\r' || now == '\n')) return OneValueMoved(r, g);
            const std::string text = NumberText(layout, *field, changed), was = NumberText(layout, *field, goodFrame);
            return OneValueMoved(r, g) && ReadsAsNumber(text) && MovedAsTheText(r, g, was, text);
        }
        case ByteClass::kBinary:
            return true;
        case ByteClass::kUnit:
        case ByteClass::kDecimals:
            // A byte of decimals may carry the stable bit too.
            return r.price == g.price && r.cost == g.cost &&
                   (r.weight == g.weight || ScaledByPowerOfTen(r.weight, g.weight));
        default:
            break;
    }
    // A terminator-ended frame: a digit in place of the byte after a number
    // makes the number one digit longer.
    if (layout.open && IsDigit(now) && at > 0 && OneValueMoved(r, g)) {
        const Field* before = zel::exchange::FieldAt(layout, at - 1);
        return before && before->cls == ByteClass::kNumber;
    }
    return false;
}

Walk WalkModel(const PolledModel& m) {
    Walk w;
    w.model = m.row->number;
    const auto& p = *m.protocol;
    const bool streams = sim::ModelStreams(w.model);
    const std::string good = sim::EncodeFrame(w.model, zelfault::Shown());
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
            if (Allowed(layout, field, at, ownCheck, now, good, changed, o, truth)) continue;
            std::string shown;
            for (char c : changed) shown += (c >= 0x20 && c < 0x7F) ? c : '.';
            w.faults.push_back(zelfault::Format(
                "position %zu (%s) %02X->%02X in \"%s\": result %d, weight %.9g price %.9g cost %.9g stable %d", at,
                ClassName(cls), was, now, shown.c_str(), o.result, o.reading.weight, o.reading.price, o.reading.cost,
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

// Price-computing scales with digit-field frames: 17, 21, 28, 30. Polled.
//
// Each answers its request with weight (grams), unit price and cost
// (hundredths) as fixed decimal fields, least significant digit first, with
// no header and no check. The formats carry no sign; the simulator shows a
// minus as '-' in the top place of a character field (the rest holds the
// magnitude) and 0 in a digit-value field. No stability or overload either.
// Models 21, 28 and 30 take a tare (the weight on the pan becomes the tare)
// and a unit price, shown in the replies from then on; they answer neither.
#include "sim/Models.h"

namespace sim {

namespace {

long long Limit(int digits) {
    long long v = 1;
    for (int i = 0; i < digits; ++i) v *= 10;
    return v - 1;
}

// `k` characters '0'..'9', least significant first; a negative value puts
// '-' in the last (top) place and its magnitude, clamped, in the others.
void PutAscii(std::string* f, long long magnitude, bool minus, int k) {
    const int digits = minus ? k - 1 : k;
    if (magnitude > Limit(digits)) magnitude = Limit(digits);
    for (int i = 0; i < digits; ++i) {
        f->push_back(static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
    }
    if (minus) f->push_back('-');
}

// `k` digit values 0..9, least significant first; no sign, a negative is 0.
void PutValues(std::string* f, long long magnitude, bool minus, int k) {
    if (minus) magnitude = 0;
    if (magnitude > Limit(k)) magnitude = Limit(k);
    for (int i = 0; i < k; ++i) {
        f->push_back(static_cast<char>(magnitude % 10));
        magnitude /= 10;
    }
}

// Grams as the display shows them: rounded to its decimals (at most 3).
long long Grams(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    long long g = ScaledMagnitude(d.weight, dec, 1000000000LL);
    for (int i = dec; i < 3; ++i) g *= 10;
    return g;
}

bool WeightMinus(const Display& d) { return (d.weight < 0 && Grams(d) != 0) || d.negative; }

long long Hundredths(double v) { return ScaledMagnitude(v, 2, 1000000000LL); }

bool MoneyMinus(double v) { return v < 0 && Hundredths(v) != 0; }

// 17, 21: weight 6, price 5, cost 6 characters (17 bytes).
std::string ShortFrame(const Display& d) {
    std::string f;
    PutAscii(&f, Grams(d), WeightMinus(d), 6);
    PutAscii(&f, Hundredths(d.price), MoneyMinus(d.price), 5);
    PutAscii(&f, Hundredths(d.cost), MoneyMinus(d.cost), 6);
    return f;
}

// 30: weight, price, cost, 6 characters each (18 bytes).
std::string IcsFrame(const Display& d) {
    std::string f;
    PutAscii(&f, Grams(d), WeightMinus(d), 6);
    PutAscii(&f, Hundredths(d.price), MoneyMinus(d.price), 6);
    PutAscii(&f, Hundredths(d.cost), MoneyMinus(d.cost), 6);
    return f;
}

// 28: weight, price, cost, 6 digit values each (18 bytes).
std::string Uns2Frame(const Display& d) {
    std::string f;
    PutValues(&f, Grams(d), WeightMinus(d), 6);
    PutValues(&f, Hundredths(d.price), MoneyMinus(d.price), 6);
    PutValues(&f, Hundredths(d.cost), MoneyMinus(d.cost), 6);
    return f;
}

const std::string kLongRequest("\x00\x00\x03\x00\x00\x00\x00\x00", 8);

// head + five price digits (least significant first) + filler.
CommandMatcher::Pattern PricePattern(const std::string& head, CommandMatcher::ElemType digits, char filler) {
    CommandMatcher::Pattern p = BytesPattern(CommandMatcher::Price, head);
    return AddElems(p, digits, 5, std::string(1, filler));
}

SimModel Model(int number, const char* name, const char* line, std::string (*encode)(const Display&)) {
    SimModel m;
    m.model = number;
    m.name = name;
    m.line = line;
    m.encode = encode;  // no markers: a broken frame is one byte short
    return m;
}

}  // namespace

void AddPriceComputingModels(std::vector<SimModel>& out) {
    SimModel camry = Model(17, "Camry", "8E2", ShortFrame);
    camry.patterns = {BytesPattern(CommandMatcher::Request, kLongRequest)};
    out.push_back(camry);

    const std::string head("\x00\x00\x02", 3);
    const std::string tare("\x00\x00\x01", 3);

    SimModel jpl = Model(21, "JADEVER JPL", "8N1", ShortFrame);
    jpl.patterns = {BytesPattern(CommandMatcher::Request, kLongRequest), BytesPattern(CommandMatcher::Tare, tare),
                    PricePattern(head, CommandMatcher::DigitValue, '\0')};
    jpl.effect = StandardEffect;
    out.push_back(jpl);

    SimModel uns2 = Model(28, "BTHE UNS-02", "8N1", Uns2Frame);
    uns2.patterns = {BytesPattern(CommandMatcher::Request, std::string("\x2A\x03", 2)),
                     BytesPattern(CommandMatcher::Tare, std::string("\x2A\x01", 2)),
                     PricePattern(std::string("\x2A\x02", 2), CommandMatcher::DigitValue, '\0')};
    uns2.effect = StandardEffect;
    out.push_back(uns2);

    SimModel ics = Model(30, "ICS NT", "8E1", IcsFrame);
    ics.patterns = {BytesPattern(CommandMatcher::Request, std::string("\x00\x00\x03", 3)),
                    BytesPattern(CommandMatcher::Tare, tare), PricePattern(head, CommandMatcher::AsciiDigit, '0')};
    ics.effect = StandardEffect;
    out.push_back(ics);
}

}  // namespace sim

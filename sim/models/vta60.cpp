// VTA-60 event scales: 15 (text), 22 (digit values, takes tare and price).
#include "sim/Models.h"

namespace sim {

namespace {

// weight "%7.3f" CR price "%7.2f" CR cost "%7.2f" CR LF (25 bytes).
std::string VtaText(const Display& d) {
    std::string f = TextField(d.weight, 7, 3);
    f.push_back('\r');
    f += TextField(d.price, 7, 2);
    f.push_back('\r');
    f += TextField(d.cost, 7, 2);
    f += "\r\n";
    return f;
}

std::string VtaTextBroken(const std::string& frame) { return WithByte(frame, 24, '\r'); }  // the final LF

void PutDigitsLsdFirst(std::string* f, long long v) {
    for (int i = 0; i < 6; ++i) {
        f->push_back(static_cast<char>(v % 10));
        v /= 10;
    }
}

// 18 digit values 0-9: weight in grams, price and cost in hundredths, six
// digits each, least significant first. No sign: a negative weight is 0.
std::string VtaDigits(const Display& d) {
    std::string f;
    PutDigitsLsdFirst(&f, d.weight > 0 ? ScaledMagnitude(d.weight, 3, 999999) : 0);
    PutDigitsLsdFirst(&f, d.price > 0 ? ScaledMagnitude(d.price, 2, 999999) : 0);
    PutDigitsLsdFirst(&f, d.cost > 0 ? ScaledMagnitude(d.cost, 2, 999999) : 0);
    return f;
}

}  // namespace

void AddVta60Models(std::vector<SimModel>& out) {
    SimModel text;
    text.model = 15;
    text.name = "VTA-60";
    text.mode = SimModel::Pushes;
    text.encode = VtaText;
    text.brk = VtaTextBroken;
    out.push_back(text);

    // Tare 00 00 01 (recorded only); price 00 00 02 + five digit values,
    // least significant first, + 00 sets the price shown.
    SimModel digits;
    digits.model = 22;
    digits.name = "VTA-60";
    digits.line = "8E1";
    digits.mode = SimModel::Pushes;
    digits.encode = VtaDigits;  // no markers: a broken frame is one byte short
    CommandMatcher::Pattern price = BytesPattern(CommandMatcher::Price, std::string("\x00\x00\x02", 3));
    AddElems(price, CommandMatcher::DigitValue, 5, std::string(1, '\0'));
    digits.patterns = {BytesPattern(CommandMatcher::Tare, std::string("\x00\x00\x01", 3)), price};
    digits.effect = PriceFromHundredths;
    out.push_back(digits);
}

}  // namespace sim

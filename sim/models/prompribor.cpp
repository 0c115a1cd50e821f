// Prompribor scales: 0, 1 (polled), 6 (pushes weight and scanned text).
#include <cstdint>

#include "sim/Models.h"

namespace sim {

namespace {

void PutDigitsLsdFirst(std::string* f, long long v) {
    for (int i = 0; i < 6; ++i) {
        f->push_back(static_cast<char>(v % 10));
        v /= 10;
    }
}

// VTA-60: 18 digit values 0-9, weight in grams, price and cost in
// hundredths, six digits each, least significant first. No sign: a negative
// weight is 0.
std::string Vta(const Display& d) {
    std::string f;
    PutDigitsLsdFirst(&f, d.weight > 0 ? ScaledMagnitude(d.weight, 3, 999999) : 0);
    PutDigitsLsdFirst(&f, d.price > 0 ? ScaledMagnitude(d.price, 2, 999999) : 0);
    PutDigitsLsdFirst(&f, d.cost > 0 ? ScaledMagnitude(d.cost, 2, 999999) : 0);
    return f;
}

// The IE04 block's weight: six characters, the digits of the value with the
// display's decimals (at most 3) implied, zero-padded; a minus sign takes the
// first place. Then the status byte: bits 0-1 the decimals, bit 2 stable.
std::string Ie04Weight(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    long long mag = ScaledMagnitude(d.weight, dec, 999999);
    const bool minus = (d.weight < 0 && mag != 0) || d.negative;
    if (minus && mag > 99999) mag = 99999;
    std::string digits = std::to_string(mag);
    const size_t width = minus ? 5 : 6;
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    std::string f = (minus ? "-" : "") + digits;
    f.push_back(static_cast<char>(dec | (d.stable ? 0x04 : 0x00)));
    return f;
}

// VN-a-CI polled: 3C 00 weight(6) status 3E.
std::string VnPolled(const Display& d) {
    std::string f("\x3C\x00", 2);
    f += Ie04Weight(d);
    f.push_back('\x3E');
    return f;
}

std::string VnPolledBroken(const std::string& frame) { return WithByte(frame, 9, 0x3F); }  // the closing 3E

// VN-a-CI with a scanner: 3C weight(6) status, the text as it is, CR.
std::string VnScanner(const Display& d) {
    std::string f("\x3C");
    f += Ie04Weight(d);
    f += d.text;
    f.push_back('\r');
    return f;
}

// The CR turned into LF: the frame never ends.
std::string VnScannerBroken(const std::string& frame) { return WithByte(frame, frame.size() - 1, '\n'); }

}  // namespace

void AddPrompriborModels(std::vector<SimModel>& out) {
    // Read 00 00 03; tare 00 00 01 takes the load as the tare; price 00 00 02
    // + five digit values, least significant first, + 00 sets the price shown.
    SimModel vta;
    vta.model = 0;
    vta.name = "VTA-60";
    vta.line = "8E1";
    vta.encode = Vta;  // no markers: a broken frame is one byte short
    CommandMatcher::Pattern price = BytesPattern(CommandMatcher::Price, std::string("\x00\x00\x02", 3));
    AddElems(price, CommandMatcher::DigitValue, 5, std::string(1, '\0'));
    vta.patterns = {BytesPattern(CommandMatcher::Request, std::string("\x00\x00\x03", 3)),
                    BytesPattern(CommandMatcher::Tare, std::string("\x00\x00\x01", 3)), price};
    vta.effect = StandardEffect;
    out.push_back(vta);

    // Read "<", 0, "!", ">"; tare "<", 0, "T", ">" takes the load as the tare.
    SimModel vn;
    vn.model = 1;
    vn.name = "VN-a-CI";
    vn.header = 0x3C;
    vn.encode = VnPolled;
    vn.brk = VnPolledBroken;
    vn.patterns = {BytesPattern(CommandMatcher::Request, std::string("\x3C\x00\x21\x3E", 4)),
                   BytesPattern(CommandMatcher::Tare, std::string("\x3C\x00\x54\x3E", 4))};
    vn.effect = StandardEffect;
    out.push_back(vn);

    // Pushes; takes no commands.
    SimModel scanner;
    scanner.model = 6;
    scanner.name = "VN-a-CI scanner";
    scanner.mode = SimModel::Pushes;
    scanner.header = 0x3C;
    scanner.encode = VnScanner;
    scanner.brk = VnScannerBroken;
    out.push_back(scanner);
}

}  // namespace sim

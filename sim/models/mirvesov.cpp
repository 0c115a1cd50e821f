// Mirvesov and STX-frame scales: 7, 8, 12, 38 (polled), 31, 34 (streaming).
#include <cstdint>
#include <cstdio>

#include "sim/Models.h"

namespace sim {

namespace {

// Status bits of the А12EH frame's status byte.
const char kStatusMinus = 0x02;
const char kStatusOverload = 0x04;
const char kStatusMoving = 0x08;

char StatusByte(const Display& d) {
    char s = 0;
    if (ShowsMinus(d)) s |= kStatusMinus;
    if (d.overload) s |= kStatusOverload;
    if (!d.stable) s |= kStatusMoving;
    return s;
}

// The magnitude as `width` digits, zero-padded, counted in the last shown
// decimal; all nines when it does not fit.
std::string Digits(const Display& d, int decimals, int width) {
    long long max = 1;
    for (int i = 0; i < width; ++i) max *= 10;
    const long long v = ScaledMagnitude(d.weight, decimals, max - 1);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%0*lld", width < 20 ? width : 20, v);
    return buf;
}

// The XOR of frame[1..] as two hexadecimal characters, high nibble first.
void AppendCheck(std::string& f) {
    uint8_t x = 0;
    for (size_t i = 1; i < f.size(); ++i) x ^= static_cast<uint8_t>(f[i]);
    const char* hex = "0123456789ABCDEF";
    f.push_back(hex[x >> 4]);
    f.push_back(hex[x & 0x0F]);
}

// 'D' frame: 02, the address the request named, 'D', sign ('-' or '+'),
// seven weight bytes, two check characters, 03. The weight bytes differ by
// scale:
//   А9 (7)      six digits, then the count of decimals '0'..'3'
//   DS2 (12)    always three decimals, zero-padded: "001.234"
//   K9 (38)     right-aligned text with the display's decimals: "  1.234"
// These frames have no overload mark: an overloaded scale shows dashes.
std::string DFrame(const Display& d, char address, const std::string& field) {
    std::string f;
    f.push_back('\x02');
    f.push_back(address);
    f.push_back('D');
    f.push_back(ShowsMinus(d) ? '-' : '+');
    f += d.overload ? std::string(field.size(), '-') : field;
    AppendCheck(f);
    f.push_back('\x03');
    return f;
}

std::string A9(const Display& d) {
    const int dec = ClampDecimals(d.decimals, 3);
    return DFrame(d, 0x40, Digits(d, dec, 6) + static_cast<char>('0' + dec));
}

std::string Ds2(const Display& d) {
    const long long v = ScaledMagnitude(d.weight, 3, 999999);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%03lld.%03lld", v / 1000, v % 1000);
    return DFrame(d, 0x41, buf);
}

std::string K9(const Display& d) {
    Display m = d;
    m.weight = d.weight < 0 ? -d.weight : d.weight;
    return DFrame(d, 0x41, TextField(m.weight, 7, ClampDecimals(d.decimals, 4)));
}

std::string DBroken(const std::string& frame) { return WithByte(frame, 13, '\x04'); }  // ETX

// А12: 'w', status ('S' stable, 'U' moving), nine characters of signed
// text with the display's decimals, CR LF.
std::string A12(const Display& d) {
    const int dec = ClampDecimals(d.decimals, 4);
    std::string text;
    for (int k = dec; k >= 0 && text.empty(); --k) {
        char buf[64];
        const long long v = ScaledMagnitude(d.weight, k, 1000000000000LL);
        const long long whole = v / static_cast<long long>(Pow10(k));
        const long long part = v % static_cast<long long>(Pow10(k));
        if (k > 0)
            std::snprintf(buf, sizeof buf, "%s%lld.%0*lld", ShowsMinus(d) ? "-" : "", whole, k < 4 ? k : 4, part);
        else
            std::snprintf(buf, sizeof buf, "%s%lld", ShowsMinus(d) ? "-" : "", whole);
        if (std::string(buf).size() <= 9) text = buf;
    }
    if (text.empty()) text = ShowsMinus(d) ? "-99999999" : "999999999";
    std::string f = "w";
    f.push_back(d.stable ? 'S' : 'U');
    f += std::string(9 - text.size(), ' ') + text;
    f += "\r\n";
    return f;
}

std::string A12Broken(const std::string& frame) { return WithByte(frame, 12, '\r'); }  // LF

// А12EH (17 bytes): 02, decimal code (0x2A + decimals, top bit set), status
// byte, 0x20, six weight digits, six tare digits, CR. A negative reading
// has the status 02, the value of the frame start.
std::string A12eh(const Display& d) {
    const int dec = ClampDecimals(d.decimals, 4);
    std::string f;
    f.push_back('\x02');
    f.push_back(static_cast<char>(0x80 | (0x2A + dec)));
    f.push_back(StatusByte(d));
    f.push_back(' ');
    f += Digits(d, dec, 6);
    Display tare = d;
    tare.weight = d.tare;
    f += Digits(tare, dec, 6);
    f.push_back('\r');
    return f;
}

std::string A12ehBroken(const std::string& frame) { return WithByte(frame, 16, '\n'); }  // CR

// А9 continuous (12 bytes): 02, sign, six weight digits, the count of
// decimals '0'..'4', two check characters, 03.
std::string A9Contin(const Display& d) {
    const int dec = ClampDecimals(d.decimals, 4);
    std::string f;
    f.push_back('\x02');
    f.push_back(ShowsMinus(d) ? '-' : '+');
    f += d.overload ? std::string(6, '-') : Digits(d, dec, 6);
    f.push_back(static_cast<char>('0' + dec));
    AppendCheck(f);
    f.push_back('\x03');
    return f;
}

std::string A9ContinBroken(const std::string& frame) { return WithByte(frame, 11, '\x04'); }  // ETX

}  // namespace

void AddMirvesovModels(std::vector<SimModel>& out) {
    struct DScale {
        int model;
        const char* name;
        std::string (*encode)(const Display&);
        const char* request;
    };
    const DScale dScales[] = {
        {7, "A9", A9, "\x02\x40\x44\x00\x04\x03"},
        {12, "DS2", Ds2, "\x02\x41\x44\x30\x35\x03"},
        {38, "KELI K9", K9, "\x02\x41\x44\x30\x35\x03"},
    };
    for (const DScale& s : dScales) {
        SimModel m;
        m.model = s.model;
        m.name = s.name;
        m.header = 0x02;
        m.encode = s.encode;
        m.brk = DBroken;
        m.patterns = {BytesPattern(CommandMatcher::Request, std::string(s.request, 6))};
        out.push_back(m);
    }

    // 'R' asks, 'T' tares (the load becomes the tare), 'Z' zeroes; the
    // commands are not answered.
    SimModel a12;
    a12.model = 8;
    a12.name = "A12";
    a12.header = 'w';
    a12.encode = A12;
    a12.brk = A12Broken;
    a12.patterns = {BytesPattern(CommandMatcher::Request, "R"), BytesPattern(CommandMatcher::Tare, "T"),
                    BytesPattern(CommandMatcher::Zero, "Z")};
    a12.effect = StandardEffect;
    out.push_back(a12);

    // Noise holds neither the frame start nor the end byte: a read that
    // starts inside a frame could otherwise end on a noise byte of the end
    // byte's value, a frame no reader can tell from a real one.
    SimModel eh;
    eh.model = 31;
    eh.name = "A12EH";
    eh.mode = SimModel::Streams;
    eh.header = 0x02;
    eh.noGarbage = "\r";
    eh.encode = A12eh;
    eh.brk = A12ehBroken;
    out.push_back(eh);

    SimModel contin;
    contin.model = 34;
    contin.name = "A9 continuous";
    contin.mode = SimModel::Streams;
    contin.header = 0x02;
    contin.noGarbage = "\x03";
    contin.encode = A9Contin;
    contin.brk = A9ContinBroken;
    out.push_back(contin);
}

}  // namespace sim

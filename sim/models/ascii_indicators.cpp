// ASCII-request indicators: 11, 16, 23, 26, 35. Polled; each answers its
// request with a text reply of its own length and terminator.
#include <cstdio>

#include "sim/Models.h"

namespace sim {

namespace {

const long long kSixDigits = 999999;

bool Minus(const Display& d, long long magnitude) { return (d.weight < 0 && magnitude != 0) || d.negative; }

// The shown value with `dec` decimals (clamped to what fits), signed, right-
// aligned in `width` characters; too wide a value is clamped to the widest.
std::string SignedText(const Display& d, int width, int dec) {
    const long long mag = ScaledMagnitude(d.weight, dec, 1000000000000LL);
    const double value = static_cast<double>(mag) / Pow10(dec);
    return TextField(Minus(d, mag) ? -value : value, width, dec);
}

// Radwag WPT/4: "SUI", '?' when not stable (else ' '; '^' over the range),
// ' ', '-' or ' ', the magnitude right-aligned in 9 characters (up to 4
// decimals), " kg ", CR LF: 21 bytes.
std::string Radwag(const Display& d) {
    const int dec = ClampDecimals(d.decimals, 4);
    const long long mag = ScaledMagnitude(d.weight, dec, 999999999LL);
    std::string f = "SUI";
    if (d.overload) return f + "^" + std::string(11, ' ') + " kg \r\n";
    f.push_back(d.stable ? ' ' : '?');
    f.push_back(' ');
    f.push_back(Minus(d, mag) ? '-' : ' ');
    f += TextField(static_cast<double>(mag) / Pow10(dec), 9, dec);
    f += " kg \r\n";
    return f;
}

std::string RadwagBroken(const std::string& frame) { return WithByte(frame, 19, ' '); }  // the CR

// DIGI DS-788: STX, status ('0' + bit 1 stable + bit 2 negative), CR, '0',
// the magnitude as 6 digits without a point (the display's digits), CR LF.
// Over the range: status bit 0 and dashes.
std::string Digi(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    const long long mag = ScaledMagnitude(d.weight, dec, kSixDigits);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06lld", mag);
    std::string f("\x02", 1);
    if (d.overload) return f + "\x31\r0------\r\n";
    f.push_back(static_cast<char>(0x30 | (d.stable ? 0x02 : 0) | (Minus(d, mag) ? 0x04 : 0)));
    f += "\r0";
    f += digits;
    f += "\r\n";
    return f;
}

std::string DigiBroken(const std::string& frame) { return WithByte(frame, 3, '1'); }  // the '0' after CR

// HBM WE2110 (MSV?): the display's digits without a point, signed, right-
// aligned in 7 characters (wider when it needs more), CR LF.
std::string Hbm(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    long long v = ScaledSigned(d.weight, dec, -999999999LL, 999999999LL);
    if (d.negative && v > 0) v = -v;
    char text[24];
    std::snprintf(text, sizeof text, "%7lld\r\n", v);
    return text;
}

// The only test of an HBM reply is its length: the broken one is 5 bytes.
std::string HbmBroken(const std::string& frame) { return frame.substr(frame.size() - 5); }

// KELI: STX "NW:", the value right-aligned in 8 characters, " kg", ETX.
std::string Keli(const Display& d) {
    std::string f("\x02NW:", 4);
    f += SignedText(d, 8, ClampDecimals(d.decimals));
    f += " kg\x03";
    return f;
}

std::string KeliBroken(const std::string& frame) { return WithByte(frame, 1, 'X'); }  // the 'N'

// Rinstrum R320/R420: "81050027:", the value right-aligned in 8 characters,
// CR LF; an overload shows letters instead of the value.
std::string R320(const Display& d) {
    std::string f = "81050027:";
    f += d.overload ? "      OL" : SignedText(d, 8, ClampDecimals(d.decimals));
    f += "\r\n";
    return f;
}

std::string R320Broken(const std::string& frame) { return WithByte(frame, frame.size() - 1, ' '); }  // the LF

// The Radwag acknowledges its tare with a line the driver drops; the HBM
// answers every command with 0.
std::string RadwagAnswer(const CommandMatcher::Message&, const Display&) { return "I A\r\n"; }
std::string HbmAnswer(const CommandMatcher::Message&, const Display&) { return "0\r\n"; }

SimModel Polled(int model, const char* name, int header, std::string (*encode)(const Display&),
                std::string (*brk)(const std::string&), const std::string& request) {
    SimModel m;
    m.model = model;
    m.name = name;
    m.header = header;
    m.encode = encode;
    m.brk = brk;
    m.patterns = {BytesPattern(CommandMatcher::Request, request)};
    return m;
}

}  // namespace

void AddAsciiIndicatorModels(std::vector<SimModel>& out) {
    SimModel radwag = Polled(35, "Radwag WPT/4", 'S', Radwag, RadwagBroken, "SUI\r\n");
    radwag.patterns.push_back(BytesPattern(CommandMatcher::Tare, "I\r\n"));
    radwag.effect = StandardEffect;
    radwag.answer = RadwagAnswer;
    out.push_back(radwag);

    out.push_back(Polled(23, "DIGI DS-788", 0x02, Digi, DigiBroken, "\x05"));

    SimModel hbm = Polled(26, "HBM WE2110", -1, Hbm, HbmBroken, "S1;MSV?;");
    hbm.patterns.push_back(BytesPattern(CommandMatcher::Tare, "S1;TAR;"));
    hbm.effect = StandardEffect;
    hbm.answer = HbmAnswer;
    out.push_back(hbm);

    SimModel keli = Polled(16, "KELI", 0x02, Keli, KeliBroken, std::string("\x02\x42\x03", 3));
    keli.patterns.push_back(BytesPattern(CommandMatcher::Zero, std::string("\x02\x45\x03", 3)));
    keli.effect = StandardEffect;
    out.push_back(keli);

    out.push_back(Polled(11, "Rinstrum R320", -1, R320, R320Broken, "20050027:\r\n"));
}

}  // namespace sim

// Continuous-output scales: 18, 19, 25, 29, 33, 36, 39. Each sends its frame
// over and over and takes no commands.
#include <cmath>
#include <cstdio>

#include "sim/Models.h"

namespace sim {

namespace {

const long long kHuge = 1000000000000LL;

bool Minus(const Display& d, long long magnitude) { return d.negative || (d.weight < 0 && magnitude != 0); }

// |weight| right-aligned in `width` characters with the display's decimals
// (at most maxDec, fewer when it would not fit; all nines beyond that).
std::string Magnitude(const Display& d, int width, int maxDec, long long* magnitude) {
    const int dec = ClampDecimals(d.decimals, maxDec);
    *magnitude = ScaledMagnitude(d.weight, dec, kHuge);
    return TextField(static_cast<double>(*magnitude) / Pow10(dec), width, dec);
}

// `count` digits of |weight|, leading zeros, and the index of the digit the
// point follows (-1: none). Decimals drop when the value does not fit; all
// nines when even the integer does not.
std::string Digits(const Display& d, int count, int* pointAfter, long long* magnitude) {
    long long limit = 1;
    for (int i = 0; i < count; ++i) limit *= 10;
    for (int dec = ClampDecimals(d.decimals, count - 1); dec >= 0; --dec) {
        const long long m = ScaledMagnitude(d.weight, dec, kHuge);
        if (m < limit) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%0*lld", count, m);
            *pointAfter = dec > 0 ? count - dec - 1 : -1;
            *magnitude = m;
            return buf;
        }
    }
    *pointAfter = -1;
    *magnitude = limit - 1;
    return std::string(static_cast<size_t>(count), '9');
}

// 20 bytes: CR ' ' S|U ",GS," sign, 7 weight chars, " kg" CR LF.
std::string Certus(const Display& d) {
    long long mag;
    const std::string number = Magnitude(d, 7, 3, &mag);
    std::string f = "\r ";
    f += d.stable ? 'S' : 'U';
    f += ",GS,";
    f += Minus(d, mag) ? '-' : '+';
    f += number + " kg\r\n";
    return f;
}

std::string CertusBroken(const std::string& f) { return WithByte(f, 19, ' '); }  // the LF

// 23 bytes: CR ' ' "ST"|"US"|"OL" ' ' "GS" ' ' sign ' ', weight in 8 and " kg", CR LF.
std::string Jadever(const Display& d) {
    long long mag;
    const std::string number = Magnitude(d, 8, 3, &mag);
    std::string f = "\r ";
    f += d.overload ? "OL" : d.stable ? "ST" : "US";
    f += " GS ";
    f += Minus(d, mag) ? '-' : '+';
    f += ' ';
    f += number + " kg\r\n";
    return f;
}

std::string JadeverBroken(const std::string& f) { return WithByte(f, 4, '_'); }  // a space

// 13 bytes: STX sign, 7 weight chars, "kg", ' ' stable or 'M' in motion, CR.
std::string Smart(const Display& d) {
    long long mag;
    const std::string number = Magnitude(d, 7, 3, &mag);
    std::string f = "\x02";
    f += Minus(d, mag) ? '-' : ' ';
    f += number + "kg";
    f += d.stable ? ' ' : 'M';
    f += '\r';
    return f;
}

std::string SmartBroken(const std::string& f) { return WithByte(f, 12, '\n'); }  // the CR

// 18 bytes: LF "ST"|"US" ",GS," weight with its sign in 8 characters, "kg" CR;
// an overload shows "OL" for the status and the weight.
std::string Vis(const Display& d) {
    long long mag;
    std::string number = Magnitude(d, 7, 3, &mag);
    const size_t digit = number.find_first_not_of(' ');
    std::string field = Minus(d, mag) ? number.substr(0, digit) + "-" + number.substr(digit)
                                      : " " + number;
    std::string f = "\n";
    f += d.overload ? "OL" : d.stable ? "ST" : "US";
    f += ",GS,";
    f += (d.overload ? std::string("      OL") : field) + "kg\r";
    return f;
}

std::string VisBroken(const std::string& f) { return WithByte(f, 17, ' '); }  // the CR

// 8 bytes: '=' and the weight in 7 characters, zero-padded ("-01.234"),
// last first.
std::string T7e(const Display& d) {
    const int dec0 = ClampDecimals(d.decimals);
    const bool minus = Minus(d, ScaledMagnitude(d.weight, dec0, kHuge));
    std::string text;
    for (int dec = dec0; dec >= 0 && text.empty(); --dec) {
        const double v = static_cast<double>(ScaledMagnitude(d.weight, dec, kHuge)) / Pow10(dec);
        char buf[64];
        const int n = std::snprintf(buf, sizeof buf, "%0*.*f", 7, dec, minus ? -v : v);
        if (n == 7) text = buf;
    }
    if (text.empty()) text = minus ? "-999999" : "9999999";
    return "=" + std::string(text.rbegin(), text.rend());
}

// 7 bytes: '+'|'-', five digits (the one before the point + 0x80), CR.
std::string Esit(const Display& d) {
    int point;
    long long mag;
    const std::string digits = Digits(d, 5, &point, &mag);
    std::string f(1, Minus(d, mag) ? '-' : '+');
    for (int i = 0; i < 5; ++i) {
        char c = digits[static_cast<size_t>(i)];
        f += i == point ? static_cast<char>(c + 0x80) : c;
    }
    f += '\r';
    return f;
}

std::string EsitBroken(const std::string& f) { return WithByte(f, 6, ' '); }  // the CR

// 9 bytes: 7F, the scale's address '1', five weight characters least
// significant first (a digit followed by the point is sent as one of
// ")!@#$%^&*(" for 0-9), status (bit 0 stable), XOR of the seven before.
const char kOcsAddress = '1';

std::string Ocs(const Display& d) {
    static const char kWithPoint[] = ")!@#$%^&*(";
    const bool minus = Minus(d, ScaledMagnitude(d.weight, ClampDecimals(d.decimals), kHuge));
    int point;
    long long mag;
    const std::string digits = Digits(d, minus ? 4 : 5, &point, &mag);
    std::string chars = minus ? "-" : "";  // most significant first
    for (size_t i = 0; i < digits.size(); ++i)
        chars += static_cast<int>(i) == point ? kWithPoint[digits[i] - '0'] : digits[i];
    std::string f = "\x7f";
    f += kOcsAddress;
    for (size_t i = chars.size(); i > 0; --i) f += chars[i - 1];
    f += static_cast<char>(d.stable ? 0x01 : 0x00);
    char x = 0;
    for (size_t i = 1; i < f.size(); ++i) x = static_cast<char>(x ^ f[i]);
    f += x;
    return f;
}

std::string OcsBroken(const std::string& f) {  // one data bit
    return f.size() > 7 ? WithByte(f, 7, static_cast<char>(f[7] ^ 0x02)) : f;
}

SimModel Streaming(int model, const char* name, int header, std::string (*encode)(const Display&),
                   std::string (*brk)(const std::string&)) {
    SimModel m;
    m.model = model;
    m.name = name;
    m.mode = SimModel::Streams;
    m.header = header;
    m.encode = encode;
    m.brk = brk;
    return m;
}

}  // namespace

void AddContinuousModels(std::vector<SimModel>& out) {
    out.push_back(Streaming(18, "OCS", 0x7F, Ocs, OcsBroken));
    out.push_back(Streaming(19, "JADEVER SNUG II", '\r', Jadever, JadeverBroken));
    out.push_back(Streaming(25, "CERTUS CBA", '\r', Certus, CertusBroken));
    // Any 8 bytes after '=' are a frame: a short one is the only fault.
    out.push_back(Streaming(29, "T7E", '=', T7e, nullptr));
    out.push_back(Streaming(33, "SMART", 0x02, Smart, SmartBroken));
    SimModel esit = Streaming(36, "ESIT Smart2", -1, Esit, EsitBroken);
    esit.noGarbage = "+-";
    out.push_back(esit);
    out.push_back(Streaming(39, "VIS HL318L", '\n', Vis, VisBroken));
}

}  // namespace sim

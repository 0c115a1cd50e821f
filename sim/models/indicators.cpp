// Command-and-reply indicators: 2, 3, 4, 9, 24, 37. Polled; each recognises
// its weight request and its tare command (tare takes the load), and the
// IQ plus 355 three more commands (recorded only).
#include <cstdint>

#include "sim/Models.h"

namespace sim {

namespace {

const char kCr = '\r';
const char kLf = '\n';

// The magnitude's sign as the frames show it.
bool Minus(const Display& d, double magnitude) { return ShowsMinus(d) && magnitude != 0.0; }

// Decimals as shown, rounded, for a text field.
double Shown(double value, int decimals) {
    return static_cast<double>(ScaledMagnitude(value, decimals, 999999999999LL)) / Pow10(decimals);
}

// TBE, model 2: ' ', the weight in kg right-aligned in 11 characters, CR LF
// (14 bytes). Overload blanks the display: spaces up to the CR LF.
std::string Tbe(const Display& d) {
    std::string f(" ");
    if (d.overload) {
        f += std::string(11, ' ');
    } else {
        const int dec = ClampDecimals(d.decimals);
        const double mag = Shown(d.weight, dec);
        f += TextField(Minus(d, mag) ? -mag : mag, 11, dec);
    }
    f.push_back(kCr);
    f.push_back(kLf);
    return f;
}

std::string TbeBroken(const std::string& frame) { return WithByte(frame, 12, ' '); }  // the CR

// TB1, model 3: 'R' "01", the state letter, the weight in kg in 6
// characters, CR LF (12 bytes). State 'W' with a signed weight; 'N' and the
// magnitude when the minus sign is forced; 'E' on overload.
std::string Tb1(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    const double mag = Shown(d.weight, dec);
    std::string f("R01");
    if (d.overload) {
        f.push_back('E');
        f += TextField(mag, 6, dec);
    } else if (d.negative) {
        f.push_back('N');
        f += TextField(mag, 6, dec);
    } else {
        f.push_back('W');
        f += TextField(d.weight < 0 && mag != 0.0 ? -mag : mag, 6, dec);
    }
    f.push_back(kCr);
    f.push_back(kLf);
    return f;
}

std::string Tb1Broken(const std::string& frame) { return WithByte(frame, 10, kLf); }  // the CR

// ВН-220 unit ІЕ03 on request, model 4: '<' 00 d1d2 d3d4 d5d6 status '>':
// six packed decimal digits, status bits 0-1 the decimals, bit 2 stable,
// bit 5 minus. Overload shows EE EE EE.
std::string VnOld(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    const long long mag = ScaledMagnitude(d.weight, dec, 999999);
    std::string f("\x3C\x00", 2);
    long long div = 100000;
    for (int i = 0; i < 3; ++i) {
        const int hi = static_cast<int>((mag / div) % 10);
        const int lo = static_cast<int>((mag / (div / 10)) % 10);
        f.push_back(d.overload ? '\xEE' : static_cast<char>((hi << 4) | lo));
        div /= 100;
    }
    uint8_t status = static_cast<uint8_t>(dec & 3);
    if (d.stable) status |= 0x04;
    if (Minus(d, static_cast<double>(mag))) status |= 0x20;
    f.push_back(static_cast<char>(status));
    f.push_back('\x3E');
    return f;
}

std::string VnOldBroken(const std::string& frame) { return WithByte(frame, 6, 0x3F); }  // the closing 3E

// Axis, model 9: the sign (' ' or '-'), the weight in kg right-aligned in 9
// characters, " kg ", CR LF (16 bytes).
std::string Axis(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    const double mag = Shown(d.weight, dec);
    std::string f(1, Minus(d, mag) ? '-' : ' ');
    f += TextField(mag, 9, dec);
    f += " kg ";
    f.push_back(kCr);
    f.push_back(kLf);
    return f;
}

std::string AxisBroken(const std::string& frame) { return WithByte(frame, 15, kCr); }  // the final LF

// IQ plus 355, model 24: the request's echo 'X' 'N' CR LF, then the sign and
// the first character of the weight in kg, LF, its six other characters,
// "kg", CR LF (17 bytes).
std::string IqPlus(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    const double mag = Shown(d.weight, dec);
    std::string number = TextField(mag, 7, dec);
    number.resize(7, ' ');
    std::string f("XN\r\n");
    f.push_back(Minus(d, mag) ? '-' : ' ');
    f.push_back(number[0]);
    f.push_back(kLf);
    f += number.substr(1);
    f += "kg";
    f.push_back(kCr);
    f.push_back(kLf);
    return f;
}

std::string IqPlusBroken(const std::string& frame) { return WithByte(frame, 6, ' '); }  // the inner LF

// ESIT ECI STATIC, model 37: the weight in kg right-aligned in 10
// characters, CR LF (12 bytes).
std::string Esit(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    const double mag = Shown(d.weight, dec);
    std::string f = TextField(Minus(d, mag) ? -mag : mag, 10, dec);
    f.push_back(kCr);
    f.push_back(kLf);
    return f;
}

std::string EsitBroken(const std::string& frame) { return WithByte(frame, 11, kCr); }  // the final LF

SimModel Indicator(int model, const char* name, int header, std::string (*encode)(const Display&),
                   std::string (*brk)(const std::string&), const std::string& request, const std::string& tare) {
    SimModel m;
    m.model = model;
    m.name = name;
    m.header = header;
    m.encode = encode;
    m.brk = brk;
    m.patterns = {BytesPattern(CommandMatcher::Request, request), BytesPattern(CommandMatcher::Tare, tare)};
    m.effect = StandardEffect;
    return m;
}

}  // namespace

void AddIndicatorModels(std::vector<SimModel>& out) {
    out.push_back(Indicator(2, "TBE", ' ', Tbe, TbeBroken, "G1\r\n", "ST\r\n"));
    out.push_back(Indicator(3, "TB1", 'R', Tb1, Tb1Broken, "G01W\r\n", "S01T\r\n"));
    out.push_back(Indicator(4, "VN-220 on request", 0x3C, VnOld, VnOldBroken, std::string("<\x00!>", 4),
                            std::string("<\x00T>", 4)));

    SimModel axis = Indicator(9, "Axis", -1, Axis, AxisBroken, "SI\r\n", "ST\r\n");
    axis.noGarbage = " -";  // its frames start with the sign
    out.push_back(axis);

    SimModel iq = Indicator(24, "IQ plus 355", 'X', IqPlus, IqPlusBroken, "XN\r\n", "KTARE\r\n");
    iq.patterns.push_back(BytesPattern(CommandMatcher::Command, "STREAM=OFF\r\n"));
    iq.patterns.push_back(BytesPattern(CommandMatcher::Command, "EX\r\n"));
    iq.patterns.push_back(BytesPattern(CommandMatcher::Command, "SX\r\n"));
    out.push_back(iq);

    out.push_back(Indicator(37, "ESIT ECI STATIC", -1, Esit, EsitBroken, "W\r", "T\r"));
}

}  // namespace sim

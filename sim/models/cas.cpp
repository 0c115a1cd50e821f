// CAS scales: 13 and 27 (text frame), 14 (CAS-LP binary frame). Polled.
#include <cstdint>

#include "sim/Models.h"

namespace sim {

namespace {

// 06 01 02 status('S'/'U') weight(7 chars) "kg" check 03 04. Weight: sign
// (' ' or '-') and the value right-aligned in 6 characters with the display's
// decimals (fewer when it would not fit); overload: "FFFFFFF". The check is
// the XOR of the status, the weight and the unit.
std::string CasText(const Display& d) {
    std::string f("\x06\x01\x02", 3);
    f.push_back(d.stable ? 'S' : 'U');
    std::string field;
    if (!d.overload) {
        const int dec = ClampDecimals(d.decimals);
        const long long mag = ScaledMagnitude(d.weight, dec, 1000000000LL);
        std::string number = FitFixed(static_cast<double>(mag) / Pow10(dec), 6, dec);
        const bool minus = (d.weight < 0 && mag != 0) || d.negative;
        if (!number.empty()) field = std::string(1, minus ? '-' : ' ') + number;
    }
    if (field.empty()) field = "FFFFFFF";  // overload, or more than the display holds
    f += field;
    f += "kg";
    uint8_t check = 0;
    for (size_t i = 3; i < f.size(); ++i) check ^= static_cast<uint8_t>(f[i]);
    f.push_back(static_cast<char>(check));
    f.push_back('\x03');
    f.push_back('\x04');
    return f;
}

std::string CasTextBroken(const std::string& frame) { return WithByte(frame, 14, '\0'); }  // ETX

// 01 80 AA status, weight magnitude (u16 LE), price and cost in hundredths
// (i32 LE), 4 zero bytes. Status: bit 0 overload (also when the weight does
// not fit 16 bits), bit 6 stable, bit 7 negative.
std::string CasLp(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    long long mag = ScaledMagnitude(d.weight, dec, 65536);
    uint8_t status = 0;
    if (d.overload || mag > 65535) status |= 0x01;
    if (mag > 65535) mag = 65535;
    if (d.stable) status |= 0x40;
    if ((d.weight < 0 && mag != 0) || d.negative) status |= 0x80;
    std::string f("\x01\x80\xAA", 3);
    f.push_back(static_cast<char>(status));
    PutLe(&f, static_cast<unsigned long long>(mag), 2);
    const long long price = ScaledSigned(d.price, 2, INT32_MIN, INT32_MAX);
    const long long cost = ScaledSigned(d.cost, 2, INT32_MIN, INT32_MAX);
    PutLe(&f, static_cast<unsigned long long>(static_cast<uint32_t>(static_cast<int32_t>(price))), 4);
    PutLe(&f, static_cast<unsigned long long>(static_cast<uint32_t>(static_cast<int32_t>(cost))), 4);
    f.append(4, '\0');
    return f;
}

std::string CasLpBroken(const std::string& frame) { return WithByte(frame, 2, 0x55); }  // the AA byte

}  // namespace

void AddCasModels(std::vector<SimModel>& out) {
    for (int model : {13, 27}) {
        SimModel m;
        m.model = model;
        m.name = "CAS";
        m.header = 0x06;
        m.encode = CasText;
        m.brk = CasTextBroken;
        m.patterns = {BytesPattern(CommandMatcher::Request, std::string("\x05\x11", 2))};
        out.push_back(m);
    }
    SimModel lp;
    lp.model = 14;
    lp.name = "CAS-LP";
    lp.header = 0x01;
    lp.encode = CasLp;
    lp.brk = CasLpBroken;
    lp.patterns = {BytesPattern(CommandMatcher::Request, std::string("\x01\x89", 2))};
    out.push_back(lp);
}

}  // namespace sim

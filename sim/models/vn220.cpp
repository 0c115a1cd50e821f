// VN-220 event scales: 5 (weight), 32 (weight and tare). Push on their own;
// the driver acknowledges, and 32 takes a tare command.
#include "sim/Models.h"

namespace sim {

namespace {

// 3C 00 d1d2 d3d4 d5d6 status 3E: six packed decimal digits, status bits 0-1
// the decimals, bit 5 minus. 32 adds 3D 00 00 tare(u16 BE) 00 3E.
std::string Vn220(const Display& d, bool withTare) {
    const int dec = ClampDecimals(d.decimals);
    const long long mag = ScaledMagnitude(d.weight, dec, 999999);
    std::string f("\x3C\x00", 2);
    long long div = 100000;
    for (int i = 0; i < 3; ++i) {
        const int hi = static_cast<int>((mag / div) % 10);
        const int lo = static_cast<int>((mag / (div / 10)) % 10);
        f.push_back(static_cast<char>((hi << 4) | lo));
        div /= 100;
    }
    uint8_t status = static_cast<uint8_t>(dec & 3);
    if ((d.weight < 0 && mag != 0) || d.negative) status |= 0x20;
    f.push_back(static_cast<char>(status));
    f.push_back('\x3E');
    if (withTare) {
        const long long tare = d.tare > 0 ? ScaledMagnitude(d.tare, dec, 65535) : 0;
        f += std::string("\x3D\x00\x00", 3);
        PutBe(&f, static_cast<unsigned long long>(tare), 2);
        f.push_back('\0');
        f.push_back('\x3E');
    }
    return f;
}

std::string Vn220Weight(const Display& d) { return Vn220(d, false); }
std::string Vn220WithTare(const Display& d) { return Vn220(d, true); }
std::string Vn220Broken(const std::string& frame) { return WithByte(frame, 6, 0x3F); }  // the closing 3E

// The tare command's digits are in the weight's units (at most 3 decimals).
void Vn220Tare(const CommandMatcher::Message& m, Display& d) {
    if (m.kind == CommandMatcher::Tare) d.tare = static_cast<double>(m.value) / Pow10(ClampDecimals(d.decimals));
}

CommandMatcher::Pattern Ack() { return BytesPattern(CommandMatcher::Ack, std::string("\x3C\x00\x41\x3E", 4)); }

}  // namespace

void AddVn220Models(std::vector<SimModel>& out) {
    SimModel m;
    m.model = 5;
    m.name = "VN-220";
    m.mode = SimModel::Pushes;
    m.header = 0x3C;
    m.encode = Vn220Weight;
    m.brk = Vn220Broken;
    m.patterns = {Ack()};
    out.push_back(m);

    // 3C 00 62 ddd 3E: tare as six packed digits, in the weight's units.
    CommandMatcher::Pattern tare = BytesPattern(CommandMatcher::Tare, std::string("\x3C\x00\x62", 3));
    AddElems(tare, CommandMatcher::PackedBcd, 3, "\x3E");
    m.model = 32;
    m.encode = Vn220WithTare;
    m.patterns = {Ack(), tare};
    m.effect = Vn220Tare;
    out.push_back(m);
}

}  // namespace sim

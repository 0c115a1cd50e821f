// Modbus RTU indicators, slave 1: 40 (KELI D12), 41 (BST106). Polled: each
// answers its read-holding-registers request, and echoes a write of its
// command register, as Modbus slaves do.
#include <cstdint>
#include <cstdio>

#include "sim/Models.h"

namespace sim {

namespace {

// CRC-16/MODBUS (initial FFFF, reflected polynomial A001), low byte first.
void AppendCrc(std::string* f) {
    uint16_t crc = 0xFFFF;
    for (char ch : *f) {
        crc ^= static_cast<uint8_t>(ch);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    PutLe(f, crc, 2);
}

std::string WithCrc(const char* bytes, size_t n) {
    std::string f(bytes, n);
    AppendCrc(&f);
    return f;
}

// The displayed count: the weight scaled by its decimals, minus forced by
// `negative`.
long long Count(const Display& d, int decimals, long long lo, long long hi) {
    long long v = ScaledSigned(d.weight, decimals, lo, hi);
    if (d.negative && v > 0) v = -v;
    return v;
}

// BST106, registers 2..4: 01 03 06, the count as i32 big-endian, status
// (bit 5 stable), 00, CRC. The count has the display's decimals (at most 3:
// grams for a kilogram display).
std::string Bst106(const Display& d) {
    const long long v = Count(d, ClampDecimals(d.decimals), INT32_MIN, INT32_MAX);
    std::string f("\x01\x03\x06", 3);
    PutBe(&f, static_cast<uint32_t>(static_cast<int32_t>(v)), 4);
    f.push_back(static_cast<char>(d.stable ? 0x20 : 0x00));
    f.push_back('\0');
    AppendCrc(&f);
    return f;
}

// KELI D12, registers 3..6: 01 03 08, the count as 7 ASCII characters
// (zero-padded, '-' first when negative), the decimals as an ASCII digit
// (0..4), CRC. The format has no overload mark: a count beyond seven
// characters shows the widest one.
std::string D12(const Display& d) {
    const int dec = ClampDecimals(d.decimals, 4);
    const long long v = Count(d, dec, -999999, 9999999);
    char text[32];
    if (v < 0)
        std::snprintf(text, sizeof text, "-%06lld", -v);
    else
        std::snprintf(text, sizeof text, "%07lld", v);
    std::string f("\x01\x03\x08", 3);
    f.append(text, 7);
    f.push_back(static_cast<char>('0' + dec));
    AppendCrc(&f);
    return f;
}

// Function 03 answered as if by another function: the byte the driver
// checks. For the D12, 83 is the exception code of the same function.
std::string Bst106Broken(const std::string& frame) { return WithByte(frame, 2, 0x08); }  // byte count
std::string D12Broken(const std::string& frame) { return WithByte(frame, 1, static_cast<char>(0x83)); }

}  // namespace

void AddModbusModels(std::vector<SimModel>& out) {
    SimModel bst;
    bst.model = 41;
    bst.name = "BST106";
    bst.header = 0x01;
    bst.encode = Bst106;
    bst.brk = Bst106Broken;
    bst.patterns = {BytesPattern(CommandMatcher::Request, WithCrc("\x01\x03\x00\x02\x00\x03", 6)),
                    BytesPattern(CommandMatcher::Tare, WithCrc("\x01\x06\x00\x07\xA5\x0B", 6))};
    bst.effect = StandardEffect;
    bst.answer = EchoAnswer;
    out.push_back(bst);

    // The driver's tare and zero both write the zero register.
    SimModel d12;
    d12.model = 40;
    d12.name = "KELI D12";
    d12.header = 0x01;
    d12.encode = D12;
    d12.brk = D12Broken;
    d12.patterns = {BytesPattern(CommandMatcher::Request, WithCrc("\x01\x03\x00\x03\x00\x04", 6)),
                    BytesPattern(CommandMatcher::Zero, WithCrc("\x01\x06\x00\x01\x00\x17", 6))};
    d12.effect = StandardEffect;
    d12.answer = EchoAnswer;
    out.push_back(d12);
}

}  // namespace sim

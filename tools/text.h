// The tool's text helpers: bytes as hex, hex back to bytes, integers read
// with their range, the names of the control bytes scales frame with. Every
// command prints bytes through these, so the forms agree everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelscales {
namespace text {

// The control bytes of the scales' frames.
inline constexpr uint8_t kNul = 0x00;
inline constexpr uint8_t kSoh = 0x01;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kEnq = 0x05;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kLf = 0x0A;
inline constexpr uint8_t kCr = 0x0D;
inline constexpr uint8_t kDle = 0x10;
inline constexpr uint8_t kDc1 = 0x11;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kEtb = 0x17;
inline constexpr uint8_t kEsc = 0x1B;
inline constexpr uint8_t kDel = 0x7F;

// "STX" for 0x02, "CR" for 0x0D, "DEL" for 0x7F: the ASCII name of a byte
// below 0x20 or of 0x7F; nullptr for any other byte.
const char* ControlName(uint8_t byte);

// "4F 50 45 4E": upper-case digit pairs, one space between bytes.
std::string HexOf(const uint8_t* bytes, size_t size);
std::string HexOf(const std::vector<uint8_t>& bytes);
std::string HexOf(std::string_view bytes);
// "4f50454e": lower-case digit pairs, nothing between them.
std::string CompactHexOf(const uint8_t* bytes, size_t size);
// "OPEN.": the printable ASCII of the bytes, '.' for any other byte.
std::string TextOf(const std::vector<uint8_t>& bytes);
std::string TextOf(std::string_view bytes);

// The value of a hexadecimal digit of either case, -1 for another character.
int HexDigit(char c);
// Groups of hex digit pairs, one space between groups ("05", "02 05 03",
// "0511 03"), into bytes; false (out emptied) for anything else: an empty
// text, a group of an odd count, a leading, trailing or second space.
bool ParseHexBytes(std::string_view text, std::string& out);

// Hundredths as currency units: "12.50", "0.07", "-0.05".
std::string HundredthsText(long long hundredths);

// A decimal integer, an optional '-' or '+' and digits only (no spaces, no
// base prefix, no exponent), within [low, high]; false otherwise, `out`
// untouched.
bool ParseInteger(std::string_view text, long long low, long long high, long long& out);
bool ParseInteger(std::string_view text, long long low, long long high, int& out);

}  // namespace text
}  // namespace zelscales

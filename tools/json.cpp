#include "tools/json.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace zelscales {
namespace json {

namespace {

// Length of the valid UTF-8 sequence at `s[i]`, or 0 when the bytes there are
// not one.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // UTF-16 surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;  // continuation byte, overlong two-byte lead, or 0xF5..0xFF
    }
    if (s.size() - i < length) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

std::string Quote(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x80) {
            const size_t n = Utf8SequenceLength(bytes, i);
            if (n == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(bytes.data() + i, n);
                i += n;
            }
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string Number(double value) {
    if (!std::isfinite(value)) return "null";
    if (value == 0) return "0";  // -0 too: a weight of "-0" only puzzles a reader
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec != std::errc()) return "null";
    return std::string(buf, end);
}

std::string IsoUtc(int64_t unixMs) {
    // Whole days and the milliseconds into the day, rounded towards the past.
    const int64_t msPerDay = 86400000;
    const int64_t minDays = -719528, maxDays = 2932896;  // 0000-01-01 and 9999-12-31
    int64_t days = unixMs / msPerDay, ms = unixMs % msPerDay;
    if (ms < 0) ms += msPerDay, --days;
    if (days < minDays) days = minDays, ms = 0;
    if (days > maxDays) days = maxDays, ms = msPerDay - 1;
    // Civil date from the day number (proleptic Gregorian calendar, eras of
    // 400 years counted from 0000-03-01).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day,
                  static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
    return buf;
}

int64_t NowUnixMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

namespace {

void Write(const Value& v, std::string& out) {
    switch (v.type()) {
        case Value::value_t::object: {
            out += '{';
            bool first = true;
            for (const auto& [key, item] : v.items()) {
                if (!first) out += ',';
                first = false;
                out += Quote(key);
                out += ':';
                Write(item, out);
            }
            out += '}';
            break;
        }
        case Value::value_t::array: {
            out += '[';
            for (size_t i = 0; i < v.size(); ++i) {
                if (i) out += ',';
                Write(v[i], out);
            }
            out += ']';
            break;
        }
        case Value::value_t::string: out += Quote(v.get_ref<const std::string&>()); break;
        case Value::value_t::boolean: out += v.get<bool>() ? "true" : "false"; break;
        case Value::value_t::number_integer: out += std::to_string(v.get<int64_t>()); break;
        case Value::value_t::number_unsigned: out += std::to_string(v.get<uint64_t>()); break;
        case Value::value_t::number_float: out += Number(v.get<double>()); break;
        default: out += "null"; break;  // null, discarded, binary
    }
}

}  // namespace

std::string Dump(const Value& value) {
    std::string out;
    Write(value, out);
    return out;
}

Object& Object::String(std::string_view key, std::string_view value) { return Set(key, std::string(value)); }
Object& Object::Number(std::string_view key, double value) { return Set(key, value); }
Object& Object::Int(std::string_view key, int64_t value) { return Set(key, value); }
Object& Object::Bool(std::string_view key, bool value) { return Set(key, value); }
Object& Object::Null(std::string_view key) { return Set(key, nullptr); }
Object& Object::Time(std::string_view key) { return String(key, IsoUtc(NowUnixMs())); }

Object& Object::Set(std::string_view key, Value value) {
    value_[std::string(key)] = std::move(value);
    return *this;
}

}  // namespace json
}  // namespace zelscales

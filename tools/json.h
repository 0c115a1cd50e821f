// JSON lines for the zelscales tool: one object per reading or event, built
// field by field on nlohmann::ordered_json, printed on one line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zelscales {
namespace json {

// A JSON value whose object keys keep the order they were added in.
using Value = nlohmann::ordered_json;

// `bytes` as a JSON string, quotes included. Valid UTF-8 passes through;
// each byte that is not part of a valid sequence (stray continuation byte,
// overlong form, encoded surrogate, beyond U+10FFFF, cut short) becomes
// U+FFFD. Control characters and DEL are escaped, so the text stays on one line.
std::string Quote(std::string_view bytes);

// A number as JSON: the shortest text that reads back as the same double,
// independent of the C locale; NaN and infinities, which JSON cannot hold,
// become null.
std::string Number(double value);

// A value as one line of JSON: object keys in their order, strings as
// Quote() writes them (whatever bytes they hold), numbers as Number().
std::string Dump(const Value& value);

// Milliseconds since 1970-01-01 UTC as "YYYY-MM-DDTHH:MM:SS.mmmZ". Times
// before year 0000 or after 9999 are clamped to those years' ends.
std::string IsoUtc(int64_t unixMs);
// The wall clock now, in milliseconds since 1970-01-01 UTC.
int64_t NowUnixMs();

// An object built field by field, in the order added. A key added again
// takes the new value in its first place.
class Object {
public:
    Object& String(std::string_view key, std::string_view value);
    Object& Number(std::string_view key, double value);
    Object& Int(std::string_view key, int64_t value);
    Object& Bool(std::string_view key, bool value);
    Object& Null(std::string_view key);
    // Any value: an array, a nested object.
    Object& Set(std::string_view key, Value value);
    // The current time, ISO-8601 UTC with milliseconds.
    Object& Time(std::string_view key = "time");

    const Value& value() const { return value_; }
    // The object's text: "{...}" on one line, without a line end.
    std::string Text() const { return Dump(value_); }

private:
    Value value_ = Value::object();
};

}  // namespace json
}  // namespace zelscales

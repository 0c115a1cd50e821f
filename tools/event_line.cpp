#include "tools/event_line.h"

#include <charconv>
#include <string>
#include <vector>

#include "devices/ModelTable.h"

namespace zelscales {

namespace {

// The fields between ';', at most `limit`: the last one takes the rest of the
// line (free text may hold ';') less the line's closing ';'. A line that ends
// before a field has no such field; one that ends in ";;" has an empty one.
std::vector<std::string_view> Split(std::string_view line, size_t limit) {
    std::vector<std::string_view> fields;
    while (!line.empty() && fields.size() + 1 < limit) {
        size_t at = line.find(';');
        if (at == std::string_view::npos) break;
        fields.push_back(line.substr(0, at));
        line.remove_prefix(at + 1);
    }
    if (line.empty()) return fields;
    if (line.back() == ';') line.remove_suffix(1);
    fields.push_back(line);
    return fields;
}

bool ParseNumber(std::string_view field, double& value) {
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
    if (field.empty() || field.size() > 64) return false;
    std::string text(field);
    if (text[0] == '+') text.erase(0, 1);
    size_t comma = text.find(',');
    if (comma != std::string::npos) text[comma] = '.';
    const char* end = text.data() + text.size();
    auto [stop, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    return ec == std::errc() && stop == end;
}

void AddNumber(json::Object& out, const char* key, const std::vector<std::string_view>& fields, size_t index) {
    double value = 0;
    if (index < fields.size() && ParseNumber(fields[index], value)) out.Number(key, value);
    else out.Null(key);
}

void AddText(json::Object& out, const char* key, const std::vector<std::string_view>& fields, size_t index) {
    if (index < fields.size()) out.String(key, fields[index]);
    else out.Null(key);
}

}  // namespace

void AddEventFields(int model, std::string_view line, json::Object& out) {
    const zel::listener::EventLine layout = zel::devices::EventLineOf(model);
    if (layout.count == 0) return;
    const std::vector<std::string_view> fields = Split(line, layout.count);
    for (size_t i = 0; i < layout.count; ++i) {
        const zel::listener::EventField& f = layout.fields[i];
        if (!f.name) continue;
        if (f.number) AddNumber(out, f.name, fields, i);
        else AddText(out, f.name, fields, i);
    }
}

}  // namespace zelscales

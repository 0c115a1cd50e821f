#include "sim/Models.h"

#include <cmath>
#include <cstdio>

namespace sim {

// One function per family file in sim/models/.
void AddCasModels(std::vector<SimModel>& out);
void AddMassaKModels(std::vector<SimModel>& out);
void AddVn220Models(std::vector<SimModel>& out);
void AddVta60Models(std::vector<SimModel>& out);
void AddMirvesovModels(std::vector<SimModel>& out);
void AddModbusModels(std::vector<SimModel>& out);
void AddPriceComputingModels(std::vector<SimModel>& out);
void AddContinuousModels(std::vector<SimModel>& out);
void AddIndicatorModels(std::vector<SimModel>& out);
void AddPrompriborModels(std::vector<SimModel>& out);
void AddAsciiIndicatorModels(std::vector<SimModel>& out);

const std::vector<SimModel>& AllSimModels() {
    static const std::vector<SimModel> models = [] {
        std::vector<SimModel> v;
        AddCasModels(v);
        AddMassaKModels(v);
        AddVn220Models(v);
        AddVta60Models(v);
        AddMirvesovModels(v);
        AddModbusModels(v);
        AddPriceComputingModels(v);
        AddContinuousModels(v);
        AddIndicatorModels(v);
        AddPrompriborModels(v);
        AddAsciiIndicatorModels(v);
        return v;
    }();
    return models;
}

const SimModel* FindSimModel(int model) {
    for (const SimModel& m : AllSimModels()) {
        if (m.model == model) return &m;
    }
    return nullptr;
}

CommandMatcher::Pattern BytesPattern(CommandMatcher::Kind kind, const std::string& bytes) {
    CommandMatcher::Pattern p{kind, {}};
    for (char c : bytes) p.elems.push_back({CommandMatcher::Exact, static_cast<uint8_t>(c)});
    return p;
}

CommandMatcher::Pattern& AddElems(CommandMatcher::Pattern& p, CommandMatcher::ElemType type, int count,
                                  const std::string& tail) {
    for (int i = 0; i < count; ++i) p.elems.push_back({type, 0});
    for (char c : tail) p.elems.push_back({CommandMatcher::Exact, static_cast<uint8_t>(c)});
    return p;
}

void TareFromValue(const CommandMatcher::Message& m, Display& d) {
    if (m.kind == CommandMatcher::Tare) d.tare = static_cast<double>(m.value) / Pow10(d.decimals);
}

void PriceFromHundredths(const CommandMatcher::Message& m, Display& d) {
    if (m.kind == CommandMatcher::Price) d.price = static_cast<double>(m.value) / 100.0;
}

void StandardEffect(const CommandMatcher::Message& m, Display& d) {
    switch (m.kind) {
    case CommandMatcher::Tare:
        d.tare = d.weight + d.tare;
        d.weight = 0.0;
        d.zeroed = true;
        break;
    case CommandMatcher::Zero:
        d.weight = 0.0;
        d.zeroed = true;
        break;
    case CommandMatcher::Price: PriceFromHundredths(m, d); break;
    default: break;
    }
}

std::string EchoAnswer(const CommandMatcher::Message& m, const Display&) { return m.bytes; }

long long ScaledSigned(double value, int decimals, long long lo, long long hi) {
    if (std::isnan(value)) return 0;
    double v = std::round(value * Pow10(decimals));
    if (v <= static_cast<double>(lo)) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<long long>(v);
}

void PutLe(std::string* s, unsigned long long v, int bytes) {
    for (int i = 0; i < bytes; ++i) s->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutBe(std::string* s, unsigned long long v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) s->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string FitFixed(double value, int width, int decimals) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e15 || width <= 0 || width > 40) return std::string();
    for (int d = decimals; d >= 0; --d) {
        char buf[64];
        int n = std::snprintf(buf, sizeof buf, "%*.*f", width, d, value);
        if (n == width) return std::string(buf, static_cast<size_t>(n));
    }
    return std::string();
}

std::string TextField(double value, int width, int decimals) {
    if (std::isnan(value)) value = 0.0;
    std::string s = FitFixed(value, width, decimals);
    if (s.empty()) s = FitFixed(value < 0 ? -(std::pow(10.0, width - 1) - 1) : std::pow(10.0, width) - 1, width, 0);
    return s;
}

std::string WithByte(const std::string& frame, size_t offset, char value) {
    std::string f = frame;
    if (offset < f.size()) f[offset] = value;
    return f;
}

}  // namespace sim

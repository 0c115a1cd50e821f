#include "sim/Frames.h"

#include <cmath>
#include <cstdio>

namespace sim {

namespace {

double Pow10(int decimals) {
    static const double p[] = {1.0, 10.0, 100.0, 1000.0};
    return p[decimals < 0 ? 0 : (decimals > 3 ? 3 : decimals)];
}

int ClampDecimals(int d) { return d < 0 ? 0 : (d > 3 ? 3 : d); }

// round(value x 10^decimals) clamped to [lo, hi]; 0 for NaN.
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

// `value` with `decimals` decimals right-aligned in exactly `width`
// characters, dropping decimals when it would not fit; "" when even the
// integer does not fit.
std::string FitFixed(double value, int width, int decimals) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e15) return std::string();
    for (int d = decimals; d >= 0; --d) {
        char buf[64];
        int n = std::snprintf(buf, sizeof buf, "%*.*f", width, d, value);
        if (n == width) return std::string(buf, static_cast<size_t>(n));
    }
    return std::string();
}

// A text field for the printed-value format: clamped into the field.
std::string TextField(double value, int width, int decimals) {
    if (std::isnan(value)) value = 0.0;
    std::string s = FitFixed(value, width, decimals);
    if (s.empty()) s = FitFixed(value < 0 ? -(std::pow(10.0, width - 1) - 1) : std::pow(10.0, width) - 1, width, 0);
    return s;
}

std::string CasText(const Display& d) {
    std::string f("\x06\x01\x02", 3);
    f.push_back(d.stable ? 'S' : 'U');
    std::string field;
    if (!d.overload) {
        const int dec = ClampDecimals(d.decimals);
        const long long mag = ScaledMagnitude(d.weight, dec, 1000000000LL);
        std::string number = FitFixed(static_cast<double>(mag) / Pow10(dec), 6, dec);
        if (!number.empty()) field = std::string(1, (d.weight < 0 && mag != 0) ? '-' : ' ') + number;
    }
    if (field.empty()) field = "FFFFFFF";  // overload, or more than the display holds
    f += field;
    f += " kg";
    f.push_back('\x03');
    f.push_back('\x04');
    return f;
}

std::string CasLp(const Display& d) {
    const int dec = ClampDecimals(d.decimals);
    long long mag = ScaledMagnitude(d.weight, dec, 65536);
    uint8_t status = 0;
    if (d.overload || mag > 65535) status |= 0x01;
    if (mag > 65535) mag = 65535;
    if (d.stable) status |= 0x40;
    if (d.weight < 0 && mag != 0) status |= 0x80;
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

std::string MassaK(const Display& d) {
    const long long v = ScaledSigned(d.weight, ClampDecimals(d.decimals), -32768, 32767);
    std::string f;
    PutLe(&f, static_cast<unsigned long long>(static_cast<uint16_t>(static_cast<int16_t>(v))), 2);
    return f;
}

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
    if (d.weight < 0 && mag != 0) status |= 0x20;
    f.push_back(static_cast<char>(status));
    f.push_back('\x3E');
    if (withTare) {
        const long long tare = d.tare > 0 ? ScaledMagnitude(d.tare, dec, 65535) : 0;
        f += std::string("\x3D\x00\x00", 3);
        f.push_back(static_cast<char>((tare >> 8) & 0xFF));
        f.push_back(static_cast<char>(tare & 0xFF));
        f.push_back('\0');
        f.push_back('\x3E');
    }
    return f;
}

std::string VtaText(const Display& d) {
    std::string f = TextField(d.weight, 7, 3);
    f.push_back('\r');
    f += TextField(d.price, 7, 2);
    f.push_back('\r');
    f += TextField(d.cost, 7, 2);
    f += "\r\n";
    return f;
}

void PutDigitsLsdFirst(std::string* f, long long v) {
    for (int i = 0; i < 6; ++i) {
        f->push_back(static_cast<char>(v % 10));
        v /= 10;
    }
}

std::string VtaDigits(const Display& d) {
    std::string f;
    PutDigitsLsdFirst(&f, d.weight > 0 ? ScaledMagnitude(d.weight, 3, 999999) : 0);
    PutDigitsLsdFirst(&f, d.price > 0 ? ScaledMagnitude(d.price, 2, 999999) : 0);
    PutDigitsLsdFirst(&f, d.cost > 0 ? ScaledMagnitude(d.cost, 2, 999999) : 0);
    return f;
}

using Elem = CommandMatcher::Elem;

std::vector<Elem> Bytes(std::initializer_list<uint8_t> bytes) {
    std::vector<Elem> v;
    for (uint8_t b : bytes) v.push_back(Elem{CommandMatcher::Exact, b});
    return v;
}

}  // namespace

long long ScaledMagnitude(double value, int decimals, long long max) {
    if (std::isnan(value)) return 0;
    double v = std::round(std::fabs(value) * Pow10(decimals));
    if (v >= static_cast<double>(max)) return max;
    return static_cast<long long>(v);
}

std::string EncodeFrame(int model, const Display& d) {
    switch (model) {
    case 13:
    case 27: return CasText(d);
    case 14: return CasLp(d);
    case 10: return MassaK(d);
    case 5: return Vn220(d, false);
    case 32: return Vn220(d, true);
    case 15: return VtaText(d);
    case 22: return VtaDigits(d);
    default: return std::string();
    }
}

std::string BreakFrame(int model, const std::string& frame) {
    std::string f = frame;
    switch (model) {
    case 13:
    case 27:
        if (f.size() > 14) f[14] = '\0';
        break;
    case 14:
        if (f.size() > 2) f[2] = 0x55;
        break;
    case 5:
    case 32:
        if (f.size() > 6) f[6] = 0x3F;
        break;
    case 15:
        if (f.size() > 24) f[24] = '\r';
        break;
    default:
        if (!f.empty()) f.pop_back();
        break;
    }
    return f;
}

int FrameHeader(int model) {
    switch (model) {
    case 13:
    case 27: return 0x06;
    case 14: return 0x01;
    case 5:
    case 32: return 0x3C;
    default: return -1;
    }
}

CommandMatcher::CommandMatcher(int model) {
    switch (model) {
    case 13:
    case 27: patterns_.push_back({Request, Bytes({0x05, 0x11})}); break;
    case 14: patterns_.push_back({Request, Bytes({0x01, 0x89})}); break;
    case 10: patterns_.push_back({Request, Bytes({0x45})}); break;
    case 5: patterns_.push_back({Ack, Bytes({0x3C, 0x00, 0x41, 0x3E})}); break;
    case 32: {
        patterns_.push_back({Ack, Bytes({0x3C, 0x00, 0x41, 0x3E})});
        Pattern tare{Tare, Bytes({0x3C, 0x00, 0x62})};
        for (int i = 0; i < 3; ++i) tare.elems.push_back(Elem{PackedBcd, 0});
        tare.elems.push_back(Elem{Exact, 0x3E});
        patterns_.push_back(tare);
        break;
    }
    case 22: {
        patterns_.push_back({Tare, Bytes({0x00, 0x00, 0x01})});
        Pattern price{Price, Bytes({0x00, 0x00, 0x02})};
        for (int i = 0; i < 5; ++i) price.elems.push_back(Elem{DigitValue, 0});
        price.elems.push_back(Elem{Exact, 0x00});
        patterns_.push_back(price);
        break;
    }
    default: break;  // nothing expected: every byte is Unknown
    }
}

bool CommandMatcher::IsPrefix(const std::string& bytes, bool* complete, const Pattern** which) const {
    bool prefix = false;
    *complete = false;
    for (const Pattern& p : patterns_) {
        if (bytes.size() > p.elems.size()) continue;
        bool ok = true;
        for (size_t i = 0; i < bytes.size() && ok; ++i) {
            const uint8_t b = static_cast<uint8_t>(bytes[i]);
            const Elem& e = p.elems[i];
            switch (e.type) {
            case Exact: ok = b == e.byte; break;
            case PackedBcd: ok = (b >> 4) <= 9 && (b & 0x0F) <= 9; break;
            case DigitValue: ok = b <= 9; break;
            }
        }
        if (!ok) continue;
        prefix = true;
        if (bytes.size() == p.elems.size()) {
            *complete = true;
            *which = &p;
            return true;
        }
    }
    return prefix;
}

long long CommandMatcher::ValueOf(const Pattern& p, const std::string& bytes) {
    long long v = 0;
    long long place = 1;
    for (size_t i = 0; i < p.elems.size(); ++i) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        if (p.elems[i].type == PackedBcd) {
            v = v * 100 + (b >> 4) * 10 + (b & 0x0F);
        } else if (p.elems[i].type == DigitValue) {
            v += b * place;  // least significant digit first
            place *= 10;
        }
    }
    return v;
}

void CommandMatcher::Feed(uint8_t byte, std::vector<Message>* out) {
    pending_.push_back(static_cast<char>(byte));
    while (!pending_.empty()) {
        bool complete = false;
        const Pattern* which = nullptr;
        if (IsPrefix(pending_, &complete, &which)) {
            if (complete) {
                Flush(out, false);
                out->push_back(Message{which->kind, pending_, ValueOf(*which, pending_)});
                pending_.clear();
            }
            break;
        }
        junk_.push_back(pending_[0]);
        pending_.erase(0, 1);
    }
    // A long run of noise is handed out in pieces rather than held.
    if (junk_.size() >= 256) Flush(out, false);
}

void CommandMatcher::Flush(std::vector<Message>* out, bool partialToo) {
    if (partialToo && !pending_.empty()) {
        junk_ += pending_;
        pending_.clear();
    }
    if (!junk_.empty()) {
        out->push_back(Message{Unknown, junk_, 0});
        junk_.clear();
    }
}

}  // namespace sim

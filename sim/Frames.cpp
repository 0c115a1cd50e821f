#include "sim/Frames.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "sim/Models.h"

namespace sim {

long long ScaledMagnitude(double value, int decimals, long long max) {
    if (std::isnan(value)) return 0;
    double v = std::round(std::fabs(value) * Pow10(decimals));
    if (v >= static_cast<double>(max)) return max;
    return static_cast<long long>(v);
}

double Pow10(int decimals) {
    static const double p[] = {1.0, 10.0, 100.0, 1000.0, 10000.0};
    return p[decimals < 0 ? 0 : (decimals > 4 ? 4 : decimals)];
}

int ClampDecimals(int decimals, int max) {
    if (max > 4) max = 4;
    return decimals < 0 ? 0 : (decimals > max ? max : decimals);
}

bool ShowsMinus(const Display& d) { return d.negative || d.weight < 0; }

std::string EncodeFrame(int model, const Display& d) {
    const SimModel* m = FindSimModel(model);
    return m && m->encode ? m->encode(d) : std::string();
}

std::string BreakFrame(int model, const std::string& frame) {
    const SimModel* m = FindSimModel(model);
    if (m && m->brk) return m->brk(frame);
    std::string f = frame;
    if (!f.empty()) f.pop_back();
    return f;
}

int FrameHeader(int model) {
    const SimModel* m = FindSimModel(model);
    return m ? m->header : -1;
}

CommandMatcher::CommandMatcher(int model) {
    if (const SimModel* m = FindSimModel(model)) patterns_ = m->patterns;
}

CommandMatcher::CommandMatcher(std::vector<Pattern> patterns) : patterns_(std::move(patterns)) {}

bool CommandMatcher::PartialCouldBe(Kind k) const {
    if (pending_.empty()) return false;
    for (const Pattern& p : patterns_) {
        if (p.kind != k) continue;
        CommandMatcher one(std::vector<Pattern>{p});
        bool complete = false;
        const Pattern* which = nullptr;
        if (one.IsPrefix(pending_, &complete, &which)) return true;
    }
    return false;
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
            case AsciiDigit: ok = b >= '0' && b <= '9'; break;
            case AnyByte: break;
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
    if (p.value) return p.value(bytes);
    long long v = 0;
    long long place = 1;
    for (size_t i = 0; i < p.elems.size(); ++i) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        if (p.elems[i].type == PackedBcd) {
            v = v * 100 + (b >> 4) * 10 + (b & 0x0F);
        } else if (p.elems[i].type == DigitValue || p.elems[i].type == AsciiDigit) {
            v += (p.elems[i].type == AsciiDigit ? b - '0' : b) * place;  // least significant digit first
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

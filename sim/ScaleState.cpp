#include "sim/ScaleState.h"

#include <cmath>

#include "platform/sys.h"
#include "sim/Models.h"

namespace sim {

namespace {

bool IsReceivedKind(Record::Kind k) { return k != Record::Sent && k != Record::LineCut; }

}  // namespace

Record::Kind RecordKindOf(CommandMatcher::Kind k) {
    switch (k) {
    case CommandMatcher::Request: return Record::Request;
    case CommandMatcher::Ack: return Record::Ack;
    case CommandMatcher::Tare: return Record::Tare;
    case CommandMatcher::Price: return Record::Price;
    case CommandMatcher::Zero: return Record::Zero;
    case CommandMatcher::Command: return Record::Command;
    default: return Record::Unknown;
    }
}

void ScaleState::SetWeight(double kg) {
    if (!std::isfinite(kg)) return;
    CAutoLockMutex lock(mu_);
    disp_.weight = kg;
    disp_.zeroed = false;
}

void ScaleState::SetStable(bool stable) {
    CAutoLockMutex lock(mu_);
    disp_.stable = stable;
}

void ScaleState::SetOverload(bool overload) {
    CAutoLockMutex lock(mu_);
    disp_.overload = overload;
}

void ScaleState::SetPrice(double perKg) {
    if (!std::isfinite(perKg)) return;
    CAutoLockMutex lock(mu_);
    disp_.price = perKg;
}

void ScaleState::SetCost(double cost) {
    if (!std::isfinite(cost)) return;
    CAutoLockMutex lock(mu_);
    disp_.cost = cost;
    costFixed_ = true;
}

void ScaleState::SetTare(double kg) {
    if (!std::isfinite(kg)) return;
    CAutoLockMutex lock(mu_);
    disp_.tare = kg;
}

void ScaleState::SetDecimals(int decimals) {
    CAutoLockMutex lock(mu_);
    disp_.decimals = ClampDecimals(decimals, 4);
}

void ScaleState::SetNegative(bool negative) {
    CAutoLockMutex lock(mu_);
    disp_.negative = negative;
}

void ScaleState::SetText(const std::string& text) {
    CAutoLockMutex lock(mu_);
    disp_.text = text;
}

Display ScaleState::Shown() const {
    CAutoLockMutex lock(mu_);
    return disp_;
}

Display ScaleState::Current() const {
    CAutoLockMutex lock(mu_);
    Display d = disp_;
    if (!costFixed_) d.cost = std::round(d.weight * d.price * 100.0) / 100.0;
    return d;
}

std::string ScaleState::Encode(const Display& d) const {
    return desc_ && desc_->encode ? desc_->encode(d) : std::string();
}

std::string ScaleState::Frame() const { return Encode(Current()); }

void ScaleState::Apply(const CommandMatcher::Message& m) {
    {
        CAutoLockMutex lock(mu_);
        if (m.kind == CommandMatcher::Request) ++requests_;
        if (IsCommand(m.kind) && desc_ && desc_->effect) desc_->effect(m, disp_);
    }
    AddRecord(RecordKindOf(m.kind), m.bytes, m.value);
}

std::string ScaleState::Answer(const CommandMatcher::Message& m) const {
    if (!IsCommand(m.kind) || !desc_ || !desc_->answer) return std::string();
    return desc_->answer(m, Current());
}

void ScaleState::AddRecord(Record::Kind kind, const std::string& bytes, long long value) {
    Record r{kind, bytes, value, platform::MonotonicMs()};
    std::function<void(const Record&)> obs;
    {
        CAutoLockMutex lock(mu_);
        if (log_.size() >= kLogLimit) log_.erase(log_.begin(), log_.begin() + kLogLimit / 2);
        log_.push_back(r);
        if (IsReceivedKind(kind)) ++receivedTotal_;
        obs = observer_;
    }
    recordEvent_.Signal();
    if (obs) obs(r);
}

void ScaleState::FrameDone(const std::string& bytes, uint64_t nowMs) {
    {
        CAutoLockMutex lock(mu_);
        ++frames_;
        lastSentMs_ = nowMs;
    }
    AddRecord(Record::Sent, bytes, 0);
}

int ScaleState::Requests() const {
    CAutoLockMutex lock(mu_);
    return requests_;
}

int ScaleState::Frames() const {
    CAutoLockMutex lock(mu_);
    return frames_;
}

uint64_t ScaleState::LastFrameSentMs() const {
    CAutoLockMutex lock(mu_);
    return lastSentMs_;
}

std::vector<std::string> ScaleState::Received() const {
    CAutoLockMutex lock(mu_);
    std::vector<std::string> out;
    for (const Record& r : log_) {
        if (IsReceivedKind(r.kind)) out.push_back(r.bytes);
    }
    return out;
}

std::vector<Record> ScaleState::Log() const {
    CAutoLockMutex lock(mu_);
    return log_;
}

void ScaleState::ClearLog() {
    CAutoLockMutex lock(mu_);
    log_.clear();
    receivedTotal_ = 0;
}

bool ScaleState::WaitReceived(size_t count, int timeoutMs) const {
    const uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        {
            CAutoLockMutex lock(mu_);
            if (receivedTotal_ >= count) return true;
        }
        const uint64_t now = platform::MonotonicMs();
        if (now >= end) return false;
        const uint64_t left = end - now;
        recordEvent_.Wait(static_cast<unsigned>(left < 20 ? left : 20));
    }
}

void ScaleState::SetObserver(std::function<void(const Record&)> observer) {
    CAutoLockMutex lock(mu_);
    observer_ = std::move(observer);
}

}  // namespace sim

#include "host/HostObjects.h"

#include <cstdlib>
#include <cstring>

#include "platform/sys.h"

namespace zel {
namespace host {

namespace {

template <class Fn>
abi::Slot AsSlot(Fn fn) {
    return reinterpret_cast<abi::Slot>(fn);
}

// Longest text the host copies from an event argument.
const size_t kMaxEventText = 1 << 16;

std::u16string CopyText(const abi::Char* text) {
    std::u16string out;
    if (!text) return out;
    for (size_t i = 0; text[i] && i < kMaxEventText; ++i) out += static_cast<char16_t>(text[i]);
    return out;
}

}  // namespace

HostObjects::HostObjects() {
    for (int i = 0; i < abi::kDestructorSlots; ++i) {
        memoryTable_[i] = AsSlot(&Unused);
        connectionTable_[i] = AsSlot(&Unused);
    }
    const int d = abi::kDestructorSlots;
    memoryTable_[d + abi::memory::AllocMemory] = AsSlot(&AllocMemory);
    memoryTable_[d + abi::memory::FreeMemory] = AsSlot(&FreeMemory);

    connectionTable_[d + abi::connection::AddError] = AsSlot(&AddError);
    connectionTable_[d + abi::connection::Read] = AsSlot(&Read);
    connectionTable_[d + abi::connection::Write] = AsSlot(&Write);
    connectionTable_[d + abi::connection::RegisterProfileAs] = AsSlot(&RegisterProfileAs);
    connectionTable_[d + abi::connection::SetEventBufferDepth] = AsSlot(&SetEventBufferDepth);
    connectionTable_[d + abi::connection::GetEventBufferDepth] = AsSlot(&GetEventBufferDepth);
    connectionTable_[d + abi::connection::ExternalEvent] = AsSlot(&OnExternalEvent);
    connectionTable_[d + abi::connection::CleanEventBuffer] = AsSlot(&CleanEventBuffer);
    connectionTable_[d + abi::connection::SetStatusLine] = AsSlot(&SetStatusLine);
    connectionTable_[d + abi::connection::ResetStatusLine] = AsSlot(&ResetStatusLine);

    memory_ = {memoryTable_, this};
    connection_ = {connectionTable_, this};
}

HostObjects::~HostObjects() {
    CAutoLockMutex lock(memoryLock_);
    for (auto& block : blocks_) std::free(const_cast<void*>(block.first));
    blocks_.clear();
}

// ---- memory manager ---------------------------------------------------------

bool ZEL_HOST_CALL HostObjects::AllocMemory(void* self, void** block, unsigned long bytes) {
    HostObjects* owner = Owner(self);
    if (!block) return false;
    ++owner->allocations_;
    if (owner->refuse_ || bytes == 0) return false;
    if ((owner->pattern_ >> (owner->patternNext_++ % 64)) & 1u) return false;
    void* p = std::malloc(bytes);
    if (!p) return false;
    // A fill that is not a terminator, so an unwritten terminator shows.
    std::memset(p, 0xA5, bytes);
    {
        CAutoLockMutex lock(owner->memoryLock_);
        owner->blocks_[p] = bytes;
    }
    *block = p;
    return true;
}

void ZEL_HOST_CALL HostObjects::FreeMemory(void* self, void** block) {
    if (block && *block) {
        Owner(self)->Free(*block);
        *block = nullptr;
    }
}

bool HostObjects::Owns(const void* block) const {
    CAutoLockMutex lock(memoryLock_);
    return blocks_.count(block) != 0;
}

void HostObjects::Free(void* block) {
    CAutoLockMutex lock(memoryLock_);
    auto it = blocks_.find(block);
    if (it == blocks_.end()) return;
    blocks_.erase(it);
    std::free(block);
}

size_t HostObjects::LiveBlocks() const {
    CAutoLockMutex lock(memoryLock_);
    return blocks_.size();
}

std::u16string HostObjects::TakeText(const abi::Char* block, long length) {
    std::u16string out;
    size_t bytes = 0;
    {
        CAutoLockMutex lock(memoryLock_);
        auto it = blocks_.find(block);
        if (it == blocks_.end()) {
            ++badStrings_;
            return out;
        }
        bytes = it->second;
    }
    size_t units = bytes / sizeof(abi::Char);
    size_t n = 0;
    while (n < units && block[n]) ++n;
    bool terminated = n < units;
    if (length >= 0 && static_cast<size_t>(length) != n) ++badStrings_;
    if (!terminated || bytes != (n + 1) * sizeof(abi::Char)) ++badStrings_;
    for (size_t i = 0; i < n; ++i) out += static_cast<char16_t>(block[i]);
    Free(const_cast<abi::Char*>(block));
    return out;
}

// ---- connection -------------------------------------------------------------

bool ZEL_HOST_CALL HostObjects::AddError(void* self, unsigned short, const abi::Char*, const abi::Char*, long) {
    ++Owner(self)->otherCalls_;
    return true;
}

bool ZEL_HOST_CALL HostObjects::Read(void* self, abi::Char*, abi::Variant*, long*, abi::Char**) {
    ++Owner(self)->otherCalls_;
    return false;
}

bool ZEL_HOST_CALL HostObjects::Write(void* self, abi::Char*, abi::Variant*) {
    ++Owner(self)->otherCalls_;
    return false;
}

bool ZEL_HOST_CALL HostObjects::RegisterProfileAs(void* self, abi::Char*) {
    ++Owner(self)->otherCalls_;
    return true;
}

bool ZEL_HOST_CALL HostObjects::SetEventBufferDepth(void* self, long depth) {
    HostObjects* owner = Owner(self);
    ++owner->depthCalls_;
    if (owner->refuseDepth_ || depth < 1) return false;
    CAutoLockMutex lock(owner->eventLock_);
    // Events already queued stay, also beyond a smaller depth.
    owner->depth_ = depth;
    return true;
}

long ZEL_HOST_CALL HostObjects::GetEventBufferDepth(void* self) {
    HostObjects* owner = Owner(self);
    ++owner->depthCalls_;
    return owner->EventBufferDepth();
}

long HostObjects::EventBufferDepth() const {
    CAutoLockMutex lock(eventLock_);
    return depth_;
}

bool ZEL_HOST_CALL HostObjects::OnExternalEvent(void* self, abi::Char* source, abi::Char* message,
                                                abi::Char* data) {
    HostObjects* owner = Owner(self);
    ExternalEvent event{CopyText(source), CopyText(message), CopyText(data)};
    {
        CAutoLockMutex lock(owner->eventLock_);
        if (owner->events_.size() >= static_cast<size_t>(owner->depth_)) {
            // Full: the platform drops the newest event.
            ++owner->dropped_;
            return false;
        }
        owner->events_.push_back(std::move(event));
    }
    owner->eventArrived_.Signal();
    return true;
}

void ZEL_HOST_CALL HostObjects::CleanEventBuffer(void* self) {
    HostObjects* owner = Owner(self);
    ++owner->otherCalls_;
    CAutoLockMutex lock(owner->eventLock_);
    owner->events_.clear();
}

bool ZEL_HOST_CALL HostObjects::SetStatusLine(void* self, abi::Char*) {
    ++Owner(self)->otherCalls_;
    return true;
}

void ZEL_HOST_CALL HostObjects::ResetStatusLine(void* self) { ++Owner(self)->otherCalls_; }

void ZEL_HOST_CALL HostObjects::Unused(void* self) { ++Owner(self)->otherCalls_; }

bool HostObjects::WaitEvent(ExternalEvent* event, unsigned timeoutMs) {
    uint64_t deadline = platform::MonotonicMs() + timeoutMs;
    for (;;) {
        {
            CAutoLockMutex lock(eventLock_);
            if (!events_.empty()) {
                if (event) *event = std::move(events_.front());
                events_.pop_front();
                return true;
            }
        }
        uint64_t now = platform::MonotonicMs();
        if (now >= deadline) return false;
        eventArrived_.Wait(static_cast<unsigned>(deadline - now));
    }
}

size_t HostObjects::PendingEvents() const {
    CAutoLockMutex lock(eventLock_);
    return events_.size();
}

}  // namespace host
}  // namespace zel

// The two objects the platform hands to a component: a memory manager and a
// connection. Both are built by hand in the platform's binary layout (a
// vtable pointer first, destructor slot(s), then the operations) so that
// the component calls them exactly as it would call the platform's.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "host/Abi.h"
#include "host/Component.h"
#include "platform/sync.h"

namespace zel {
namespace host {

class HostObjects {
public:
    HostObjects();
    ~HostObjects();
    HostObjects(const HostObjects&) = delete;
    HostObjects& operator=(const HostObjects&) = delete;

    // Addresses to hand to setMemManager and Init.
    void* MemoryManager() { return &memory_; }
    void* Connection() { return &connection_; }

    // ---- memory manager ----
    void Refuse(bool refuse) { refuse_ = refuse; }
    // Request k from now is refused when bit k % 64 of `bits` is set.
    void RefusePattern(uint64_t bits) {
        patternNext_ = 0;
        pattern_ = bits;
    }
    bool Owns(const void* block) const;
    // Reads a text block the component returned and gives it back. `length`
    // is the character count the component claimed (-1: up to the
    // terminator). A block that is not exactly (length + 1) * 2 bytes with
    // a terminator counts as a bad string.
    std::u16string TakeText(const abi::Char* block, long length);
    void Free(void* block);
    uint64_t allocations() const { return allocations_; }
    size_t LiveBlocks() const;
    uint64_t badStrings() const { return badStrings_; }
    void CountBadString() { ++badStrings_; }

    // ---- connection ----
    // The platform's event queue: it holds at most `depth` events (1 until
    // the component sets another); ExternalEvent on a full queue drops the
    // event and returns false. The application takes them out one by one
    // (WaitEvent); while it does not (busy), the queue fills.
    bool WaitEvent(ExternalEvent* event, unsigned timeoutMs);
    size_t PendingEvents() const;
    long EventBufferDepth() const;
    // SetEventBufferDepth calls are refused (false, depth unchanged).
    void RefuseEventBufferDepth(bool refuse) { refuseDepth_ = refuse; }
    uint64_t droppedEvents() const { return dropped_; }
    uint64_t depthCalls() const { return depthCalls_; }
    uint64_t otherCalls() const { return otherCalls_; }

private:
    struct Object {
        const abi::Slot* vtable;
        HostObjects* owner;
    };

    static bool ZEL_HOST_CALL AllocMemory(void* self, void** block, unsigned long bytes);
    static void ZEL_HOST_CALL FreeMemory(void* self, void** block);
    static bool ZEL_HOST_CALL AddError(void* self, unsigned short, const abi::Char*, const abi::Char*, long);
    static bool ZEL_HOST_CALL Read(void* self, abi::Char*, abi::Variant*, long*, abi::Char**);
    static bool ZEL_HOST_CALL Write(void* self, abi::Char*, abi::Variant*);
    static bool ZEL_HOST_CALL RegisterProfileAs(void* self, abi::Char*);
    static bool ZEL_HOST_CALL SetEventBufferDepth(void* self, long);
    static long ZEL_HOST_CALL GetEventBufferDepth(void* self);
    static bool ZEL_HOST_CALL OnExternalEvent(void* self, abi::Char* source, abi::Char* message, abi::Char* data);
    static void ZEL_HOST_CALL CleanEventBuffer(void* self);
    static bool ZEL_HOST_CALL SetStatusLine(void* self, abi::Char*);
    static void ZEL_HOST_CALL ResetStatusLine(void* self);
    static void ZEL_HOST_CALL Unused(void* self);

    static HostObjects* Owner(void* self) { return static_cast<Object*>(self)->owner; }

    abi::Slot memoryTable_[abi::kDestructorSlots + abi::memory::kCount];
    abi::Slot connectionTable_[abi::kDestructorSlots + abi::connection::kCount];
    Object memory_;
    Object connection_;

    mutable platform::RecursiveMutex memoryLock_;
    std::map<const void*, size_t> blocks_;
    std::atomic<bool> refuse_{false};
    std::atomic<uint64_t> pattern_{0};
    std::atomic<uint64_t> patternNext_{0};
    std::atomic<uint64_t> allocations_{0};
    std::atomic<uint64_t> badStrings_{0};

    mutable platform::RecursiveMutex eventLock_;
    platform::Event eventArrived_;
    std::deque<ExternalEvent> events_;
    long depth_ = 1;  // under eventLock_
    std::atomic<bool> refuseDepth_{false};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> depthCalls_{0};
    std::atomic<uint64_t> otherCalls_{0};
};

}  // namespace host
}  // namespace zel

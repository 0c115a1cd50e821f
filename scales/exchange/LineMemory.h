// What a family's decoders learn about the scale on one line, such as
// whether it sends its check characters at all. The polled scale object keeps
// it with its line and lends it to the decoders while it reads; opening the
// device on a line or closing it forgets it (a line let go between readings
// keeps it). A frame judged on its own (the tools, a test on bytes) is read
// with none.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>

namespace zel {
namespace exchange {

class LineMemory {
public:
    static const size_t kRoom = 32;

    // The family's state: made afresh on first use after a Forget, or when
    // another family's state was there.
    template <class T>
    T& Of() {
        static_assert(sizeof(T) <= kRoom && alignof(T) <= alignof(std::max_align_t), "state too large");
        static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                      "plain state only");
        if (tag_ != Tag<T>()) {
            new (room_) T();
            tag_ = Tag<T>();
        }
        return *std::launder(reinterpret_cast<T*>(room_));
    }
    // The family's state if it is there, else null.
    template <class T>
    const T* Find() const {
        return tag_ == Tag<T>() ? std::launder(reinterpret_cast<const T*>(room_)) : nullptr;
    }
    void Forget() { tag_ = nullptr; }

private:
    template <class T>
    static const void* Tag() {
        static const char tag = 0;
        return &tag;
    }
    alignas(std::max_align_t) unsigned char room_[kRoom] = {};
    const void* tag_ = nullptr;
};

// The memory lent to the decoders on this thread; null outside a reading.
LineMemory* LentLineMemory();

// Lends `memory` (null: none) to the decoders on this thread for the scope.
class LineMemoryScope {
public:
    explicit LineMemoryScope(LineMemory* memory);
    ~LineMemoryScope();
    LineMemoryScope(const LineMemoryScope&) = delete;
    LineMemoryScope& operator=(const LineMemoryScope&) = delete;

private:
    LineMemory* previous_;
};

}  // namespace exchange
}  // namespace zel

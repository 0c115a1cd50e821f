// Serial framing of a scale's line: 8 data bits always, parity and stop bits
// per model (the model table says which).
#pragma once

#include <cstdint>

namespace zel {

enum class LineVariant : uint8_t { k8N1, k8E1, k8E2 };

// Parity code (0 none, 2 even) and stop-bits code (0 one, 2 two) as the
// device port takes them.
inline void LineCodes(LineVariant variant, int32_t& parity, int32_t& stopBits) {
    parity = variant == LineVariant::k8N1 ? 0 : 2;
    stopBits = variant == LineVariant::k8E2 ? 2 : 0;
}

inline const char* LineName(LineVariant variant) {
    switch (variant) {
        case LineVariant::k8E1: return "8E1";
        case LineVariant::k8E2: return "8E2";
        default: return "8N1";
    }
}

}  // namespace zel

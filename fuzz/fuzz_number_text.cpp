// Number texts from scales and the settings file: ParseNumberText reads at
// most 50 characters and TextToDouble stops at the terminator, whatever comes.
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/ResultCodes.h"
#include "core/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // A buffer of exactly 50 characters with no terminator must be enough.
    if (size >= 50) {
        char exact[50];
        text.copy(exact, 50);
        double v = ParseNumberText(exact);
        if (std::isnan(v)) std::abort();
    }
    double v = ParseNumberText(text.c_str());
    if (std::isnan(v)) std::abort();
    (void)zel::TextToDouble(text.c_str());
    std::string shown = zel::FormatFixed(v, 6, 3);
    if (shown.size() < 6) std::abort();
    (void)zel::TruncToInt32(v);
    return 0;
}

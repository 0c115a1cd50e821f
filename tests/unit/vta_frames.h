// A VTA-60 reply as the scale sends it, for the tests of its decoder and of
// the exchange: three groups of six digit values (weight in grams, price and
// cost in hundredths), least significant first.
#pragma once

#include <cstdint>
#include <vector>

namespace zeltest {

inline std::vector<uint8_t> VtaReply(int grams, int price, int cost) {
    std::vector<uint8_t> f;
    for (int v : {grams, price, cost}) {
        for (int i = 0; i < 6; ++i) {
            f.push_back(static_cast<uint8_t>(v % 10));
            v /= 10;
        }
    }
    return f;
}

}  // namespace zeltest

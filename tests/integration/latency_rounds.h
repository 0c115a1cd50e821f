// A latency bound held on a real clock. A design fault (a polling step, a
// pause slept through) shows in every round; a busy machine stalls only some.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace zeltest {

// Runs up to three rounds of `take(lags)`, which appends one round's lags in
// ms, and fails the test unless one round's median keeps `bound`.
template <class Take>
void OneRoundKeepsMedian(uint64_t bound, Take take) {
    std::string medians;
    for (int round = 0; round < 3; ++round) {
        std::vector<uint64_t> lags;
        take(lags);
        if (::testing::Test::HasFatalFailure() || lags.empty()) return;
        std::sort(lags.begin(), lags.end());
        const uint64_t median = lags[lags.size() / 2];
        if (median <= bound) return;
        medians += " " + std::to_string(median);
    }
    ADD_FAILURE() << "median lag of each round over " << bound << " ms:" << medians;
}

}  // namespace zeltest

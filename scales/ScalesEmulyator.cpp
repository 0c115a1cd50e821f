#include "scales/ScalesEmulyator.h"

#include <cmath>

#include "core/ResultCodes.h"
#include "platform/sys.h"

ScalesEmulyator::ScalesEmulyator() : price(-1), state(1) {}

void ScalesEmulyator::Seed(uint32_t seed) { state = seed; }

int ScalesEmulyator::Draw() {
    // The classic linear congruential rand(), kept per object so the host
    // process's own rand() state is never touched.
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

int32_t ScalesEmulyator::Connect() {
    Seed(static_cast<uint32_t>(platform::UnixSeconds()));
    return 0;
}

int32_t ScalesEmulyator::ReadWeight(double& weight, double& outPrice, double& cost, int32_t& stable) {
    stable = Draw() % 5 == 0 ? 0 : 1;
    // Whole grams from 80 to 104999, from two draws so the whole range is hit.
    // The draws are taken one statement at a time: within one expression
    // their order is the compiler's choice, and one seed would give
    // different weights from different builds.
    const int kLow = 80, kHigh = 104999;
    const int high = Draw();
    const int low = Draw();
    int grams = kLow + ((high << 15) | low) % (kHigh - kLow + 1);
    weight = grams / 1000.0;
    int32_t p = price;
    if (p < 0) p = Draw() % 99999;
    outPrice = p * 0.01;
    // Whole hundredths cut toward zero, worked out in integers: in binary
    // fractions 1.00 x 0.290 kg would come out a cent short.
    cost = static_cast<double>(static_cast<int64_t>(p) * grams / 1000) / 100.0;
    return Draw() % 10 == 0 ? 3 : 0;
}

int32_t ScalesEmulyator::Tare(double) { return 0; }

int32_t ScalesEmulyator::Zero() { return zel::kNotSupported; }

int32_t ScalesEmulyator::SendPrice(int32_t newPrice) {
    price = newPrice;
    return 0;
}

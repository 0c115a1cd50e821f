// The continuously transmitting scales' frames against byte tables written
// from their wire formats.
#include <gtest/gtest.h>

#include <string>

#include "sim/Frames.h"
#include "sim/tests/sim_test_util.h"

namespace {

using simtest::Hex;

using simtest::Show;

TEST(SimContinuousFrames, EncodesEachModelsFrame) {
    const struct {
        const char* name;
        int model;
        sim::Display display;
        const char* hex;
    } cases[] = {
        // CR ' ' S|U ",GS," sign, 7 weight chars, " kg" CR LF
        {"certus", 25, Show(1.234), "0D 20 53 2C 47 53 2C 2B 20 20 31 2E 32 33 34 20 6B 67 0D 0A"},
        {"certus negative unstable", 25, Show(-12.5, 2, false),
         "0D 20 55 2C 47 53 2C 2D 20 20 31 32 2E 35 30 20 6B 67 0D 0A"},
        // CR ' ' ST|US ' ' GS ' ' sign ' ', 8 weight chars " kg", CR LF
        {"jadever", 19, Show(1.234), "0D 20 53 54 20 47 53 20 2B 20 20 20 20 31 2E 32 33 34 20 6B 67 0D 0A"},
        {"jadever negative unstable", 19, Show(-0.5, 1, false),
         "0D 20 55 53 20 47 53 20 2D 20 20 20 20 20 20 30 2E 35 20 6B 67 0D 0A"},
        // STX sign, 7 weight chars, "kg", ' ' stable | 'M', CR
        {"smart", 33, Show(1.234), "02 20 20 20 31 2E 32 33 34 6B 67 20 0D"},
        {"smart negative in motion", 33, Show(-0.5, 3, false), "02 2D 20 20 30 2E 35 30 30 6B 67 4D 0D"},
        // LF ST|US ",GS," 8 chars with the sign, "kg" CR
        {"vis", 39, Show(1.234), "0A 53 54 2C 47 53 2C 20 20 20 31 2E 32 33 34 6B 67 0D"},
        {"vis negative unstable", 39, Show(-1.234, 3, false), "0A 55 53 2C 47 53 2C 20 20 2D 31 2E 32 33 34 6B 67 0D"},
        {"vis widest negative", 39, Show(-1234567, 0), "0A 53 54 2C 47 53 2C 2D 31 32 33 34 35 36 37 6B 67 0D"},
        // '=' and "001.234" last first
        {"t7e", 29, Show(1.234), "3D 34 33 32 2E 31 30 30"},
        {"t7e negative", 29, Show(-1.234), "3D 34 33 32 2E 31 30 2D"},
        {"t7e integer", 29, Show(25, 0), "3D 35 32 30 30 30 30 30"},
        // sign, five digits (the one before the point + 80), CR
        {"esit", 36, Show(1.234), "2B 30 B1 32 33 34 0D"},
        {"esit negative", 36, Show(-1.234), "2D 30 B1 32 33 34 0D"},
        {"esit drops a decimal when wide", 36, Show(123.456), "2B 31 32 B3 34 36 0D"},
        {"esit integer", 36, Show(42, 0), "2B 30 30 30 34 32 0D"},
        // 7F '1', weight characters least significant first, status, XOR
        {"ocs", 18, Show(1.234), "7F 31 34 33 32 21 30 01 14"},
        {"ocs negative unstable", 18, Show(-1.234, 3, false), "7F 31 34 33 32 21 2D 00 08"},
        {"ocs check byte 7F", 18, Show(2.069), "7F 31 39 36 30 40 30 01 7F"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.hex, Hex(sim::EncodeFrame(c.model, c.display))) << c.name;
    }
}

TEST(SimContinuousFrames, LengthsStayFixedWhateverTheWeight) {
    const struct {
        int model;
        size_t length;
    } models[] = {{18, 9}, {19, 23}, {25, 20}, {29, 8}, {33, 13}, {36, 7}, {39, 18}};
    for (const auto& m : models) {
        for (double w : {0.0, -0.0004, 1e9, -1e9, 99999.9, -12345.678}) {
            for (int dec : {0, 1, 2, 3, 4}) {
                EXPECT_EQ(m.length, sim::EncodeFrame(m.model, Show(w, dec)).size()) << m.model << " " << w;
            }
        }
    }
}

TEST(SimContinuousFrames, BrokenFrameSpoilsItsCheck) {
    const struct {
        int model;
        int offset;  // -1: one byte short
        int value;
    } cases[] = {{25, 19, 0x20}, {19, 4, 0x5F}, {33, 12, 0x0A}, {39, 17, 0x20},
                 {36, 6, 0x20},  {18, 7, 0x03}, {29, -1, 0}};
    for (const auto& c : cases) {
        const std::string good = sim::EncodeFrame(c.model, Show(1.234));
        const std::string bad = sim::BreakFrame(c.model, good);
        if (c.offset < 0) {
            EXPECT_EQ(good.substr(0, good.size() - 1), bad) << c.model;
            continue;
        }
        std::string expected = good;
        expected[static_cast<size_t>(c.offset)] = static_cast<char>(c.value);
        EXPECT_EQ(Hex(expected), Hex(bad)) << c.model;
    }
}

}  // namespace

// The red-blue swap of FreeImage's rows: every vector form this processor runs
// against the plain form, at lengths around every vector width, from 3- and
// 4-byte pixels, never writing past the row.

#include "app/swap_red_blue.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

TEST(SwapRedBlue, EveryVectorTargetMatchesThePlainForm) {
    const std::vector<int64_t> targets = SwapRedBlueTargets();
    ASSERT_FALSE(targets.empty());
    std::mt19937 rng(11);
    for (int64_t target : targets) {
        PinSwapRedBlueTarget(target);
        for (size_t step : {size_t(3), size_t(4)}) {
            for (size_t pixels : {0, 1, 2, 5, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 129, 1000}) {
                std::vector<uint8_t> src(pixels * step);
                for (auto& b : src) b = uint8_t(rng());
                // A guard after the row: nothing may be written there.
                std::vector<uint8_t> fast(pixels * 3 + 64, 0xA5), plain(pixels * 3);
                SwapRedBlue(src.data(), fast.data(), pixels, step);
                SwapRedBlueScalar(src.data(), plain.data(), pixels, step);
                ASSERT_TRUE(std::equal(plain.begin(), plain.end(), fast.begin()))
                    << "target " << target << ", " << step << "-byte pixels, " << pixels;
                for (size_t i = pixels * 3; i < fast.size(); ++i) {
                    ASSERT_EQ(fast[i], 0xA5) << "written past the row at " << i;
                }
                // Spelled out once: blue-green-red becomes red-green-blue.
                if (pixels == 1) {
                    EXPECT_EQ((std::vector<uint8_t>{src[2], src[1], src[0]}), plain);
                }
            }
        }
    }
    PinSwapRedBlueTarget(0);
}

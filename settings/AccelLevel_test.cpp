#include "settings/AccelLevel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "common/GlobalState.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(LevelOfSensitivity, MapsThroughThresholds) {
    const struct {
        float table[4];
        bool enabled;
        float stored;
        long level;
    } cases[] = {
        {{0, 0.5F, 0.25F, 0.125F}, false, 0.5F, 0},  // off wins over the sensitivity
        {{0, 0.5F, 0.25F, 0.125F}, true, 0.5F, 1},
        {{0, 0.5F, 0.25F, 0.125F}, true, 7.0F, 1},
        {{0, 0.5F, 0.25F, 0.125F}, true, 0.49999997F, 2},
        {{0, 0.5F, 0.25F, 0.125F}, true, 0.25F, 2},
        {{0, 0.5F, 0.25F, 0.125F}, true, 0.24999999F, 3},
        {{0, 0.5F, 0.25F, 0.125F}, true, 0.125F, 3},
        {{0, 0.5F, 0.25F, 0.125F}, true, -1.0F, 3},
        {{0, 0.25F, 0.5F, 0.125F}, true, 0.3F, 1},  // crossed: level 2 unreachable
        {{0, 0.25F, 0.5F, 0.125F}, true, 0.2F, 3},
        {{0, kNaN, kNaN, kNaN}, true, 0.5F, 3},
        {{0, kNaN, 0.25F, 0}, true, 0.5F, 2},
    };
    for (const auto& c : cases) {
        std::memcpy(thresholds, c.table, sizeof thresholds);
        EXPECT_EQ(LevelOfSensitivity(c.enabled, c.stored), c.level) << c.stored;
    }
}

}  // namespace

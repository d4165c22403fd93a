#include "imgscope/contracts/platform/win_compat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

TEST(WinCompatTest, IsRectEmptyForNullInvertedAndFlatRectangles)
{
    const geo::CiRect full(0, 0, 2, 2), flat(0, 0, 5, 0), inverted(3, 3, 1, 5);
    EXPECT_TRUE(IsRectEmpty(nullptr));
    EXPECT_FALSE(IsRectEmpty(&full));
    EXPECT_TRUE(IsRectEmpty(&flat));
    EXPECT_TRUE(IsRectEmpty(&inverted));
}

TEST(WinCompatTest, RoundHalvesAwayFromZeroAndSaturates)
{
    EXPECT_EQ(matRoundD(2.5), 3);
    EXPECT_EQ(matRoundD(-2.5), -3);
    EXPECT_EQ(matRoundD(2.4999), 2);
    EXPECT_EQ(matRoundD(-0.4), 0);
    EXPECT_EQ(matRoundD(125.0), 125);
    EXPECT_EQ(matRoundD(std::nan("")), 0);
    EXPECT_EQ(matRoundD(1e300), INT_MAX);
    EXPECT_EQ(matRoundD(-std::numeric_limits<double>::infinity()), INT_MIN);
}

}  // namespace

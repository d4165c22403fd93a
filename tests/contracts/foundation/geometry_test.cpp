#include "imgscope/contracts/foundation/geometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(VolumeIterationTest, WalksFromTheGivenDimensionAndEndsOnePastIt)
{
    const geo::CiVolumeN v(geo::CiVecN{1, 0}, geo::CiVecN{3, 3});
    std::vector<geo::CiVecN> seen;
    for (auto it = v.begin(0); it != v.end(0); ++it)
        seen.push_back(*it);
    const std::vector<geo::CiVecN> lexicographic = {{1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {2, 2}};
    EXPECT_EQ(seen, lexicographic);
    EXPECT_EQ(*v.end(0), (geo::CiVecN{3, 0}));
    EXPECT_EQ(*v.end(1), (geo::CiVecN{1, 3}));
    EXPECT_EQ(*v.begin(1), (geo::CiVecN{1, 0}));
}

}  // namespace

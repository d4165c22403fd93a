#include "imgscope/contracts/foundation/geometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

namespace {

using geo::CdRect;
using geo::CiRect;
using geo::CiVecN;
using geo::CiVolumeN;

TEST(RectTest, IntersectionOfNormalisedInvertedAndDisjointRectangles)
{
    struct Case {
        char const* what;
        CiRect a, b, expected;
    };
    const Case cases[] = {
        {"partial overlap", {0, 0, 10, 10}, {5, -5, 20, 5}, {5, 0, 10, 5}},
        {"contained", {-10, -10, 10, 10}, {-2, -3, 4, 5}, {-2, -3, 4, 5}},
        {"touching edges share no pixel", {0, 0, 10, 10}, {10, 0, 20, 10}, {}},
        {"disjoint", {0, 0, 1, 1}, {5, 5, 6, 6}, {}},
        {"inverted operand is empty", {10, 10, 0, 0}, {0, 0, 10, 10}, {}},
        {"flat operand is empty", {0, 3, 10, 3}, {0, 0, 10, 10}, {}},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(geo::Intersection(c.a, c.b), c.expected);
        EXPECT_EQ(geo::Intersection(c.b, c.a), c.expected);
    }
    CiRect inverted(10, 10, 0, 0);
    inverted.NormalizeRect();
    EXPECT_EQ(inverted, CiRect(0, 0, 10, 10));
    EXPECT_EQ(geo::Intersection(inverted, CiRect(0, 0, 10, 10)), inverted);

    // Doubles follow the same rules; a NaN edge makes a rectangle empty.
    EXPECT_EQ(geo::Intersection(CdRect(0, 0, 1.5, 1.5), CdRect(1, 1, 3, 3)), CdRect(1, 1, 1.5, 1.5));
    EXPECT_EQ(geo::Intersection(CdRect(0, 0, NAN, 1), CdRect(0, 0, 1, 1)), CdRect());
    EXPECT_TRUE(CdRect(0, 0, NAN, 1).IsEmpty());
}

TEST(RectTest, AreasPastTwoToTheThirtyOneAndEdgesNearTheIntLimits)
{
    EXPECT_EQ(CiRect(0, 0, 100000, 100000).Area(), std::int64_t(10000000000));
    const CiRect widest(INT_MIN, 0, INT_MAX, 2);
    EXPECT_EQ(widest.Area(), (std::int64_t(1) << 33) - 2);
    EXPECT_EQ(widest.Width(), INT_MAX);  // saturated, not wrapped to -1
    EXPECT_EQ(CiRect(5, 5, 1, 9).Area(), 0);

    CiRect r(0, 0, 100, 100);
    r.MoveToXY(INT_MAX - 10, -20);
    EXPECT_EQ(r, CiRect(INT_MAX - 10, -20, INT_MAX, 80));
    r = CiRect(0, 0, 10, 10);
    r.Inflate({-6, 2});  // shrinking past the centre inverts: empty
    EXPECT_EQ(r, CiRect(6, -2, 4, 12));
    EXPECT_TRUE(r.IsEmpty());
    r.Inflate({INT_MAX, 0});
    EXPECT_EQ(r.left, INT_MIN + 7);
    EXPECT_EQ(r.right, INT_MAX);
}

TEST(RectTest, CornersAndTruncationFromDoubles)
{
    const CiRect r(1, 2, 3, 4);
    EXPECT_EQ(CiRect(r.GetPoint(0), r.GetPoint(2)), r);
    EXPECT_EQ(CiRect(r.GetPoint(3), r.GetPoint(1)), CiRect(1, 4, 3, 2));  // the other diagonal, inverted
    EXPECT_EQ(CiRect(CdRect(-1.7, 2.9, NAN, 1e20)), CiRect(-1, 2, 0, INT_MAX));
    EXPECT_EQ(CiRect(CdRect(-1e20, 0, 0.5, -0.5)), CiRect(INT_MIN, 0, 0, 0));
}

TEST(VecNTest, OrderSplitAndAppend)
{
    // A proper prefix sorts first; a set keyed by tiVecNLess keeps one copy.
    EXPECT_TRUE((CiVecN{1, 2} < CiVecN{1, 2, 0}));
    EXPECT_TRUE((CiVecN{1, 2, 9} < CiVecN{1, 3}));
    EXPECT_FALSE((CiVecN{} < CiVecN{}));
    std::set<CiVecN, geo::tiVecNLess> frames{{0, 1}, {0}, {0, 1}, {-1, 5}};
    EXPECT_EQ(std::vector<CiVecN>(frames.begin(), frames.end()), (std::vector<CiVecN>{{-1, 5}, {0}, {0, 1}}));

    const CiVecN address{7, 2, 0};
    EXPECT_EQ(address.Sub(0, 1), CiVecN{7});
    EXPECT_EQ(address.Sub(1), (CiVecN{2, 0}));
    EXPECT_EQ(address.Sub(99, 2), CiVecN());
    EXPECT_EQ(CiVecN(geo::CiVec2(4, 5)).Append(6).Append(CiVecN{7, 8}), (CiVecN{4, 5, 6, 7, 8}));
}

class VolumeTest : public ::testing::Test {
protected:
    // The positions of a 3-D box by plain loops: `first` slowest, then
    // first+1 and first+2 (mod 3).
    static std::vector<CiVecN> Reference(CiVolumeN const& v, std::size_t first)
    {
        std::vector<CiVecN> out;
        const CiVecN b = v.Position(), e = v.End();
        const std::size_t d0 = first, d1 = (first + 1) % 3, d2 = (first + 2) % 3;
        CiVecN p = b;
        for (p[d0] = b[d0]; p[d0] < e[d0]; ++p[d0])
            for (p[d1] = b[d1]; p[d1] < e[d1]; ++p[d1])
                for (p[d2] = b[d2]; p[d2] < e[d2]; ++p[d2])
                    out.push_back(p);
        return out;
    }
    static std::vector<CiVecN> Walk(CiVolumeN const& v, int dim)
    {
        std::vector<CiVecN> out;
        for (auto it = v.begin(dim); it != v.end(dim); ++it)
            out.push_back(*it);
        return out;
    }

    const CiVolumeN m_box{CiVecN{-1, 10, 3}, CiVecN{1, 13, 5}};  // 2 × 3 × 2
};

TEST_F(VolumeTest, EveryWalkDimensionVisitsEachPositionOnceInItsOrder)
{
    for (int dim = 0; dim < 3; ++dim) {
        SCOPED_TRACE(dim);
        const auto seen = Walk(m_box, dim);
        EXPECT_EQ(seen, Reference(m_box, static_cast<std::size_t>(dim)));
        EXPECT_EQ(static_cast<std::int64_t>(seen.size()), m_box.Volume());
    }
    EXPECT_EQ(Walk(m_box, 1)[1], (CiVecN{0, 10, 3}));  // d1 slowest, then d2, d0 fastest
    EXPECT_EQ(Walk(m_box, 7), Walk(m_box, 0));
    EXPECT_EQ(Walk(m_box, -1), Walk(m_box, 0));
}

TEST_F(VolumeTest, EndPositionsAndEmptyVolumes)
{
    EXPECT_EQ(*m_box.end(0), (CiVecN{1, 10, 3}));
    EXPECT_EQ(*m_box.end(1), (CiVecN{-1, 13, 3}));
    EXPECT_EQ(*m_box.end(2), (CiVecN{-1, 10, 5}));
    // A one-dimensional frame range: end(0) is the first index past the last.
    EXPECT_EQ(*CiVolumeN(CiVecN{-2}, CiVecN{4}).end(0), CiVecN{4});

    const CiVolumeN noFrames(CiVecN{0, 0, 0}, CiVecN{8, 8, 0});
    EXPECT_EQ(noFrames.Volume(), 0);
    EXPECT_TRUE(noFrames.begin(0) == noFrames.end(0));
    EXPECT_TRUE(noFrames.begin(2) == noFrames.end(2));
    const CiVolumeN none;
    EXPECT_EQ(none.Volume(), 0);
    EXPECT_TRUE(none.begin() == none.end());
    EXPECT_TRUE(none.end()->empty());
    // Vectors of different length give the shorter one's dimensions.
    EXPECT_EQ(CiVolumeN::FromPositionSize(CiVecN{1, 2, 3}, CiVecN{4, 5}).Position(), (CiVecN{1, 2}));
    EXPECT_EQ(CiVolumeN(CiVecN{1}, CiVecN{4, 5}).Size(), CiVecN{3});
    // An end below its begin is an empty extent, not a negative one.
    const CiVolumeN backwards(CiVecN{5, 5}, CiVecN{2, 9});
    EXPECT_EQ(backwards.Size(), (CiVecN{0, 4}));
}

TEST_F(VolumeTest, VolumesPastTwoToTheThirtyOneAndSaturation)
{
    const CiVolumeN layer(CiVecN{0, 0, 0}, CiVecN{100000, 100000, 3});
    EXPECT_EQ(layer.Volume(), std::int64_t(30000000000));
    const auto huge = CiVolumeN::FromPositionSize(CiVecN(4, 0), CiVecN(4, INT_MAX));
    EXPECT_EQ(huge.Volume(), INT64_MAX);
    const CiVolumeN wide(CiVecN{INT_MIN}, CiVecN{INT_MAX});
    EXPECT_EQ(wide.Size(), CiVecN{INT_MAX});
    EXPECT_EQ(wide.End(), CiVecN{-1});
    const auto far = CiVolumeN::FromPositionSize(CiVecN{INT_MAX - 1}, CiVecN{10});
    EXPECT_EQ(far.End(), CiVecN{INT_MAX});
    EXPECT_EQ(Walk(far, 0), std::vector<CiVecN>{CiVecN{INT_MAX - 1}});
}

TEST_F(VolumeTest, PictureVolumeIsTheRectangleWithOneMorePlane)
{
    // An inverted axis is empty, never flipped.
    const CiVolumeN inverted(CiRect(30, 20, 10, 60));
    EXPECT_EQ(inverted.Position(), (CiVecN{30, 20}));
    EXPECT_EQ(inverted.Size(), (CiVecN{0, 40}));

    CiVolumeN v(CiRect(10, 20, 30, 60));
    v.Append(CiVolumeN(CiVecN{0}, CiVecN{1}));
    EXPECT_EQ(v.GetDimension(), 3);
    EXPECT_EQ(v.Position(), (CiVecN{10, 20, 0}));
    EXPECT_EQ(v.Size(), (CiVecN{20, 40, 1}));
    EXPECT_EQ(v.Reduce(), CiRect(10, 20, 30, 60));
    EXPECT_EQ(v.Volume(), CiRect(10, 20, 30, 60).Area());
    EXPECT_EQ(CiVolumeN(CiVecN{7}, CiVecN{9}).Reduce(), CiRect(7, 0, 9, 0));
}

TEST_F(VolumeTest, ContainsClipsAndRefusesDimensionsItLacks)
{
    EXPECT_TRUE(m_box.Contains(CiVecN{0, 12, 4}));
    EXPECT_FALSE(m_box.Contains(CiVecN{1, 12, 4}));  // end is exclusive
    EXPECT_FALSE(m_box.Contains(CiVecN{0, 12}));

    // A tile at x 1000 in a 1024-wide layer keeps its first 24 columns.
    const auto layer = CiVolumeN::FromPositionSize(CiVecN{0, 0, 0}, CiVecN{1024, 4096, 1});
    const auto tile = CiVolumeN::FromPositionSize(CiVecN{1000, 2000, 0}, CiVecN{256, 256, 1});
    const auto clipped = geo::Intersection(tile, layer);
    EXPECT_EQ(clipped.Position(), (CiVecN{1000, 2000, 0}));
    EXPECT_EQ(clipped.Size(), (CiVecN{24, 256, 1}));
    EXPECT_EQ(geo::Intersection(layer, CiVolumeN::FromPositionSize(CiVecN{5000, 0, 0}, CiVecN{9, 9, 1})).Volume(), 0);

    CiVolumeN v = tile;
    EXPECT_TRUE(v.SetSize(0, -5));
    EXPECT_EQ(v.Size()[0], 0);
    EXPECT_FALSE(v.SetSize(3, 1));
    EXPECT_FALSE(v.SetPosition(-1, 1));
    EXPECT_EQ(v.Position(), tile.Position());
}

}  // namespace

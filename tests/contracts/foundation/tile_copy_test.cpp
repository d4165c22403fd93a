#include "imgscope/contracts/foundation/data_frame.h"

#include "store_test_util.h"

#include <gtest/gtest.h>

#include <random>

using namespace storetest;

namespace {

class TileCopyTest : public ::testing::Test {
protected:
    // Source and target grids that never line up.
    mem::CDataFrame source{Volume2(0, 0, 90, 70), Gray8(), TileProps(32, 24)};
    mem::CDataFrame target{Volume2(-10, -10, 150, 130), Gray8(), TileProps(40, 36)};
    geo::CiRect sourceAll{0, 0, 90, 70};

    void SetUp() override
    {
        auto data = Ramp(sourceAll, 1, 5);
        ASSERT_TRUE(source.WriteRect(sourceAll, {}, data.data(), 0));
    }
};

TEST_F(TileCopyTest, BlocksAtAnyOffsetMatchAPlainCopy)
{
    const std::uint8_t zero = 0;
    tImage src(0, 0, 90, 70, 1, &zero);
    src.bytes = ReadAll(source, sourceAll);
    tImage ref(-10, -10, 150, 130, 1, &zero);
    std::mt19937 rng(3);
    for (int i = 0; i < 60; ++i) {
        SCOPED_TRACE(i);
        std::uniform_int_distribution<int> sx(0, 89), sy(0, 69);
        const int x = sx(rng), y = sy(rng);
        const int w = std::uniform_int_distribution<int>(1, 90 - x)(rng);
        const int h = std::uniform_int_distribution<int>(1, 70 - y)(rng);
        const int tx = std::uniform_int_distribution<int>(-10, 139 - w + 1)(rng);
        const int ty = std::uniform_int_distribution<int>(-10, 119 - h + 1)(rng);
        ASSERT_TRUE(mem::Copy(source, target, Volume2(x, y, w, h), geo::CiVecN{tx, ty}, 0));
        auto block = src.Rect(geo::CiRect(x, y, x + w, y + h));
        ref.SetRect(geo::CiRect(tx, ty, tx + w, ty + h), block.data());
    }
    EXPECT_EQ(ReadAll(target, geo::CiRect(-10, -10, 140, 120)), ref.Rect(geo::CiRect(-10, -10, 140, 120)));
}

TEST_F(TileCopyTest, ClipsToBothFrames)
{
    // Source box sticking out left and top, landing across the target's
    // right edge: only the overlap is copied.
    ASSERT_TRUE(mem::Copy(source, target, Volume2(-5, -5, 30, 30), geo::CiVecN{120, 100}, 0));
    // Source (0,0) went to (125, 105); x 125..139, y 105..119 exist.
    auto got = ReadAll(target, geo::CiRect(125, 105, 140, 120));
    auto want = ReadAll(source, geo::CiRect(0, 0, 15, 15));
    EXPECT_EQ(got, want);
    EXPECT_EQ(ReadAll(target, geo::CiRect(124, 104, 125, 105))[0], 0);
}

TEST_F(TileCopyTest, RefusesWhatCannotBeCopied)
{
    mem::CDataFrame wide(Volume2(0, 0, 50, 50), Gray16());
    mem::CDataFrame rgb(Volume2(0, 0, 50, 50), Rgb8());
    mem::CDataFrame rgba(Volume2(0, 0, 50, 50), Rgb8().AddAlpha(1));
    struct tCase {
        char const* what;
        mem::CDataFrame const* from;
        mem::CDataFrame* to;
        geo::CiVolumeN box;
        geo::CiVecN at;
    } cases[] = {
        {"element types differ", &source, &wide, Volume2(0, 0, 10, 10), {0, 0}},
        {"components differ", &source, &rgb, Volume2(0, 0, 10, 10), {0, 0}},
        {"alpha to none", &rgba, &rgb, Volume2(0, 0, 10, 10), {0, 0}},
        {"negative size", &source, &target, Volume2(0, 0, -3, 10), {0, 0}},
        {"zero size", &source, &target, Volume2(0, 0, 0, 10), {0, 0}},
        {"box outside the source", &source, &target, Volume2(90, 0, 5, 5), {0, 0}},
        {"position outside the target", &source, &target, Volume2(0, 0, 10, 10), {140, 0}},
        {"box with more dimensions", &source, &target,
         geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{5, 5, 1}), {0, 0}},
        {"position with more dimensions", &source, &target, Volume2(0, 0, 5, 5), {0, 0, 0}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = c.to->GetModificationCount();
        const auto tiles = c.to->GetTileCount();
        EXPECT_FALSE(mem::Copy(*c.from, *c.to, c.box, c.at, 0));
        EXPECT_EQ(c.to->GetModificationCount(), before);
        EXPECT_EQ(c.to->GetTileCount(), tiles);
    }
}

TEST_F(TileCopyTest, ExtraAlphaInTheTargetBecomesOpaque)
{
    mem::CDataFrame rgb(Volume2(0, 0, 4, 1), Rgb8());
    mem::CDataFrame rgba(Volume2(0, 0, 4, 1), Rgb8().AddAlpha(1));
    const std::uint8_t px[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(rgb.WriteRect(geo::CiRect(0, 0, 4, 1), {}, px, 0));
    ASSERT_TRUE(mem::Copy(rgb, rgba, Volume2(1, 0, 3, 1), geo::CiVecN{0, 0}, 0));
    EXPECT_EQ(ReadAll(rgba, geo::CiRect(0, 0, 4, 1)),
              (std::vector<std::uint8_t>{4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255, 0, 0, 0, 0}));
}

TEST_F(TileCopyTest, PlanesMapByDimensionAndMissingComponentsTakeTheFirst)
{
    // A 2-D tile pasted into plane 2 of a 3-D layer, as a mosaic does.
    auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{100, 100, 3});
    mem::CDataFrame layer(volume, Gray8(), TileProps(32, 32));
    ASSERT_TRUE(mem::Copy(source, layer, source.GetBoundary(), geo::CiVecN{5, 5, 2}, 0));
    EXPECT_EQ(ReadAll(layer, geo::CiRect(5, 5, 95, 75), geo::CiVecN{2}), ReadAll(source, sourceAll));
    EXPECT_EQ(layer.GetTileCount(), 9);  // x 5..94 and y 5..74 touch 3 × 3 tiles of plane 2
    // Position (x, y) into the 3-D layer: the first plane.
    ASSERT_TRUE(mem::Copy(source, layer, Volume2(0, 0, 10, 10), geo::CiVecN{0, 0}, 0));
    EXPECT_EQ(ReadAll(layer, geo::CiRect(0, 0, 10, 10), geo::CiVecN{0}), ReadAll(source, geo::CiRect(0, 0, 10, 10)));

    // Two planes of a 3-D frame into two planes of another, shifted by one.
    mem::CDataFrame other(volume, Gray8(), TileProps(16, 16));
    auto box = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 1}, geo::CiVecN{100, 100, 2});
    ASSERT_TRUE(mem::Copy(layer, other, box, geo::CiVecN{0, 0, 0}, 0));
    EXPECT_EQ(ReadAll(other, geo::CiRect(0, 0, 100, 100), geo::CiVecN{1}),
              ReadAll(layer, geo::CiRect(0, 0, 100, 100), geo::CiVecN{2}));
    // A source dimension of size 2 has nowhere to go in a 2-D target.
    EXPECT_FALSE(mem::Copy(layer, target, box, geo::CiVecN{0, 0}, 0));
}

TEST_F(TileCopyTest, OverlappingCopyWithinOneFrameActsAsIfThroughABuffer)
{
    auto before = ReadAll(source, sourceAll);
    ASSERT_TRUE(mem::Copy(source, source, Volume2(0, 0, 60, 50), geo::CiVecN{7, 3}, 0));
    auto after = ReadAll(source, sourceAll);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 60; ++x)
            ASSERT_EQ(after[(y + 3) * 90 + x + 7], before[y * 90 + x]) << x << "," << y;
}

TEST_F(TileCopyTest, UnwrittenSourceTilesCostTheTargetNothing)
{
    mem::CDataFrame empty(Volume2(0, 0, 200, 200), Gray8(), TileProps(32, 32));
    ASSERT_TRUE(mem::Copy(empty, target, Volume2(0, 0, 200, 200), geo::CiVecN{-10, -10}, 0));
    EXPECT_EQ(target.GetTileCount(), 0);
    // With another fill value the target must store it.
    std::uint8_t seven = 7;
    utl::CPropSet props = TileProps(32, 32);
    props.SetValue(mem::ePropFillValue, static_cast<void*>(&seven));
    mem::CDataFrame sevens(Volume2(0, 0, 50, 50), Gray8(), props);
    ASSERT_TRUE(mem::Copy(sevens, target, Volume2(0, 0, 50, 50), geo::CiVecN{0, 0}, 0));
    EXPECT_EQ(ReadAll(target, geo::CiRect(49, 49, 51, 50)), (std::vector<std::uint8_t>{7, 0}));
}

}  // namespace

#include "imgscope/contracts/foundation/tile_distributor.h"

#include "imgscope/contracts/foundation/data_frame.h"
#include "store_test_util.h"

#include <gtest/gtest.h>

using namespace storetest;

namespace {

class TileDistributorTest : public ::testing::Test {
protected:
    // 3 × 2 tiles per plane, two planes.
    geo::CiVolumeN volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{60, 40, 2});
    mem::CDataFrame frame{volume, Gray8(), TileProps(20, 20)};
    mem::CTileDistributor& tiles = *frame.GetTileDistributor();

    void Touch(int x, int y, int plane)
    {
        std::uint8_t b = 1;
        ASSERT_TRUE(frame.WriteRect(geo::CiRect(x, y, x + 1, y + 1), geo::CiVecN{plane}, &b, 0));
    }

    std::vector<geo::CiVecN> Walk(int dim)
    {
        std::vector<geo::CiVecN> out;
        geo::CiVecN pos = tiles.GetBegin(dim);
        const geo::CiVecN end = tiles.GetEnd(dim);
        if (pos == end)
            return out;
        do
            out.push_back(pos);
        while (tiles.GetNextExisting(pos, pos, dim));
        return out;
    }
};

TEST_F(TileDistributorTest, WalksExistingTilesInTheVolumeOrder)
{
    EXPECT_EQ(tiles.GetGrid(), geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{3, 2, 2}));
    EXPECT_TRUE(Walk(0).empty());
    EXPECT_EQ(tiles.GetBegin(0), tiles.GetEnd(0));

    Touch(45, 5, 0);   // tile (2, 0, 0)
    Touch(5, 25, 1);   // tile (0, 1, 1)
    Touch(25, 5, 1);   // tile (1, 0, 1)
    Touch(0, 0, 0);    // tile (0, 0, 0)
    using V = std::vector<geo::CiVecN>;
    // Dimension 0 slowest: lexicographic.
    EXPECT_EQ(Walk(0), (V{{0, 0, 0}, {0, 1, 1}, {1, 0, 1}, {2, 0, 0}}));
    // Plane slowest, then x, then y.
    EXPECT_EQ(Walk(2), (V{{0, 0, 0}, {2, 0, 0}, {0, 1, 1}, {1, 0, 1}}));
    EXPECT_EQ(tiles.GetEnd(0), (geo::CiVecN{3, 0, 0}));
    EXPECT_EQ(tiles.GetTileCount(), 4);

    geo::CiVecN next{9, 9, 9};
    EXPECT_FALSE(tiles.GetNextExisting(geo::CiVecN{2, 0, 0}, next, 0));
    EXPECT_EQ(next, (geo::CiVecN{9, 9, 9}));
    EXPECT_FALSE(tiles.GetNextExisting(geo::CiVecN{0, 0}, next, 0));  // wrong dimension count
}

TEST_F(TileDistributorTest, FlagsCountAndNeverGoNegative)
{
    Touch(0, 0, 0);
    const geo::CiVecN t{0, 0, 0};
    EXPECT_GE(tiles.GetFlag(t, 0, mem::eTileFlagModified), 1);
    EXPECT_EQ(tiles.GetFlag(t, 0, mem::eTileFlagLocked), 0);
    EXPECT_TRUE(tiles.IncrementFlag(t, 0, mem::eTileFlagLocked, 2));
    EXPECT_TRUE(tiles.DecrementFlag(t, 0, mem::eTileFlagLocked, 1));
    EXPECT_EQ(tiles.GetFlag(t, 0, mem::eTileFlagLocked), 1);
    EXPECT_TRUE(tiles.DecrementFlag(t, 0, mem::eTileFlagLocked, 5));
    EXPECT_EQ(tiles.GetFlag(t, 0, mem::eTileFlagLocked), 0);

    EXPECT_FALSE(tiles.DecrementFlag(geo::CiVecN{1, 0, 0}, 0, mem::eTileFlagLocked, 1));  // missing tile
    EXPECT_FALSE(tiles.DecrementFlag(t, 1, mem::eTileFlagLocked, 1));                    // no level 1
    EXPECT_FALSE(tiles.DecrementFlag(t, 0, 3, 1));                                       // no flag 3
    EXPECT_FALSE(tiles.IncrementFlag(t, 0, mem::eTileFlagLocked, -1));
    EXPECT_EQ(tiles.GetFlag(geo::CiVecN{5, 0, 0}, 0, mem::eTileFlagLocked), -1);
}

TEST_F(TileDistributorTest, VirtualUnlockWalkReleasesOneLockPerTile)
{
    Touch(0, 0, 0);
    Touch(45, 25, 1);
    for (geo::CiVecN const& t : Walk(0))
        ASSERT_TRUE(tiles.IncrementFlag(t, 0, mem::eTileFlagLocked, 1));
    // Locked tiles survive garbage collection even when uniform.
    std::uint8_t zero = 0;
    ASSERT_TRUE(frame.WriteRect(geo::CiRect(0, 0, 1, 1), geo::CiVecN{0}, &zero, 0));
    EXPECT_EQ(tiles.GarbageCollection(), 0);

    geo::CiVecN pos = tiles.GetBegin(0);
    ASSERT_NE(pos, tiles.GetEnd(0));
    do
        tiles.DecrementFlag(pos, 0, mem::eTileFlagLocked, 2);
    while (tiles.GetNextExisting(pos, pos, 0));
    EXPECT_EQ(tiles.GarbageCollection(), 1);  // tile (0, 0, 0) held only zeros
    EXPECT_EQ(Walk(0), (std::vector<geo::CiVecN>{{2, 1, 1}}));
}

TEST_F(TileDistributorTest, GarbageCollectionKeepsValuesOfUniformTiles)
{
    std::vector<std::uint8_t> nines(20 * 20, 9);
    ASSERT_TRUE(frame.WriteRect(geo::CiRect(20, 20, 40, 40), {}, nines.data(), 0));
    EXPECT_GT(frame.GetAllocatedBytes(), 0);
    EXPECT_EQ(tiles.GarbageCollection(), 1);
    EXPECT_EQ(frame.GetAllocatedBytes(), 0);
    EXPECT_TRUE(tiles.Exists(geo::CiVecN{1, 1, 0}));
    EXPECT_EQ(ReadAll(frame, geo::CiRect(19, 20, 21, 21)), (std::vector<std::uint8_t>{0, 9}));
    // Edge tiles: only the visible part counts.
    mem::CDataFrame edge(Volume2(0, 0, 30, 30), Gray8(), TileProps(20, 20));
    std::vector<std::uint8_t> fives(10 * 10, 5);
    ASSERT_TRUE(edge.WriteRect(geo::CiRect(20, 20, 30, 30), {}, fives.data(), 0));
    EXPECT_EQ(edge.GetTileDistributor()->GarbageCollection(), 1);
    EXPECT_EQ(ReadAll(edge, geo::CiRect(29, 29, 30, 30))[0], 5);

    // Several bytes a pixel: one byte off in the last visible pixel, or in
    // the first column of a later row, keeps the tile.
    mem::CDataFrame rgb(Volume2(0, 0, 30, 30), Rgb8(), TileProps(20, 20));
    std::vector<std::uint8_t> colour;
    for (int i = 0; i < 10 * 10; ++i)
        colour.insert(colour.end(), {1, 2, 3});
    for (std::size_t odd : {colour.size() - 1, std::size_t(5 * 30)}) {
        SCOPED_TRACE(odd);
        std::vector<std::uint8_t> almost = colour;
        ++almost[odd];
        ASSERT_TRUE(rgb.WriteRect(geo::CiRect(20, 20, 30, 30), {}, almost.data(), 0));
        EXPECT_EQ(rgb.GetTileDistributor()->GarbageCollection(), 0);
    }
    ASSERT_TRUE(rgb.WriteRect(geo::CiRect(20, 20, 30, 30), {}, colour.data(), 0));
    EXPECT_EQ(rgb.GetTileDistributor()->GarbageCollection(), 1);
    EXPECT_EQ(ReadAll(rgb, geo::CiRect(29, 29, 30, 30)), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(TileDistributorTest, TileHandlesLockAndFollowTheirContent)
{
    auto handle = tiles.ProvideTile(geo::CiVecN{1, 1, 1});  // made here, filled with 0
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->GetPosition(), (geo::CiVecN{1, 1, 1}));
    EXPECT_EQ(handle->GetRowSize(), 20);
    EXPECT_EQ(handle->GetByteSize(), 400);
    auto* bytes = static_cast<std::uint8_t*>(handle->Lock());
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(tiles.GetFlag(geo::CiVecN{1, 1, 1}, 0, mem::eTileFlagLocked), 1);
    bytes[21] = 77;  // pixel (21, 21)
    EXPECT_FALSE(tiles.ReleaseTile(geo::CiVecN{1, 1, 1}));  // locked
    handle->Unlock();
    handle->Unlock();  // one too many: ignored
    EXPECT_EQ(tiles.GetFlag(geo::CiVecN{1, 1, 1}, 0, mem::eTileFlagLocked), 0);
    EXPECT_EQ(ReadAll(frame, geo::CiRect(21, 21, 22, 22), geo::CiVecN{1})[0], 77);

    EXPECT_FALSE(tiles.GetTile(geo::CiVecN{0, 0, 0}));
    EXPECT_FALSE(tiles.ProvideTile(geo::CiVecN{3, 0, 0}));
    EXPECT_FALSE(tiles.ProvideTile(geo::CiVecN{0, 0, 2}));

    // A handle outliving its frame keeps the content it was made on.
    auto* other = new mem::CDataFrame(Volume2(0, 0, 8, 8), Gray8(), TileProps(8, 8));
    auto h2 = other->GetTileDistributor()->ProvideTile(geo::CiVecN{0, 0});
    auto* p = static_cast<std::uint8_t*>(h2->Lock());
    delete other;
    p[63] = 1;  // still ours
    h2->Unlock();
    ASSERT_TRUE(tiles.ReleaseTile(geo::CiVecN{1, 1, 1}));
    EXPECT_EQ(handle->Lock(), nullptr);  // the tile is gone
}

}  // namespace

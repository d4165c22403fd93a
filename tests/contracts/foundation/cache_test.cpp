#include "imgscope/contracts/foundation/data_frame.h"

#include "store_test_util.h"

#include "imgscope/contracts/foundation/tile_pool_internal.h"

#include <gtest/gtest.h>

#include <thread>

using namespace storetest;

namespace {

class CacheTest : public ::testing::Test {
protected:
    mem::CDataFrame frame{Volume2(0, 0, 100, 100), Gray8(), TileProps(25, 25)};

    void Write(geo::CiRect const& r, std::uint8_t v)
    {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(r.Area()), v);
        ASSERT_TRUE(frame.WriteRect(r, {}, data.data(), 0));
    }
};

TEST_F(CacheTest, ReadCachesKeepTilesFromGarbageCollection)
{
    Write(geo::CiRect(0, 0, 50, 50), 0);  // four tiles holding the fill value
    auto& tiles = *frame.GetTileDistributor();
    {
        auto cache = frame.CreateReadCache(geo::CiVolumeN(geo::CiRect(20, 20, 30, 30)), 0);
        ASSERT_TRUE(cache);
        EXPECT_EQ(tiles.GetFlag(geo::CiVecN{0, 0}, 0, mem::eTileFlagLocked), 1);
        std::uint8_t const* row = nullptr;
        ASSERT_EQ(cache->GetRowSpan({20, 20}, {}, row), 5);  // up to the tile border
        std::uint8_t const* before = row;
        EXPECT_EQ(tiles.GarbageCollection(), 0);  // all four are pinned
        // A caller's decrement cannot take the cache's lock away.
        tiles.DecrementFlag(geo::CiVecN{0, 0}, 0, mem::eTileFlagLocked, 10);
        EXPECT_EQ(tiles.GarbageCollection(), 0);
        ASSERT_EQ(cache->GetRowSpan({20, 20}, {}, row), 5);
        EXPECT_EQ(row, before);
        EXPECT_EQ(cache->GetRowSpan({30, 20}, {}, row), 0);  // outside the cache
    }
    EXPECT_EQ(tiles.GarbageCollection(), 4);
    EXPECT_EQ(frame.GetTileCount(), 0);
}

TEST_F(CacheTest, FillsWriteLockedTilesInPlace)
{
    Write(geo::CiRect(0, 0, 25, 25), 1);
    auto cache = frame.CreateReadCache(geo::CiVolumeN(geo::CiRect(0, 0, 25, 25)), 0);
    std::uint8_t const* row = nullptr;
    ASSERT_EQ(cache->GetRowSpan({0, 0}, {}, row), 25);
    const std::uint8_t v = 200;
    ASSERT_TRUE(frame.Fill(geo::CiVolumeN(geo::CiRect(0, 0, 100, 100)), &v));
    EXPECT_EQ(row[0], 200);  // same memory, new value
    EXPECT_EQ(frame.GetAllocatedBytes(), 25 * 25);  // the other tiles became uniform
}

TEST_F(CacheTest, CachesClipAndSurviveSwapAndDeletion)
{
    Write(geo::CiRect(0, 0, 100, 100), 3);
    auto whole = frame.CreateReadCache(geo::CiVolumeN(), 0);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->GetVolume(), geo::CiVolumeN(geo::CiRect(0, 0, 100, 100)));
    auto clipped = frame.CreateReadCache(geo::CiVolumeN(geo::CiRect(90, 90, 200, 200)), 0);
    ASSERT_TRUE(clipped);
    EXPECT_EQ(clipped->GetVolume(), geo::CiVolumeN(geo::CiRect(90, 90, 100, 100)));
    EXPECT_FALSE(frame.CreateReadCache(
        geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{1, 1, 1}), 0));

    mem::CDataFrame other(Volume2(0, 0, 10, 10), Gray8());
    frame.Swap(other);
    frame = mem::CDataFrame(Volume2(0, 0, 5, 5), Gray8());
    std::vector<std::uint8_t> buf(100);
    ASSERT_TRUE(whole->ReadRect(geo::CiRect(45, 45, 55, 55), {}, buf.data(), 0));
    EXPECT_EQ(buf, std::vector<std::uint8_t>(100, 3));
    EXPECT_FALSE(whole->ReadRect(geo::CiRect(95, 95, 105, 105), {}, buf.data(), 0));
}

TEST_F(CacheTest, WriteCachesWriteThroughAndSyncCountsChanges)
{
    auto cache = frame.CreateWriteCache(geo::CiVolumeN(geo::CiRect(10, 10, 60, 60)), 0);
    ASSERT_TRUE(cache);
    std::uint8_t* row = nullptr;
    ASSERT_EQ(cache->GetRowSpanForWrite({40, 30}, {}, row), 10);
    row[0] = 8;
    EXPECT_EQ(ReadAll(frame, geo::CiRect(40, 30, 41, 31))[0], 8);
    std::vector<std::uint8_t> data(5 * 5, 6);
    ASSERT_TRUE(cache->WriteRect(geo::CiRect(22, 22, 27, 27), {}, data.data(), 0));
    EXPECT_FALSE(cache->WriteRect(geo::CiRect(58, 58, 63, 63), {}, data.data(), 0));  // leaves the cache

    auto& tiles = *frame.GetTileDistributor();
    EXPECT_EQ(tiles.GetFlag(geo::CiVecN{1, 1}, 0, mem::eTileFlagLocked), 1);  // made through the cache
    const int modified = tiles.GetFlag(geo::CiVecN{1, 0}, 0, mem::eTileFlagModified);
    const auto count = frame.GetModificationCount();
    EXPECT_TRUE(cache->Sync(geo::CiVolumeN(geo::CiRect(0, 0, 50, 50))));
    EXPECT_EQ(tiles.GetFlag(geo::CiVecN{1, 0}, 0, mem::eTileFlagModified), modified + 1);
    EXPECT_GT(frame.GetModificationCount(), count);
    EXPECT_FALSE(cache->Sync(geo::CiVolumeN(geo::CiRect(70, 70, 80, 80))));
    EXPECT_FALSE(cache->Sync(Volume2(10, 10, 0, 5)));
    cache.reset();
    EXPECT_EQ(tiles.GetFlag(geo::CiVecN{1, 1}, 0, mem::eTileFlagLocked), 0);
}

TEST(TilePool, FreedTilesAreReusedAcrossFramesAndThreads)
{
    auto work = [](int seed) {
        for (int round = 0; round < 20; ++round) {
            mem::CDataFrame f(Volume2(0, 0, 256, 256), Gray8(), TileProps(64, 64));
            auto data = Ramp(geo::CiRect(0, 0, 256, 256), 1, seed + round);
            if (!f.WriteRect(geo::CiRect(0, 0, 256, 256), {}, data.data(), 0) ||
                ReadAll(f, geo::CiRect(0, 0, 256, 256)) != data)
                return false;
        }
        return true;
    };
    bool ok1 = false, ok2 = false;
    std::thread t1([&] { ok1 = work(1); });
    std::thread t2([&] { ok2 = work(2); });
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1 && ok2);
    const auto stats = mem::GetTilePoolStats();
    EXPECT_GE(stats.pooledBytes, 256u * 256u);
    const auto mapped = stats.mappedBytes;
    // Another frame of the same tiles takes pooled memory, maps nothing new.
    EXPECT_TRUE(work(3));
    EXPECT_EQ(mem::GetTilePoolStats().mappedBytes, mapped);
    mem::TrimTilePool(0);
    EXPECT_EQ(mem::GetTilePoolStats().pooledBytes, 0u);
    EXPECT_TRUE(work(4));  // trimmed blocks come back as zero pages
}

TEST(TilePool, ABudgetTurnsExhaustionIntoFailure)
{
    utl::CPropSet props = TileProps(4096, 4096);
    props.SetValue(mem::ePropMemoryBudget, 1);  // 1 % of physical memory
    auto volume = Volume2(0, 0, 1 << 20, 1 << 20);
    mem::CDataFrame frame(volume, Gray8(), props);
    // Tiles made for writing count against the budget before their pages
    // are touched, so this reaches the limit without using the memory.
    std::int64_t made = 0;
    bool failed = false;
    for (int i = 0; i < 256 * 256 && !failed; ++i) {
        std::uint8_t* row = nullptr;
        if (frame.GetRowSpanForWrite({(i % 256) * 4096, (i / 256) * 4096}, {}, row) > 0)
            ++made;
        else
            failed = true;
    }
    EXPECT_TRUE(failed);
    EXPECT_GT(made, 0);
    EXPECT_EQ(frame.GetTileCount(), made);
    // A write that needs one more tile fails and leaves the frame as it was.
    std::vector<std::uint8_t> px(2, 9);
    EXPECT_FALSE(frame.WriteRect(geo::CiRect(4095, 1 << 19, 4097, (1 << 19) + 1), {}, px.data(), 0));
    EXPECT_EQ(frame.GetTileCount(), made);
    utl::CPropSet commit = props;
    commit.SetValue(mem::ePropCommitAtCreation, true);
    EXPECT_FALSE(mem::CDataFrame::Create(volume, Gray8(), commit));
}

TEST(TilePool, ARefusedCommitTakesNothingAndKeepsNothing)
{
    // Far past the budget: refused before the first tile, however often.
    utl::CPropSet props;
    props.SetValue(mem::ePropMemoryBudget, 2);
    props.SetValue(mem::ePropCommitAtCreation, true);
    const auto before = mem::GetTilePoolStats();
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_FALSE(mem::CDataFrame::Create(Volume2(0, 0, 1 << 20, 1 << 20), Gray8(), props));
    auto after = mem::GetTilePoolStats();
    EXPECT_EQ(after.liveBytes, before.liveBytes);
    EXPECT_EQ(after.pooledBytes, before.pooledBytes);
    EXPECT_EQ(after.mappedBytes, before.mappedBytes);

    // Refused halfway (the system gives no fifth tile): the four it took go
    // back to the system, not to the pool's resident blocks.
    mem::TrimTilePool(0);
    const auto trimmed = mem::GetTilePoolStats();
    utl::CPropSet small = TileProps(64, 64);
    small.SetValue(mem::ePropCommitAtCreation, true);
    std::uint8_t const fill = 7;
    small.SetValue(mem::ePropFillValue, static_cast<void*>(const_cast<std::uint8_t*>(&fill)));
    mem::detail::SetTileFailurePoint(5);
    EXPECT_FALSE(mem::CDataFrame::Create(Volume2(0, 0, 256, 256), Gray8(), small));
    mem::detail::SetTileFailurePoint(0);
    after = mem::GetTilePoolStats();
    EXPECT_EQ(after.liveBytes, trimmed.liveBytes);
    EXPECT_EQ(after.pooledBytes, 0u);
    mem::CDataFrame again(Volume2(0, 0, 256, 256), Gray8(), small);
    EXPECT_EQ(ReadAll(again, geo::CiRect(0, 0, 256, 256)), std::vector<std::uint8_t>(256 * 256, 7));
}

TEST(TilePool, ARefusedPlaneChangeKeepsEveryOldPlane)
{
    utl::CPropSet props = TileProps(32, 32);
    props.SetValue(mem::ePropCommitAtCreation, true);
    mem::CDataFrame frame(geo::CiVolumeN::FromPositionSize({0, 0, 0}, {64, 64, 3}), Gray8(), props);
    const geo::CiRect all(0, 0, 64, 64);
    const auto first = Ramp(all, 1, 4);
    ASSERT_TRUE(frame.WriteRect(all, {0}, first.data(), 0));
    // Moving the planes to 1..3 needs a new plane 3 and lets plane 0 go; the
    // new plane's second tile cannot be had.
    mem::detail::SetTileFailurePoint(2);
    EXPECT_FALSE(frame.SetPlaneBoundary(geo::CiVolumeN::FromPositionSize({1}, {3})));
    mem::detail::SetTileFailurePoint(0);
    EXPECT_EQ(frame.GetBoundary(), geo::CiVolumeN::FromPositionSize({0, 0, 0}, {64, 64, 3}));
    EXPECT_EQ(ReadAll(frame, all, {0}), first);
    EXPECT_EQ(frame.GetTileCount(), 3 * 4);
}

}  // namespace

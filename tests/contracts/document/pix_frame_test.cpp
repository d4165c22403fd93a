#include "imgscope/contracts/document/pix_frame.h"

#include "tests/contracts/foundation/store_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

using storetest::Gray8;
using storetest::TileProps;

class PixFrameTest : public ::testing::Test {
protected:
    boost::shared_ptr<img::CPixFrame> frame = img::CPixFrame::Create(
        geo::CiRect(10, 20, 110, 90), Gray8(), mem::eMemoryDefault, mem::eAlign32, TileProps(32, 32));
};

TEST_F(PixFrameTest, CreateMakesATwoDimensionalFrameWithTheGivenLayout)
{
    ASSERT_TRUE(frame);
    auto data = frame->GetDataFrame();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->GetDimension(), 2);
    EXPECT_EQ(frame->GetBoundary(0), geo::CiRect(10, 20, 110, 90));
    EXPECT_TRUE(frame->GetBoundary(1).IsEmpty());
    EXPECT_EQ(data->GetAlign(), mem::eAlign32);
    EXPECT_EQ(data->GetMemoryModel(), mem::eMemoryTiled);
    // Property values win over the arguments.
    utl::CPropSet props;
    props.SetValue(mem::ePropMemoryModel, int(mem::eMemoryResident));
    auto resident = img::CPixFrame::Create(geo::CiRect(0, 0, 8, 8), Gray8(), mem::eMemoryTiled, mem::eAlignNone, props);
    ASSERT_TRUE(resident);
    EXPECT_EQ(resident->GetDataFrame()->GetMemoryModel(), mem::eMemoryResident);

    EXPECT_FALSE(img::CPixFrame::Create(geo::CiRect(0, 0, -5, 8), Gray8(), mem::eMemoryDefault, mem::eAlignNone, {}));
    EXPECT_FALSE(
        img::CPixFrame::Create(geo::CiRect(0, 0, 5, 8), img::CPixelInfo(), mem::eMemoryDefault, mem::eAlignNone, {}));
    EXPECT_FALSE(img::CPixFrame::Create(boost::shared_ptr<mem::CDataFrame>(), {}));
}

TEST_F(PixFrameTest, RowSegmentsCrossTilesAndRefuseTheEdges)
{
    std::vector<std::uint8_t> row(100);
    std::iota(row.begin(), row.end(), std::uint8_t(1));
    ASSERT_TRUE(frame->WriteRowSegment({10, 50}, 100, row.data(), 0));
    std::vector<std::uint8_t> back(100, 0);
    ASSERT_TRUE(frame->ReadRowSegment({10, 50}, 100, back.data(), 0));
    EXPECT_EQ(back, row);
    std::vector<std::uint8_t> keep = back;
    EXPECT_FALSE(frame->ReadRowSegment({11, 50}, 100, back.data(), 0));
    EXPECT_FALSE(frame->ReadRowSegment({10, 90}, 1, back.data(), 0));
    EXPECT_FALSE(frame->ReadRowSegment({10, 50}, 0, back.data(), 0));
    EXPECT_FALSE(frame->WriteRowSegment({9, 50}, 5, row.data(), -1));
    EXPECT_EQ(back, keep);

    // One 8-bit pixel written from an int: its first byte is the pixel.
    int value = 300;
    ASSERT_TRUE(frame->WriteRowSegment({12, 21}, 1, &value, -1));
    std::uint8_t first = 0;
    std::memcpy(&first, &value, 1);
    std::uint8_t got = 0;
    ASSERT_TRUE(frame->ReadRowSegment({12, 21}, 1, &got, 0));
    EXPECT_EQ(got, first);
}

TEST_F(PixFrameTest, ReadRectTakesTheBufferWidthInPixels)
{
    std::vector<std::uint8_t> src(40 * 30);
    std::iota(src.begin(), src.end(), std::uint8_t(0));
    ASSERT_TRUE(frame->WriteRect(geo::CiRect(30, 40, 70, 70), src.data(), 40, 0));
    // A 10 × 10 window into a buffer 16 pixels wide.
    std::vector<std::uint8_t> buf(16 * 10, 0xAA);
    ASSERT_TRUE(frame->ReadRect(geo::CiRect(35, 45, 45, 55), buf.data(), 16, 0));
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(buf[y * 16 + x], src[(y + 5) * 40 + x + 5]);
        EXPECT_EQ(buf[y * 16 + 10], 0xAA);  // beyond the window: untouched
    }
    EXPECT_FALSE(frame->ReadRect(geo::CiRect(35, 45, 45, 55), buf.data(), 9, 0));
    std::vector<std::uint8_t> tight(100);
    ASSERT_TRUE(frame->ReadRect(geo::CiRect(35, 45, 45, 55), tight.data(), 0, 0));
    EXPECT_EQ(tight[0], src[5 * 40 + 5]);
}

TEST_F(PixFrameTest, ViewsOfPlanesShareTheDataFrame)
{
    auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 1}, geo::CiVecN{16, 16, 3});
    boost::shared_ptr<mem::CDataFrame> data(new mem::CDataFrame(volume, Gray8()));
    img::CPixFrame first(data);
    img::CPixFrame third(data, geo::CiVecN{3});
    EXPECT_EQ(first.GetPlane(), (geo::CiVecN{1}));
    std::uint8_t v = 5;
    ASSERT_TRUE(third.WriteRowSegment({3, 3}, 1, &v, 0));
    std::uint8_t got = 0;
    ASSERT_TRUE(first.ReadRowSegment({3, 3}, 1, &got, 0));
    EXPECT_EQ(got, 0);
    ASSERT_TRUE(img::CPixFrame(data, geo::CiVecN{3}).ReadRowSegment({3, 3}, 1, &got, 0));
    EXPECT_EQ(got, 5);
    EXPECT_THROW(img::CPixFrame(data, geo::CiVecN{4}), std::invalid_argument);
    EXPECT_FALSE(img::CPixFrame::Create(data, geo::CiVecN{1, 1}));
}

TEST_F(PixFrameTest, TileWalkVisitsExistingTilesRowByRow)
{
    auto tiles = frame->GetTileDistributor();
    ASSERT_TRUE(tiles);
    EXPECT_EQ(tiles->GetTileCount(), geo::CiVec2(4, 3));
    EXPECT_EQ(tiles->GetTileRowSize(), 32);
    EXPECT_EQ(tiles->GetTileRect({3, 2}), geo::CiRect(106, 84, 110, 90));
    EXPECT_TRUE(tiles->begin() == tiles->end());

    std::uint8_t v = 1;
    ASSERT_TRUE(frame->WriteRowSegment({100, 85}, 1, &v, 0));  // tile (2, 2)
    ASSERT_TRUE(frame->WriteRowSegment({50, 30}, 1, &v, 0));   // tile (1, 0)
    ASSERT_TRUE(frame->WriteRowSegment({10, 60}, 1, &v, 0));   // tile (0, 1)
    std::vector<geo::CiVec2> seen;
    for (auto it = tiles->begin(); it != tiles->end(); ++it) {
        seen.push_back(*it);
        auto tile = it.GetTile();
        ASSERT_TRUE(tile);
        const std::int64_t bytes = tiles->GetTileRowSize() * tiles->GetTileSize().y;
        auto* p = static_cast<std::uint8_t*>(tile->Lock());
        ASSERT_NE(p, nullptr);
        for (std::int64_t i = 0; i < bytes; ++i)
            p[i] = static_cast<std::uint8_t>(p[i] + 2);  // in place, as a vector routine does
        tile->Unlock();
    }
    EXPECT_EQ(seen, (std::vector<geo::CiVec2>{{1, 0}, {0, 1}, {2, 2}}));
    std::uint8_t got = 0;
    ASSERT_TRUE(frame->ReadRowSegment({50, 30}, 1, &got, 0));
    EXPECT_EQ(got, 3);
    ASSERT_TRUE(frame->ReadRowSegment({51, 30}, 1, &got, 0));
    EXPECT_EQ(got, 2);
}

TEST_F(PixFrameTest, ReadCachesOverRectsOfThePlane)
{
    auto cache = frame->CreateReadCache(geo::CiRect(20, 30, 80, 60), 0);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->GetVolume(), geo::CiVolumeN(geo::CiRect(20, 30, 80, 60)));
    std::uint8_t const* row = nullptr;
    EXPECT_GT(cache->GetRowSpan({20, 30}, {}, row), 0);
    EXPECT_EQ(cache->GetRowSpan({80, 30}, {}, row), 0);
    auto write = frame->CreateWriteCache(geo::CiRect(0, 0, 1000, 1000), 0);
    ASSERT_TRUE(write);
    EXPECT_EQ(write->GetVolume(), geo::CiVolumeN(geo::CiRect(10, 20, 110, 90)));
}

TEST_F(PixFrameTest, InvertedRectanglesAreEmptyNeverFlipped)
{
    // Inverted along x, along y, and both: no frame, no cache, no pixels.
    for (geo::CiRect const r : {geo::CiRect(60, 30, 20, 60), geo::CiRect(20, 60, 60, 30), geo::CiRect(5, 5, 0, 0)}) {
        SCOPED_TRACE(testing::Message() << r.left << "," << r.top << "," << r.right << "," << r.bottom);
        EXPECT_FALSE(img::CPixFrame::Create(r, Gray8(), mem::eMemoryDefault, mem::eAlignNone, {}));
        EXPECT_FALSE(frame->CreateReadCache(r, 0));
        EXPECT_FALSE(frame->CreateWriteCache(r, 0));
        const std::uint8_t v = 9;
        EXPECT_FALSE(frame->FillRect(r, &v));
    }
    // A flat rectangle is empty too, but not inverted: a cache over nothing.
    auto flat = frame->CreateReadCache(geo::CiRect(20, 30, 20, 60), 0);
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->GetVolume().Volume(), 0);
    EXPECT_EQ(frame->GetDataFrame()->GetTileCount(), 0);
}

}  // namespace

#include "imgscope/contracts/foundation/data_frame.h"

#include "store_test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>

using namespace storetest;

namespace {

class DataFrameTest : public ::testing::Test {
protected:
    // Partial last tile column and row, and a boundary that does not start at 0.
    mem::CDataFrame frame{Volume2(-7, 5, 150, 130), Gray8(), TileProps(64, 48)};
    geo::CiRect all{-7, 5, 143, 135};
};

TEST_F(DataFrameTest, UnwrittenPixelsReadAsTheFillValueWithoutTiles)
{
    std::uint8_t fill[3] = {1, 2, 3};
    utl::CPropSet props = TileProps(32, 32);
    props.SetValue(mem::ePropFillValue, static_cast<void*>(fill));
    mem::CDataFrame rgb(Volume2(0, 0, 100, 70), Rgb8(), props);
    fill[0] = 99;  // the frame copied the value at construction

    auto px = ReadAll(rgb, geo::CiRect(90, 60, 100, 70));
    ASSERT_EQ(px.size(), 300u);
    for (std::size_t i = 0; i < px.size(); ++i)
        ASSERT_EQ(px[i], i % 3 + 1) << i;
    EXPECT_EQ(rgb.GetTileCount(), 0);
    EXPECT_EQ(rgb.GetAllocatedBytes(), 0);

    // A partly written tile keeps the fill value around the written pixels.
    const std::uint8_t white[3] = {255, 255, 255};
    ASSERT_TRUE(rgb.WriteRect(geo::CiRect(40, 40, 41, 41), {}, white, 0));
    auto around = ReadAll(rgb, geo::CiRect(39, 40, 42, 41));
    EXPECT_EQ(around, (std::vector<std::uint8_t>{1, 2, 3, 255, 255, 255, 1, 2, 3}));
    EXPECT_EQ(rgb.GetTileCount(), 1);
}

TEST_F(DataFrameTest, RowSpansStopAtTileBordersAndFrameEdges)
{
    std::uint8_t const* data = nullptr;
    struct tCase {
        geo::CiVec2 point;
        int expected;
    } cases[] = {
        {{-7, 5}, 64},   // first tile, full width
        {{50, 5}, 7},    // 57 into the first tile column
        {{57, 5}, 64},   // second tile
        {{121, 6}, 22},  // last, partial tile: 143 - 121
        {{142, 134}, 1},
        {{143, 5}, 0},   // right of the frame
        {{-8, 5}, 0},
        {{0, 135}, 0},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.point.x << "," << c.point.y);
        EXPECT_EQ(frame.GetRowSpan(c.point, {}, data), c.expected);
    }
    std::uint8_t* w = nullptr;
    ASSERT_EQ(frame.GetRowSpanForWrite({57, 10}, {}, w), 64);
    w[0] = 42;
    w[63] = 43;
    auto row = ReadAll(frame, geo::CiRect(56, 10, 122, 11));
    EXPECT_EQ(row[1], 42);
    EXPECT_EQ(row[64], 43);
    EXPECT_EQ(row[0], 0);
}

TEST_F(DataFrameTest, BadRectanglesAndPlanesFailWithoutTouchingBufferOrFrame)
{
    std::vector<std::uint8_t> buf(64 * 64, 0xEE);
    const auto count = frame.GetModificationCount();
    const geo::CiRect bad[] = {
        {-8, 5, 10, 10},      // left of the frame
        {100, 100, 144, 101}, // right of it
        {0, 0, 0, 10},        // empty
        {10, 10, 5, 20},      // inverted
    };
    for (auto const& r : bad) {
        EXPECT_FALSE(frame.ReadRect(r, {}, buf.data(), 0));
        EXPECT_FALSE(frame.WriteRect(r, {}, buf.data(), 0));
    }
    EXPECT_FALSE(frame.ReadRect(geo::CiRect(0, 10, 10, 11), geo::CiVecN{0}, buf.data(), 0));  // no planes
    EXPECT_FALSE(frame.ReadRect(geo::CiRect(0, 10, 10, 11), {}, nullptr, 0));
    EXPECT_FALSE(frame.ReadRect(geo::CiRect(0, 10, 10, 11), {}, buf.data(), 9));  // stride below the width
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(frame.GetTileCount(), 0);
    EXPECT_EQ(frame.GetModificationCount(), count);
    ASSERT_TRUE(frame.WriteRect(geo::CiRect(0, 10, 10, 11), {}, buf.data(), 0));
    EXPECT_GT(frame.GetModificationCount(), count);
}

TEST(DataFrameCreation, RefusesBadArgumentsCleanly)
{
    const auto info = Gray8();
    struct tCase {
        char const* what;
        geo::CiVolumeN volume;
        img::CPixelInfo info;
        utl::CPropSet props;
    };
    utl::CPropSet zeroTile = TileProps(0, 64);
    utl::CPropSet deepTile;
    deepTile.SetValue(mem::ePropTileSize, geo::CiVec3(64, 64, 2));
    utl::CPropSet wrongType;
    wrongType.SetValue(mem::ePropTileSize, 64);
    utl::CPropSet badModel;
    badModel.SetValue(mem::ePropMemoryModel, 7);
    utl::CPropSet badAlign;
    badAlign.SetValue(mem::ePropAlign, 13);
    utl::CPropSet nullFill;
    nullFill.SetValue(mem::ePropFillValue, static_cast<void*>(nullptr));
    utl::CPropSet hugeTile = TileProps(100000, 100000);
    // A volume never holds a negative size (its setters clamp to 0), so a
    // negative extent reaches the store only as an inverted rectangle.
    geo::CiVolumeN negative = Volume2(0, 0, 10, 10);
    ASSERT_TRUE(negative.SetSize(0, -1));
    ASSERT_EQ(negative.Size()[0], 0);
    const tCase cases[] = {
        {"past the limit", Volume2(0, 0, mem::kMaxExtent + 1, 1), info, {}},
        {"past the int range", Volume2(INT_MAX - 5, 0, 10, 1), info, {}},
        {"invalid pixel", Volume2(0, 0, 10, 10), img::CPixelInfo(), {}},
        {"bytes past 64 bits",
         geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0, 0}, geo::CiVecN{1 << 30, 1 << 30, 1 << 30, 1 << 30}),
         info, {}},
        {"zero tile", Volume2(0, 0, 10, 10), info, zeroTile},
        {"deep tile", Volume2(0, 0, 10, 10), info, deepTile},
        {"tile of wrong type", Volume2(0, 0, 10, 10), info, wrongType},
        {"unknown model", Volume2(0, 0, 10, 10), info, badModel},
        {"alignment", Volume2(0, 0, 10, 10), info, badAlign},
        {"null fill", Volume2(0, 0, 10, 10), info, nullFill},
        {"tile past the limit", Volume2(0, 0, 100000, 100000), info, hugeTile},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW(mem::CDataFrame(c.volume, c.info, c.props), std::invalid_argument);
        EXPECT_FALSE(mem::CDataFrame::Create(c.volume, c.info, c.props));
    }
}

TEST(DataFrameCreation, EmptyVolumesAreValidFramesWithoutPixels)
{
    // As a stack with no frames yet: x-y extent, a plane dimension of size 0,
    // and a tile as large as the plane.
    utl::CPropSet props = TileProps(100000, 100000);
    props.SetValue(mem::ePropMemoryModel, int(mem::eMemoryTiledSparse));
    auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{100000, 100000, 0});
    mem::CDataFrame frame(volume, Gray8(), props);
    EXPECT_EQ(frame.GetDimension(), 3);
    EXPECT_EQ(frame.GetBoundary(0), volume);
    EXPECT_EQ(frame.GetPlaneAssortment().GetPlaneCount(), 0);
    std::uint8_t b = 0;
    EXPECT_FALSE(frame.WriteRect(geo::CiRect(0, 0, 1, 1), {}, &b, 0));
    EXPECT_TRUE(mem::CDataFrame(geo::CiVolumeN(), Gray8(), TileProps(0, 0)).GetBoundary().IsEmpty());
    // The caller's properties are kept as given.
    geo::CiVec3 tile;
    EXPECT_TRUE(frame.GetCreationProperties().GetValue(mem::ePropTileSize, tile));
    EXPECT_EQ(tile, geo::CiVec3(100000, 100000, 1));
}

TEST(DataFrameCreation, AlignmentPadsTileRows)
{
    utl::CPropSet props = TileProps(33, 10);
    props.SetValue(mem::ePropAlign, int(mem::eAlign32));
    mem::CDataFrame rgb(Volume2(0, 0, 100, 100), Rgb8(), props);
    EXPECT_EQ(rgb.GetTileRowSize(), 128);  // 99 bytes rounded up to 32
    ASSERT_TRUE(rgb.WriteRect(geo::CiRect(32, 0, 34, 1), {}, Ramp(geo::CiRect(0, 0, 2, 1), 3, 0).data(), 0));
    EXPECT_EQ(ReadAll(rgb, geo::CiRect(32, 0, 34, 1)), Ramp(geo::CiRect(0, 0, 2, 1), 3, 0));
}

class PlaneFrameTest : public ::testing::Test {
protected:
    geo::CiVolumeN volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 3, -1}, geo::CiVecN{40, 30, 2, 3});
    mem::CDataFrame frame{volume, Gray16(), TileProps(16, 16)};
};

TEST_F(PlaneFrameTest, PlanesAreIndependentAndEmptyMeansTheFirst)
{
    EXPECT_EQ(frame.GetPlaneAssortment().GetBoundary(),
              geo::CiVolumeN::FromPositionSize(geo::CiVecN{3, -1}, geo::CiVecN{2, 3}));
    const geo::CiRect r(5, 5, 25, 20);
    auto a = Ramp(r, 2, 1), b = Ramp(r, 2, 2);
    ASSERT_TRUE(frame.WriteRect(r, {}, a.data(), 0));
    ASSERT_TRUE(frame.WriteRect(r, geo::CiVecN{4, 1}, b.data(), 0));
    EXPECT_EQ(ReadAll(frame, r, geo::CiVecN{3, -1}), a);
    EXPECT_EQ(ReadAll(frame, r, geo::CiVecN{4, 1}), b);
    EXPECT_EQ(ReadAll(frame, r, geo::CiVecN{4, 0}), std::vector<std::uint8_t>(a.size(), 0));
    EXPECT_TRUE(ReadAll(frame, r, geo::CiVecN{5, 0}).empty());
    EXPECT_TRUE(ReadAll(frame, r, geo::CiVecN{3}).empty());
}

TEST_F(PlaneFrameTest, GrowingAndShrinkingPlanesKeepsPixels)
{
    const geo::CiRect r(0, 0, 40, 30);
    auto a = Ramp(r, 2, 3);
    ASSERT_TRUE(frame.WriteRect(r, geo::CiVecN{3, 1}, a.data(), 0));
    ASSERT_TRUE(frame.GrowPlanes(2));  // the last dimension grows by default
    EXPECT_EQ(frame.GetBoundary().Size(), (geo::CiVecN{40, 30, 2, 5}));
    ASSERT_TRUE(frame.GrowPlanes(-1));
    EXPECT_EQ(frame.GetPlaneAssortment().GetBoundary().Position(), (geo::CiVecN{3, -2}));
    EXPECT_EQ(ReadAll(frame, r, geo::CiVecN{3, 1}), a);
    EXPECT_EQ(ReadAll(frame, r, geo::CiVecN{3, 3}), std::vector<std::uint8_t>(a.size(), 0));

    const auto bytes = frame.GetAllocatedBytes();
    ASSERT_TRUE(frame.SetPlaneBoundary(geo::CiVolumeN::FromPositionSize(geo::CiVecN{3, -2}, geo::CiVecN{1, 3})));
    EXPECT_EQ(frame.GetAllocatedBytes(), 0);  // plane (3, 1) fell outside
    EXPECT_GT(bytes, 0);
    EXPECT_FALSE(frame.SetPlaneBoundary(geo::CiVolumeN::FromPositionSize(geo::CiVecN{0}, geo::CiVecN{1})));
    EXPECT_FALSE(mem::CDataFrame(Volume2(0, 0, 4, 4), Gray8()).GrowPlanes(1));
}

TEST(DataFrameCopies, SwapExchangesContentAssignmentCopiesIt)
{
    mem::CDataFrame a(Volume2(0, 0, 50, 50), Gray8(), TileProps(16, 16));
    mem::CDataFrame b(Volume2(0, 0, 20, 10), Gray16(), TileProps(8, 8));
    const geo::CiRect ra(10, 10, 40, 40), rb(0, 0, 20, 10);
    auto pa = Ramp(ra, 1, 1), pb = Ramp(rb, 2, 2);
    ASSERT_TRUE(a.WriteRect(ra, {}, pa.data(), 0));
    ASSERT_TRUE(b.WriteRect(rb, {}, pb.data(), 0));
    mem::CTileDistributor* distributorOfA = a.GetTileDistributor();

    a.Swap(b);
    EXPECT_EQ(a.GetElementInfo(), Gray16());
    EXPECT_EQ(ReadAll(a, rb), pb);
    EXPECT_EQ(ReadAll(b, ra), pa);
    EXPECT_EQ(a.GetTileDistributor(), distributorOfA);  // the object stays, its content moves
    EXPECT_EQ(distributorOfA->GetTileSize(), geo::CiVec2(8, 8));

    mem::CDataFrame c(Volume2(0, 0, 1, 1), Gray8());
    c = b;
    EXPECT_EQ(c.GetBoundary(), b.GetBoundary());
    EXPECT_EQ(ReadAll(c, ra), pa);
    auto other = Ramp(ra, 1, 9);
    ASSERT_TRUE(c.WriteRect(ra, {}, other.data(), 0));
    EXPECT_EQ(ReadAll(b, ra), pa);  // deep copy

    mem::CDataFrame moved(std::move(c));
    EXPECT_EQ(ReadAll(moved, ra), other);
    EXPECT_EQ(c.GetTileCount(), 0);  // NOLINT: a moved-from frame is empty, not broken
    EXPECT_FALSE(c.WriteRect(ra, {}, other.data(), 0));
}

TEST(DataFrameModels, ResidentFramesCommitEverythingAndHaveNoDistributor)
{
    utl::CPropSet props;
    props.SetValue(mem::ePropMemoryModel, int(mem::eMemoryResident));
    auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{100, 50, 3});
    mem::CDataFrame frame(volume, Gray8(), props);
    EXPECT_EQ(frame.GetTileDistributor(), nullptr);
    EXPECT_EQ(frame.GetTileSize(), geo::CiVec2(100, 50));
    EXPECT_EQ(frame.GetTileCount(), 3);
    EXPECT_EQ(ReadAll(frame, geo::CiRect(0, 0, 100, 50), geo::CiVecN{2}),
              std::vector<std::uint8_t>(5000, 0));
}

TEST(DataFrameModels, SparseFramesDoNotStoreFillOnlyWrites)
{
    utl::CPropSet props = TileProps(16, 16);
    props.SetValue(mem::ePropMemoryModel, int(mem::eMemoryTiledSparse));
    mem::CDataFrame sparse(Volume2(0, 0, 64, 64), Gray8(), props);
    std::vector<std::uint8_t> zeros(64 * 64, 0);
    ASSERT_TRUE(sparse.WriteRect(geo::CiRect(0, 0, 64, 64), {}, zeros.data(), 0));
    EXPECT_EQ(sparse.GetTileCount(), 0);
    zeros[17 * 64 + 17] = 1;
    ASSERT_TRUE(sparse.WriteRect(geo::CiRect(0, 0, 64, 64), {}, zeros.data(), 0));
    EXPECT_EQ(sparse.GetTileCount(), 1);

    utl::CPropSet commit = TileProps(16, 16);
    commit.SetValue(mem::ePropCommitAtCreation, true);
    EXPECT_EQ(mem::CDataFrame(Volume2(0, 0, 64, 40), Gray8(), commit).GetTileCount(), 12);
}

TEST(DataFrameModels, FillMakesWholeTilesUniformWithoutMemory)
{
    mem::CDataFrame frame(Volume2(0, 0, 100, 100), Gray16(), TileProps(32, 32));
    const std::uint16_t v = 0xBEEF;
    ASSERT_TRUE(frame.Fill(geo::CiVolumeN(geo::CiRect(0, 0, 100, 100)), &v));
    EXPECT_EQ(frame.GetTileCount(), 16);
    EXPECT_EQ(frame.GetAllocatedBytes(), 0);
    ASSERT_TRUE(frame.Fill(geo::CiVolumeN(geo::CiRect(10, 10, 20, 20)), "\0\0"));
    EXPECT_EQ(frame.GetAllocatedBytes(), frame.GetTileRowSize() * 32);
    auto row = ReadAll(frame, geo::CiRect(9, 10, 21, 11));
    EXPECT_EQ(row[0], 0xEF);
    EXPECT_EQ(row[2], 0);
    EXPECT_EQ(row[22], 0xEF);
    EXPECT_FALSE(frame.Fill(geo::CiVolumeN(geo::CiRect(200, 0, 300, 10)), &v));
}

// Growing commits the new planes of a frame that keeps every tile in memory,
// the whole cross-section of the other plane dimensions, and nothing else.
TEST(GrowingPlanes, CommittedFramesTakeMemoryForEveryNewPlaneOnly)
{
    utl::CPropSet resident;
    resident.SetValue(mem::ePropMemoryModel, int(mem::eMemoryResident));
    resident.SetValue(mem::ePropGrowDimension, 2);
    utl::CPropSet committed = TileProps(4, 4);
    committed.SetValue(mem::ePropCommitAtCreation, true);
    committed.SetValue(mem::ePropGrowDimension, 2);
    for (auto const& props : {resident, committed}) {
        // Planes (5, 0) … (6, 2): two along the grow dimension, three across.
        mem::CDataFrame frame(geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 5, 0}, geo::CiVecN{10, 8, 2, 3}),
                              Gray16(), props);
        const std::int64_t perPlane = frame.GetAllocatedBytes() / 6;
        ASSERT_GT(perPlane, 0);
        const geo::CiRect r(0, 0, 10, 8);
        const auto a = Ramp(r, 2, 4);
        ASSERT_TRUE(frame.WriteRect(r, geo::CiVecN{6, 2}, a.data(), 0));

        ASSERT_TRUE(frame.GrowPlanes(2));
        EXPECT_EQ(frame.GetAllocatedBytes(), 12 * perPlane);
        ASSERT_TRUE(frame.GrowPlanes(-1));
        EXPECT_EQ(frame.GetAllocatedBytes(), 15 * perPlane);
        EXPECT_EQ(frame.GetBoundary(),
                  geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 4, 0}, geo::CiVecN{10, 8, 5, 3}));
        EXPECT_EQ(ReadAll(frame, r, geo::CiVecN{6, 2}), a);
        for (auto const& plane : {geo::CiVecN{4, 0}, geo::CiVecN{8, 2}, geo::CiVecN{7, 1}})
            EXPECT_EQ(ReadAll(frame, r, plane), std::vector<std::uint8_t>(a.size(), 0));
        EXPECT_TRUE(ReadAll(frame, r, geo::CiVecN{9, 0}).empty());
    }

    mem::CDataFrame edge(geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, INT_MAX - 2}, geo::CiVecN{4, 4, 1}),
                         Gray8(), resident);
    EXPECT_FALSE(edge.GrowPlanes(2));
    EXPECT_TRUE(edge.GrowPlanes(1));
    EXPECT_FALSE(edge.GrowPlanes(1));
    EXPECT_EQ(edge.GetPlaneAssortment().GetPlaneCount(), 2);
}

}  // namespace

// ---- new tiles made from pooled memory --------------------------------------

namespace {

// Frames with tiles large enough that new tiles are filled around the cache,
// rows of odd byte counts, partial edge tiles and an origin off zero. Their
// tiles' memory is first filled with garbage and given back, so the frames
// made after them get the same, non-zero blocks from the pool.
struct tPooledCase {
    img::CPixelInfo info;
    geo::CiVec2 tile;
};

class PooledTileTest : public ::testing::TestWithParam<tPooledCase> {
protected:
    static constexpr int kW = 1100, kH = 700;
    const geo::CiRect all{-3, 11, -3 + kW, 11 + kH};

    mem::CDataFrame Frame(std::vector<std::uint8_t> const& fill) const
    {
        utl::CPropSet props = TileProps(GetParam().tile.x, GetParam().tile.y);
        props.SetValue(mem::ePropFillValue, const_cast<void*>(static_cast<void const*>(fill.data())));
        return mem::CDataFrame(Volume2(all.left, all.top, kW, kH), GetParam().info, props);
    }

    // Leaves every tile of a frame full of garbage in the pool.
    void SoilThePool() const
    {
        const int px = GetParam().info.Size();
        mem::CDataFrame soiled = Frame(std::vector<std::uint8_t>(static_cast<std::size_t>(px), 0x5A));
        const auto garbage = Ramp(all, px, 77);
        ASSERT_TRUE(soiled.WriteRect(all, {}, garbage.data(), 0));
    }
};

}  // namespace

// Every pixel a partial write leaves alone shows the fill value, zero or
// not, whatever the pooled memory held: writes, copies, fills and row spans
// at odd offsets, straddling tile borders and at the frame's far edges.
TEST_P(PooledTileTest, PartlyWrittenNewTilesShowTheFillValueAroundTheWrite)
{
    const int px = GetParam().info.Size();
    std::vector<std::uint8_t> zero(static_cast<std::size_t>(px), 0), odd(static_cast<std::size_t>(px));
    for (int i = 0; i < px; ++i)
        odd[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0xC1 + 17 * i);
    const geo::CiRect pieces[] = {{34, 48, 541, 377}, {all.right - 37, all.bottom - 5, all.right, all.bottom},
                                  {-3, 300, 5, 301}};
    mem::CDataFrame source(Volume2(0, 0, 600, 400), GetParam().info, TileProps(512, 512));
    const auto sourceBytes = Ramp(geo::CiRect(0, 0, 600, 400), px, 5);
    ASSERT_TRUE(source.WriteRect(geo::CiRect(0, 0, 600, 400), {}, sourceBytes.data(), 0));
    for (auto const* fill : {&zero, &odd}) {
        for (int how = 0; how < 4; ++how) {
            SCOPED_TRACE(testing::Message() << "fill " << int((*fill)[0]) << ", way " << how);
            SoilThePool();
            mem::CDataFrame frame = Frame(*fill);
            tImage ref(all.left, all.top, kW, kH, px, fill->data());
            for (geo::CiRect const& r : pieces) {
                const auto bytes = Ramp(r, px, r.left);
                if (how == 0) {
                    ASSERT_TRUE(frame.WriteRect(r, {}, bytes.data(), 0));
                    ref.SetRect(r, bytes.data());
                } else if (how == 1) {
                    const auto box = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0}, geo::CiVecN{r.Width(), r.Height()});
                    ASSERT_TRUE(mem::Copy(source, frame, box, geo::CiVecN{r.left, r.top}, 0));
                    for (int y = r.top; y < r.bottom; ++y)
                        std::memcpy(ref.At(r.left, y), sourceBytes.data() + std::size_t(y - r.top) * 600 * px,
                                    std::size_t(r.Width()) * px);
                } else if (how == 2) {
                    ASSERT_TRUE(frame.Fill(geo::CiVolumeN(r), bytes.data()));
                    for (int y = r.top; y < r.bottom; ++y)
                        for (int x = r.left; x < r.right; ++x)
                            std::memcpy(ref.At(x, y), bytes.data(), static_cast<std::size_t>(px));
                } else {
                    std::uint8_t* row = nullptr;
                    ASSERT_GT(frame.GetRowSpanForWrite(geo::CiVec2(r.left, r.top), {}, row), 0);
                    std::memcpy(row, bytes.data(), static_cast<std::size_t>(px));
                    std::memcpy(ref.At(r.left, r.top), bytes.data(), static_cast<std::size_t>(px));
                }
            }
            EXPECT_EQ(FirstDifference(ReadAll(frame, all), ref.Rect(all)), -1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    StreamedAndPlainFills, PooledTileTest,
    ::testing::Values(tPooledCase{Gray8(), {512, 512}}, tPooledCase{Rgb8(), {333, 300}},
                      tPooledCase{Gray16(), {512, 256}},
                      tPooledCase{img::CPixelInfo(utl::eUInt16, 4, img::eColorSpaceMulti), {250, 130}},
                      tPooledCase{Rgb8(), {40, 24}}),
    [](::testing::TestParamInfo<tPooledCase> const& p) {
        return "bytes" + std::to_string(p.param.info.Size()) + "_tiles" + std::to_string(p.param.tile.x) + "x" +
               std::to_string(p.param.tile.y);
    });

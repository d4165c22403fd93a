#include "imgscope/contracts/foundation/data_frame.h"

#include "store_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

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

// ---- large pastes and alpha kernels against plain loops --------------------

namespace {

img::CPixelInfo Layout(utl::EType type, int components)
{
    const auto space = components == 1 ? img::eColorSpaceGray
                       : components == 3 ? img::eColorSpaceRGB
                                         : img::eColorSpaceMulti;
    return img::CPixelInfo(type, components, space);
}

// A source frame holding a ramp, and the ramp itself.
struct tSource {
    mem::CDataFrame frame;
    std::vector<std::uint8_t> bytes;

    tSource(geo::CiRect const& r, img::CPixelInfo const& info, utl::CPropSet const& props, int seed)
        : frame(Volume2(r.left, r.top, r.Width(), r.Height()), info, props), bytes(Ramp(r, info.Size(), seed))
    {
    }
};

}  // namespace

// Pastes of camera-tile size take the streamed path; at offsets on, just off
// and far off the tile and cache-line grids, into tiles whose rows are
// shorter, longer or not a multiple of a cache line, every layout must land
// as a plain copy would put it. One test per layout: 1 to 4 channels of 8-
// and 16-bit elements.
class TileCopyLayoutTest : public ::testing::TestWithParam<std::tuple<utl::EType, int>> {};

TEST_P(TileCopyLayoutTest, LargePastesMatchAPlainCopy)
{
    const img::CPixelInfo info = Layout(std::get<0>(GetParam()), std::get<1>(GetParam()));
    const int px = info.Size();
    const geo::CiRect sourceRect(0, 0, 512, 520);  // a partial second tile row at the default size
    const geo::CiRect all(-3, -5, 797, 795);
    const geo::CiVec2 sourceTiles[] = {{512, 512}, {96, 40}};
    const geo::CiVec2 targetTiles[] = {{512, 512}, {256, 256}, {1000, 300}, {33, 17}};
    const geo::CiVec2 offsets[] = {{0, 0}, {37, 19}, {1, 63}};
    for (auto const& st : sourceTiles) {
        tSource source(sourceRect, info, TileProps(st.x, st.y), px + st.x);
        ASSERT_TRUE(source.frame.WriteRect(sourceRect, {}, source.bytes.data(), 0));
        ASSERT_EQ(FirstDifference(ReadAll(source.frame, sourceRect), source.bytes), -1);
        for (auto const& tt : targetTiles) {
            SCOPED_TRACE(testing::Message() << "source tiles " << st.x << ", target tiles " << tt.x << "×" << tt.y);
            mem::CDataFrame target(Volume2(all.left, all.top, all.Width(), all.Height()), info, TileProps(tt.x, tt.y));
            const std::vector<std::uint8_t> zero(static_cast<std::size_t>(px), 0);
            tImage ref(all.left, all.top, all.Width(), all.Height(), px, zero.data());
            // Some target tiles hold pixels before the pastes, others are made by them.
            const geo::CiRect early(all.left, all.top, all.left + 600, all.top + 300);
            const auto earlyBytes = Ramp(early, px, 99);
            ASSERT_TRUE(target.WriteRect(early, {}, earlyBytes.data(), 0));
            ref.SetRect(early, earlyBytes.data());
            for (auto const& off : offsets) {
                const int x = all.left + off.x, y = all.top + off.y;
                ASSERT_TRUE(mem::Copy(source.frame, target, source.frame.GetBoundary(), geo::CiVecN{x, y}, 0));
                ref.SetRect(geo::CiRect(x, y, x + sourceRect.Width(), y + sourceRect.Height()), source.bytes.data());
            }
            EXPECT_EQ(FirstDifference(ReadAll(target, all), ref.Rect(all)), -1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, TileCopyLayoutTest,
                         ::testing::Combine(::testing::Values(utl::eUInt8, utl::eUInt16), ::testing::Range(1, 5)));

// Every element type with 1 to 4 colour components and 1 or 2 added alpha
// components: short rows meet the kernels' scalar tails, a large block
// crosses tile borders of both frames at odd offsets.
TEST(TileCopyAlphaTest, AddedAlphaIsOpaqueInEveryElementTypeAndTheColoursAreCopied)
{
    struct tType {
        utl::EType type;
        std::vector<std::uint8_t> opaque;  // little-endian
    };
    const auto bytesOf = [](auto v) {
        std::vector<std::uint8_t> b(sizeof v);
        std::memcpy(b.data(), &v, sizeof v);
        return b;
    };
    const tType types[] = {
        {utl::eUInt8, {0xFF}},
        {utl::eInt8, {0x7F}},
        {utl::eUInt16, {0xFF, 0xFF}},
        {utl::eInt16, {0xFF, 0x7F}},
        {utl::eUInt32, {0xFF, 0xFF, 0xFF, 0xFF}},
        {utl::eInt32, {0xFF, 0xFF, 0xFF, 0x7F}},
        {utl::eUInt64, std::vector<std::uint8_t>(8, 0xFF)},
        {utl::eInt64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
        {utl::eFloat, bytesOf(1.0f)},
        {utl::eDouble, bytesOf(1.0)},
    };
    const geo::CiRect sourceRect(0, 0, 160, 40);
    const geo::CiRect all(0, 0, 200, 70);
    for (auto const& t : types) {
        for (int colours = 1; colours <= 4; ++colours) {
            for (int alphas = 1; alphas <= 2; ++alphas) {
                SCOPED_TRACE(testing::Message() << "type " << t.type << ", " << colours << " + " << alphas);
                const img::CPixelInfo from = Layout(t.type, colours);
                const img::CPixelInfo to = from.AddAlpha(alphas);
                const auto sp = static_cast<std::size_t>(from.Size());
                const auto tp = static_cast<std::size_t>(to.Size());
                tSource source(sourceRect, from, TileProps(128, 16), colours + alphas);
                ASSERT_TRUE(source.frame.WriteRect(sourceRect, {}, source.bytes.data(), 0));
                mem::CDataFrame target(Volume2(0, 0, all.Width(), all.Height()), to, TileProps(100, 24));
                const std::vector<std::uint8_t> zero(tp, 0);
                tImage ref(0, 0, all.Width(), all.Height(), static_cast<int>(tp), zero.data());
                // The plain loop: colour bytes, then the opaque value per alpha.
                const auto paste = [&](geo::CiRect const& box, int x, int y) {
                    ASSERT_TRUE(mem::Copy(source.frame, target, Volume2(box.left, box.top, box.Width(), box.Height()),
                                          geo::CiVecN{x, y}, 0));
                    for (int r = 0; r < box.Height(); ++r)
                        for (int c = 0; c < box.Width(); ++c) {
                            std::uint8_t* d = ref.At(x + c, y + r);
                            std::memcpy(d, &source.bytes[(std::size_t(box.top + r) * sourceRect.Width() + box.left + c) * sp], sp);
                            for (int a = 0; a < alphas; ++a)
                                std::memcpy(d + sp + a * t.opaque.size(), t.opaque.data(), t.opaque.size());
                        }
                };
                paste(geo::CiRect(3, 1, 153, 31), 37, 0);
                for (int w = 1; w <= 24; ++w)
                    paste(geo::CiRect(w, 35, 2 * w, 36), w % 5, 31 + w);
                EXPECT_EQ(FirstDifference(ReadAll(target, all), ref.Rect(all)), -1);
            }
        }
    }
}

// An unwritten source shows its fill value through rows shared by the whole
// tile; those are repeated across tiles wider than the rows, alpha added.
TEST(TileCopyAlphaTest, FillValueOfAWideUnwrittenSourceGainsAlphaAcrossTheTarget)
{
    std::uint16_t fill[3] = {10, 2000, 65000};
    utl::CPropSet props = TileProps(2048, 8);
    props.SetValue(mem::ePropFillValue, static_cast<void*>(fill));
    const img::CPixelInfo rgb16 = Layout(utl::eUInt16, 3);
    mem::CDataFrame source(Volume2(0, 0, 2100, 10), rgb16, props);
    mem::CDataFrame target(Volume2(0, 0, 2200, 4), rgb16.AddAlpha(1), TileProps(4096, 4));
    ASSERT_TRUE(mem::Copy(source, target, Volume2(0, 0, 2100, 3), geo::CiVecN{50, 1}, 0));
    const auto got = ReadAll(target, geo::CiRect(0, 0, 2200, 4));
    std::vector<std::uint16_t> px(got.size() / 2);
    std::memcpy(px.data(), got.data(), got.size());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 2200; ++x) {
            const bool pasted = y >= 1 && x >= 50 && x < 2150;
            const std::uint16_t* p = &px[(std::size_t(y) * 2200 + x) * 4];
            const std::uint16_t want[4] = {std::uint16_t(pasted ? 10 : 0), std::uint16_t(pasted ? 2000 : 0),
                                           std::uint16_t(pasted ? 65000 : 0), std::uint16_t(pasted ? 0xFFFF : 0)};
            ASSERT_TRUE(std::equal(p, p + 4, want)) << x << "," << y;
        }
}

// Focus and sharpness maps: the layers they make (name, group, flags,
// mask, calibration, role), the mapping of focus positions through the
// focus range with its clamps and refusals, the unclamped value form, and
// the sharpness map with its gain over every tile.
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/platform/sharpness.h"
#include "imgscope/mosaic/mosaic_scope.h"

#include "mosaic_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace mosaic_test;

class FocusLayersTest : public ::testing::Test, public MosaicFixture {
protected:
    // A 20x picture layer, active, whose device set holds 20.0.
    int AddTwentyX(int width = 256, int height = 192, geo::CdRect phys = geo::CdRect(100, 200, 356, 392))
    {
        tLayer layer;
        layer.magnification = 20.0;
        layer.props = DeviceMagnification(20.0);
        layer.volume = Volume(width, height);
        layer.phys = utl::TUnitValue<geo::CdRect>(kMicron, phys);
        EXPECT_TRUE(layer.CreateIn(*mosaic));
        return Active();
    }

    int FocusMap() const { return LayersOf(4).empty() ? -1 : LayersOf(4).back(); }

    int Pixel(int layer, int x, int y)
    {
        std::uint8_t v = 0;
        EXPECT_TRUE(core.GetPixFrame(layer, geo::CiVecN())->ReadRowSegment(geo::CiVec2(x, y), 1, &v, 0));
        return v;
    }

    std::wstring GroupName(int layer)
    {
        CString name;
        img::CDisplProcessFlow(doc, false).GetGroupName(GroupOf(doc, layer), name);
        return name.Str();
    }

    const utl::TUnitValue<geo::CdRect> noRect;
};

// ---------------------------------------------------------------- focus map layer

TEST_F(FocusLayersTest, FocusMapIsAHiddenOpaqueGreyLayerAppendedToItsGroup)
{
    const int picture = AddTwentyX();
    const utl::TUnitValue<geo::CdRect> phys(kMicron, geo::CdRect(10, 20, 74, 68));
    ASSERT_TRUE(mosaic->CreateFocusLayer(20.0, geo::CiRect(0, 0, 64, 48), phys, false));
    const int focus = FocusMap();
    ASSERT_NE(focus, -1);
    EXPECT_EQ(Active(), picture);

    const img::CStack stack = doc.FindStack(focus);
    EXPECT_EQ(stack.GetName(), CString(L"20x FocusMap"));
    EXPECT_EQ(stack.GetPixelInfo(0), img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray));
    EXPECT_EQ(stack.GetBoundary(), geo::CiRect(0, 0, 64, 48));
    int flags = 0;
    ASSERT_TRUE(core.GetLayerFlags(focus, flags));
    EXPECT_EQ(flags, 0x1c0);  // hidden, XY-fixed, raster; not visible
    const auto mask = core.GetTranspMask(focus);
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->GetBoundary(), geo::CiRect(0, 0, 64, 48));
    EXPECT_EQ(mask->GetValue(geo::CiVec2(0, 0)), 255);
    EXPECT_EQ(mask->GetValue(geo::CiVec2(63, 47)), 255);
    EXPECT_EQ(Calibration(focus), phys);
    std::vector<int> members;
    ASSERT_TRUE(core.GetGroupMembers(GroupOf(doc, picture), members));
    EXPECT_EQ(members, (std::vector<int>{picture, focus}));

    ASSERT_TRUE(mosaic->CreateFocusLayer(20.0, geo::CiRect(0, 0, 8, 8), phys, true));
    ASSERT_TRUE(core.GetLayerFlags(FocusMap(), flags));
    EXPECT_EQ(flags, 0x1c1);
    EXPECT_EQ(LayersOf(4).size(), 2u);  // the older map stays
}

TEST_F(FocusLayersTest, FocusMapWithoutARectangleIsCalibratedLikeTheActiveLayerOrNotAtAll)
{
    ASSERT_TRUE(mosaic->CreateFocusLayer(2.5, geo::CiRect(0, 0, 16, 16), noRect, false));
    EXPECT_EQ(Calibration(FocusMap()), std::nullopt);  // no active layer
    EXPECT_EQ(GroupName(FocusMap()), L"2.5x");

    AddTwentyX();
    ASSERT_TRUE(mosaic->CreateFocusLayer(20.0, geo::CiRect(0, 0, 16, 16), noRect, false));
    EXPECT_EQ(Calibration(FocusMap()), MicronRect(100, 200, 356, 392));
}

TEST_F(FocusLayersTest, FocusMapThatCannotBeMadeAddsNothing)
{
    AddTwentyX();
    ASSERT_TRUE(mosaic->CreateFocusLayer(20.0, geo::CiRect(0, 0, 4, 4), noRect, false));
    const unsigned count = mosaic->GetLayerCount();
    const auto names = RootNames(doc);
    EXPECT_FALSE(mosaic->CreateFocusLayer(20.0, geo::CiRect(10, 10, 0, 0), noRect, false));
    EXPECT_FALSE(mosaic->CreateFocusLayer(20.0, geo::CiRect(0, 0, mem::kMaxExtent + 1, 4), noRect, false));
    EXPECT_EQ(mosaic->GetLayerCount(), count);
    EXPECT_EQ(RootNames(doc), names);
    EXPECT_TRUE(mosaic->SetFocusPoint(geo::CiVec2(1, 1), 9));  // the earlier map is still the focus layer
    EXPECT_EQ(Pixel(FocusMap(), 1, 1), 9);
}

// ---------------------------------------------------------------- focus points

TEST_F(FocusLayersTest, FocusPositionsMapThroughTheRangeAndClamp)
{
    ASSERT_TRUE(mosaic->CreateFocusLayer(10.0, geo::CiRect(0, 0, 32, 32), noRect, false));
    struct tCase {
        double centre, bound1, bound2, focus;
        int value;
    };
    // 256 steps over the range's width, 128 at its centre; 12.8 or 6.4 per
    // unit below.
    const tCase cases[] = {
        {10, 0, 20, 10.0, 128},     {10, 0, 20, 12.5, 160},     {10, 0, 20, 15.0, 192},
        {10, 0, 20, 20.0, 255},     {10, 0, 20, 5.0, 64},       {10, 0, 20, 0.0, 0},
        {10, 0, 20, -5.0, 0},       {10, 0, 20, 19.875, 254},   {10, 0, 20, 19.890625, 255},
        {10, 0, 20, 0.046875, 1},   {10, 0, 20, 0.03125, 0},    {10, 0, 20, 10.0390625, 129},
        {10, -10, 30, 15.0, 160},   {10, -10, 30, -10.0, 0},    {10, -10, 30, 29.0, 250},
        {-3, -5, 5, -3.0, 128},     {0, 0, 2 * DBL_EPSILON, 0.0, 128},
        {10, 0, 20, std::numeric_limits<double>::infinity(), 255},
    };
    int x = 0;
    for (tCase const& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.centre << " " << c.bound1 << " " << c.bound2 << " at " << c.focus);
        ASSERT_TRUE(mosaic->SetFocusRange(c.centre, c.bound1, c.bound2));
        EXPECT_TRUE(mosaic->SetFocusPoint(geo::CiVec2(x, 3), c.focus));
        EXPECT_EQ(Pixel(FocusMap(), x, 3), c.value);
        ++x;
    }
}

TEST_F(FocusLayersTest, RangesNotWiderThanEpsilonOrReversedAndNaNFociWriteNothing)
{
    ASSERT_TRUE(mosaic->CreateFocusLayer(10.0, geo::CiRect(0, 0, 8, 8), noRect, false));
    ASSERT_TRUE(mosaic->SetFocusPoint(geo::CiVec2(2, 2), 77));
    EXPECT_FALSE(mosaic->SetFocusPoint(geo::CiVec2(2, 2), 10.0));  // no range yet
    struct tRange {
        double centre, bound1, bound2, focus;
    };
    for (tRange r : {tRange{10, 20, 0, 10}, {0, 0, DBL_EPSILON, 0}, {0, 1, 1, 1}, {0, 0, std::nan(""), 0},
                     {10, 0, 20, std::nan("")}, {std::nan(""), 0, 20, 10}}) {
        SCOPED_TRACE(::testing::Message() << r.centre << " " << r.bound1 << " " << r.bound2 << " at " << r.focus);
        ASSERT_TRUE(mosaic->SetFocusRange(r.centre, r.bound1, r.bound2));
        EXPECT_FALSE(mosaic->SetFocusPoint(geo::CiVec2(2, 2), r.focus));
        EXPECT_EQ(Pixel(FocusMap(), 2, 2), 77);
    }
    ASSERT_TRUE(mosaic->SetFocusRange(10, 0, 20));
    EXPECT_FALSE(mosaic->SetFocusPoint(geo::CiVec2(8, 2), 10.0));  // outside the map
}

TEST_F(FocusLayersTest, ValueFormWritesUnclampedAndBothFormsNeedAFocusLayerWhichANewPictureLayerClears)
{
    ASSERT_TRUE(mosaic->SetFocusRange(10, 0, 20));
    EXPECT_FALSE(mosaic->SetFocusPoint(geo::CiVec2(0, 0), 5));
    EXPECT_FALSE(mosaic->SetFocusPoint(geo::CiVec2(0, 0), 10.0));
    ASSERT_TRUE(mosaic->CreateFocusLayer(10.0, geo::CiRect(0, 0, 8, 8), noRect, false));
    const int focus = FocusMap();
    EXPECT_TRUE(mosaic->SetFocusPoint(geo::CiVec2(3, 4), 300));  // the low byte of 300
    EXPECT_EQ(Pixel(focus, 3, 4), 44);
    EXPECT_TRUE(mosaic->SetFocusPoint(geo::CiVec2(4, 4), -1));
    EXPECT_EQ(Pixel(focus, 4, 4), 255);
    EXPECT_TRUE(mosaic->SetFocusPoint(geo::CiVec2(100, 100), 5));  // the write fails, the call does not
    ASSERT_TRUE(mosaic->SetFocusPoint(geo::CiVec2(1, 1), 12.5));

    ASSERT_TRUE(tLayer().CreateIn(*mosaic));
    EXPECT_FALSE(mosaic->SetFocusPoint(geo::CiVec2(0, 0), 5));
    EXPECT_FALSE(mosaic->SetFocusPoint(geo::CiVec2(0, 0), 10.0));
    EXPECT_EQ(Pixel(focus, 1, 1), 160);  // the old map keeps what it had
    EXPECT_EQ(Pixel(focus, 0, 0), 0);
}

// ---------------------------------------------------------------- sharpness map

class SharpnessLayerTest : public FocusLayersTest {
protected:
    // Fills the active layer with a pattern whose detail varies across it.
    void Paint(int layer)
    {
        const auto frame = core.GetPixFrame(layer, geo::CiVecN());
        const geo::CiRect b = frame->GetBoundary();
        std::vector<std::uint16_t> row(std::size_t(b.Width()));
        for (int y = b.top; y < b.bottom; ++y) {
            for (int x = b.left; x < b.right; ++x)
                row[std::size_t(x - b.left)] = static_cast<std::uint16_t>(
                    20000 + 2000 * std::sin(x * (0.02 + x * 0.0004)) * std::cos(y * 0.05));
            ASSERT_TRUE(frame->WriteRowSegment(geo::CiVec2(b.left, y), b.Width(), row.data(), 0));
        }
    }

    std::vector<int> Values(int layer)
    {
        const auto frame = core.GetPixFrame(layer, geo::CiVecN());
        const geo::CiRect b = frame->GetBoundary();
        std::vector<int> values;
        std::vector<std::uint8_t> row(std::size_t(b.Width()));
        for (int y = b.top; y < b.bottom; ++y) {
            EXPECT_TRUE(frame->ReadRowSegment(geo::CiVec2(b.left, y), b.Width(), row.data(), 0));
            values.insert(values.end(), row.begin(), row.end());
        }
        return values;
    }
};

TEST_F(SharpnessLayerTest, ActiveLayersMapIsTheMeasureDoubledInEveryTileAndJoinsItsGroup)
{
    // 1100 columns in blocks of 2: the map is two tiles wide.
    const int picture = AddTwentyX(1100, 20, geo::CdRect(0, 0, 550, 10));
    Paint(picture);
    ASSERT_TRUE(mosaic->CreateFocusLayer(20.0, geo::CiRect(0, 0, 4, 4), noRect, false));
    const int focus = FocusMap();

    ASSERT_TRUE(mosaic->CreateSharpnessLayer(7.0, -1, 2));
    ASSERT_EQ(LayersOf(8).size(), 1u);
    const int map = LayersOf(8).front();
    EXPECT_EQ(Active(), picture);
    EXPECT_TRUE(mosaic->SetFocusPoint(geo::CiVec2(0, 0), 12));
    EXPECT_EQ(Pixel(focus, 0, 0), 12);

    const img::CStack stack = doc.FindStack(map);
    EXPECT_EQ(stack.GetName(), CString(L"20x Sharpness Map"));
    EXPECT_EQ(stack.GetBoundary(), geo::CiRect(0, 0, 550, 10));
    int flags = 0;
    ASSERT_TRUE(core.GetLayerFlags(map, flags));
    EXPECT_EQ(flags, 0x1c0);
    const auto mask = core.GetTranspMask(map);
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->GetValue(geo::CiVec2(549, 9)), 255);
    EXPECT_EQ(Calibration(map), MicronRect(0, 0, 550, 10));
    std::vector<int> members;
    ASSERT_TRUE(core.GetGroupMembers(GroupOf(doc, picture), members));
    EXPECT_EQ(members, (std::vector<int>{picture, focus, map}));

    const auto direct = img::CGaussSharpness(0.3, 2).GetSharpnessMap(core.GetPixFrame(picture, geo::CiVecN()), 2);
    ASSERT_TRUE(direct);
    std::vector<int> expected;
    std::vector<std::uint8_t> row(550);
    for (int y = 0; y < 10; ++y) {
        direct->ReadRowSegment(geo::CiVec2(0, y), 550, row.data(), 0);
        for (std::uint8_t v : row)
            expected.push_back(std::min(2 * v, 255));
    }
    // The pattern must give the gain something to show on both tiles.
    ASSERT_GT(std::count_if(expected.begin(), expected.begin() + 500, [](int v) { return v > 2 && v < 255; }), 50);
    ASSERT_GT(std::count_if(expected.begin() + 520, expected.begin() + 550, [](int v) { return v > 2 && v < 255; }), 5);
    EXPECT_EQ(Values(map), expected);
}

TEST_F(SharpnessLayerTest, ActiveLayerWithoutDeviceMagnificationMakesA0xMapAndNamedLayersTakeTheGivenOne)
{
    const int picture = AddTwentyX();
    ASSERT_TRUE(tLayer().CreateIn(*mosaic));  // 10x by name, no device magnification
    ASSERT_TRUE(mosaic->CreateSharpnessLayer(10.0, -1, 64));
    ASSERT_TRUE(mosaic->CreateSharpnessLayer(40.0, picture, 100));
    const std::vector<int> maps = LayersOf(8);
    ASSERT_EQ(maps.size(), 2u);
    EXPECT_EQ(doc.FindStack(maps[0]).GetName(), CString(L"0x Sharpness Map"));
    EXPECT_EQ(GroupName(maps[0]), L"0x");
    mem::CBin m;
    ASSERT_TRUE(img::CDisplProcessFlow(doc, false).GetProperty(GroupOf(doc, maps[0]), -1, 120060, m));
    EXPECT_EQ(m.GetOr(-1.0), 0.0);
    EXPECT_EQ(doc.FindStack(maps[0]).GetBoundary(), geo::CiRect(0, 0, 16, 16));  // 1024 in blocks of 64

    EXPECT_EQ(doc.FindStack(maps[1]).GetName(), CString(L"40x Sharpness Map"));
    EXPECT_EQ(GroupName(maps[1]), L"40x");
    EXPECT_EQ(doc.FindStack(maps[1]).GetBoundary(), geo::CiRect(0, 0, 3, 2));  // 256 × 192 in blocks of 100
    EXPECT_EQ(Calibration(maps[1]), Calibration(picture));
}

TEST_F(SharpnessLayerTest, NoMapMeansNothingInserted)
{
    const unsigned empty = mosaic->GetLayerCount();
    EXPECT_FALSE(mosaic->CreateSharpnessLayer(10.0, -1, 16));  // no active layer
    EXPECT_EQ(mosaic->GetLayerCount(), empty);
    AddTwentyX();
    const auto names = RootNames(doc);
    const unsigned count = mosaic->GetLayerCount();
    EXPECT_FALSE(mosaic->CreateSharpnessLayer(20.0, -1, 0));
    EXPECT_FALSE(mosaic->CreateSharpnessLayer(20.0, -1, -8));
    EXPECT_FALSE(mosaic->CreateSharpnessLayer(20.0, imgscope_test::UnknownLayer(doc), 16));
    EXPECT_FALSE(mosaic->CreateSharpnessLayer(40.0, -7, 16));
    EXPECT_EQ(mosaic->GetLayerCount(), count);
    EXPECT_EQ(RootNames(doc), names);
}

}  // namespace

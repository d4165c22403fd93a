// Layer and canvas calibration, coordinate conversions and the whole-image
// recalibration, over real documents.
#include "tests/scope/test_scope.h"

#include "imgscope/contracts/foundation/data_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using imgscope_test::TestScope;
using UVec = utl::TUnitValue<geo::CdVec2>;
using URect = utl::TUnitValue<geo::CdRect>;

constexpr utl::CUnit kMicron{utl::eQuantityLength, 1, -6};
constexpr utl::CUnit kNano{utl::eQuantityLength, 1, -9};
constexpr utl::CUnit kMilli{utl::eQuantityLength, 1, -3};
constexpr utl::CUnit kSecond{utl::eQuantityTime, 1, 0};

// Flow properties that mark a layer's placement as stored state of its own.
constexpr int kPlacementProps[] = {2006, 2007};

class CalibrationTest : public ::testing::Test {
protected:
    // A gray layer of w × h pixels with an entry at the end of the root.
    int AddLayer(int w = 16, int h = 12)
    {
        auto frame = mem::CDataFrame::Create(geo::CiVolumeN(geo::CiRect(0, 0, w, h)),
                                             img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray),
                                             utl::CPropSet());
        const int id = doc.Add(img::CStack(frame));
        EXPECT_GT(id, 0);
        EXPECT_GE(Tree().InsertLayer(-1, -3, id, utl::CIndexN(), -1), 0);
        return id;
    }

    // The document's own layer tree, as every scope of it sees it.
    img::CDisplProcessFlow Tree() { return img::CDisplProcessFlow(doc, false); }
    img::CStack Stack(int layer) { return doc.FindStack(layer); }

    void MarkPlacementStored(int layer)
    {
        const int plane = Tree().FindLayer(layer);
        for (int id : kPlacementProps)
            ASSERT_TRUE(Tree().SetProperty(plane, -1, id, mem::CBin(1)));
    }

    void ExpectVec(geo::CdVec2 const& actual, double x, double y, double tolerance = 1e-9)
    {
        EXPECT_NEAR(actual.x, x, tolerance);
        EXPECT_NEAR(actual.y, y, tolerance);
    }

    img::CImg doc;
    TestScope scope{doc};
};

// --- Failure and the layer's own calibration ----------------------------------

TEST_F(CalibrationTest, UnresolvedLayerFailsWithOutputsUntouched)
{
    const int layer = AddLayer();
    const int plane = Tree().FindLayer(layer);
    ASSERT_NE(plane, layer);  // the two numberings differ, so a mix-up shows

    for (int bad : {-1, 0, 9999, plane}) {
        SCOPED_TRACE(bad);
        const UVec preset(kSecond, geo::CdVec2(7, 8));
        UVec scale = preset;
        geo::CdVec2 origin(3, 4);
        EXPECT_FALSE(scope.GetPixelCoords(bad, scale, origin));
        EXPECT_EQ(scale, preset);
        EXPECT_EQ(origin, geo::CdVec2(3, 4));

        utl::TUnitValue<double> width(kSecond, 5.0);
        EXPECT_FALSE(scope.GetPixelWidth(bad, width));
        EXPECT_EQ(width.value, 5.0);
        EXPECT_FALSE(scope.SetPixelSize(bad, kMicron, 1.0, 1.0));
        EXPECT_FALSE(scope.SetPixelCoords(bad, UVec(kMicron, geo::CdVec2(1, 1)), geo::CdVec2()));
        EXPECT_FALSE(scope.GetCanvasPlacement(bad, origin, origin));
        EXPECT_EQ(origin, geo::CdVec2(3, 4));

        UVec lcs = preset;
        EXPECT_FALSE(scope.Pixel2Lcs(bad, geo::CdVec2(1, 1), lcs));
        EXPECT_EQ(lcs, preset);
        geo::CdVec2 pixel(3, 4);
        EXPECT_FALSE(scope.Lcs2Pixel(bad, UVec(kMicron, geo::CdVec2(1, 1)), pixel));
        EXPECT_EQ(pixel, geo::CdVec2(3, 4));
        geo::CdRect rect(1, 2, 3, 4);
        EXPECT_FALSE(scope.Lcs2Pixel(bad, URect(kMicron, geo::CdRect(0, 0, 5, 5)), rect));
        EXPECT_EQ(rect, geo::CdRect(1, 2, 3, 4));
    }
    // The failed writes left the layer uncalibrated.
    geo::CdVec2 o, s;
    utl::CUnit u;
    EXPECT_FALSE(Stack(layer).GetOriginScale(o, s, u));
}

TEST_F(CalibrationTest, SetPixelSizeTreatsZeroHeightAsSquare)
{
    const int layer = AddLayer();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct tCase {
        double height;
        double expectedHeight;
    } const cases[] = {{0.0, 2.5}, {-0.0, 2.5}, {4.0, 4.0}, {-3.0, -3.0}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.height);
        ASSERT_TRUE(scope.SetPixelSize(layer, kMicron, 2.5, c.height));
        utl::CUnit unit;
        double w = 0, h = 0;
        ASSERT_TRUE(scope.GetPixelSize(layer, unit, w, h));
        EXPECT_EQ(unit, kMicron);
        EXPECT_EQ(w, 2.5);
        EXPECT_EQ(h, c.expectedHeight);
    }

    ASSERT_TRUE(scope.SetPixelSize(layer, kMicron, 2.5, nan));
    utl::TUnitValue<double> height;
    ASSERT_TRUE(scope.GetPixelHeight(layer, height));
    EXPECT_TRUE(std::isnan(height.value));
}

TEST_F(CalibrationTest, PixelCoordsAnswersForUncalibratedStackWherePixelWidthFails)
{
    const int layer = AddLayer();
    const UVec preset(kSecond, geo::CdVec2(7, 8));
    UVec scale = preset;
    geo::CdVec2 origin(3, 4);
    EXPECT_TRUE(scope.GetPixelCoords(layer, scale, origin));
    EXPECT_EQ(scale, preset);  // the stack had nothing to give
    EXPECT_EQ(origin, geo::CdVec2(3, 4));

    utl::TUnitValue<double> width(kSecond, 5.0);
    EXPECT_FALSE(scope.GetPixelWidth(layer, width));
    EXPECT_EQ(width, utl::TUnitValue<double>(kSecond, 5.0));
    geo::CdVec2 pixelOrigin(1, 1);
    EXPECT_FALSE(scope.GetPixelOrigin(layer, pixelOrigin));

    // Once calibrated, both agree.
    ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kNano, geo::CdVec2(80, 90)), geo::CdVec2(-5, 6)));
    ASSERT_TRUE(scope.GetPixelCoords(layer, scale, origin));
    EXPECT_EQ(scale, UVec(kNano, geo::CdVec2(80, 90)));
    EXPECT_EQ(origin, geo::CdVec2(-5, 6));
    ASSERT_TRUE(scope.GetPixelWidth(layer, width));
    EXPECT_EQ(width, utl::TUnitValue<double>(kNano, 80.0));
}

// --- Layer conversions ------------------------------------------------------------

TEST_F(CalibrationTest, LayerPointsRoundTripAcrossPrefixesWithNegativeScale)
{
    const int layer = AddLayer();
    ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(-0.25, 0.5)), geo::CdVec2(100, -20)));

    struct tCase {
        geo::CdVec2 pixel;
        geo::CdVec2 micron;
    } const cases[] = {
        {{0, 0}, {100, -20}},
        {{3, 7}, {99.25, -16.5}},
        {{-8, 2.5}, {102, -18.75}},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.pixel.x);
        UVec lcs;
        ASSERT_TRUE(scope.Pixel2Lcs(layer, c.pixel, lcs));
        EXPECT_EQ(lcs.unit, kMicron);
        ExpectVec(lcs.value, c.micron.x, c.micron.y);

        geo::CdVec2 back;
        ASSERT_TRUE(scope.Lcs2Pixel(layer, lcs, back));
        ExpectVec(back, c.pixel.x, c.pixel.y);
        // The same place given in nanometres and in millimetres.
        ASSERT_TRUE(scope.Lcs2Pixel(layer, UVec(kNano, c.micron * 1000.0), back));
        ExpectVec(back, c.pixel.x, c.pixel.y, 1e-7);
        ASSERT_TRUE(scope.Lcs2Pixel(layer, UVec(kMilli, c.micron * 0.001), back));
        ExpectVec(back, c.pixel.x, c.pixel.y, 1e-7);
    }
}

TEST_F(CalibrationTest, LcsInForeignUnitIsTakenAsLayerUnit)
{
    const int layer = AddLayer();
    ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(-0.25, 0.5)), geo::CdVec2(100, -20)));
    geo::CdVec2 pixel;
    ASSERT_TRUE(scope.Lcs2Pixel(layer, UVec(kSecond, geo::CdVec2(100.5, -19)), pixel));
    ExpectVec(pixel, -2, 2);
}

TEST_F(CalibrationTest, UncalibratedLayerConvertsOnePixelPerPixel)
{
    const int layer = AddLayer();
    UVec lcs;
    ASSERT_TRUE(scope.Pixel2Lcs(layer, geo::CdVec2(3, -4), lcs));
    EXPECT_EQ(lcs, UVec(utl::c_pixel, geo::CdVec2(3, -4)));
    geo::CdVec2 pixel;
    ASSERT_TRUE(scope.Lcs2Pixel(layer, UVec(kMicron, geo::CdVec2(5, 6)), pixel));
    EXPECT_EQ(pixel, geo::CdVec2(5, 6));
}

TEST_F(CalibrationTest, LayerRectanglesNormaliseOnlyTowardsCalibrated)
{
    const int layer = AddLayer();
    ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(-2, 0.5)), geo::CdVec2(10, 0)));

    URect lcs;
    ASSERT_TRUE(scope.Pixel2Lcs(layer, geo::CdRect(1, 2, 4, 6), lcs));
    EXPECT_EQ(lcs.unit, kMicron);
    // x flips under the negative scale: 8 and 2, stored as left 2, right 8.
    EXPECT_EQ(lcs.value, geo::CdRect(2, 1, 8, 3));

    geo::CdRect pixel;
    ASSERT_TRUE(scope.Lcs2Pixel(layer, URect(kMicron, geo::CdRect(2, 1, 8, 3)), pixel));
    // Corners come back in the order given, so left > right here.
    EXPECT_EQ(pixel, geo::CdRect(4, 2, 1, 6));
}

TEST_F(CalibrationTest, ZeroScaleDividesUnguarded)
{
    const int layer = AddLayer();
    ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(0, 1)), geo::CdVec2(0, 0)));
    geo::CdVec2 pixel;
    ASSERT_TRUE(scope.Lcs2Pixel(layer, UVec(kMicron, geo::CdVec2(5, 5)), pixel));
    EXPECT_TRUE(std::isinf(pixel.x));
    EXPECT_EQ(pixel.y, 5.0);
}

// --- Canvas ---------------------------------------------------------------------

TEST_F(CalibrationTest, CanvasConversionsNeedACalibratedCanvas)
{
    UVec canvas(kSecond, geo::CdVec2(1, 2));
    EXPECT_FALSE(scope.Pixel2Canvas(geo::CdVec2(1, 1), canvas));
    EXPECT_EQ(canvas, UVec(kSecond, geo::CdVec2(1, 2)));
    geo::CdVec2 pixel(9, 9);
    EXPECT_FALSE(scope.Canvas2Pixel(UVec(kMicron, geo::CdVec2(1, 1)), pixel));
    EXPECT_EQ(pixel, geo::CdVec2(9, 9));
    URect rect(kSecond, geo::CdRect(1, 2, 3, 4));
    EXPECT_FALSE(scope.Pixel2Canvas(geo::CdRect(0, 0, 5, 5), rect));
    EXPECT_EQ(rect, URect(kSecond, geo::CdRect(1, 2, 3, 4)));
}

TEST_F(CalibrationTest, CanvasPointsConvertBothWaysInAnyPrefix)
{
    ASSERT_TRUE(scope.SetCanvasCoords(UVec(kMicron, geo::CdVec2(0.5, -0.5)), geo::CdVec2(10, 20)));
    // One unit serves both axes.
    geo::CdVec2 o, s;
    utl::CUnit2 units;
    ASSERT_TRUE(Tree().GetImagePlaneCalibration(o, s, units));
    EXPECT_EQ(units, utl::CUnit2(kMicron, kMicron));

    UVec canvas;
    ASSERT_TRUE(scope.Pixel2Canvas(geo::CdVec2(4, 6), canvas));
    EXPECT_EQ(canvas, UVec(kMicron, geo::CdVec2(12, 17)));

    geo::CdVec2 pixel;
    ASSERT_TRUE(scope.Canvas2Pixel(UVec(kMicron, geo::CdVec2(12, 17)), pixel));
    ExpectVec(pixel, 4, 6);
    ASSERT_TRUE(scope.Canvas2Pixel(UVec(kNano, geo::CdVec2(12000, 17000)), pixel));
    ExpectVec(pixel, 4, 6);

    // Canvas2Pixel is strict where Lcs2Pixel is lenient; the failed call
    // leaves the output alone.
    pixel = geo::CdVec2(-1, -1);
    EXPECT_THROW(scope.Canvas2Pixel(UVec(kSecond, geo::CdVec2(12, 17)), pixel), std::invalid_argument);
    EXPECT_EQ(pixel, geo::CdVec2(-1, -1));
}

TEST_F(CalibrationTest, CanvasRectanglesNormaliseOnlyTowardsCalibrated)
{
    ASSERT_TRUE(scope.SetCanvasCoords(UVec(kMicron, geo::CdVec2(0.5, -0.5)), geo::CdVec2(10, 20)));
    URect canvas;
    ASSERT_TRUE(scope.Pixel2Canvas(geo::CdRect(0, 0, 4, 6), canvas));
    EXPECT_EQ(canvas, URect(kMicron, geo::CdRect(10, 17, 12, 20)));

    geo::CdRect pixel;
    ASSERT_TRUE(scope.Canvas2Pixel(URect(kMicron, geo::CdRect(10, 17, 12, 20)), pixel));
    EXPECT_EQ(pixel, geo::CdRect(0, 6, 4, 0));
    EXPECT_THROW(scope.Canvas2Pixel(URect(kSecond, geo::CdRect(10, 17, 12, 20)), pixel), std::invalid_argument);
}

TEST_F(CalibrationTest, CanvasStatePassesThrough)
{
    ASSERT_TRUE(scope.SetCanvasPixelRect(geo::CiRect(0, 0, 640, 480)));
    geo::CiRect pixelRect;
    ASSERT_TRUE(scope.GetCanvasPixelRect(pixelRect));
    EXPECT_EQ(pixelRect, Tree().GetImagePlaneRect());

    img::CCanvasColor back, border;
    back[0] = 1;
    back[2] = 200;
    border[1] = 99;
    ASSERT_TRUE(scope.SetCanvasColors(back, border));
    img::CCanvasColor b2, r2;
    ASSERT_TRUE(scope.GetCanvasColors(b2, r2));
    EXPECT_EQ(b2, back);
    EXPECT_EQ(r2, border);

    // The real-world rectangle is the tree's; both report the same value.
    ASSERT_TRUE(scope.SetCanvasCoordsRect(URect(kMicron, geo::CdRect(0, 0, 64, 48))));
    URect rwc, fromTree;
    EXPECT_EQ(scope.GetCanvasCoordsRect(rwc), Tree().GetImagePlaneRWC(fromTree));
    EXPECT_EQ(rwc, fromTree);
}

TEST_F(CalibrationTest, PlacementIsAddressedByLayerNotPlane)
{
    const int layer = AddLayer();
    const int plane = Tree().FindLayer(layer);
    ASSERT_TRUE(scope.SetCanvasPlacement(layer, geo::CdVec2(5, 6), geo::CdVec2(0.5, 0.25)));
    geo::CdVec2 origin, scale;
    ASSERT_TRUE(Tree().GetLayerCanvasPlacement(plane, origin, scale));
    EXPECT_EQ(origin, geo::CdVec2(5, 6));
    EXPECT_EQ(scale, geo::CdVec2(0.5, 0.25));

    // A layer kept out of the tree has no placement to address.
    const int hidden = AddLayer();
    ASSERT_TRUE(Tree().Remove(Tree().FindLayer(hidden)));
    EXPECT_FALSE(scope.SetCanvasPlacement(hidden, geo::CdVec2(1, 1), geo::CdVec2(1, 1)));
}

// --- Image calibration ----------------------------------------------------------

TEST_F(CalibrationTest, GetCalibrationFailsOnEmptyDocument)
{
    const UVec preset(kSecond, geo::CdVec2(7, 8));
    UVec scale = preset;
    EXPECT_FALSE(scope.GetCalibration(scale));
    EXPECT_EQ(scale, preset);
    utl::TUnitValue<double> x(kSecond, 1), y(kSecond, 2);
    EXPECT_FALSE(scope.GetCalibration(x, y));
    EXPECT_EQ(x, utl::TUnitValue<double>(kSecond, 1));
    EXPECT_EQ(y, utl::TUnitValue<double>(kSecond, 2));

    // A layer outside the tree is not asked; once in the tree it answers.
    const int layer = AddLayer();
    ASSERT_TRUE(Stack(layer).SetOriginScale(geo::CdVec2(), geo::CdVec2(0.5, 0.5), kMicron));
    const int plane = Tree().FindLayer(layer);
    ASSERT_TRUE(Tree().Remove(plane));
    EXPECT_FALSE(scope.GetCalibration(scale));
    EXPECT_EQ(scale, preset);
    ASSERT_GE(Tree().InsertLayer(-1, -3, layer, utl::CIndexN(), -1), 0);
    ASSERT_TRUE(scope.GetCalibration(scale));
    EXPECT_EQ(scale, UVec(kMicron, geo::CdVec2(0.5, 0.5)));
}

TEST_F(CalibrationTest, GetCalibrationPrefersCanvasThenFirstLayer)
{
    const int first = AddLayer();
    const int second = AddLayer();
    ASSERT_TRUE(scope.SetPixelCoords(first, UVec(kMicron, geo::CdVec2(0.5, 0.75)), geo::CdVec2()));
    ASSERT_TRUE(scope.SetPixelCoords(second, UVec(kNano, geo::CdVec2(9, 9)), geo::CdVec2()));
    // y of the first layer in a unit of its own.
    ASSERT_TRUE(Stack(first).SetDimOriginScale(img::eDimY, 0.0, 750.0, kNano));

    UVec scale;
    ASSERT_TRUE(scope.GetCalibration(scale));
    EXPECT_EQ(scale.unit, kMicron);
    EXPECT_EQ(scale.value.x, 0.5);
    utl::TUnitValue<double> x, y;
    ASSERT_TRUE(scope.GetCalibration(x, y));
    EXPECT_EQ(x, utl::TUnitValue<double>(kMicron, 0.5));
    EXPECT_EQ(y.unit, kNano);

    // A canvas calibration, once there, wins; its y unit is its own.
    Tree().SetImagePlaneCalibration(geo::CdVec2(), geo::CdVec2(2, 3), utl::CUnit2(kMilli, kSecond));
    ASSERT_TRUE(scope.GetCalibration(scale));
    EXPECT_EQ(scale, UVec(kMilli, geo::CdVec2(2, 3)));
    ASSERT_TRUE(scope.GetCalibration(x, y));
    EXPECT_EQ(x, utl::TUnitValue<double>(kMilli, 2));
    EXPECT_EQ(y, utl::TUnitValue<double>(kSecond, 3));
}

TEST_F(CalibrationTest, SetCalibrationRescalesCanvasAndLayer)
{
    // The worked example: canvas and layer at 0.5, recalibrated to 1.
    const int layer = AddLayer();
    ASSERT_TRUE(scope.SetCanvasCoords(UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(3, 4)));
    ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(10, 20)));

    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, geo::CdVec2(1, 1))));

    UVec scale;
    geo::CdVec2 origin;
    ASSERT_TRUE(scope.GetCanvasCoords(scale, origin));
    EXPECT_EQ(scale, UVec(kMicron, geo::CdVec2(1, 1)));
    EXPECT_EQ(origin, geo::CdVec2(6, 8));
    ASSERT_TRUE(scope.GetPixelCoords(layer, scale, origin));
    EXPECT_EQ(scale, UVec(kMicron, geo::CdVec2(1, 1)));
    EXPECT_EQ(origin, geo::CdVec2(20, 40));
}

TEST_F(CalibrationTest, SetCalibrationCarriesLayersInOtherPrefixes)
{
    // Canvas in µm, one layer in nm and one in mm: the same physical
    // doubling reaches each in its own prefix, and the new unit is taken.
    const int nanoLayer = AddLayer();
    const int milliLayer = AddLayer();
    ASSERT_TRUE(scope.SetCanvasCoords(UVec(kMicron, geo::CdVec2(0.5, 0.25)), geo::CdVec2(0, 0)));
    ASSERT_TRUE(scope.SetPixelCoords(nanoLayer, UVec(kNano, geo::CdVec2(500, 250)), geo::CdVec2(10000, 20000)));
    ASSERT_TRUE(scope.SetPixelCoords(milliLayer, UVec(kMilli, geo::CdVec2(0.0005, 0.00025)), geo::CdVec2(1, 2)));

    // 1000 nm is twice the canvas's 0.5 µm in x, four times its 0.25 µm in y.
    EXPECT_TRUE(scope.SetCalibration(UVec(kNano, geo::CdVec2(1000, 1000))));

    UVec scale;
    geo::CdVec2 origin;
    ASSERT_TRUE(scope.GetPixelCoords(nanoLayer, scale, origin));
    EXPECT_EQ(scale.unit, kNano);
    ExpectVec(scale.value, 1000, 1000, 1e-6);
    ExpectVec(origin, 20000, 80000, 1e-6);
    ASSERT_TRUE(scope.GetPixelCoords(milliLayer, scale, origin));
    EXPECT_EQ(scale.unit, kNano);
    ExpectVec(scale.value, 1000, 1000, 1e-6);
    ExpectVec(origin, 2e6, 8e6, 1e-3);
}

TEST_F(CalibrationTest, SetCalibrationOnEmptyDocumentSetsOnlyTheCanvas)
{
    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, geo::CdVec2(0.3, 0.4))));
    UVec scale;
    geo::CdVec2 origin(5, 5);
    ASSERT_TRUE(scope.GetCanvasCoords(scale, origin));
    EXPECT_EQ(scale, UVec(kMicron, geo::CdVec2(0.3, 0.4)));
    EXPECT_EQ(origin, geo::CdVec2(0, 0));
    EXPECT_EQ(doc.GetStackCount(), 0u);
}

TEST_F(CalibrationTest, SetCalibrationRewritesOnlyStoredPlacements)
{
    const int stored = AddLayer();
    const int plain = AddLayer();
    const int markedOnly = AddLayer();
    const int unplaced = AddLayer();
    MarkPlacementStored(stored);
    MarkPlacementStored(markedOnly);
    ASSERT_TRUE(scope.SetCanvasCoords(UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(0, 0)));
    for (int layer : {markedOnly, unplaced})
        ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(1, 1)));
    for (int layer : {stored, plain}) {
        ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(1, 1)));
        ASSERT_TRUE(scope.SetCanvasPlacement(layer, geo::CdVec2(3, 5), geo::CdVec2(0.5, 0.5)));
    }

    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, geo::CdVec2(2, 1))));

    geo::CdVec2 origin, scale;
    ASSERT_TRUE(scope.GetCanvasPlacement(stored, origin, scale));
    EXPECT_EQ(origin, geo::CdVec2(12, 10));
    EXPECT_EQ(scale, geo::CdVec2(2, 1));
    ASSERT_TRUE(scope.GetCanvasPlacement(plain, origin, scale));
    EXPECT_EQ(origin, geo::CdVec2(3, 5));
    EXPECT_EQ(scale, geo::CdVec2(0.5, 0.5));
    // Marked as stored but never placed: the placement is written all the
    // same, with the neutral values the layer's record started from.
    ASSERT_TRUE(scope.GetCanvasPlacement(markedOnly, origin, scale));
    EXPECT_EQ(origin, geo::CdVec2(0, 0));
    EXPECT_EQ(scale, geo::CdVec2(1, 1));
    EXPECT_FALSE(scope.GetCanvasPlacement(unplaced, origin, scale));
    // Every layer's own calibration follows the ratio.
    for (int layer : {stored, plain, markedOnly, unplaced}) {
        UVec s;
        geo::CdVec2 o;
        ASSERT_TRUE(scope.GetPixelCoords(layer, s, o));
        EXPECT_EQ(s, UVec(kMicron, geo::CdVec2(2, 1)));
        EXPECT_EQ(o, geo::CdVec2(4, 2));
    }
}

TEST_F(CalibrationTest, SetCalibrationWithoutCanvasTakesStoredPlacement)
{
    // Without a canvas there is no ratio: a stored placement becomes the
    // layer's calibration, a layer without one keeps its own.
    const int stored = AddLayer();
    const int plain = AddLayer();
    const int bare = AddLayer();
    MarkPlacementStored(stored);
    for (int layer : {stored, plain, bare})
        ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(1, 1)));
    for (int layer : {stored, plain})
        ASSERT_TRUE(scope.SetCanvasPlacement(layer, geo::CdVec2(7, 9), geo::CdVec2(0.25, 4)));
    // Placements may exist before the canvas has a calibration; make sure.
    UVec s;
    geo::CdVec2 o;
    ASSERT_FALSE(scope.GetCanvasCoords(s, o));

    EXPECT_TRUE(scope.SetCalibration(UVec(kNano, geo::CdVec2(100, 100))));

    ASSERT_TRUE(scope.GetPixelCoords(stored, s, o));
    EXPECT_EQ(s, UVec(kNano, geo::CdVec2(0.25, 4)));
    EXPECT_EQ(o, geo::CdVec2(7, 9));
    for (int layer : {plain, bare}) {
        SCOPED_TRACE(layer);
        ASSERT_TRUE(scope.GetPixelCoords(layer, s, o));
        EXPECT_EQ(s, UVec(kMicron, geo::CdVec2(0.5, 0.5)));
        EXPECT_EQ(o, geo::CdVec2(1, 1));
    }
    ASSERT_TRUE(scope.GetCanvasCoords(s, o));
    EXPECT_EQ(s, UVec(kNano, geo::CdVec2(100, 100)));
}

TEST_F(CalibrationTest, SetCalibrationPlacesIncompatibleLayerByItsPlacement)
{
    // A layer in time units cannot follow a length calibration; its
    // placement decides where it lies instead.
    const int layer = AddLayer();
    ASSERT_TRUE(scope.SetCanvasCoords(UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(0, 0)));
    ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kSecond, geo::CdVec2(3, 3)), geo::CdVec2(1, 1)));
    ASSERT_TRUE(scope.SetCanvasPlacement(layer, geo::CdVec2(4, 6), geo::CdVec2(0.5, 1)));

    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, geo::CdVec2(1, 2))));

    UVec s;
    geo::CdVec2 o;
    ASSERT_TRUE(scope.GetPixelCoords(layer, s, o));
    EXPECT_EQ(s, UVec(kMicron, geo::CdVec2(1, 4)));
    EXPECT_EQ(o, geo::CdVec2(8, 24));
}

TEST_F(CalibrationTest, SetCalibrationWithoutCanvasGivesIncompatibleLayerTheNewScale)
{
    const int placed = AddLayer();
    const int unplaced = AddLayer();
    for (int layer : {placed, unplaced})
        ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kSecond, geo::CdVec2(3, 3)), geo::CdVec2(1, 1)));
    ASSERT_TRUE(scope.SetCanvasPlacement(placed, geo::CdVec2(4, 6), geo::CdVec2(0.5, 1)));

    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, geo::CdVec2(2, 3))));

    UVec s;
    geo::CdVec2 o;
    ASSERT_TRUE(scope.GetPixelCoords(placed, s, o));
    EXPECT_EQ(s, UVec(kMicron, geo::CdVec2(2, 3)));
    EXPECT_EQ(o, geo::CdVec2(0, 0));
    ASSERT_TRUE(scope.GetPixelCoords(unplaced, s, o));
    EXPECT_EQ(s, UVec(kSecond, geo::CdVec2(3, 3)));
    EXPECT_EQ(o, geo::CdVec2(1, 1));
}

TEST_F(CalibrationTest, TwoUnitCalibrationSplitsAxes)
{
    const int layer = AddLayer();
    // A stack outside the tree, never calibrated, must not gain an x axis.
    const int loose = AddLayer();
    ASSERT_TRUE(Tree().Remove(Tree().FindLayer(loose)));
    ASSERT_TRUE(scope.SetCanvasCoords(UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(2, 2)));
    ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2(2, 2)));

    EXPECT_TRUE(scope.SetCalibration(geo::CdVec2(1, 1), utl::CUnit2(kMicron, kNano)));

    geo::CdVec2 o, s;
    utl::CUnit2 units;
    ASSERT_TRUE(Tree().GetImagePlaneCalibration(o, s, units));
    EXPECT_EQ(units, utl::CUnit2(kMicron, kNano));
    EXPECT_EQ(s, geo::CdVec2(1, 1));
    // x from the first pass (µm, ratio 2); y from the second (nm, ratio 1
    // on top of the first pass).
    EXPECT_EQ(o, geo::CdVec2(4, 4));

    utl::TUnitValue<double> x, y;
    ASSERT_TRUE(scope.GetCalibration(x, y));
    EXPECT_EQ(x, utl::TUnitValue<double>(kMicron, 1));
    EXPECT_EQ(y, utl::TUnitValue<double>(kNano, 1));

    img::CStack stack = Stack(layer);
    double origin = 0, scale = 0;
    utl::CUnit unit;
    ASSERT_TRUE(stack.GetDimOriginScale(img::eDimX, origin, scale, unit));
    EXPECT_EQ(unit, kMicron);
    EXPECT_EQ(scale, 1.0);
    EXPECT_EQ(origin, 4.0);
    ASSERT_TRUE(stack.GetDimOriginScale(img::eDimY, origin, scale, unit));
    EXPECT_EQ(unit, kNano);
    EXPECT_EQ(scale, 1.0);
    EXPECT_FALSE(Stack(loose).GetDimOriginScale(img::eDimX, origin, scale, unit));
}

TEST_F(CalibrationTest, TwoUnitCalibrationWithEqualUnitsIsTheSingleForm)
{
    img::CImg other;
    TestScope otherScope(other);
    for (auto* d : {&doc, &other}) {
        auto frame = mem::CDataFrame::Create(geo::CiVolumeN(geo::CiRect(0, 0, 8, 8)),
                                             img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray),
                                             utl::CPropSet());
        const int id = d->Add(img::CStack(frame));
        img::CDisplProcessFlow(*d, false).InsertLayer(-1, -3, id, utl::CIndexN(), -1);
        img::CDisplProcessFlow(*d, false).SetImagePlaneCalibration(geo::CdVec2(1, 1), geo::CdVec2(0.5, 0.5),
                                                                   utl::CUnit2(kMicron, kMicron));
        d->FindStack(id).SetOriginScale(geo::CdVec2(3, 3), geo::CdVec2(0.5, 0.5), kMicron);
    }
    EXPECT_TRUE(scope.SetCalibration(geo::CdVec2(2, 3), utl::CUnit2(kNano, kNano)));
    EXPECT_TRUE(otherScope.SetCalibration(UVec(kNano, geo::CdVec2(2, 3))));

    UVec s1, s2;
    geo::CdVec2 o1, o2;
    ASSERT_TRUE(scope.GetCanvasCoords(s1, o1));
    ASSERT_TRUE(otherScope.GetCanvasCoords(s2, o2));
    EXPECT_EQ(s1, s2);
    EXPECT_EQ(o1, o2);
    const int layer = doc.FirstStackId();
    ASSERT_TRUE(scope.GetPixelCoords(layer, s1, o1));
    ASSERT_TRUE(otherScope.GetPixelCoords(other.FirstStackId(), s2, o2));
    EXPECT_EQ(s1, s2);
    EXPECT_EQ(o1, o2);
    EXPECT_EQ(s1.unit, kNano);
}

TEST_F(CalibrationTest, OptimizeCanvasByMaskListsEveryLayer)
{
    const int a = AddLayer(10, 10);
    const int b = AddLayer(10, 10);
    ASSERT_TRUE(scope.SetPixelCoords(a, UVec(kMicron, geo::CdVec2(1, 1)), geo::CdVec2(0, 0)));
    ASSERT_TRUE(scope.SetPixelCoords(b, UVec(kMicron, geo::CdVec2(1, 1)), geo::CdVec2(100, 50)));

    // The same fit through an explicit list gives the expected canvas.
    ASSERT_TRUE(scope.OptimizeCanvas(std::vector<int>{a, b}));
    geo::CiRect expected;
    ASSERT_TRUE(scope.GetCanvasPixelRect(expected));
    Tree().SetImagePlaneRect(geo::CiRect());

    EXPECT_TRUE(scope.OptimizeCanvas(-1));
    geo::CiRect fitted;
    ASSERT_TRUE(scope.GetCanvasPixelRect(fitted));
    EXPECT_EQ(fitted, expected);
    EXPECT_FALSE(fitted.IsEmpty());
}

}  // namespace

// Layer and canvas calibration, coordinate conversions and the whole-image
// recalibration, over real documents.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace imgscope_test {
namespace {

using geo::CdRect;
using geo::CdVec2;
using UVec = utl::TUnitValue<geo::CdVec2>;
using URect = utl::TUnitValue<geo::CdRect>;

class CalibrationTest : public ::testing::Test {
protected:
    // A gray 16 × 12 layer with an entry at the end of the root, or without.
    int AddLayer() { return AddRasterLayer(doc, {16, 12}); }
    int AddLooseLayer() { return AddRasterLayer(doc, {16, 12}, /*withEntry*/ false); }

    // The document's own layer tree, as every scope of it sees it.
    img::CDisplProcessFlow Tree() { return img::CDisplProcessFlow(doc, false); }
    img::CStack Stack(int layer) { return doc.FindStack(layer); }

    void Calibrate(int layer, utl::CUnit unit, CdVec2 scale, CdVec2 origin)
    {
        ASSERT_TRUE(scope.SetPixelCoords(layer, UVec(unit, scale), origin));
    }
    void CalibrateCanvas(utl::CUnit unit, CdVec2 scale, CdVec2 origin)
    {
        ASSERT_TRUE(scope.SetCanvasCoords(UVec(unit, scale), origin));
    }
    // Marks the layer's placement as stored state of its own (2006, 2007).
    void MarkPlacementStored(int layer)
    {
        const int plane = Tree().FindLayer(layer);
        for (int id : {2006, 2007})
            ASSERT_TRUE(Tree().SetProperty(plane, -1, id, mem::CBin(1)));
    }

    void ExpectCoords(int layer, utl::CUnit unit, CdVec2 scale, CdVec2 origin, double tolerance = 0.0)
    {
        UVec s;
        CdVec2 o;
        ASSERT_TRUE(scope.GetPixelCoords(layer, s, o));
        EXPECT_EQ(s.unit, unit);
        ExpectNear(s.value, scale, tolerance);
        ExpectNear(o, origin, tolerance);
    }
    void ExpectCanvas(utl::CUnit unit, CdVec2 scale, CdVec2 origin)
    {
        UVec s;
        CdVec2 o;
        EXPECT_TRUE(scope.GetCanvasCoords(s, o) && s == UVec(unit, scale));
        EXPECT_EQ(o, origin);
    }
    void ExpectPlacement(int layer, CdVec2 origin, CdVec2 scale)
    {
        CdVec2 o, s;
        EXPECT_TRUE(scope.GetCanvasPlacement(layer, o, s) && o == origin);
        EXPECT_EQ(s, scale);
    }
    static void ExpectNear(CdVec2 actual, CdVec2 expected, double tolerance = 1e-9)
    {
        EXPECT_NEAR(actual.x, expected.x, tolerance);
        EXPECT_NEAR(actual.y, expected.y, tolerance);
    }

    img::CImg doc;
    TestScope scope{doc};
};

// --- The layer's own calibration ------------------------------------------------

TEST_F(CalibrationTest, UnresolvedLayerFailsWithOutputsUntouched)
{
    const int layer = AddLayer();
    const int plane = Tree().FindLayer(layer);
    ASSERT_NE(plane, layer);  // the numberings differ, so a mix-up shows
    const int loose = AddLooseLayer();  // a stack, but no tree entry
    const UVec preset(kSecond, CdVec2(7, 8));
    for (int bad : {-1, 9999, plane, loose}) {
        SCOPED_TRACE(bad);
        UVec scale = preset, lcs = preset;
        CdVec2 origin(3, 4), pixel(3, 4);
        CdRect rect(1, 2, 3, 4);
        if (bad != loose) {
            EXPECT_FALSE(scope.GetPixelCoords(bad, scale, origin));
            EXPECT_FALSE(scope.SetPixelSize(bad, kMicron, 1.0, 1.0));
            EXPECT_FALSE(scope.Pixel2Lcs(bad, CdVec2(1, 1), lcs));
            EXPECT_FALSE(scope.Lcs2Pixel(bad, UVec(kMicron, CdVec2(1, 1)), pixel));
            EXPECT_FALSE(scope.Lcs2Pixel(bad, URect(kMicron, CdRect(0, 0, 5, 5)), rect));
        }
        EXPECT_FALSE(scope.GetCanvasPlacement(bad, origin, origin));
        EXPECT_FALSE(scope.SetCanvasPlacement(bad, CdVec2(1, 1), CdVec2(1, 1)));
        EXPECT_EQ(scale, preset);
        EXPECT_EQ(lcs, preset);
        EXPECT_EQ(origin, CdVec2(3, 4));
        EXPECT_EQ(pixel, CdVec2(3, 4));
        EXPECT_EQ(rect, CdRect(1, 2, 3, 4));
    }
    CdVec2 o, s;
    utl::CUnit u;
    EXPECT_FALSE(Stack(layer).GetOriginScale(o, s, u));  // nothing was written
}

TEST_F(CalibrationTest, SetPixelSizeTreatsZeroHeightAsSquare)
{
    const int layer = AddLayer();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double height : {0.0, -0.0, 4.0, nan}) {
        SCOPED_TRACE(height);
        ASSERT_TRUE(scope.SetPixelSize(layer, kMicron, 2.5, height));
        utl::CUnit unit;
        double w = 0, h = 0;
        EXPECT_TRUE(scope.GetPixelSize(layer, unit, w, h) && unit == kMicron);
        EXPECT_EQ(w, 2.5);
        if (std::isnan(height))
            EXPECT_TRUE(std::isnan(h));
        else
            EXPECT_EQ(h, height == 0.0 ? 2.5 : height);
    }
}

TEST_F(CalibrationTest, UncalibratedStackAnswersCoordsButNoPixelSize)
{
    const int layer = AddLayer();
    const UVec preset(kSecond, CdVec2(7, 8));
    UVec scale = preset;
    CdVec2 origin(3, 4);
    EXPECT_TRUE(scope.GetPixelCoords(layer, scale, origin));
    EXPECT_EQ(scale, preset);  // the stack had nothing to give
    EXPECT_EQ(origin, CdVec2(3, 4));
    utl::TUnitValue<double> width(kSecond, 5.0);
    EXPECT_FALSE(scope.GetPixelWidth(layer, width));
    EXPECT_EQ(width, utl::TUnitValue<double>(kSecond, 5.0));
    EXPECT_FALSE(scope.GetPixelOrigin(layer, origin));

    // The conversions take it as one pixel per pixel.
    UVec lcs;
    EXPECT_TRUE(scope.Pixel2Lcs(layer, CdVec2(3, -4), lcs) && lcs == UVec(utl::c_pixel, CdVec2(3, -4)));
    CdVec2 pixel;
    EXPECT_TRUE(scope.Lcs2Pixel(layer, UVec(kMicron, CdVec2(5, 6)), pixel) && pixel == CdVec2(5, 6));
}

TEST_F(CalibrationTest, PixelCoordsRectReportsTrueWhateverTheStackSays)
{
    const int layer = AddLayer();  // 16 × 12 pixels
    URect rect(kSecond, CdRect(1, 2, 3, 4));
    EXPECT_TRUE(scope.GetPixelCoordsRect(layer, rect));  // uncalibrated: nothing to give
    EXPECT_EQ(rect, URect(kSecond, CdRect(1, 2, 3, 4)));
    EXPECT_TRUE(scope.SetPixelCoordsRect(layer, URect(kMicron, CdRect(5, 5, 5, 9))));  // refused: empty
    EXPECT_TRUE(scope.GetPixelCoordsRect(layer, rect));
    EXPECT_EQ(rect.unit, kSecond);

    ASSERT_TRUE(scope.SetPixelCoordsRect(layer, URect(kMicron, CdRect(10, 20, 18, 26))));
    ExpectCoords(layer, kMicron, CdVec2(0.5, 0.5), CdVec2(10, 20));
    EXPECT_TRUE(scope.GetPixelCoordsRect(layer, rect) && rect == URect(kMicron, CdRect(10, 20, 18, 26)));
}

// --- Conversions ------------------------------------------------------------------

TEST_F(CalibrationTest, LayerPointsRoundTripAcrossPrefixesWithNegativeScale)
{
    const int layer = AddLayer();
    Calibrate(layer, kMicron, CdVec2(-0.25, 0.5), CdVec2(100, -20));
    struct tCase {
        CdVec2 pixel, micron;
    } const cases[] = {{{0, 0}, {100, -20}}, {{3, 7}, {99.25, -16.5}}, {{-8, 2.5}, {102, -18.75}}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.pixel.x);
        UVec lcs;
        ASSERT_TRUE(scope.Pixel2Lcs(layer, c.pixel, lcs));
        EXPECT_EQ(lcs.unit, kMicron);
        ExpectNear(lcs.value, c.micron);
        CdVec2 back;
        for (UVec v : {lcs, UVec(kNano, c.micron * 1000.0), UVec(kMilli, c.micron * 0.001)}) {
            ASSERT_TRUE(scope.Lcs2Pixel(layer, v, back));
            ExpectNear(back, c.pixel, 1e-7);
        }
    }
    // A unit the layer cannot take: the numbers are read in the layer's unit.
    CdVec2 pixel;
    ASSERT_TRUE(scope.Lcs2Pixel(layer, UVec(kSecond, CdVec2(100.5, -19)), pixel));
    ExpectNear(pixel, CdVec2(-2, 2));
    // A zero scale is not guarded against.
    Calibrate(layer, kMicron, CdVec2(0, 1), CdVec2());
    ASSERT_TRUE(scope.Lcs2Pixel(layer, UVec(kMicron, CdVec2(5, 5)), pixel));
    EXPECT_TRUE(std::isinf(pixel.x));
}

TEST_F(CalibrationTest, LayerRectanglesNormaliseOnlyTowardsCalibrated)
{
    const int layer = AddLayer();
    Calibrate(layer, kMicron, CdVec2(-2, 0.5), CdVec2(10, 0));
    URect lcs;
    ASSERT_TRUE(scope.Pixel2Lcs(layer, CdRect(1, 2, 4, 6), lcs));
    // x flips under the negative scale: 8 and 2, stored as left 2, right 8.
    EXPECT_EQ(lcs, URect(kMicron, CdRect(2, 1, 8, 3)));
    CdRect pixel;
    ASSERT_TRUE(scope.Lcs2Pixel(layer, lcs, pixel));
    EXPECT_EQ(pixel, CdRect(4, 2, 1, 6));  // corners in the order given
}

TEST_F(CalibrationTest, CanvasConversionsAreStrictAboutUnits)
{
    UVec canvas(kSecond, CdVec2(1, 2));
    CdVec2 pixel(9, 9);
    EXPECT_FALSE(scope.Pixel2Canvas(CdVec2(1, 1), canvas));
    EXPECT_FALSE(scope.Canvas2Pixel(UVec(kMicron, CdVec2(1, 1)), pixel));
    EXPECT_EQ(canvas, UVec(kSecond, CdVec2(1, 2)));
    EXPECT_EQ(pixel, CdVec2(9, 9));

    CalibrateCanvas(kMicron, CdVec2(0.5, -0.5), CdVec2(10, 20));
    CdVec2 o, s;
    utl::CUnit2 units;
    ASSERT_TRUE(Tree().GetImagePlaneCalibration(o, s, units));
    EXPECT_EQ(units, utl::CUnit2(kMicron, kMicron));  // one unit serves both axes

    EXPECT_TRUE(scope.Pixel2Canvas(CdVec2(4, 6), canvas) && canvas == UVec(kMicron, CdVec2(12, 17)));
    for (UVec v : {canvas, UVec(kNano, CdVec2(12000, 17000))}) {
        ASSERT_TRUE(scope.Canvas2Pixel(v, pixel));
        ExpectNear(pixel, CdVec2(4, 6));
    }
    pixel = CdVec2(-1, -1);
    EXPECT_THROW(scope.Canvas2Pixel(UVec(kSecond, CdVec2(12, 17)), pixel), std::invalid_argument);
    EXPECT_EQ(pixel, CdVec2(-1, -1));

    URect rect;
    EXPECT_TRUE(scope.Pixel2Canvas(CdRect(0, 0, 4, 6), rect) && rect == URect(kMicron, CdRect(10, 17, 12, 20)));
    CdRect back;
    EXPECT_TRUE(scope.Canvas2Pixel(rect, back) && back == CdRect(0, 6, 4, 0));
    EXPECT_THROW(scope.Canvas2Pixel(URect(kSecond, rect.value), back), std::invalid_argument);
}

// --- Image calibration ----------------------------------------------------------

TEST_F(CalibrationTest, GetCalibrationPrefersCanvasThenFirstLayerInTree)
{
    const UVec preset(kSecond, CdVec2(7, 8));
    UVec scale = preset;
    utl::TUnitValue<double> x(kSecond, 1), y(kSecond, 2);
    const int loose = AddLooseLayer();
    Calibrate(loose, kMilli, CdVec2(1, 1), CdVec2());
    EXPECT_FALSE(scope.GetCalibration(scale));
    EXPECT_FALSE(scope.GetCalibration(x, y));
    EXPECT_EQ(scale, preset);
    EXPECT_EQ(x, utl::TUnitValue<double>(kSecond, 1));
    EXPECT_EQ(y, utl::TUnitValue<double>(kSecond, 2));

    const int first = AddLayer();
    Calibrate(first, kMicron, CdVec2(0.5, 0.75), CdVec2());
    EXPECT_TRUE(scope.GetCalibration(scale) && scale == UVec(kMicron, CdVec2(0.5, 0.75)));
    Calibrate(AddLayer(), kNano, CdVec2(9, 9), CdVec2());
    ASSERT_TRUE(Stack(first).SetDimOriginScale(img::eDimY, 0.0, 750.0, kNano));  // y in a unit of its own
    EXPECT_TRUE(scope.GetCalibration(x, y) && x == utl::TUnitValue<double>(kMicron, 0.5));
    EXPECT_EQ(y.unit, kNano);

    Tree().SetImagePlaneCalibration(CdVec2(), CdVec2(2, 3), utl::CUnit2(kMilli, kSecond));
    EXPECT_TRUE(scope.GetCalibration(scale) && scale == UVec(kMilli, CdVec2(2, 3)));
    EXPECT_TRUE(scope.GetCalibration(x, y) && x == utl::TUnitValue<double>(kMilli, 2));
    EXPECT_EQ(y, utl::TUnitValue<double>(kSecond, 3));
}

TEST_F(CalibrationTest, SetCalibrationRescalesCanvasAndLayersByOneRatio)
{
    // An empty document: the canvas alone, nothing added.
    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, CdVec2(0.3, 0.4))));
    ExpectCanvas(kMicron, CdVec2(0.3, 0.4), CdVec2(0, 0));
    EXPECT_EQ(doc.GetStackCount(), 0u);

    // A layer in an incompatible unit goes by its placement.
    const int layer = AddLayer(), foreign = AddLayer();
    CalibrateCanvas(kMicron, CdVec2(0.5, 0.5), CdVec2(3, 4));
    Calibrate(layer, kMicron, CdVec2(0.5, 0.5), CdVec2(10, 20));
    Calibrate(foreign, kSecond, CdVec2(3, 3), CdVec2(1, 1));
    ASSERT_TRUE(scope.SetCanvasPlacement(foreign, CdVec2(4, 6), CdVec2(0.5, 1)));
    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, CdVec2(1, 2))));  // ratio (2, 4)
    ExpectCanvas(kMicron, CdVec2(1, 2), CdVec2(6, 16));
    ExpectCoords(layer, kMicron, CdVec2(1, 2), CdVec2(20, 80));
    ExpectCoords(foreign, kMicron, CdVec2(1, 4), CdVec2(8, 24));
}

TEST_F(CalibrationTest, SetCalibrationRefusesScalesNoLaterCallCouldUndo)
{
    const int layer = AddLayer();
    CalibrateCanvas(kMicron, CdVec2(0.5, 0.5), CdVec2(3, 4));
    Calibrate(layer, kMicron, CdVec2(0.5, 0.5), CdVec2(10, 20));
    ASSERT_TRUE(scope.SetCanvasPlacement(layer, CdVec2(10, 20), CdVec2(0.5, 0.5)));
    MarkPlacementStored(layer);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (CdVec2 const bad : {CdVec2(0, 1), CdVec2(1, 0), CdVec2(nan, 1), CdVec2(1, nan), CdVec2(inf, 1),
                             CdVec2(1, -inf)}) {
        SCOPED_TRACE(testing::Message() << bad.x << ", " << bad.y);
        EXPECT_FALSE(scope.SetCalibration(UVec(kMicron, bad)));
        EXPECT_FALSE(scope.SetCalibration(bad, utl::CUnit2(kMicron, kNano)));
        ExpectCanvas(kMicron, CdVec2(0.5, 0.5), CdVec2(3, 4));
        ExpectCoords(layer, kMicron, CdVec2(0.5, 0.5), CdVec2(10, 20));
        ExpectPlacement(layer, CdVec2(10, 20), CdVec2(0.5, 0.5));
    }
    // A negative scale mirrors, which a later call undoes: it is taken.
    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, CdVec2(-1, 1))));
    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, CdVec2(0.5, 0.5))));
    ExpectCoords(layer, kMicron, CdVec2(0.5, 0.5), CdVec2(10, 20));
}

TEST_F(CalibrationTest, InvertedCanvasPixelRectangleIsRefused)
{
    ASSERT_TRUE(scope.SetCanvasPixelRect(geo::CiRect(0, 0, 40, 30)));
    EXPECT_FALSE(scope.SetCanvasPixelRect(geo::CiRect(40, 0, 0, 30)));
    EXPECT_FALSE(scope.SetCanvasPixelRect(geo::CiRect(0, 30, 40, 0)));
    Tree().SetImagePlaneRect(geo::CiRect(10, 10, 5, 5));
    geo::CiRect rect;
    EXPECT_TRUE(scope.GetCanvasPixelRect(rect) && rect == geo::CiRect(0, 0, 40, 30));
    EXPECT_TRUE(scope.SetCanvasPixelRect(geo::CiRect(0, 0, 0, 30))) << "flat is empty, not inverted";
}

TEST_F(CalibrationTest, SetCalibrationCarriesLayersInOtherPrefixes)
{
    // 1000 nm is twice the canvas's 0.5 µm in x, four times its 0.25 µm in
    // y; layers in nm and in mm follow physically and take the new unit.
    const int nanoLayer = AddLayer();
    const int milliLayer = AddLayer();
    CalibrateCanvas(kMicron, CdVec2(0.5, 0.25), CdVec2());
    Calibrate(nanoLayer, kNano, CdVec2(500, 250), CdVec2(10000, 20000));
    Calibrate(milliLayer, kMilli, CdVec2(0.0005, 0.00025), CdVec2(1, 2));
    EXPECT_TRUE(scope.SetCalibration(UVec(kNano, CdVec2(1000, 1000))));
    ExpectCanvas(kNano, CdVec2(1000, 1000), CdVec2());
    ExpectCoords(nanoLayer, kNano, CdVec2(1000, 1000), CdVec2(20000, 80000), 1e-6);
    ExpectCoords(milliLayer, kNano, CdVec2(1000, 1000), CdVec2(2e6, 8e6), 1e-3);
}

TEST_F(CalibrationTest, SetCalibrationRewritesOnlyStoredPlacements)
{
    const int stored = AddLayer(), plain = AddLayer(), markedOnly = AddLayer(), unplaced = AddLayer();
    MarkPlacementStored(stored);
    MarkPlacementStored(markedOnly);
    CalibrateCanvas(kMicron, CdVec2(0.5, 0.5), CdVec2());
    for (int layer : {stored, plain, markedOnly, unplaced})
        Calibrate(layer, kMicron, CdVec2(0.5, 0.5), CdVec2(1, 1));
    for (int layer : {stored, plain})
        ASSERT_TRUE(scope.SetCanvasPlacement(layer, CdVec2(3, 5), CdVec2(0.5, 0.5)));

    EXPECT_TRUE(scope.SetCalibration(UVec(kMicron, CdVec2(2, 1))));  // ratio (4, 2)

    ExpectPlacement(stored, CdVec2(12, 10), CdVec2(2, 1));
    ExpectPlacement(plain, CdVec2(3, 5), CdVec2(0.5, 0.5));
    // Marked but never placed: written all the same, with the neutral values
    // the layer's record started from.
    ExpectPlacement(markedOnly, CdVec2(0, 0), CdVec2(1, 1));
    CdVec2 o, s;
    EXPECT_FALSE(scope.GetCanvasPlacement(unplaced, o, s));
    for (int layer : {stored, plain, markedOnly, unplaced})
        ExpectCoords(layer, kMicron, CdVec2(2, 1), CdVec2(4, 2));
}

TEST_F(CalibrationTest, SetCalibrationWithoutCanvasFollowsPlacements)
{
    // No canvas, so no ratio. A stored placement becomes the calibration of
    // a compatible layer; an incompatible layer with any placement takes the
    // new scale at the origin; a layer without placement keeps its own.
    const int stored = AddLayer(), plain = AddLayer(), bare = AddLayer();
    const int foreignPlaced = AddLayer(), foreignBare = AddLayer();
    MarkPlacementStored(stored);
    for (int layer : {stored, plain, bare})
        Calibrate(layer, kMicron, CdVec2(0.5, 0.5), CdVec2(1, 1));
    for (int layer : {foreignPlaced, foreignBare})
        Calibrate(layer, kSecond, CdVec2(3, 3), CdVec2(1, 1));
    for (int layer : {stored, plain, foreignPlaced})
        ASSERT_TRUE(scope.SetCanvasPlacement(layer, CdVec2(7, 9), CdVec2(0.25, 4)));
    UVec canvasScale;
    CdVec2 canvasOrigin;
    ASSERT_FALSE(scope.GetCanvasCoords(canvasScale, canvasOrigin));

    EXPECT_TRUE(scope.SetCalibration(UVec(kNano, CdVec2(100, 200))));

    ExpectCoords(stored, kNano, CdVec2(0.25, 4), CdVec2(7, 9));
    ExpectCoords(plain, kMicron, CdVec2(0.5, 0.5), CdVec2(1, 1));
    ExpectCoords(bare, kMicron, CdVec2(0.5, 0.5), CdVec2(1, 1));
    ExpectCoords(foreignPlaced, kNano, CdVec2(100, 200), CdVec2(0, 0));
    ExpectCoords(foreignBare, kSecond, CdVec2(3, 3), CdVec2(1, 1));
    ExpectCanvas(kNano, CdVec2(100, 200), CdVec2());
}

TEST_F(CalibrationTest, TwoUnitCalibrationSplitsAxes)
{
    const int layer = AddLayer();
    const int loose = AddLooseLayer();  // never calibrated: must not gain an x axis
    CalibrateCanvas(kMicron, CdVec2(0.5, 0.5), CdVec2(2, 2));
    Calibrate(layer, kMicron, CdVec2(0.5, 0.5), CdVec2(2, 2));

    EXPECT_TRUE(scope.SetCalibration(CdVec2(1, 1), utl::CUnit2(kMicron, kNano)));

    // x from the first pass (µm, ratio 2), y from the second (nm, ratio 1).
    CdVec2 o, s;
    utl::CUnit2 units;
    EXPECT_TRUE(Tree().GetImagePlaneCalibration(o, s, units) && units == utl::CUnit2(kMicron, kNano));
    EXPECT_EQ(s, CdVec2(1, 1));
    EXPECT_EQ(o, CdVec2(4, 4));
    utl::TUnitValue<double> x, y;
    EXPECT_TRUE(scope.GetCalibration(x, y) && x == utl::TUnitValue<double>(kMicron, 1));
    EXPECT_EQ(y, utl::TUnitValue<double>(kNano, 1));

    double origin = 0, scale = 0;
    utl::CUnit unit;
    EXPECT_TRUE(Stack(layer).GetDimOriginScale(img::eDimX, origin, scale, unit) && unit == kMicron);
    EXPECT_EQ(scale, 1.0);
    EXPECT_EQ(origin, 4.0);
    EXPECT_TRUE(Stack(layer).GetDimOriginScale(img::eDimY, origin, scale, unit) && unit == kNano);
    EXPECT_EQ(scale, 1.0);
    EXPECT_FALSE(Stack(loose).GetDimOriginScale(img::eDimX, origin, scale, unit));
}

TEST_F(CalibrationTest, OptimizeCanvasByMaskFitsEveryLayer)
{
    const int a = AddLayer(), b = AddLayer();
    Calibrate(a, kMicron, CdVec2(1, 1), CdVec2(0, 0));
    Calibrate(b, kMicron, CdVec2(1, 1), CdVec2(100, 50));
    ASSERT_TRUE(scope.OptimizeCanvas(std::vector<int>{a, b}));
    geo::CiRect expected, fitted;
    ASSERT_TRUE(scope.GetCanvasPixelRect(expected));
    Tree().SetImagePlaneRect(geo::CiRect());

    EXPECT_TRUE(scope.OptimizeCanvas(-1));
    EXPECT_TRUE(scope.GetCanvasPixelRect(fitted) && fitted == expected);
    EXPECT_FALSE(fitted.IsEmpty());
}

}  // namespace
}  // namespace imgscope_test

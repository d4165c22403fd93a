// Mosaic layers: creation, transparency of first and later layers, paste
// with its clipping and mask, deletion with the magnification
// group, the calibration that follows the active layer, display limits.
#include "imgscope/contracts/document/mask.h"
#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/typed/picture.h"

#include "mosaic_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace {

using namespace mosaic_test;

class MosaicLayersTest : public ::testing::Test, public MosaicFixture {
protected:
    boost::shared_ptr<img::CMask> Mask() { return core.GetTranspMask(Active()); }
    int MaskAt(int x, int y) { return Mask()->GetValue(geo::CiVec2(x, y)); }
    // A 20x layer whose device set holds its magnification.
    static tLayer TwentyX()
    {
        tLayer layer;
        layer.magnification = 20.0;
        layer.props = DeviceMagnification(20.0);
        return layer;
    }
    utl::TUnitValue<geo::CdRect> RectOf(int layer)
    {
        utl::TUnitValue<geo::CdRect> rect;
        EXPECT_TRUE(core.GetPixelCoordsRect(layer, rect));
        return rect;
    }
};

TEST_F(MosaicLayersTest, FirstLayerIsOpaqueWhenAskedOrAnOverviewOrLabelAndLaterOnesGetAMask)
{
    struct tCase {
        bool opaqueFirst;
        img::EStackType type;
        bool firstOpaque;
    };
    for (tCase c : {tCase{true, img::eStackPicture, true}, {false, img::eStackOverview, true},
                    {false, img::eStackLabel, true}, {false, img::eStackPicture, false},
                    {false, img::eStackPicture2, false}}) {
        SCOPED_TRACE(static_cast<int>(c.type));
        img::CImg fresh;
        const Mosaic m(img::CreateMosaikImage(&fresh));
        imgscope_test::TestScope view(fresh);
        tLayer layer;
        layer.opaqueFirst = c.opaqueFirst;
        layer.type = c.type;
        for (bool later : {false, true}) {
            ASSERT_TRUE(layer.CreateIn(*m));
            const int id = m->GetActiveLayerID();
            const auto mask = view.GetTranspMask(id);
            EXPECT_EQ(mask == nullptr, !later && c.firstOpaque);
            if (mask) {
                EXPECT_EQ(mask->GetBoundary(), geo::CiRect(0, 0, 1024, 1024));
                EXPECT_EQ(mask->GetValue(geo::CiVec2(1023, 1023)), 0);
            }
            EXPECT_EQ(fresh.FindStack(id).GetPixelInfo(0), kGray16);  // no alpha while masks are chosen
        }
    }
}

TEST_F(MosaicLayersTest, CreatedLayerCarriesFlagsRolePropertiesCalibrationAndTileLayout)
{
    tLayer layer;
    layer.info = kRgb8;
    layer.type = img::eStackPicture3;
    layer.props.SetValue(7001, CString(L"slide 4"));
    layer.phys = MicronRect(100, 200, 612, 712);
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    const img::CStack stack = ActiveStack();
    ASSERT_TRUE(stack.IsValid());

    int flags = 0;
    ASSERT_TRUE(core.GetLayerFlags(Active(), flags));
    EXPECT_EQ(flags, 0x189);  // visible, selected, XY-fixed, raster
    mem::CBin bin;
    ASSERT_TRUE(stack.GetProperty(2074, bin));
    EXPECT_EQ(bin.GetOr(-1), 64);
    EXPECT_TRUE(stack.PropertyExists(7001));
    EXPECT_EQ(RectOf(Active()), layer.phys);

    const auto frame = stack.GetDataFrame(0);
    EXPECT_EQ(frame->GetBoundary(0), layer.volume);
    EXPECT_EQ(frame->GetTileSize(), geo::CiVec2(512, 512));
    utl::CPropSet const& creation = frame->GetCreationProperties();
    EXPECT_EQ(creation.AccessProperty(20016)->GetOr(0), 2);
    EXPECT_EQ(creation.AccessProperty(20017)->GetOr(0), 95);
    EXPECT_EQ(creation.AccessProperty(20004)->GetOr(0), -1);
    EXPECT_EQ(creation.AccessProperty(20015)->GetOr(0), 5);
    EXPECT_EQ(creation.AccessProperty(20002)->GetOr(geo::CiVec3()), geo::CiVec3(512, 512, 1));
    EXPECT_EQ(frame->GetAlign(), mem::eAlign32);
}

TEST_F(MosaicLayersTest, StacksKeepPlaneDimensionsWhenDeeperThanOnePlaneOrOfMoreDimensions)
{
    struct tCase {
        geo::CiVolumeN volume;
        int order;
    };
    for (tCase c : {tCase{Volume(64, 64), 0}, {Volume(64, 64, 3), 1},
                    {geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0, 0}, geo::CiVecN{64, 64, 1, 1}), 2}}) {
        tLayer layer;
        layer.volume = c.volume;
        ASSERT_TRUE(layer.CreateIn(*mosaic));
        EXPECT_EQ(ActiveStack().DimCount(0), c.order);
    }
}

TEST_F(MosaicLayersTest, FailedCreationLeavesNoActiveOrFocusLayerAndNothingAdded)
{
    const int picture = AddTypedLayer(doc, 0, 1);
    const int focus = AddTypedLayer(doc, 4, 1);
    const Mosaic opened(img::CreateMosaikImage(&doc));
    ASSERT_EQ(opened->GetActiveLayerID(), picture);
    tLayer layer;
    layer.info = img::CPixelInfo();
    ASSERT_FALSE(layer.CreateIn(*opened));
    layer.info = kGray8;
    layer.volume = Volume(mem::kMaxExtent + 1, 8);
    ASSERT_FALSE(layer.CreateIn(*opened));
    EXPECT_EQ(opened->GetActiveLayerID(), -1);
    EXPECT_EQ(opened->GetLayerCount(), 2u);
    // Neither the active nor the focus layer is remembered any more.
    EXPECT_FALSE(opened->DelCurrentLayers());
    EXPECT_TRUE(doc.FindStack(focus).IsValid());
    EXPECT_TRUE(doc.FindStack(picture).IsValid());
}

// ---------------------------------------------------------------- paste

TEST_F(MosaicLayersTest, RefusedPastesChangeNeitherPixelsNorMask)
{
    ASSERT_TRUE(tLayer().CreateIn(*mosaic));  // opaque or not, the layer below
    tLayer layer;
    layer.volume = Volume(1024, 4096);
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    const auto frame = mosaic->GetActiveDataFrame();
    const auto tile = RampTile(256, 256, kGray16, 3);
    const std::uint64_t before = frame->GetModificationCount();
    EXPECT_FALSE(mosaic->Paste(tile, geo::CiVecN{1024, 0, 0}));   // right of the layer
    EXPECT_FALSE(mosaic->Paste(tile, geo::CiVecN{0, -256, 0}));   // just above it
    EXPECT_FALSE(mosaic->Paste(RampTile(8, 8, kRgb8, 1), geo::CiVecN{0, 0, 0}));
    EXPECT_FALSE(mosaic->Paste(nullptr, geo::CiVecN{0, 0, 0}));
    EXPECT_FALSE(mosaic->Paste(tile, geo::CiVecN{INT_MAX - 10, INT_MAX - 10, 0}));
    EXPECT_FALSE(mosaic->Paste(tile, geo::CiVecN{INT_MIN, INT_MIN, INT_MIN}));
    EXPECT_FALSE(mosaic->Paste(tile, geo::CiVecN{0, 0, 0, 0}));  // more dimensions than the layer
    EXPECT_EQ(frame->GetModificationCount(), before);
    EXPECT_EQ(MaskAt(0, 0), 0);
    EXPECT_EQ(MaskAt(1023, 0), 0);
    const Mosaic unbound(img::CreateMosaikImage());
    EXPECT_FALSE(unbound->Paste(tile, geo::CiVecN{0, 0, 0}));
}

TEST_F(MosaicLayersTest, ThreeDimensionalPositionsPastePlaneZOnlyAndShortOnesAreLeftToTheCopy)
{
    tLayer layer;
    layer.info = kRgb8;
    layer.volume = Volume(600, 400, 3);
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    const auto frame = mosaic->GetActiveDataFrame();
    const auto tile = RampTile(100, 100, kRgb8, 5);
    const std::vector<std::uint8_t> empty{0, 0, 0};

    ASSERT_TRUE(mosaic->Paste(tile, geo::CiVecN{550, 10, 2}));
    EXPECT_EQ(PixelAt(*frame, 599, 10, {2}), PixelAt(*tile, 49, 0));
    EXPECT_EQ(PixelAt(*frame, 599, 10, {0}), empty);
    EXPECT_EQ(PixelAt(*frame, 599, 10, {1}), empty);
    EXPECT_EQ(MaskAt(599, 109), 255);
    EXPECT_EQ(MaskAt(549, 109), 0);
    EXPECT_FALSE(mosaic->Paste(tile, geo::CiVecN{0, 0, 3}));  // no plane 3

    // (x, y) on a layer of three dimensions: not clipped here; the copy
    // clips, into the first plane.
    ASSERT_TRUE(mosaic->Paste(tile, geo::CiVecN{-30, 350}));
    EXPECT_EQ(PixelAt(*frame, 0, 350, {0}), PixelAt(*tile, 30, 0));
    EXPECT_EQ(PixelAt(*frame, 69, 399, {0}), PixelAt(*tile, 99, 49));
    EXPECT_EQ(MaskAt(69, 399), 255);
    EXPECT_EQ(MaskAt(70, 399), 0);
}

TEST_F(MosaicLayersTest, PixelsAndMaskFollowLargePastesAcrossTileBordersAndEdgesLikeAPlainReference)
{
    for (img::CPixelInfo const& info : {kRgb8, kGray16}) {
        SCOPED_TRACE(info.Size());
        tLayer layer;
        layer.info = info;
        layer.volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{100, 50, 0}, geo::CiVecN{1500, 1300, 1});
        ASSERT_TRUE(layer.CreateIn(*mosaic));
        const auto frame = mosaic->GetActiveDataFrame();
        const auto maskFrame = Mask()->GetPixFrame()->GetDataFrame();
        const int px = info.Size();
        std::vector<std::uint8_t> pixels(std::size_t(1500) * 1300 * px, 0), mask(std::size_t(1500) * 1300, 0);
        // A tile whose own origin is (ox, oy) lands with that pixel at (x, y).
        const auto paste = [&](int x, int y, int w, int h, int ox = 0, int oy = 0) {
            const auto tile = RampTile(w, h, info, x + y, geo::CiVecN{ox, oy});
            ASSERT_TRUE(mosaic->Paste(tile, geo::CiVecN{x, y, 0}));
            std::vector<std::uint8_t> bytes(std::size_t(w) * h * px);
            tile->ReadRect(geo::CiRect(ox, oy, ox + w, oy + h), {}, bytes.data(), 0);
            for (int py = std::max(y, 50); py < std::min(y + h, 1350); ++py)
                for (int qx = std::max(x, 100); qx < std::min(x + w, 1600); ++qx) {
                    const std::size_t at = std::size_t(py - 50) * 1500 + (qx - 100);
                    mask[at] = 255;
                    std::copy_n(&bytes[(std::size_t(py - y) * w + (qx - x)) * px], px, &pixels[at * px]);
                }
        };
        paste(612, 562, 512, 512);  // one whole mask tile: kept without memory
        const std::int64_t held = maskFrame->GetAllocatedBytes();
        paste(700, 600, 400, 400);  // inside it: no mask to write
        EXPECT_EQ(maskFrame->GetAllocatedBytes(), held);
        paste(333, 111, 600, 500);           // new tiles, and part of the whole one
        paste(401, 257, 700, 300);           // tiles written before, at odd offsets
        paste(1300, 1100, 512, 512);         // past the lower right corner
        paste(80, 1200, 513, 400);           // past the lower left corner
        paste(90, 30, 256, 256, 100, 50);    // past the upper left corner, from a tile not at the origin
        paste(1000, 60, 100, 90);            // small: the mask's own fill
        std::vector<std::uint8_t> actual(pixels.size());
        ASSERT_TRUE(frame->ReadRect(geo::CiRect(100, 50, 1600, 1350), {0}, actual.data(), 0));
        EXPECT_TRUE(actual == pixels);
        actual.resize(mask.size());
        ASSERT_TRUE(maskFrame->ReadRect(geo::CiRect(100, 50, 1600, 1350), {}, actual.data(), 0));
        EXPECT_TRUE(actual == mask);
    }
}

// ---------------------------------------------------------------- deletion

TEST_F(MosaicLayersTest, DeletingTakesTheMagnificationGroupAlongWhenNothingElseIsLeftInIt)
{
    ASSERT_TRUE(TwentyX().CreateIn(*mosaic));
    const int layer = Active();
    EXPECT_TRUE(mosaic->DelCurrentLayers());
    EXPECT_FALSE(doc.FindStack(layer).IsValid());
    EXPECT_EQ(Active(), -1);
    EXPECT_TRUE(RootNames(doc).empty());
    // Nothing left to delete: false, and no group made on the way stays.
    EXPECT_FALSE(mosaic->DelCurrentLayers());
    EXPECT_TRUE(RootNames(doc).empty());

    ASSERT_TRUE(TwentyX().CreateIn(*mosaic));
    const int older = Active();
    ASSERT_TRUE(TwentyX().CreateIn(*mosaic));
    EXPECT_TRUE(mosaic->DelCurrentLayers());
    EXPECT_EQ(RootNames(doc), std::vector<std::wstring>{L"20x"});
    EXPECT_NE(GroupOf(doc, older), -1);
}

TEST_F(MosaicLayersTest, LayerWithoutDeviceMagnificationLeavesItsGroupAndTouchesRootLayersNot)
{
    const int loose = imgscope_test::AddRasterLayer(doc, {8, 8, 1});
    doc.FindStack(loose).SetName(CString(L"loose"));
    tLayer layer;
    layer.magnification = 20.0;
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    EXPECT_TRUE(mosaic->DelCurrentLayers());
    // Magnification 0.0 is the root-level layer's: nothing is deleted with it.
    EXPECT_EQ(RootNames(doc), (std::vector<std::wstring>{L"20x", L"layer:loose"}));
    EXPECT_TRUE(doc.FindStack(loose).IsValid());
}

TEST_F(MosaicLayersTest, DeletionIsTrueOnlyWhenTheActiveLayerWentAndTheFocusLayerToo)
{
    const int picture = AddTypedLayer(doc, -1);
    const int focus = AddTypedLayer(doc, 4, 1);
    const Mosaic focusOnly(img::CreateMosaikImage(&doc));
    EXPECT_FALSE(focusOnly->DelCurrentLayers());
    EXPECT_FALSE(doc.FindStack(focus).IsValid());
    EXPECT_TRUE(doc.FindStack(picture).IsValid());

    // A focus layer that went by other means fails the deletion, after the
    // active layer was deleted all the same.
    const int focus2 = AddTypedLayer(doc, 4, 1);
    doc.FindStack(picture).SetProperty(2074, mem::CBin(0));
    doc.FindStack(picture).SetProperty(2015, mem::CBin(std::int64_t(1)));
    const Mosaic both(img::CreateMosaikImage(&doc));
    ASSERT_TRUE(doc.Remove(focus2));
    EXPECT_FALSE(both->DelCurrentLayers());
    EXPECT_FALSE(doc.FindStack(picture).IsValid());
}

// ---------------------------------------------------------------- calibration and limits

TEST_F(MosaicLayersTest, CalibrationCarriesToTheFocusLayerAndFromTheActiveOverviewToTheSampleMask)
{
    tLayer layer;
    layer.type = img::eStackSampleMask;
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    const int mask = Active();
    const auto maskRect = RectOf(mask);
    layer.type = img::eStackPicture;
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    const utl::TUnitValue<geo::CdVec2> scale(kMicron, geo::CdVec2(2.0, 2.0));
    ASSERT_TRUE(mosaic->SetPixelCoords(scale, geo::CdVec2(5, 7)));
    EXPECT_EQ(RectOf(mask), maskRect);  // a picture layer is active, not the overview

    layer.type = img::eStackOverview;
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    ASSERT_TRUE(mosaic->SetPixelCoords(scale, geo::CdVec2(5, 7)));
    EXPECT_EQ(RectOf(mask), RectOf(Active()));
    EXPECT_EQ(RectOf(Active()), MicronRect(5, 7, 2053, 2055));

    // The focus layer of an opened mosaic follows its active layer.
    AddTypedLayer(doc, 0, 1000);  // the active layer of the opened mosaic
    const int focus = AddTypedLayer(doc, 4, 1000);
    const Mosaic opened(img::CreateMosaikImage(&doc));
    ASSERT_TRUE(opened->SetPixelCoords(scale, geo::CdVec2(1, 1)));
    EXPECT_EQ(RectOf(focus), MicronRect(1, 1, 17, 17));

    const Mosaic unbound(img::CreateMosaikImage());
    EXPECT_FALSE(unbound->SetPixelCoords(scale, geo::CdVec2(1, 1)));
}

TEST_F(MosaicLayersTest, DisplayLimitsAreTheDocumentIntervalWithTheBitDepthOfTheRole)
{
    tLayer layer;
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    layer.type = img::eStackOverview;
    layer.info = kRgb8;
    ASSERT_TRUE(layer.CreateIn(*mosaic));
    unsigned int bits = 7;
    utl::TInterval<double> limits(-1, -1);
    EXPECT_FALSE(mosaic->GetDisplayLimits(img::eStackPicture, bits, limits));  // no interval yet
    for (auto reversed : {utl::TInterval<double>(10, 10), utl::TInterval<double>(10, 5)}) {
        doc.SetProperty(2003, mem::CBin(reversed));
        EXPECT_FALSE(mosaic->GetDisplayLimits(img::eStackPicture, bits, limits));
    }
    doc.SetProperty(2003, mem::CBin(utl::TInterval<double>(0, 4095)));
    EXPECT_FALSE(mosaic->GetDisplayLimits(img::eStackLabel, bits, limits));
    EXPECT_EQ(bits, 7u);
    EXPECT_EQ(limits, utl::TInterval<double>(-1, -1));

    ASSERT_TRUE(mosaic->GetDisplayLimits(img::eStackPicture, bits, limits));
    EXPECT_EQ(bits, 16u);
    EXPECT_EQ(limits, utl::TInterval<double>(0, 4095));
    doc.SetProperty(2003, mem::CBin(utl::TInterval<double>(1, 255), kMicron));
    ASSERT_TRUE(mosaic->GetDisplayLimits(img::eStackOverview, bits, limits));
    EXPECT_EQ(bits, 24u);
    EXPECT_EQ(limits, utl::TInterval<double>(1, 255));
}

}  // namespace

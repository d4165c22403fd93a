// Mosaic layers: creation, transparency of first and later layers, paste
// with its clipping, mask and write-back, deletion with the magnification
// group, the calibration that follows the active layer, display limits.
#include "imgscope/contracts/document/mask.h"
#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/typed/picture.h"

#include "mosaic_test_util.h"

#include <gtest/gtest.h>

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
        tLayer spec;
        spec.magnification = 20.0;
        spec.props = DeviceMagnification(20.0);
        return spec;
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
        tLayer spec;
        spec.opaqueFirst = c.opaqueFirst;
        spec.type = c.type;
        for (bool later : {false, true}) {
            ASSERT_TRUE(spec.CreateIn(*m));
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
    tLayer spec;
    spec.info = kRgb8;
    spec.type = img::eStackPicture3;
    spec.props.SetValue(7001, CString(L"slide 4"));
    spec.phys = utl::TUnitValue<geo::CdRect>(kMicron, geo::CdRect(100, 200, 612, 712));
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    const img::CStack stack = ActiveStack();
    ASSERT_TRUE(stack.IsValid());

    int flags = 0;
    ASSERT_TRUE(core.GetLayerFlags(Active(), flags));
    EXPECT_EQ(flags, 0x189);  // visible, selected, XY-fixed, raster
    mem::CBin bin;
    ASSERT_TRUE(stack.GetProperty(2074, bin));
    EXPECT_EQ(bin.GetOr(-1), 64);
    EXPECT_TRUE(stack.PropertyExists(7001));
    EXPECT_EQ(RectOf(Active()), spec.phys);

    const auto frame = stack.GetDataFrame(0);
    EXPECT_EQ(frame->GetBoundary(0), spec.volume);
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
        tLayer spec;
        spec.volume = c.volume;
        ASSERT_TRUE(spec.CreateIn(*mosaic));
        EXPECT_EQ(ActiveStack().DimCount(0), c.order);
    }
}

TEST_F(MosaicLayersTest, FailedCreationLeavesNoActiveOrFocusLayerAndNothingAdded)
{
    const int picture = AddTypedLayer(doc, 0, 1);
    const int focus = AddTypedLayer(doc, 4, 1);
    const Mosaic opened(img::CreateMosaikImage(&doc));
    ASSERT_EQ(opened->GetActiveLayerID(), picture);
    tLayer spec;
    spec.info = img::CPixelInfo();
    ASSERT_FALSE(spec.CreateIn(*opened));
    spec.info = kGray8;
    spec.volume = Volume(mem::kMaxExtent + 1, 8);
    ASSERT_FALSE(spec.CreateIn(*opened));
    EXPECT_EQ(opened->GetActiveLayerID(), -1);
    EXPECT_EQ(opened->GetLayerCount(), 2u);
    // Neither the active nor the focus layer is remembered any more.
    EXPECT_FALSE(opened->DelCurrentLayers());
    EXPECT_TRUE(doc.FindStack(focus).IsValid());
    EXPECT_TRUE(doc.FindStack(picture).IsValid());
}

// ---------------------------------------------------------------- paste

class MosaicPasteTest : public MosaicLayersTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tLayer().CreateIn(*mosaic));  // opaque or not, the layer below
        tLayer spec;
        spec.volume = Volume(1024, 4096);
        ASSERT_TRUE(spec.CreateIn(*mosaic));
        frame = mosaic->GetActiveDataFrame();
    }

    boost::shared_ptr<mem::CDataFrame> frame;
    boost::shared_ptr<mem::CDataFrame> tile = RampTile(256, 256, kGray16, 3);
};

TEST_F(MosaicPasteTest, PasteAtTheRightEdgeCopiesTheColumnsInsideAndMasksExactlyThem)
{
    ASSERT_TRUE(mosaic->Paste(tile, geo::CiVecN{1000, 2000, 0}));
    EXPECT_EQ(PixelAt(*frame, 1000, 2000, {0}), PixelAt(*tile, 0, 0));
    EXPECT_EQ(PixelAt(*frame, 1023, 2255, {0}), PixelAt(*tile, 23, 255));
    EXPECT_EQ(PixelAt(*frame, 1023, 2256, {0}), (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(PixelAt(*frame, 999, 2000, {0}), (std::vector<std::uint8_t>{0, 0}));
    struct tProbe {
        int x, y, value;
    };
    for (tProbe p : {tProbe{1000, 2000, 255}, {1023, 2255, 255}, {999, 2000, 0}, {1000, 1999, 0}, {1000, 2256, 0},
                     {1010, 2128, 255}}) {
        SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
        EXPECT_EQ(MaskAt(p.x, p.y), p.value);
    }
}

TEST_F(MosaicPasteTest, PasteAboveAndLeftOfTheLayerCopiesTheTilesLowerRightPart)
{
    ASSERT_TRUE(mosaic->Paste(tile, geo::CiVecN{-10, -20, 0}));
    EXPECT_EQ(PixelAt(*frame, 0, 0, {0}), PixelAt(*tile, 10, 20));
    EXPECT_EQ(PixelAt(*frame, 245, 235, {0}), PixelAt(*tile, 255, 255));
    EXPECT_EQ(MaskAt(245, 235), 255);
    EXPECT_EQ(MaskAt(246, 0), 0);
    EXPECT_EQ(MaskAt(0, 236), 0);
}

TEST_F(MosaicPasteTest, RefusedPastesChangeNeitherPixelsNorMask)
{
    const std::uint64_t before = frame->GetModificationCount();
    EXPECT_FALSE(mosaic->Paste(tile, geo::CiVecN{1024, 0, 0}));   // right of the layer
    EXPECT_FALSE(mosaic->Paste(tile, geo::CiVecN{0, -256, 0}));   // just above it
    EXPECT_FALSE(mosaic->Paste(RampTile(8, 8, kRgb8, 1), geo::CiVecN{0, 0, 0}));
    EXPECT_FALSE(mosaic->Paste(nullptr, geo::CiVecN{0, 0, 0}));
    EXPECT_EQ(frame->GetModificationCount(), before);
    EXPECT_EQ(MaskAt(0, 0), 0);
    EXPECT_EQ(MaskAt(1023, 0), 0);

    const Mosaic unbound(img::CreateMosaikImage());
    EXPECT_FALSE(unbound->Paste(tile, geo::CiVecN{0, 0, 0}));
}

TEST_F(MosaicPasteTest, TileWhoseBoundaryDoesNotStartAtTheOriginLandsWithItsFirstPixel)
{
    const auto shifted = RampTile(64, 64, kGray16, 9, geo::CiVecN{100, 50});
    ASSERT_TRUE(mosaic->Paste(shifted, geo::CiVecN{990, 10, 0}));
    EXPECT_EQ(PixelAt(*frame, 990, 10, {0}), PixelAt(*shifted, 100, 50));
    EXPECT_EQ(PixelAt(*frame, 1023, 73, {0}), PixelAt(*shifted, 133, 113));
    EXPECT_EQ(MaskAt(1023, 73), 255);
    EXPECT_EQ(MaskAt(1023, 74), 0);
}

TEST_F(MosaicPasteTest, WriteBackCountsOneModificationBeyondTheCopy)
{
    mem::CDataFrame twin(frame->GetBoundary(0), frame->GetElementInfo());
    const std::uint64_t copyBefore = twin.GetModificationCount();
    ASSERT_TRUE(mem::Copy(*tile, twin, tile->GetBoundary(0), geo::CiVecN{100, 100, 0}, 0));
    const std::uint64_t copyCount = twin.GetModificationCount() - copyBefore;
    const std::uint64_t before = frame->GetModificationCount();
    ASSERT_TRUE(mosaic->Paste(tile, geo::CiVecN{100, 100, 0}));
    EXPECT_EQ(frame->GetModificationCount() - before, copyCount + 1);
}

TEST_F(MosaicLayersTest, ThreeDimensionalPositionsPastePlaneZOnlyAndShortOnesAreLeftToTheCopy)
{
    tLayer spec;
    spec.info = kRgb8;
    spec.volume = Volume(600, 400, 3);
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    ASSERT_TRUE(spec.CreateIn(*mosaic));
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

TEST_F(MosaicLayersTest, PastesAcrossTileBordersMatchAPlainReference)
{
    tLayer spec;
    spec.info = kRgb8;
    spec.volume = Volume(1200, 1100);
    spec.opaqueFirst = true;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    const auto frame = mosaic->GetActiveDataFrame();
    const int px = kRgb8.Size();
    std::vector<std::uint8_t> reference(std::size_t(1200) * 1100 * px, 0);
    int seed = 0;
    // Odd offsets, partial last tiles, and a tile overlapping an earlier one.
    for (geo::CiVec2 at : {geo::CiVec2(37, 501), {511, 0}, {1000, 1000}, {700, 333}, {-5, 900}}) {
        const auto tile = RampTile(300, 260, kRgb8, ++seed);
        ASSERT_TRUE(mosaic->Paste(tile, geo::CiVecN{at.x, at.y, 0}));
        std::vector<std::uint8_t> bytes(std::size_t(300) * 260 * px);
        tile->ReadRect(geo::CiRect(0, 0, 300, 260), {}, bytes.data(), 0);
        for (int y = 0; y < 260; ++y)
            for (int x = 0; x < 300; ++x)
                if (at.x + x >= 0 && at.x + x < 1200 && at.y + y < 1100)
                    for (int c = 0; c < px; ++c)
                        reference[(std::size_t(at.y + y) * 1200 + at.x + x) * px + c] =
                            bytes[(std::size_t(y) * 300 + x) * px + c];
    }
    std::vector<std::uint8_t> actual(reference.size());
    ASSERT_TRUE(frame->ReadRect(geo::CiRect(0, 0, 1200, 1100), {0}, actual.data(), 0));
    EXPECT_TRUE(actual == reference);
}

TEST_F(MosaicLayersTest, MaskFollowsLargePastesOverMissingWholeUniformAndWrittenTiles)
{
    tLayer spec;
    spec.info = kGray8;
    spec.volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{100, 50, 0}, geo::CiVecN{1500, 1300, 1});
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    const auto maskFrame = Mask()->GetPixFrame()->GetDataFrame();
    std::vector<std::uint8_t> reference(std::size_t(1500) * 1300, 0);
    const auto paste = [&](int x, int y, int w, int h) {
        ASSERT_TRUE(mosaic->Paste(RampTile(w, h, kGray8, x), geo::CiVecN{x, y, 0}));
        for (int py = std::max(y, 50); py < std::min(y + h, 1350); ++py)
            for (int px = std::max(x, 100); px < std::min(x + w, 1600); ++px)
                reference[std::size_t(py - 50) * 1500 + (px - 100)] = 255;
    };
    paste(612, 562, 512, 512);  // one whole mask tile: kept without memory
    const std::int64_t held = maskFrame->GetAllocatedBytes();
    paste(700, 600, 400, 400);  // inside it: nothing to write
    EXPECT_EQ(maskFrame->GetAllocatedBytes(), held);
    paste(333, 111, 600, 500);  // new tiles, and part of the whole one
    paste(401, 257, 700, 300);  // tiles written before, at odd offsets
    paste(1300, 1100, 512, 512);  // past the lower right corner
    paste(80, 1200, 513, 400);    // past the lower left corner
    std::vector<std::uint8_t> actual(reference.size());
    ASSERT_TRUE(maskFrame->ReadRect(geo::CiRect(100, 50, 1600, 1350), {}, actual.data(), 0));
    EXPECT_TRUE(actual == reference);
}

// ---------------------------------------------------------------- deletion

TEST_F(MosaicLayersTest, DeletingTheOnlyLayerOfAMagnificationTakesItsGroupAlong)
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
}

TEST_F(MosaicLayersTest, DeletingKeepsAGroupWithOtherMembers)
{
    ASSERT_TRUE(TwentyX().CreateIn(*mosaic));
    const int older = Active();
    ASSERT_TRUE(TwentyX().CreateIn(*mosaic));
    EXPECT_TRUE(mosaic->DelCurrentLayers());
    EXPECT_EQ(RootNames(doc), std::vector<std::wstring>{L"20x"});
    EXPECT_EQ(MemberNames(doc, GroupOf(doc, older)), std::vector<std::wstring>{L"20x"});
}

TEST_F(MosaicLayersTest, LayerWithoutDeviceMagnificationLeavesItsGroupAndTouchesRootLayersNot)
{
    const int loose = imgscope_test::AddRasterLayer(doc, {8, 8, 1});
    doc.FindStack(loose).SetName(CString(L"loose"));
    tLayer spec;
    spec.magnification = 20.0;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
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
    tLayer spec;
    spec.type = img::eStackSampleMask;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    const int mask = Active();
    const auto maskRect = RectOf(mask);
    spec.type = img::eStackPicture;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    const utl::TUnitValue<geo::CdVec2> scale(kMicron, geo::CdVec2(2.0, 2.0));
    ASSERT_TRUE(mosaic->SetPixelCoords(scale, geo::CdVec2(5, 7)));
    EXPECT_EQ(RectOf(mask), maskRect);  // a picture layer is active, not the overview

    spec.type = img::eStackOverview;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    ASSERT_TRUE(mosaic->SetPixelCoords(scale, geo::CdVec2(5, 7)));
    EXPECT_EQ(RectOf(mask), RectOf(Active()));
    EXPECT_EQ(RectOf(Active()), utl::TUnitValue<geo::CdRect>(kMicron, geo::CdRect(5, 7, 2053, 2055)));

    // The focus layer of an opened mosaic follows its active layer.
    AddTypedLayer(doc, 0, 1000);  // the active layer of the opened mosaic
    const int focus = AddTypedLayer(doc, 4, 1000);
    const Mosaic opened(img::CreateMosaikImage(&doc));
    ASSERT_TRUE(opened->SetPixelCoords(scale, geo::CdVec2(1, 1)));
    EXPECT_EQ(RectOf(focus), utl::TUnitValue<geo::CdRect>(kMicron, geo::CdRect(1, 1, 17, 17)));

    const Mosaic unbound(img::CreateMosaikImage());
    EXPECT_FALSE(unbound->SetPixelCoords(scale, geo::CdVec2(1, 1)));
}

TEST_F(MosaicLayersTest, DisplayLimitsAreTheDocumentIntervalWithTheBitDepthOfTheRole)
{
    tLayer spec;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
    spec.type = img::eStackOverview;
    spec.info = kRgb8;
    ASSERT_TRUE(spec.CreateIn(*mosaic));
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

// The sample-mask layer: refusals that leave the document as it was, the
// shared pixels, flags, role, group and calibration of an added mask,
// second masks and removal, and a search over the mosaic's own mask.
#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/mosaic/sample_search.h"

#include "mosaic_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace mosaic_test;

class SampleMaskTest : public ::testing::Test, public MosaicFixture {
protected:
    // A mask picture in a document of its own, calibrated over `phys`
    // unless that is empty.
    boost::shared_ptr<img::CPicture> OwnMask(geo::CdRect const& phys = geo::CdRect(),
                                             img::CPixelInfo const& info = kGray8)
    {
        img::CImg own;
        boost::shared_ptr<img::CPicture> picture(
            MaskPicture(own, geo::CiRect(0, 0, 80, 60), [](int x, int y) { return x < 40 && y < 30 ? 255 : 0; }, info)
                .release());
        if (!phys.IsEmpty()) {
            EXPECT_TRUE(picture->SetPixelCoordsRect(utl::TUnitValue<geo::CdRect>(kMicron, phys)));
        }
        return picture;
    }

    // An overview at 1.25x calibrated over `phys`, the active layer.
    int AddOverview(geo::CdRect const& phys)
    {
        tLayer layer;
        layer.magnification = 1.25;
        layer.type = img::eStackOverview;
        layer.volume = Volume(80, 60);
        layer.phys = utl::TUnitValue<geo::CdRect>(kMicron, phys);
        EXPECT_TRUE(layer.CreateIn(*mosaic));
        return Active();
    }

    int MaskLayer() const
    {
        const auto mask = mosaic->GetSampleMask();
        return mask ? mask->GetLayerID() : -1;
    }
};

TEST_F(SampleMaskTest, WrongPicturesAreRefusedAndLeaveTheDocumentAsItWas)
{
    AddOverview(geo::CdRect(0, 0, 800, 600));
    const auto names = RootNames(doc);
    const unsigned count = mosaic->GetLayerCount();
    const int active = Active();

    EXPECT_FALSE(mosaic->AddSampleMask(nullptr));
    EXPECT_FALSE(mosaic->AddSampleMask(OwnMask(geo::CdRect(), kRgb8)));
    EXPECT_FALSE(mosaic->AddSampleMask(OwnMask(geo::CdRect(), kGray16)));
    EXPECT_FALSE(mosaic->AddSampleMask(OwnMask(geo::CdRect(), img::CPixelInfo(utl::eUInt8, 2, img::eColorSpaceMulti))));
    EXPECT_FALSE(mosaic->AddSampleMask(OwnMask(geo::CdRect(), img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray).AddAlpha(1))));
    auto gone = OwnMask();
    ASSERT_TRUE(gone->GetCollection().Remove(gone->GetLayerID()));  // a picture without pixels
    EXPECT_FALSE(mosaic->AddSampleMask(gone));

    EXPECT_EQ(mosaic->GetLayerCount(), count);
    EXPECT_EQ(RootNames(doc), names);
    EXPECT_EQ(Active(), active);
    EXPECT_FALSE(mosaic->HasSampleMask());
    // One signed byte is one component of one byte.
    EXPECT_TRUE(mosaic->AddSampleMask(OwnMask(geo::CdRect(), img::CPixelInfo(utl::eInt8, 1, img::eColorSpaceGray))));
}

TEST_F(SampleMaskTest, AddedMaskSharesThePicturesPixelsAndIsAHiddenFixedMaskAtTheEnd)
{
    ASSERT_TRUE(tLayer().CreateIn(*mosaic));
    const int active = Active();
    const auto picture = OwnMask();
    ASSERT_TRUE(mosaic->AddSampleMask(picture));
    const int layer = MaskLayer();
    ASSERT_NE(layer, -1);
    EXPECT_NE(layer, active);
    EXPECT_EQ(Active(), active);

    const img::CStack stack = doc.FindStack(layer);
    EXPECT_EQ(stack.GetName(), CString(L"Sample Mask"));
    EXPECT_EQ(stack.GetDataFrame(0).get(), picture->GetPixFrame()->GetDataFrame().get());
    const std::uint8_t seven = 7;
    ASSERT_TRUE(picture->GetPixFrame()->WriteRowSegment(geo::CiVec2(79, 59), 1, &seven, 0));
    std::uint8_t read = 0;
    ASSERT_TRUE(mosaic->GetSampleMask()->GetPixFrame()->ReadRowSegment(geo::CiVec2(79, 59), 1, &read, 0));
    EXPECT_EQ(read, 7);

    int flags = 0;
    ASSERT_TRUE(core.GetLayerFlags(layer, flags));
    EXPECT_EQ(flags, 0x1c1);  // visible, hidden, XY-fixed, raster
    EXPECT_EQ(RootNames(doc).back(), L"layer:Sample Mask");  // no overview: the root's end
    EXPECT_EQ(GroupOf(doc, layer), -1);
    EXPECT_EQ(mosaic->GetVisibleLayerCount(), 1);
}

TEST_F(SampleMaskTest, MaskJoinsTheOverviewsGroup)
{
    const int overview = AddOverview(geo::CdRect(0, 0, 800, 600));
    tLayer().CreateIn(*mosaic);  // a 10x layer in a group of its own
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask()));
    ASSERT_NE(GroupOf(doc, overview), -1);
    EXPECT_EQ(GroupOf(doc, MaskLayer()), GroupOf(doc, overview));
    std::vector<int> members;
    ASSERT_TRUE(core.GetGroupMembers(GroupOf(doc, overview), members));
    EXPECT_EQ(members, (std::vector<int>{overview, MaskLayer()}));
}

TEST_F(SampleMaskTest, CalibrationFollowsThePicturesDocumentOrTheActiveOverview)
{
    // No older mask: the calibration of the picture's own first layer.
    const int overview = AddOverview(geo::CdRect(0, 0, 800, 600));
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask(geo::CdRect(10, 20, 90, 80))));
    const int first = MaskLayer();
    EXPECT_EQ(Calibration(first), MicronRect(10, 20, 90, 80));

    // An older mask while the overview is active: both take the overview's.
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask(geo::CdRect(1, 2, 3, 4))));
    std::vector<int> masks = LayersOf(2);
    ASSERT_EQ(masks.size(), 2u);
    EXPECT_EQ(Calibration(masks[0]), MicronRect(0, 0, 800, 600));
    EXPECT_EQ(Calibration(masks[1]), MicronRect(0, 0, 800, 600));
    EXPECT_EQ(Calibration(overview), MicronRect(0, 0, 800, 600));

    // A picture layer is active now: the new mask keeps its own, the older
    // ones stay; an uncalibrated picture leaves its mask uncalibrated.
    ASSERT_TRUE(tLayer().CreateIn(*mosaic));
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask(geo::CdRect(5, 6, 45, 36))));
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask()));
    masks = LayersOf(2);
    ASSERT_EQ(masks.size(), 4u);
    EXPECT_EQ(Calibration(masks[0]), MicronRect(0, 0, 800, 600));
    EXPECT_EQ(Calibration(masks[2]), MicronRect(5, 6, 45, 36));
    EXPECT_EQ(Calibration(masks[3]), std::nullopt);
}

TEST_F(SampleMaskTest, SecondMaskIsAddedAndRemovalTakesTheFirstInTreeOrder)
{
    EXPECT_FALSE(mosaic->RemoveSampleMask());
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask()));
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask()));
    const std::vector<int> masks = LayersOf(2);
    ASSERT_EQ(masks.size(), 2u);
    EXPECT_EQ(MaskLayer(), masks[0]);
    EXPECT_TRUE(mosaic->RemoveSampleMask());
    EXPECT_FALSE(doc.FindStack(masks[0]).IsValid());
    EXPECT_EQ(MaskLayer(), masks[1]);
    EXPECT_TRUE(mosaic->RemoveSampleMask());
    EXPECT_FALSE(mosaic->HasSampleMask());
    EXPECT_FALSE(mosaic->RemoveSampleMask());
}

TEST_F(SampleMaskTest, TheMosaicsOwnMaskIsSearchedInTheOverviewsCalibration)
{
    // 10 µm overview pixels from (1000, 2000) µm; sample in the upper left
    // 40 × 30 pixels.
    AddOverview(geo::CdRect(1000, 2000, 1800, 2600));
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask()));
    ASSERT_TRUE(mosaic->AddSampleMask(OwnMask()));  // the overview is active: masks follow it
    const auto mask = mosaic->GetSampleMask();
    utl::TUnitValue<geo::CdVec2> position;
    const utl::TUnitValue<geo::CdVec2> field(kMicron, geo::CdVec2(100, 100));  // 10 pixels
    ASSERT_TRUE(img::FindNoSamplePos(mask.get(), position, field, false));
    EXPECT_EQ(position.value, geo::CdVec2(1000 + 10 * 45, 2000 + 10 * 5));  // window (40, 0)
    ASSERT_TRUE(img::FindSamplePos(mask.get(), position, field, true));
    // The first pass searches (32, 24)–(48, 36); its first window holds 48.
    EXPECT_EQ(position.value, geo::CdVec2(1000 + 10 * 37, 2000 + 10 * 29));
    EXPECT_TRUE(img::IsSampleAtPos(mask.get(), MicronRect(1000, 2000, 1400, 2300), 1.0));
}

}  // namespace

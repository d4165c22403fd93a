#include "imgscope/typed/picture.h"

#include "tests/scope/core_documents.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using imgscope_test::kGray16;
using Picture = std::unique_ptr<img::CPicture>;

const utl::CPropSet kNone;

class PictureTest : public ::testing::Test {
protected:
    Picture NewPicture(geo::CiRect const& rect, img::CPixelInfo const& info = kGray16)
    {
        return Picture(img::InsertPicture(doc, rect, info, mem::eMemoryDefault, mem::eAlign32, kNone, kNone, kNone));
    }

    img::CImg doc;
};

TEST_F(PictureTest, RectanglePictureIsOneFrameOfANewLayer)
{
    const Picture picture = NewPicture(geo::CiRect(10, 20, 110, 70));
    ASSERT_TRUE(picture);
    EXPECT_TRUE(picture->GetFrameIndex().empty());
    const auto frame = doc.FindStack(picture->GetLayerID()).GetDataFrame(0);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->GetBoundary(0), geo::CiVolumeN::FromPositionSize(geo::CiVecN{10, 20, 0}, geo::CiVecN{100, 50, 1}));
    EXPECT_EQ(picture->GetOrder(), 1);

    const auto pixels = picture->GetPixFrame();
    ASSERT_TRUE(pixels);
    const std::uint16_t value = 4321;
    ASSERT_TRUE(pixels->WriteRowSegment(geo::CiVec2(50, 30), 1, &value, 0));
    std::uint16_t read = 0;
    ASSERT_TRUE(frame->ReadRect(geo::CiRect(50, 30, 51, 31), geo::CiVecN{0}, &read, 0));
    EXPECT_EQ(read, value);
}

TEST_F(PictureTest, FactoriesWriteDocumentAndFrameProperties)
{
    utl::CPropSet documentProps;
    documentProps.SetProperty(7001, mem::CBin(2.5));
    utl::CPropSet pictureProps;
    pictureProps.SetProperty(7002, mem::CBin(CString(L"slide 4")));
    const Picture picture(img::CreatePicture(geo::CiRect(0, 0, 32, 32), kGray16, mem::eMemoryDefault,
                                             mem::eAlign32, kNone, documentProps, pictureProps, doc));
    ASSERT_TRUE(picture);
    EXPECT_TRUE(doc.PropertyExists(7001));
    EXPECT_TRUE(picture->FramePropertyExists(7002));
    utl::CPropSet read;
    ASSERT_TRUE(picture->GetFrameProperties(read));
    EXPECT_TRUE(read.PropertyExists(7002));

    ASSERT_TRUE(picture->SetFrameProperty(7003, mem::CBin(3)));
    ASSERT_TRUE(picture->GetFrameProperties(read));
    EXPECT_TRUE(read.PropertyExists(7003));
}

TEST_F(PictureTest, ImpossiblePictureGivesNullWithoutLeaking)
{
    // The exception thrown inside is deleted by the factory; the sanitizer
    // build reports a leak otherwise.
    EXPECT_EQ(img::InsertPicture(doc, geo::CiRect(0, 0, mem::kMaxExtent + 1, 8), kGray16, mem::eMemoryDefault,
                                 mem::eAlign32, kNone, kNone, kNone),
              nullptr);
    EXPECT_EQ(img::InsertPicture(doc, geo::CiRect(0, 0, 8, 8), img::CPixelInfo(), mem::eMemoryDefault,
                                 mem::eAlign32, kNone, kNone, kNone),
              nullptr);
    // An inverted rectangle is no extent to flip; nor is a missing frame a
    // layer, and neither may empty the canvas that other pictures share.
    const Picture first = NewPicture(geo::CiRect(0, 0, 8, 6));
    ASSERT_TRUE(first);
    img::CDisplProcessFlow const flow(doc, false);
    const geo::CiRect canvas = flow.GetImagePlaneRect();
    EXPECT_EQ(NewPicture(geo::CiRect(0, 0, -1, 5)), nullptr);
    EXPECT_EQ(NewPicture(geo::CiRect(0, 5, 4, 0)), nullptr);
    EXPECT_EQ(img::InsertPicture(doc, boost::shared_ptr<img::CPixFrame>(), kNone, kNone), nullptr);
    EXPECT_EQ(img::CreatePicture(boost::shared_ptr<img::CPixFrame>(), kNone, kNone, doc), nullptr);
    EXPECT_EQ(doc.GetStackCount(), 1u);
    EXPECT_EQ(flow.GetImagePlaneRect(), canvas);
    EXPECT_FALSE(canvas.IsEmpty());
}

TEST_F(PictureTest, PictureFromAPixelFrameSharesItsDataAndIsNamedLayer1)
{
    const auto pixels = img::CPixFrame::Create(geo::CiRect(0, 0, 20, 10), kGray16, mem::eMemoryDefault,
                                               mem::eAlign32, kNone);
    ASSERT_TRUE(pixels);
    const Picture picture(img::InsertPicture(doc, pixels, kNone, kNone));
    ASSERT_TRUE(picture);
    CString name;
    EXPECT_TRUE(picture->GetLayerName(name) && name == L"Layer 1");
    EXPECT_EQ(doc.FindStack(picture->GetLayerID()).GetDataFrame(0), pixels->GetDataFrame());
    EXPECT_EQ(picture->GetBoundary(), geo::CiRect(0, 0, 20, 10));
}

TEST_F(PictureTest, OpeningByIndexAgreesWithTestPicture)
{
    const Picture made = NewPicture(geo::CiRect(0, 0, 16, 16));
    ASSERT_TRUE(made);
    const int id = made->GetLayerID();
    const struct {
        int layer;
        geo::CiVecN index;
        bool exists;
    } cases[] = {
        {id, geo::CiVecN(), true},   // the first frame of data frame 0
        {-1, geo::CiVecN(), true},   // the first layer
        {id, geo::CiVecN{0}, true},  // the same frame by its index
        {id, geo::CiVecN{5}, false}, // no frame there
        {id + 1, geo::CiVecN(), false},
        {0, geo::CiVecN(), false},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.layer << " / " << c.index.size());
        const Picture opened(img::CreatePicture(doc, c.layer, c.index));
        EXPECT_EQ(opened != nullptr, c.exists);
        EXPECT_EQ(img::TestPicture(doc, c.layer, c.index), c.exists);
        if (opened) {
            EXPECT_EQ(opened->GetFrameIndex(), geo::CiVecN{0});
            EXPECT_EQ(opened->GetLayerID(), id);
            EXPECT_TRUE(opened->GetPixFrame());
        }
    }
    img::CImg const& constDoc = doc;
    std::unique_ptr<img::CPicture const> readOnly(img::CreatePicture(constDoc, id, geo::CiVecN()));
    EXPECT_TRUE(readOnly);
    EXPECT_EQ(doc.GetStackCount(), 1u);  // opening adds nothing
}

TEST_F(PictureTest, SwapPixFrameExchangesOrCopies)
{
    const Picture picture = NewPicture(geo::CiRect(0, 0, 4, 4));
    ASSERT_TRUE(picture);
    EXPECT_FALSE(picture->SwapPixFrame(boost::shared_ptr<img::CPixFrame>()));

    // The same volume and type as the layer's data frame: exchanged.
    const geo::CiVolumeN volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{4, 4, 1});
    const boost::shared_ptr<mem::CDataFrame> data(new mem::CDataFrame(volume, kGray16));
    const auto same = img::CPixFrame::Create(data, geo::CiVecN());
    ASSERT_TRUE(same);
    const std::uint16_t value = 99;
    ASSERT_TRUE(same->WriteRowSegment(geo::CiVec2(1, 1), 1, &value, 0));
    const auto layerFrame = doc.FindStack(picture->GetLayerID()).GetDataFrame(0);
    ASSERT_TRUE(picture->SwapPixFrame(same));
    EXPECT_EQ(doc.FindStack(picture->GetLayerID()).GetDataFrame(0), layerFrame);  // the same object
    std::uint16_t read = 0;
    ASSERT_TRUE(picture->GetPixFrame()->ReadRowSegment(geo::CiVec2(1, 1), 1, &read, 0));
    EXPECT_EQ(read, value);
    ASSERT_TRUE(same->ReadRowSegment(geo::CiVec2(1, 1), 1, &read, 0));
    EXPECT_EQ(read, 0);  // the caller holds the former content

    // Another pixel type: the layer takes a copy, the caller's frame stays.
    const auto other = img::CPixFrame::Create(geo::CiRect(0, 0, 6, 2), img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray),
                                              mem::eMemoryDefault, mem::eAlign32, kNone);
    ASSERT_TRUE(other);
    ASSERT_TRUE(picture->SwapPixFrame(other));
    EXPECT_EQ(layerFrame->GetElementInfo(), other->GetPixelInfo());
    EXPECT_EQ(other->GetBoundary(0), geo::CiRect(0, 0, 6, 2));
}

}  // namespace

#include "imgscope/contracts/document/stack.h"

#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "tests/contracts/document/document_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

using namespace doctest;

// A 2-D picture of one value, positioned at (0, 0).
boost::shared_ptr<img::CPixFrame> Picture(int width, int height, std::uint8_t value,
                                          img::CPixelInfo const& info = kGray8)
{
    auto frame = img::CPixFrame::Create(geo::CiRect(0, 0, width, height), info, mem::eMemoryDefault,
                                        mem::eAlignNone, utl::CPropSet());
    EXPECT_TRUE(frame);
    const std::vector<std::uint8_t> pixel(static_cast<std::size_t>(info.Size()), value);
    frame->FillRect(frame->GetBoundary(), pixel.data());
    return frame;
}

int PixelAt(img::CStack const& stack, utl::CIndexN const& index)
{
    auto frame = stack.GetPixFrame(index);
    if (!frame)
        return -1;
    std::uint8_t value = 0;
    const geo::CiRect b = frame->GetBoundary();
    return frame->ReadRowSegment(geo::CiVec2(b.left, b.top), 1, &value, 0) ? value : -1;
}

TEST(StackTest, DefaultAndNullMadeStacksAreInvalidAndRefuseEverything)
{
    for (img::CStack const& stack :
         {img::CStack(), img::CStack(boost::shared_ptr<mem::CDataFrame>()), img::CStack(boost::shared_ptr<img::CVecGraph>())}) {
        img::CStack s = stack;
        EXPECT_FALSE(s.IsValid());
        EXPECT_EQ(s.DimCount(0), -1);
        EXPECT_EQ(s.GetId(), -1);
        EXPECT_FALSE(s.SetProperty(1, mem::CBin(1)));
        EXPECT_FALSE(s.SetFrame(utl::CIndexN(), Picture(4, 4, 1)));
        EXPECT_EQ(s.AddSample(Frame({4, 4}), img::eSampleNone), -1);
        EXPECT_FALSE(s.SetOriginScale({0, 0}, {1, 1}, kMicro));
        EXPECT_EQ(s.FirstChannel(), -1);
        EXPECT_FALSE(s.GetPixFrame(utl::CIndexN()));
        EXPECT_EQ(s.GetPixelModificationCount(-1), 0u);
    }
}

TEST(StackTest, UnitPlaneDimensionsCountOnlyWhenKept)
{
    struct tCase {
        geo::CiVecN size;
        bool keep;
        int dims;
        utl::CIndexN begin;
    };
    const tCase cases[] = {
        {{8, 8}, false, 0, {}},      {{8, 8, 1}, false, 0, {}},      {{8, 8, 1}, true, 1, {5}},
        {{8, 8, 3, 1}, false, 1, {5}}, {{8, 8, 3, 1}, true, 2, {5, 6}}, {{8, 8, 0}, false, 1, {5}},
    };
    for (tCase const& c : cases) {
        SCOPED_TRACE(testing::Message() << "dims " << c.size.size() << " keep " << c.keep);
        geo::CiVecN position(c.size.size(), 0);
        for (std::size_t i = 2; i < position.size(); ++i)
            position[i] = int(i) + 3;
        const img::CStack stack(Frame(c.size, kGray8, {}, position), c.keep);
        ASSERT_TRUE(stack.IsValid());
        EXPECT_EQ(stack.DimCount(0), c.dims);
        EXPECT_EQ(stack.FrameIndexBegin(0), c.begin);
        EXPECT_EQ(stack.GetBoundary(), geo::CiRect(0, 0, 8, 8));
        EXPECT_EQ(stack.GetLayerType(), img::eLayerTypeImage);
    }
}

// A stack over an 8 × 8 data frame with planes (z 0..2) × (c 5): order 1
// without unit dimensions, full plane positions (z, 5); it grows along z.
class StackFramesTest : public ::testing::Test {
protected:
    boost::shared_ptr<mem::CDataFrame> data = Frame({8, 8, 3, 1}, kGray8, GrowAlongZ(), {0, 0, 0, 5});
    img::CStack stack{data};

    static utl::CPropSet GrowAlongZ()
    {
        utl::CPropSet props;
        props.SetValue(mem::ePropGrowDimension, 2);
        return props;
    }
};

TEST_F(StackFramesTest, ShortAndFullIndicesNameTheSameFrame)
{
    ASSERT_TRUE(stack.SetFrame(utl::CIndexN{1}, Picture(8, 8, 11)));
    EXPECT_EQ(PixelAt(stack, utl::CIndexN{1}), 11);
    EXPECT_EQ(PixelAt(stack, utl::CIndexN{1, 5}), 11);
    EXPECT_EQ(PixelAt(stack, utl::CIndexN{0}), 0);
    EXPECT_EQ(PixelAt(stack, utl::CIndexN()), 0);  // the first frame
    EXPECT_FALSE(stack.GetPixFrame(utl::CIndexN{1, 5, 0}));
    EXPECT_FALSE(stack.GetPixFrame(utl::CIndexN{1, 4}));

    ASSERT_TRUE(stack.SetProperty(utl::CIndexN{2, 5}, 2014, mem::CBin(3.5, kMicro)));
    EXPECT_TRUE(stack.PropertyExists(utl::CIndexN{2}, 2014));
    EXPECT_FALSE(stack.PropertyExists(2014));
    EXPECT_FALSE(stack.SetProperty(utl::CIndexN{2, 5, 1}, 2014, mem::CBin(1.0)));

    // The pixels went into the data frame: other holders see them.
    std::uint8_t value = 0;
    ASSERT_TRUE(data->ReadRect(geo::CiRect(3, 3, 4, 4), geo::CiVecN{1, 5}, &value, 0));
    EXPECT_EQ(value, 11);
}

TEST_F(StackFramesTest, SetFrameRefusesOtherTypesSizesAndLengthsAndCopiesWithinItsDataFrame)
{
    const unsigned int before = stack.GetPixelModificationCount(-1);
    EXPECT_FALSE(stack.SetFrame(utl::CIndexN{0}, boost::shared_ptr<img::CPixFrame>()));
    EXPECT_FALSE(stack.SetFrame(utl::CIndexN{0}, Picture(8, 8, 1, kGray16)));
    EXPECT_FALSE(stack.SetFrame(utl::CIndexN{0}, Picture(8, 7, 1)));
    EXPECT_FALSE(stack.SetFrame(utl::CIndexN{0, 5, 0}, Picture(8, 8, 1)));
    EXPECT_FALSE(stack.SetFrame(utl::CIndexN(), boost::shared_ptr<img::CVecGraph>(new img::CVecGraph)));
    EXPECT_EQ(stack.GetPixelModificationCount(-1), before);

    // A frame of the same data frame, another plane or its own.
    ASSERT_TRUE(stack.SetFrame(utl::CIndexN{0}, Picture(8, 8, 4)));
    ASSERT_TRUE(stack.SetFrame(utl::CIndexN{2}, stack.GetPixFrame(utl::CIndexN{0})));
    ASSERT_TRUE(stack.SetFrame(utl::CIndexN{2}, stack.GetPixFrame(utl::CIndexN{2})));
    EXPECT_EQ(PixelAt(stack, utl::CIndexN{2}), 4);
}

TEST_F(StackFramesTest, FramesAtEitherEndGrowTheDataFrame)
{
    ASSERT_TRUE(stack.SetFrame(utl::CIndexN{3}, Picture(8, 8, 30)));
    ASSERT_TRUE(stack.SetFrame(utl::CIndexN{-1}, Picture(8, 8, 9)));
    const geo::CiVolumeN planes = data->GetPlaneAssortment().GetBoundary();
    EXPECT_EQ(planes.Position(), (geo::CiVecN{-1, 5}));
    EXPECT_EQ(planes.Size(), (geo::CiVecN{5, 1}));
    EXPECT_EQ(stack.FrameIndexBegin(0), utl::CIndexN{-1});
    EXPECT_EQ(PixelAt(stack, utl::CIndexN{3}), 30);
    EXPECT_EQ(PixelAt(stack, utl::CIndexN{-1}), 9);

    // Far from the data frame: kept as a frame of its own.
    auto far = Picture(8, 8, 70);
    ASSERT_TRUE(stack.SetFrame(utl::CIndexN{10}, far, utl::CPropSet()));
    EXPECT_EQ(stack.GetPixFrame(utl::CIndexN{10}), far);
    EXPECT_EQ(data->GetPlaneAssortment().GetBoundary().Size(), (geo::CiVecN{5, 1}));
}

TEST_F(StackFramesTest, FramePropertiesComeWithTheFrame)
{
    utl::CPropSet props;
    props.SetProperty(2014, mem::CBin(1.25, kMicro));
    props.SetValue(7, 1);
    ASSERT_TRUE(stack.SetProperty(utl::CIndexN{1}, 7, mem::CBin(0)));
    ASSERT_TRUE(stack.SetFrame(utl::CIndexN{1}, Picture(8, 8, 1), props));
    utl::CPropSet read;
    read.SetValue(99, 1);
    EXPECT_TRUE(stack.GetProperties(utl::CIndexN{1}, read) && read == props);
    ASSERT_TRUE(stack.GetProperties(utl::CIndexN{0}, read));
    EXPECT_TRUE(read.empty());
    EXPECT_FALSE(stack.GetProperties(utl::CIndexN{0, 0, 0}, read));
}

TEST_F(StackFramesTest, ModificationCountSeesWritesFromEveryPath)
{
    unsigned int last = stack.GetPixelModificationCount(-1);
    const auto grew = [&] {
        const unsigned int now = stack.GetPixelModificationCount(-1);
        const bool result = now > last;
        last = now;
        return result;
    };
    EXPECT_FALSE(grew());
    stack.SetFrame(utl::CIndexN{0}, Picture(8, 8, 1));
    EXPECT_TRUE(grew());
    stack.Invalidate();
    EXPECT_TRUE(grew());
    const std::uint8_t pixel = 5;
    data->Fill(geo::CiVolumeN::FromPositionSize({0, 0, 0, 5}, {2, 2, 1, 1}), &pixel);
    EXPECT_TRUE(grew());
    auto other = Frame({8, 8, 3, 1}, kGray8, {}, {0, 0, 0, 5});
    data->Swap(*other);
    EXPECT_TRUE(grew());
    EXPECT_FALSE(grew());
    EXPECT_GT(stack.GetPixelModificationCount(0), 0u);
}

TEST_F(StackFramesTest, SamplesAreNumberedFromOneAndReused)
{
    auto reference = Frame({4, 4}, kGray16);
    EXPECT_EQ(stack.AddSample(reference, img::eSampleReference), 1);
    EXPECT_EQ(stack.AddSample(Frame({4, 4, 2}), img::eSamplePreview), 2);
    EXPECT_EQ(stack.AddSample(boost::shared_ptr<mem::CDataFrame>(), img::eSampleNone), -1);
    EXPECT_EQ(stack.GetSampleIDs(), (std::vector<int>{1, 2}));
    EXPECT_EQ(stack.GetDataFrame(1), reference);
    EXPECT_EQ(stack.GetPixelInfo(1), kGray16);
    EXPECT_EQ(stack.GetPixelInfo(0), kGray8);
    EXPECT_EQ(stack.DimCount(2), 1);
    EXPECT_EQ(stack.DimCount(3), -1);

    EXPECT_FALSE(stack.RemoveSample(0));
    EXPECT_TRUE(stack.RemoveSample(1));
    EXPECT_FALSE(stack.RemoveSample(1));
    EXPECT_EQ(stack.AddSample(reference, img::eSampleReference), 1);
    EXPECT_EQ(stack.GetDataFrame(0), data);
}

TEST(StackVectorTest, VectorStackHoldsOneGraphicAtTheEmptyIndex)
{
    auto graphic = boost::shared_ptr<img::CVecGraph>(new img::CVecGraph);
    img::CVecGraph::tShape line;
    line.bounds = geo::CdRect(2, 3, 10, 6);
    graphic->Add(line);
    img::CStack stack(graphic);
    ASSERT_TRUE(stack.IsValid());
    EXPECT_EQ(stack.GetLayerType(), img::eLayerTypeVector);
    EXPECT_EQ(stack.DimCount(0), 0);
    EXPECT_EQ(stack.GetVecGraph(utl::CIndexN()), graphic);
    EXPECT_FALSE(stack.GetVecGraph(utl::CIndexN{0}));
    EXPECT_EQ(stack.GetBoundary(), geo::CiRect(2, 3, 11, 7));
    EXPECT_FALSE(stack.GetPixelInfo(0).IsValid());
    EXPECT_FALSE(stack.SetFrame(utl::CIndexN(), Picture(4, 4, 1)));
    EXPECT_FALSE(stack.SetFrame(utl::CIndexN{0}, graphic));
    auto replacement = boost::shared_ptr<img::CVecGraph>(new img::CVecGraph);
    EXPECT_TRUE(stack.SetFrame(utl::CIndexN(), replacement));
    EXPECT_EQ(stack.GetVecGraph(utl::CIndexN()), replacement);
    EXPECT_EQ(stack.FirstChannel(), -1);
}

// Settings of a 16-bit stack of order 2: (x, y, z 0..3, c 0..1).
class StackSettingsTest : public ::testing::Test {
protected:
    img::CStack stack{Frame({10, 20, 4, 2}, kGray16)};
};

TEST_F(StackSettingsTest, DimensionPropertiesCoverEveryDimensionAndChannel)
{
    ASSERT_EQ(stack.DimCount(0), 2);
    for (int dim : {0, 1, 2})
        EXPECT_TRUE(stack.SetDimProperty(dim, 2023, mem::CBin(dim + 1))) << dim;
    EXPECT_FALSE(stack.SetDimProperty(3, 2023, mem::CBin(1)));
    EXPECT_FALSE(stack.SetDimProperty(-1, 2023, mem::CBin(1)));
    EXPECT_FALSE(stack.SetDimProperty(0, -2, 2023, mem::CBin(1)));

    ASSERT_TRUE(stack.SetDimProperty(1, 0, 2014, mem::CBin(488.0, kNano)));
    ASSERT_TRUE(stack.SetDimProperty(1, 1, 2014, mem::CBin(561.0, kNano)));
    EXPECT_FALSE(stack.DimPropertyExists(1, 2014));  // per channel only
    EXPECT_TRUE(stack.DimPropertyExists(1, 1, 2014));
    mem::CBin value;
    EXPECT_TRUE(stack.GetDimProperty(1, -1, 2023, value) && value == mem::CBin(2));
    EXPECT_TRUE(stack.GetDimProperty(1, 1, 2014, value) && value == mem::CBin(561.0, kNano));

    ASSERT_TRUE(stack.SetDimProperty(1, 2014, mem::CBin(1.0)));
    EXPECT_TRUE(stack.DelDimProperty(1, -1, 2014));  // whole dimension and every channel
    EXPECT_FALSE(stack.DimPropertyExists(1, 0, 2014));
    EXPECT_FALSE(stack.DimPropertyExists(1, 2014));
    EXPECT_FALSE(stack.DelDimProperty(1, -1, 2014));
}

TEST_F(StackSettingsTest, EmptyIndexPropertiesAreTheStacksAndBlobsFailWithoutTouching)
{
    ASSERT_TRUE(stack.SetProperty(utl::CIndexN(), 2015, mem::CBin(std::int64_t(7))));
    EXPECT_TRUE(stack.PropertyExists(utl::CIndexN(), 2015));
    utl::CPropSet props;
    EXPECT_TRUE(stack.GetProperties(utl::CIndexN(), props) && props == stack.GetPropset());
    EXPECT_TRUE(stack.DeleteProperty(2015));
    EXPECT_FALSE(stack.DeleteProperty(2015));

    EXPECT_FALSE(stack.SetBlob(mem::CBin(), 1));
    ASSERT_TRUE(stack.SetBlob(mem::CBin(CString(L"blob")), 1));
    mem::CBin blob(3);
    EXPECT_FALSE(stack.GetBlob(blob, 2));
    EXPECT_EQ(blob, mem::CBin(3));
    EXPECT_TRUE(stack.DelBlob(1));
    EXPECT_FALSE(stack.DelBlob(1));
}

TEST_F(StackSettingsTest, CalibrationRoundTripsPerAxis)
{
    geo::CdVec2 origin(-1, -1), scale(-1, -1);
    utl::CUnit unit = utl::c_pixel;
    utl::TUnitValue<geo::CdRect> rect;
    EXPECT_FALSE(stack.GetOriginScale(origin, scale, unit));
    EXPECT_FALSE(stack.GetBoundaryRWC(rect));
    EXPECT_EQ(unit, utl::c_pixel);

    ASSERT_TRUE(stack.SetDimOriginScale(img::eDimX, 10.0, 0.5, kMicro));
    EXPECT_FALSE(stack.GetOriginScale(origin, scale, unit));  // y still missing
    ASSERT_TRUE(stack.SetDimOriginScale(img::eDimY, 20.0, 250.0, kNano));
    EXPECT_TRUE(stack.GetOriginScale(origin, scale, unit) && unit == kMicro);
    EXPECT_EQ(origin, geo::CdVec2(10.0, 20.0));
    EXPECT_EQ(scale, geo::CdVec2(0.5, 250.0));

    // The boundary in one unit: y comes over from nanometres.
    ASSERT_TRUE(stack.GetBoundaryRWC(rect));
    EXPECT_EQ(rect.unit, kMicro);
    EXPECT_DOUBLE_EQ(rect.value.right, 15.0);
    EXPECT_DOUBLE_EQ(rect.value.top, 0.02);
    EXPECT_DOUBLE_EQ(rect.value.bottom, 0.02 + 20 * 0.25);

    ASSERT_TRUE(stack.SetBoundaryRWC(utl::TUnitValue<geo::CdRect>(kMicro, geo::CdRect(100, 60, 0, 0))));
    EXPECT_TRUE(stack.GetBoundaryRWC(rect) && rect.value == geo::CdRect(0, 0, 100, 60));
    double o = 0, s = 0;
    EXPECT_TRUE(stack.GetDimOriginScale(img::eDimY, o, s, unit) && s == 3.0 && unit == kMicro);
    EXPECT_FALSE(stack.SetBoundaryRWC(utl::TUnitValue<geo::CdRect>()));
    EXPECT_FALSE(stack.SetBoundaryRWC(
        utl::TUnitValue<geo::CdRect>(kMicro, geo::CdRect(0, 0, std::numeric_limits<double>::infinity(), 1))));
    EXPECT_FALSE(stack.SetBoundaryRWC(utl::TUnitValue<geo::CdRect>(kMicro, geo::CdRect(-1e308, 0, 1e308, 1))));

    // A new scale keeps the origin where it physically is.
    ASSERT_TRUE(stack.SetOriginScale({2.0, 3.0}, {1.0, 1.0}, kMicro));
    ASSERT_TRUE(stack.SetScale(utl::TUnitValue<geo::CdVec2>(kNano, {100.0, 200.0})));
    ASSERT_TRUE(stack.GetOriginScale(origin, scale, unit));
    EXPECT_DOUBLE_EQ(origin.x, 2000.0);
    EXPECT_EQ(scale, geo::CdVec2(100.0, 200.0));
    EXPECT_FALSE(stack.GetDimOriginScale(img::eDimZ, o, s, unit));
    EXPECT_FALSE(stack.SetDimOriginScale(img::eDimNone, 0, 1, kMicro));
}

TEST_F(StackSettingsTest, ChannelsFollowTheChannelDimension)
{
    EXPECT_EQ(stack.FirstChannel(), 0);
    EXPECT_EQ(stack.NextChannel(0), -1);  // one gray component
    EXPECT_FALSE(stack.HasChannelDim(0));
    stack.SetChannelDim(3);  // past the stack's dimensions: ignored
    EXPECT_EQ(stack.GetChannelDim(), -1);
    stack.SetChannelDim(2);  // a dimension name, but no frame-index component
    EXPECT_EQ(stack.GetChannelDim(), 2);
    EXPECT_FALSE(stack.HasChannelDim(0));
    EXPECT_EQ(stack.NextChannel(stack.FirstChannel()), -1);
    stack.SetChannelDim(0);
    EXPECT_TRUE(stack.HasChannelDim(0));
    std::vector<int> channels;
    for (int c = stack.FirstChannel(); c != -1; c = stack.NextChannel(c))
        channels.push_back(c);
    EXPECT_EQ(channels, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(stack.SetChannelName(L"DAPI", 3));
    EXPECT_FALSE(stack.SetChannelName(L"none", 4));
    CString name;
    EXPECT_FALSE(stack.GetChannelName(name, 2));
    EXPECT_TRUE(stack.GetChannelName(name, 3) && name == CString(L"DAPI"));
    stack.SetChannelDim(-1);
    EXPECT_FALSE(stack.HasChannelDim(0));

    const img::CStack rgba(Frame({4, 4}, kRgb8.AddAlpha(1)));
    channels.clear();
    for (int c = rgba.FirstChannel(); c != -1; c = rgba.NextChannel(c))
        channels.push_back(c);
    EXPECT_EQ(channels, (std::vector<int>{0, 1, 2}));
}

TEST_F(StackSettingsTest, LimitsDefaultToTheTypeRangeAndChannelsMayOverride)
{
    stack.SetChannelDim(1);
    utl::TInterval<double> limits;
    EXPECT_TRUE(stack.GetDispLimits(limits, -1) && limits == utl::TInterval<double>(0.0, 65535.0));
    ASSERT_TRUE(stack.SetDispLimits({100.0, 4000.0}, -1));
    ASSERT_TRUE(stack.SetDispLimits({0.0, 50.0}, 1));
    EXPECT_TRUE(stack.GetDispLimits(limits, 0) && limits == utl::TInterval<double>(100.0, 4000.0));
    EXPECT_TRUE(stack.GetDispLimits(limits, 1) && limits == utl::TInterval<double>(0.0, 50.0));
    EXPECT_FALSE(stack.SetDispLimits({5.0, 1.0}, -1));
    EXPECT_FALSE(stack.SetDispLimits({0.0, std::numeric_limits<double>::quiet_NaN()}, -1));
    EXPECT_FALSE(stack.SetDispLimits({0.0, 1.0}, 2));
    EXPECT_FALSE(stack.GetDispLimits(limits, 2));
    EXPECT_EQ(limits, utl::TInterval<double>(0.0, 50.0));

    const img::CStack signed8(Frame({4, 4}, img::CPixelInfo(utl::eInt8, 1, img::eColorSpaceGray)));
    EXPECT_TRUE(signed8.GetDispLimits(limits, 0) && limits == utl::TInterval<double>(-128.0, 127.0));
}

TEST_F(StackSettingsTest, DataLutsPerChannelAndForAll)
{
    stack.SetChannelDim(1);
    const std::vector<utl::CBGR8> grey(256, utl::CBGR8(1, 2, 3));
    const std::vector<utl::CBGR8> green(256, utl::CBGR8(0, 255, 0));
    std::vector<utl::CBGR8> lut;
    EXPECT_FALSE(stack.GetLUT(lut, 0));
    EXPECT_FALSE(stack.SetLUT({}, 0));
    EXPECT_FALSE(stack.SetLUT(std::vector<utl::CBGR8>(65537), 0));
    EXPECT_FALSE(stack.SetLUT(green, 2));

    ASSERT_TRUE(stack.SetLUT(grey, -1));
    ASSERT_TRUE(stack.SetLUT(green, 1));
    EXPECT_TRUE(stack.GetLUT(lut, 0) && lut == grey);
    EXPECT_TRUE(stack.GetLUT(lut, 1) && lut == green);
    EXPECT_TRUE(stack.GetLUT(lut, -1) && lut == grey);

    EXPECT_TRUE(stack.RemoveLUT(0));  // opts out of the common LUT
    EXPECT_FALSE(stack.GetLUT(lut, 0));
    EXPECT_FALSE(stack.GetLUT(lut, -1));  // no channel uses it any more
    EXPECT_FALSE(stack.RemoveLUT(0));
    EXPECT_TRUE(stack.GetLUT(lut, 1));
    EXPECT_TRUE(stack.RemoveLUT(-1));
    EXPECT_FALSE(stack.GetLUT(lut, 1));
    EXPECT_FALSE(stack.RemoveLUT(-1));
}

TEST(StackNotificationTest, SettingsOfAnAddedStackReachTheDocument)
{
    img::CImg doc;
    img::CStack stack(Frame({4, 4}));
    doc.Add(stack);
    std::vector<img::EChange> heard;
    doc.Subscribe([&heard](img::EChange change) { heard.push_back(change); });
    stack.SetLUT(std::vector<utl::CBGR8>(256), 0);
    stack.SetXYFixed(true);
    stack.SetXYFixed(true);  // no change, no message
    stack.SetFrame(utl::CIndexN(), Picture(4, 4, 3));
    stack.AddSample(Frame({4, 4}), img::eSampleNone);
    EXPECT_EQ(heard, (std::vector<img::EChange>{img::eChangeProperties, img::eChangeProperties, img::eChangePixels,
                                                 img::eChangePixels}));
}

}  // namespace

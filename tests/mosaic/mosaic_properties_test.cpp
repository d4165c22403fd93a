// Mosaic properties: the layer rule of the named-layer methods, document
// and dynamic properties, and the active-layer methods, each checked on a
// mosaic whose active layer is not the document's first.
#include "imgscope/mosaic/mosaic_scope.h"

#include "mosaic_test_util.h"

#include <gtest/gtest.h>

namespace {

using namespace mosaic_test;

class MosaicPropertiesTest : public ::testing::Test, public MosaicFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tLayer().CreateIn(*mosaic));
        first = Active();
        tLayer layer;
        layer.magnification = 20.0;
        layer.info = kRgb8;
        layer.volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0, 0}, geo::CiVecN{256, 128, 2, 3});
        layer.phys = MicronRect(10, 20, 138, 84);
        ASSERT_TRUE(layer.CreateIn(*mosaic));
        active = Active();
    }

    int first = -1;
    int active = -1;
    Mosaic unbound{img::CreateMosaikImage()};
};

TEST_F(MosaicPropertiesTest, NamedLayerMethodsTakeMinusOneForTheActiveLayerAndRefuseOtherNegatives)
{
    const mem::CBin value(CString(L"v"));
    ASSERT_TRUE(mosaic->SetLayerProperty(-1, 7001, value));
    EXPECT_TRUE(doc.FindStack(active).PropertyExists(7001));
    EXPECT_FALSE(doc.FindStack(first).PropertyExists(7001));
    ASSERT_TRUE(mosaic->SetLayerProperty(first, 7002, value));
    EXPECT_TRUE(doc.FindStack(first).PropertyExists(7002));

    utl::CPropSet set;
    set.SetValue(7003, 3.5);
    ASSERT_TRUE(mosaic->SetLayerProperties(-1, set));
    utl::CPropSet read;
    ASSERT_TRUE(mosaic->GetLayerProperties(-1, read));
    EXPECT_TRUE(read.PropertyExists(7001) && read.PropertyExists(7003) && !read.PropertyExists(7002));

    utl::CPropSet device;
    device.SetValue(120060, 20.0);
    ASSERT_TRUE(mosaic->SetAcqProperties(-1, device));
    utl::CPropSet readDevice;
    ASSERT_TRUE(mosaic->GetAcqProperties(active, readDevice));
    EXPECT_EQ(readDevice, device);
    EXPECT_FALSE(mosaic->GetAcqProperties(first, readDevice));

    // -2, and -1 without an active layer, fail before anything is looked up.
    const Mosaic opened(img::CreateMosaikImage(&doc));
    ASSERT_EQ(opened->GetActiveLayerID(), -1);
    for (auto* m : {mosaic.get(), opened.get()}) {
        const int layer = m == mosaic.get() ? -2 : -1;
        utl::CPropSet untouched;
        untouched.SetValue(1, 1);
        EXPECT_FALSE(m->GetLayerProperties(layer, untouched));
        EXPECT_FALSE(m->SetLayerProperties(layer, set));
        EXPECT_FALSE(m->SetLayerProperty(layer, 7004, value));
        EXPECT_FALSE(m->GetAcqProperties(layer, untouched));
        EXPECT_FALSE(m->SetAcqProperties(layer, device));
        EXPECT_EQ(untouched.size(), 1u);
    }
}

TEST_F(MosaicPropertiesTest, StackTypeWrittenAsALayerPropertyGivesTheLayerItsRole)
{
    doc.SetProperty(2003, mem::CBin(utl::TInterval<double>(0, 255)));
    unsigned int bits = 0;
    utl::TInterval<double> limits;
    EXPECT_FALSE(mosaic->GetDisplayLimits(img::eStackSharpness, bits, limits));
    ASSERT_TRUE(mosaic->SetLayerProperty(first, 2074, mem::CBin(8)));
    ASSERT_TRUE(mosaic->GetDisplayLimits(img::eStackSharpness, bits, limits));
    EXPECT_EQ(bits, 16u);
}

TEST_F(MosaicPropertiesTest, DocumentAndDynamicPropertiesAreTheDocuments)
{
    ASSERT_TRUE(mosaic->SetImageProperty(7100, mem::CBin(1)));
    utl::CPropSet set;
    set.SetValue(7101, 2);
    ASSERT_TRUE(mosaic->SetImageProperties(set));
    EXPECT_TRUE(doc.PropertyExists(7100) && doc.PropertyExists(7101));
    utl::CPropSet read;
    ASSERT_TRUE(mosaic->GetImageProperties(read));
    EXPECT_TRUE(read.PropertyExists(7100) && read.PropertyExists(7101));

    std::vector<boost::shared_ptr<utl::CPropSet>> sets{boost::make_shared<utl::CPropSet>()};
    EXPECT_TRUE(mosaic->GetDynamicImageProperties(sets));
    EXPECT_TRUE(sets.empty());
    sets = {boost::make_shared<utl::CPropSet>(set)};
    ASSERT_TRUE(mosaic->SetDynamicImageProperties(sets));
    EXPECT_EQ(img::GetDynPropStorage(doc), sets);
    EXPECT_FALSE(mosaic->SetDynamicImageProperties({nullptr}));
    std::vector<boost::shared_ptr<utl::CPropSet>> again;
    ASSERT_TRUE(mosaic->GetDynamicImageProperties(again));
    EXPECT_EQ(again, sets);
}

TEST_F(MosaicPropertiesTest, ActiveLayerMethodsAddressTheActiveLayer)
{
    EXPECT_EQ(mosaic->GetBoundary(), geo::CiRect(0, 0, 256, 128));
    EXPECT_EQ(unbound->GetBoundary(), geo::CiRect());
    EXPECT_EQ(mosaic->GetActiveDataFrame(), doc.FindStack(active).GetDataFrame(0));
    EXPECT_FALSE(unbound->GetActiveDataFrame());

    utl::TUnitValue<geo::CdVec2> scale;
    geo::CdVec2 origin;
    ASSERT_TRUE(mosaic->GetPixelCoords(scale, origin));
    EXPECT_EQ(scale, utl::TUnitValue<geo::CdVec2>(kMicron, geo::CdVec2(0.5, 0.5)));
    EXPECT_EQ(origin, geo::CdVec2(10, 20));
    geo::CdVec2 pixel;
    ASSERT_TRUE(mosaic->Lcs2Pixel(utl::TUnitValue<geo::CdVec2>(kMicron, geo::CdVec2(11, 21)), pixel));
    EXPECT_EQ(pixel, geo::CdVec2(2, 2));
    geo::CdRect pixels;
    ASSERT_TRUE(mosaic->Lcs2Pixel(MicronRect(10, 20, 12, 22), pixels));
    EXPECT_EQ(pixels, geo::CdRect(0, 0, 4, 4));

    ASSERT_TRUE(mosaic->ActivateFrame(geo::CiVecN{1, 2}));
    geo::CiVecN frame;
    ASSERT_TRUE(core.GetActiveFrame(active, frame));
    EXPECT_EQ(frame, (geo::CiVecN{1, 2}));

    ASSERT_TRUE(mosaic->SetChannelName(1, CString(L"green")));
    CString name;
    ASSERT_TRUE(doc.FindStack(active).GetChannelName(name, 1));
    EXPECT_EQ(name, L"green");
    EXPECT_FALSE(doc.FindStack(first).GetChannelName(name, 0));

    // A colour is a data LUT, which this method does not write.
    EXPECT_FALSE(mosaic->SetChannelColor(0, utl::CRGB8(255, 0, 0)));
    EXPECT_FALSE(core.HasDataLUT(active, 0));
}

TEST_F(MosaicPropertiesTest, ChannelTypeSetsTheChannelDimensionAndSteppingDropsChannelValues)
{
    ASSERT_TRUE(mosaic->SetDimensionType(2, img::eDimChannel, 0));
    EXPECT_EQ(doc.FindStack(active).GetChannelDim(), 2);
    img::EPhysDim type = img::eDimNone;
    ASSERT_TRUE(core.GetDimensionType(active, 2, type));
    EXPECT_EQ(type, img::eDimChannel);
    ASSERT_TRUE(mosaic->SetDimensionType(1, img::eDimZ, 0));
    EXPECT_EQ(doc.FindStack(active).GetChannelDim(), 2);

    img::CStack stack = doc.FindStack(active);
    ASSERT_TRUE(stack.SetDimProperty(1, 2027, mem::CBin(2417)));
    const utl::TUnitValue<double> step(kMicron, 1.5);
    ASSERT_TRUE(mosaic->SetDimensionStepping(1, step, step));
    EXPECT_FALSE(stack.DimPropertyExists(1, 2027));
    utl::TUnitValue<double> a, b;
    ASSERT_TRUE(mosaic->GetDimensionStepping(1, a, b));
    EXPECT_EQ(a, step);
    EXPECT_FALSE(unbound->SetDimensionStepping(1, step, step));
    EXPECT_FALSE(unbound->GetDimensionStepping(1, a, b));
}

TEST_F(MosaicPropertiesTest, DimensionValuesAreFramePropertiesByType)
{
    struct tCase {
        img::EPhysDim type;
        int id;
    };
    const geo::CiVecN index{1, 2};
    for (tCase c : {tCase{img::eDimZ, 2014}, {img::eDimTime, 2017}, {img::eDimLambda, 2041},
                    {img::eDimChannel, 2417}, {img::eDimOther, -1}}) {
        SCOPED_TRACE(c.id);
        const utl::TUnitValue<double> value(kMicron, 0.25 * c.id);
        ASSERT_TRUE(mosaic->SetDimensionValue(index, c.type, value));
        EXPECT_TRUE(doc.FindStack(active).PropertyExists(utl::CIndexN(index), c.id));
        utl::TUnitValue<double> read;
        ASSERT_TRUE(mosaic->GetDimensionValue(index, c.type, read));
        EXPECT_EQ(read, value);
    }

    // Absent: false, untouched. Plain: the default unit. Another type: 0.0.
    const utl::TUnitValue<double> sentinel(kMicron, 9.0);
    utl::TUnitValue<double> read = sentinel;
    EXPECT_FALSE(mosaic->GetDimensionValue(geo::CiVecN{0, 0}, img::eDimZ, read));
    EXPECT_EQ(read, sentinel);
    img::CStack stack = doc.FindStack(active);
    stack.SetProperty(utl::CIndexN(geo::CiVecN{0, 0}), 2014, mem::CBin(4.0));
    ASSERT_TRUE(mosaic->GetDimensionValue(geo::CiVecN{0, 0}, img::eDimZ, read));
    EXPECT_EQ(read, utl::TUnitValue<double>(utl::CUnit(), 4.0));
    stack.SetProperty(utl::CIndexN(geo::CiVecN{0, 0}), 2014, mem::CBin(CString(L"deep")));
    ASSERT_TRUE(mosaic->GetDimensionValue(geo::CiVecN{0, 0}, img::eDimZ, read));
    EXPECT_EQ(read, utl::TUnitValue<double>());
    EXPECT_FALSE(unbound->GetDimensionValue(index, img::eDimZ, read));
}

}  // namespace

// Dimension types, names, stepping, frame rates and channel values, checked
// against the dimension properties they leave in the stack.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include "imgscope/contracts/platform/profile.h"

#include <gtest/gtest.h>

namespace imgscope_test {
namespace {

using UDouble = utl::TUnitValue<double>;

constexpr utl::CUnit kHertz{utl::eQuantityTime, -1, 0};

constexpr int kType = 2023;
constexpr int kFirstStepId = 2025;
constexpr int kSecondStepId = 2026;
constexpr int kValueId = 2027;

class DimensionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // 8 × 6 pixels, 3 z positions, 4 time points: two stack dimensions,
        // so dimension indices 0, 1 and 2 are addressable.
        layer = AddRasterLayer(doc, {8, 6, 3, 4}, /*withEntry*/ false);
        ASSERT_GT(layer, 0);
        ASSERT_EQ(Stack().DimCount(0), 2);
    }

    img::CStack Stack() { return doc.FindStack(layer); }

    // The raw content of a dimension property; an empty value when absent.
    mem::CBin Raw(int dim, int id)
    {
        mem::CBin bin;
        Stack().GetDimProperty(dim, id, bin);
        return bin;
    }

    void Store(int dim, int id, mem::CBin const& value) { ASSERT_TRUE(Stack().SetDimProperty(dim, id, value)); }

    img::CImg doc;
    TestScope scope{doc};
    int layer = -1;
};

TEST_F(DimensionsTest, IndicesRunFromZeroToOrderInclusive)
{
    for (int dim : {0, 1, 2}) {
        SCOPED_TRACE(dim);
        EXPECT_TRUE(scope.SetDimensionType(layer, dim, img::eDimZ, 0));
        img::EPhysDim type = img::eDimNone;
        EXPECT_TRUE(scope.GetDimensionType(layer, dim, type) && type == img::eDimZ);
    }
    for (int dim : {-1, 3, 1000}) {
        SCOPED_TRACE(dim);
        EXPECT_FALSE(scope.SetDimensionType(layer, dim, img::eDimZ, 0));
        EXPECT_FALSE(scope.SetDimensionFrameRate(layer, dim, UDouble(kHertz, 5), false));
        img::EPhysDim type = img::eDimAngle;
        EXPECT_FALSE(scope.GetDimensionType(layer, dim, type));
        EXPECT_EQ(type, img::eDimAngle);
    }
    // An unknown layer fails the same way.
    img::EPhysDim type = img::eDimAngle;
    EXPECT_FALSE(scope.GetDimensionType(layer + 1, 0, type));
    EXPECT_EQ(type, img::eDimAngle);
    EXPECT_FALSE(scope.SetDimensionType(layer + 1, 0, img::eDimZ, 0));
}

TEST_F(DimensionsTest, SetTypeChoosesValuePropertyId)
{
    struct tCase {
        img::EPhysDim type;
        int valueId;
        int expected2027;  // 0: absent
    } const cases[] = {
        {img::eDimZ, 0, 2014},     {img::eDimTime, 0, 2017}, {img::eDimLambda, 0, 2041},
        {img::eDimOther, 0, 0},    {img::eDimChannel, 0, 0}, {img::eDimTime, 4711, 4711},
        {img::eDimOther, 4712, 4712},
    };
    int dim = 0;
    for (auto const& c : cases) {
        SCOPED_TRACE(c.valueId);
        Stack().DelDimProperty(dim, -1, kValueId);
        ASSERT_TRUE(scope.SetDimensionType(layer, dim, c.type, c.valueId));
        EXPECT_EQ(Raw(dim, kType), mem::CBin(int(c.type)));
        if (c.expected2027 == 0)
            EXPECT_FALSE(Stack().DimPropertyExists(dim, kValueId));
        else
            EXPECT_EQ(Raw(dim, kValueId), mem::CBin(c.expected2027));
    }

    // A negative ID retypes without touching the stored value ID.
    ASSERT_TRUE(scope.SetDimensionType(layer, dim, img::eDimZ, 0));
    ASSERT_TRUE(scope.SetDimensionType(layer, dim, img::eDimLambda, -1));
    EXPECT_EQ(Raw(dim, kType), mem::CBin(int(img::eDimLambda)));
    EXPECT_EQ(Raw(dim, kValueId), mem::CBin(2014));
}

TEST_F(DimensionsTest, TypeAndNameReadWhatIsStored)
{
    img::EPhysDim type = img::eDimAngle;
    CString name(L"unchanged");
    EXPECT_FALSE(scope.GetDimensionType(layer, 1, type));
    EXPECT_FALSE(scope.GetDimensionName(layer, 1, name));
    EXPECT_EQ(type, img::eDimAngle);
    EXPECT_EQ(name, CString(L"unchanged"));

    // An int with a unit counts as an int.
    Store(1, kType, mem::CBin(int(img::eDimTime), kSecond));
    EXPECT_TRUE(scope.GetDimensionType(layer, 1, type) && type == img::eDimTime);
    EXPECT_TRUE(scope.GetDimensionName(layer, 1, name) && name == imgGetDimName(img::eDimTime, nullptr));
    EXPECT_NE(name, imgGetDimName(img::eDimZ, nullptr));

    // Present but not an integer: found, yet the type stays as it was.
    Store(1, kType, mem::CBin(2.0));
    type = img::eDimAngle;
    EXPECT_TRUE(scope.GetDimensionType(layer, 1, type) && type == img::eDimAngle);
}

TEST_F(DimensionsTest, SteppingStoresUnderDefaultIdsAndReusesThem)
{
    const UDouble first(kMicron, 0.5), second(kMicron, 12.0);
    ASSERT_TRUE(scope.SetDimensionType(layer, 0, img::eDimZ, 0));
    ASSERT_TRUE(scope.SetDimensionStepping(layer, 0, first, second));
    EXPECT_EQ(Raw(0, kFirstStepId), mem::CBin(2012));
    EXPECT_EQ(Raw(0, kSecondStepId), mem::CBin(2013));
    EXPECT_EQ(Raw(0, 2012), mem::CBin(first));
    EXPECT_EQ(Raw(0, 2013), mem::CBin(second));

    UDouble a, b;
    EXPECT_TRUE(scope.GetDimensionStepping(layer, 0, a, b) && a == first);
    EXPECT_EQ(b, second);

    // Retyped to time: the stored IDs stay in charge, the time defaults
    // (2100, 2016) are not used.
    ASSERT_TRUE(scope.SetDimensionType(layer, 0, img::eDimTime, 0));
    const UDouble later(kSecond, 2.0), last(kSecond, 60.0);
    ASSERT_TRUE(scope.SetDimensionStepping(layer, 0, later, last));
    EXPECT_EQ(Raw(0, 2012), mem::CBin(later));
    EXPECT_EQ(Raw(0, 2013), mem::CBin(last));
    EXPECT_FALSE(Stack().DimPropertyExists(0, 2100));
    EXPECT_FALSE(Stack().DimPropertyExists(0, 2016));

    // Each default pair on a fresh dimension.
    ASSERT_TRUE(scope.SetDimensionType(layer, 1, img::eDimTime, 0));
    ASSERT_TRUE(scope.SetDimensionStepping(layer, 1, later, last));
    EXPECT_EQ(Raw(1, kFirstStepId), mem::CBin(2100));
    EXPECT_EQ(Raw(1, kSecondStepId), mem::CBin(2016));
    ASSERT_TRUE(scope.SetDimensionType(layer, 2, img::eDimLambda, 0));
    ASSERT_TRUE(scope.SetDimensionStepping(layer, 2, first, second));
    EXPECT_EQ(Raw(2, kFirstStepId), mem::CBin(2039));
    EXPECT_EQ(Raw(2, kSecondStepId), mem::CBin(2040));
}

TEST_F(DimensionsTest, SteppingWithoutUsableIdsWritesNothing)
{
    const UDouble v(kMicron, 1.0);
    // No type at all, then a type without defaults.
    EXPECT_FALSE(scope.SetDimensionStepping(layer, 0, v, v));
    ASSERT_TRUE(scope.SetDimensionType(layer, 0, img::eDimOther, 0));
    EXPECT_FALSE(scope.SetDimensionStepping(layer, 0, v, v));
    EXPECT_FALSE(Stack().DimPropertyExists(0, kFirstStepId));
    EXPECT_FALSE(Stack().DimPropertyExists(0, kSecondStepId));

    // A stored ID of 0, in either place, refuses even a type that has
    // defaults. So does an ID of another type, which reads as 0.
    struct tIds {
        mem::CBin first, second;
    } const stored[] = {
        {mem::CBin(0), mem::CBin(2013)},
        {mem::CBin(2012), mem::CBin(0)},
        {mem::CBin(2012), mem::CBin(2013.0)},
    };
    ASSERT_TRUE(scope.SetDimensionType(layer, 1, img::eDimZ, 0));
    for (auto const& ids : stored) {
        SCOPED_TRACE(&ids - stored);
        Store(1, kFirstStepId, ids.first);
        Store(1, kSecondStepId, ids.second);
        EXPECT_FALSE(scope.SetDimensionStepping(layer, 1, v, v));
        EXPECT_EQ(Raw(1, kFirstStepId), ids.first);
        EXPECT_EQ(Raw(1, kSecondStepId), ids.second);
        EXPECT_FALSE(Stack().DimPropertyExists(1, 2012));
        EXPECT_FALSE(Stack().DimPropertyExists(1, 2013));
    }

    // Only one of the pair stored: the type's defaults take over both.
    ASSERT_TRUE(scope.SetDimensionType(layer, 2, img::eDimZ, 0));
    Store(2, kSecondStepId, mem::CBin(3333));
    ASSERT_TRUE(scope.SetDimensionStepping(layer, 2, v, v));
    EXPECT_EQ(Raw(2, kFirstStepId), mem::CBin(2012));
    EXPECT_EQ(Raw(2, kSecondStepId), mem::CBin(2013));
}

TEST_F(DimensionsTest, GetSteppingNeedsBothNamedProperties)
{
    const UDouble presetA(kSecond, -1), presetB(kSecond, -2);
    UDouble a = presetA, b = presetB;
    EXPECT_FALSE(scope.GetDimensionStepping(layer, 0, a, b));

    Store(0, kFirstStepId, mem::CBin(5001));
    Store(0, kSecondStepId, mem::CBin(5002, kSecond));  // an ID with a unit still names 5002
    Store(0, 5001, mem::CBin(UDouble(kMicron, 3.0)));
    EXPECT_FALSE(scope.GetDimensionStepping(layer, 0, a, b));
    EXPECT_EQ(a, presetA);
    EXPECT_EQ(b, presetB);

    // A value of another type leaves its output as it was.
    Store(0, 5002, mem::CBin(7.0));
    EXPECT_TRUE(scope.GetDimensionStepping(layer, 0, a, b) && a == UDouble(kMicron, 3.0));
    EXPECT_EQ(b, presetB);
}

TEST_F(DimensionsTest, FrameRateVariantsAreSeparate)
{
    ASSERT_TRUE(scope.SetDimensionFrameRate(layer, 1, UDouble(kHertz, 25), false));
    EXPECT_EQ(Raw(1, 10019), mem::CBin(UDouble(kHertz, 25)));
    EXPECT_FALSE(Stack().DimPropertyExists(1, 10069));

    UDouble rate(kSecond, -1);
    EXPECT_FALSE(scope.GetDimensionFrameRate(layer, 1, rate, true));
    EXPECT_EQ(rate, UDouble(kSecond, -1));
    EXPECT_TRUE(scope.GetDimensionFrameRate(layer, 1, rate, false) && rate == UDouble(kHertz, 25));

    ASSERT_TRUE(scope.SetDimensionFrameRate(layer, 1, UDouble(kHertz, 30), true));
    EXPECT_TRUE(scope.GetDimensionFrameRate(layer, 1, rate, true) && rate == UDouble(kHertz, 30));
    EXPECT_TRUE(scope.GetDimensionFrameRate(layer, 1, rate, false) && rate == UDouble(kHertz, 25));
}

TEST_F(DimensionsTest, ChannelValuesGoThroughTheValueProperty)
{
    const UDouble v(kMicron, 4.5);
    UDouble out(kSecond, -1);
    // No 2027 yet.
    EXPECT_FALSE(scope.SetDimensionChannelValue(layer, 0, 1, v));
    EXPECT_FALSE(scope.GetDimensionChannelValue(layer, 0, 1, out));

    ASSERT_TRUE(scope.SetDimensionType(layer, 0, img::eDimZ, 0));  // 2027 = 2014
    ASSERT_TRUE(scope.SetDimensionChannelValue(layer, 0, 1, v));
    mem::CBin bin;
    EXPECT_TRUE(Stack().GetDimProperty(0, 1, 2014, bin) && bin == mem::CBin(v));

    // Stored only per channel: not yet set up for the dimension.
    EXPECT_FALSE(scope.GetDimensionChannelValue(layer, 0, 1, out));
    EXPECT_EQ(out, UDouble(kSecond, -1));
    Store(0, 2014, mem::CBin(UDouble(kMicron, 0.0)));
    EXPECT_TRUE(scope.GetDimensionChannelValue(layer, 0, 1, out) && out == v);
    // A channel without a value of its own.
    out = UDouble(kSecond, -1);
    EXPECT_FALSE(scope.GetDimensionChannelValue(layer, 0, 2, out));
    EXPECT_EQ(out, UDouble(kSecond, -1));

    // A 2027 that holds no integer names nothing.
    Store(0, kValueId, mem::CBin(2014.0));
    EXPECT_FALSE(scope.GetDimensionChannelValue(layer, 0, 1, out));
    EXPECT_FALSE(scope.SetDimensionChannelValue(layer, 0, 3, v));
    EXPECT_FALSE(Stack().DimPropertyExists(0, 3, 2014));
}

}  // namespace
}  // namespace imgscope_test

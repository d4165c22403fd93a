#include "imgscope/typed/simple_stack.h"

#include "tests/scope/core_documents.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace imgscope_test;
using Stack = std::unique_ptr<img::CSimpleStack>;
using Scope = std::unique_ptr<img::CStackScope>;
using UValue = utl::TUnitValue<double>;

const utl::CPropSet kNone;
const geo::CiRect kPlane(0, 0, 12, 9);

class SimpleStackTest : public ::testing::Test {
protected:
    // A new stack of `frames` frames of kPlane in the fixture's document.
    Stack NewStack(int frames, img::CPixelInfo const& info = kGray16)
    {
        return Stack(img::InsertSimpleStack(doc, kPlane, frames, info, mem::eMemoryDefault, mem::eAlignNone, kNone,
                                            kNone, kNone));
    }

    // Frame property `id` of frame `index`, straight from the document.
    bool Stored(int layer, geo::CiVecN const& index, int id, UValue& value)
    {
        mem::CBin bin;
        return doc.FindStack(layer).GetProperty(utl::CIndexN(index), id, bin) && bin.Get(value);
    }

    img::CImg doc;
};

TEST_F(SimpleStackTest, ZStackBuiltFrameByFrameReadsBackFramesAndValues)
{
    const Stack stack = NewStack(0);
    ASSERT_TRUE(stack);
    EXPECT_EQ(stack->GetEndIndex(), 0);
    ASSERT_TRUE(stack->SetDimensionType(img::eDimZ));
    for (int k = 0; k < 5; ++k)
        ASSERT_TRUE(stack->PushBack(UniformFrame(kPlane, kGray16, 1000 + k), UValue(kMicron, 0.25 * k)));
    EXPECT_EQ(stack->GetBeginIndex(), 0);
    EXPECT_EQ(stack->GetEndIndex(), 5);
    for (int k = 0; k < 5; ++k) {
        UValue value;
        EXPECT_EQ(PixelAt(stack->GetPixFrame(k), {11, 8}), 1000 + k);
        EXPECT_TRUE(stack->GetFrameProperty(k, value) && value == UValue(kMicron, 0.25 * k)) << k;
        EXPECT_TRUE(Stored(stack->GetLayerID(), {k}, 2014, value)) << k;
    }
    EXPECT_FALSE(stack->GetPixFrame(5));

    // A frame without a value, or no frame at all, leaves the caller's value.
    EXPECT_TRUE(stack->SetFrameProperty(2, UValue(kMicron, 9.0)));
    EXPECT_TRUE(stack->PushBack(UniformFrame(kPlane, kGray16, 7)));
    for (int i : {2, 5, 40}) {
        UValue value(kSecond, -1.0);
        EXPECT_TRUE(stack->GetFrameProperty(i, value));
        EXPECT_EQ(value, i == 2 ? UValue(kMicron, 9.0) : UValue(kSecond, -1.0)) << i;
    }
}

TEST_F(SimpleStackTest, PushesAtBothEndsKeepPositionsContiguous)
{
    const struct {
        img::CPixelInfo info;
        double first;
    } kinds[] = {{kGray8, 10}, {kGray16, 40000}, {kFloat, 1.5}, {kRgb8, 200}};
    for (auto const& kind : kinds) {
        SCOPED_TRACE(kind.info.GetElementType());
        const Stack stack = NewStack(0, kind.info);
        ASSERT_TRUE(stack);
        // An empty stack takes its first frame from the front at -1.
        ASSERT_TRUE(stack->PushFront(UniformFrame(kPlane, kind.info, kind.first)));
        EXPECT_EQ(stack->GetBeginIndex(), -1);
        EXPECT_EQ(stack->GetEndIndex(), 0);
        for (int k = 0; k < 4; ++k)
            ASSERT_TRUE(stack->PushBack(UniformFrame(kPlane, kind.info, k + 1)));
        ASSERT_TRUE(stack->PushFront(UniformFrame(kPlane, kind.info, 3)));
        EXPECT_EQ(stack->GetBeginIndex(), -2);
        EXPECT_EQ(stack->GetEndIndex(), 4);
        const double expected[] = {3, kind.first, 1, 2, 3, 4};
        for (int i = -2; i < 4; ++i)
            EXPECT_EQ(PixelAt(stack->GetPixFrame(i), {5, 5}), expected[i + 2]) << i;
        EXPECT_FALSE(stack->GetPixFrame(-3));
    }
}

TEST_F(SimpleStackTest, NullOrMismatchedFramesChangeNothing)
{
    const Stack stack = NewStack(2);
    ASSERT_TRUE(stack && stack->SetDimensionType(img::eDimZ));
    const boost::shared_ptr<img::CPixFrame> none;
    EXPECT_FALSE(stack->PushFront(none));
    EXPECT_FALSE(stack->PushBack(none));
    EXPECT_FALSE(stack->PushBack(none, UValue(kMicron, 1.0)));
    EXPECT_FALSE(stack->PushBack(UniformFrame(kPlane, kGray8, 1), UValue(kMicron, 1.0)));  // another pixel type
    EXPECT_FALSE(stack->PushBack(UniformFrame(geo::CiRect(0, 0, 12, 8), kGray16, 1)));     // another size
    EXPECT_EQ(stack->GetEndIndex(), 2);
    UValue value;
    EXPECT_FALSE(Stored(stack->GetLayerID(), {2}, 2014, value));
    // A new stack holds its frames from the start; AddPixFrame replaces one.
    EXPECT_EQ(PixelAt(stack->GetPixFrame(1), {0, 0}), 0);
    EXPECT_TRUE(stack->AddPixFrame(UniformFrame(kPlane, kGray16, 9), 1));
    EXPECT_EQ(PixelAt(stack->GetPixFrame(1), {0, 0}), 9);
}

TEST_F(SimpleStackTest, FrameValuesNeedADimensionTypeWithAValueProperty)
{
    const Stack stack = NewStack(3);
    ASSERT_TRUE(stack);
    const UValue kept(kMicron, 4.0);
    UValue value = kept;
    // A new stack's dimension has no type yet: values go nowhere.
    EXPECT_FALSE(stack->SetFrameProperty(0, UValue(kMicron, 1.0)));
    EXPECT_FALSE(stack->GetFrameProperty(0, value));
    EXPECT_EQ(value, kept);

    const struct {
        img::EPhysDim type;
        int id;
    } cases[] = {{img::eDimZ, 2014}, {img::eDimTime, 2017}, {img::eDimLambda, 2041}, {img::eDimChannel, -1},
                 {img::eDimBlock, -1}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_TRUE(stack->SetDimensionType(c.type));
        const UValue written(kMicron, c.type * 10.0);
        EXPECT_EQ(stack->SetFrameProperty(1, written), c.id != -1);
        value = kept;
        EXPECT_EQ(stack->GetFrameProperty(1, value), c.id != -1);
        EXPECT_EQ(value, c.id != -1 ? written : kept);
        EXPECT_EQ(Stored(stack->GetLayerID(), {1}, c.id, value) && value == written, c.id != -1);
    }

    // Once the layer is gone everything fails.
    ASSERT_TRUE(stack->SetDimensionType(img::eDimZ));
    ASSERT_TRUE(doc.Remove(stack->GetLayerID()));
    EXPECT_FALSE(stack->SetFrameProperty(1, UValue(kMicron, 1.0)));
    EXPECT_FALSE(stack->GetFrameProperty(1, value));
    EXPECT_FALSE(stack->SetDimensionType(img::eDimZ));
    EXPECT_EQ(stack->GetBeginIndex(), 0);
    EXPECT_EQ(stack->GetEndIndex(), 0);
    EXPECT_FALSE(stack->PushBack(UniformFrame(kPlane, kGray16, 1)));
}

TEST_F(SimpleStackTest, CreatingFactoriesMakeALayerOrNothing)
{
    const struct {
        geo::CiRect rect;
        int frames;
        img::CPixelInfo info;
    } refused[] = {{geo::CiRect(0, 0, 0, 9), 1, kGray16},
                   {geo::CiRect(12, 9, 0, 0), 1, kGray16},
                   {kPlane, -1, kGray16},
                   {kPlane, 1, img::CPixelInfo()},
                   {geo::CiRect(0, 0, mem::kMaxExtent + 1, 2), 1, kGray8}};
    for (auto const& c : refused)
        EXPECT_EQ(img::CreateSimpleStack(c.rect, c.frames, c.info, mem::eMemoryDefault, mem::eAlignNone, kNone, kNone,
                                         kNone, doc),
                  nullptr);
    EXPECT_EQ(img::CreateSimpleStack(doc, boost::shared_ptr<mem::CDataFrame>(), 0), nullptr);
    EXPECT_EQ(doc.GetStackCount(), 0u);

    utl::CPropSet frameProps, documentProps, stackProps;
    frameProps.SetProperty(2030, mem::CBin(CString(L"focus series")));
    documentProps.SetProperty(7001, mem::CBin(2.5));
    stackProps.SetProperty(7002, mem::CBin(3));
    const Stack made(img::InsertSimpleStack(doc, geo::CiRect(5, 6, 17, 15), 3, kGray16, mem::eMemoryDefault,
                                            mem::eAlign16, frameProps, documentProps, stackProps));
    ASSERT_TRUE(made);
    EXPECT_TRUE(doc.PropertyExists(7001));
    EXPECT_TRUE(made->StackPropertyExists(7002));
    EXPECT_FALSE(made->StackPropertyExists(7001));
    CString name;
    EXPECT_TRUE(made->GetLayerName(name) && name == CString(L"focus series"));
    EXPECT_EQ(made->GetBoundary(), geo::CiRect(5, 6, 17, 15));
    EXPECT_EQ(made->GetEndIndex(), 3);
    EXPECT_EQ(doc.FindStack(made->GetLayerID()).GetDataFrame(0)->GetAlign(), mem::eAlign16);

    // Over a caller's data frame: a new layer "Layer 1" along dimension 0.
    const Stack wrapped(img::CreateSimpleStack(doc, MakeDataFrame({4, 4, 6}, utl::eUInt16), 0));
    ASSERT_TRUE(wrapped);
    EXPECT_TRUE(wrapped->GetLayerName(name) && name == CString(L"Layer 1"));
    EXPECT_EQ(wrapped->GetEndIndex(), 6);
    EXPECT_TRUE(wrapped->AddPixFrame(UniformFrame(geo::CiRect(0, 0, 4, 4), kGray16, 5), 5));
    EXPECT_EQ(PixelAt(wrapped->GetPixFrame(5), {3, 3}), 5);
}

TEST_F(SimpleStackTest, OpeningChecksLayerDimensionAndBase)
{
    EXPECT_EQ(img::CreateSimpleStack(doc, -1, geo::CiVecN{0}, 0), nullptr);  // no layer yet
    const int layer = AddRasterLayer(doc, {4, 4, 4, 10}, true, utl::eUInt16);  // order 2
    const struct {
        int layer;
        geo::CiVecN base;
        int dim;
        bool opens;
    } cases[] = {{layer, {0, 0}, 1, true},  {-1, {0, 0}, 1, true},     {layer, {0}, 0, true},
                 {layer, {0, 0, 0}, 2, false}, {layer, {0, 0}, -1, false}, {layer, {0}, 1, false},
                 {layer + 1, {0, 0}, 0, false}};
    for (auto const& c : cases) {
        const Stack opened(img::CreateSimpleStack(doc, c.layer, c.base, c.dim));
        EXPECT_EQ(opened != nullptr, c.opens) << c.dim;
        EXPECT_EQ(img::TestSimpleStack(doc, c.layer, c.base, c.dim), c.opens) << c.dim;
    }

    // Position i replaces the base's element at the stack dimension.
    for (int a : {2, 3})
        for (int b : {6, 7})
            ASSERT_TRUE(doc.FindStack(layer).SetFrame(utl::CIndexN{a, b},
                                                      UniformFrame(geo::CiRect(0, 0, 4, 4), kGray16, 100 * a + b)));
    const img::CImg& readOnly = doc;
    const std::unique_ptr<img::CSimpleStack const> along1(img::CreateSimpleStack(readOnly, layer, {3, 0}, 1));
    const Stack along0(img::CreateSimpleStack(doc, layer, {0, 6}, 0));
    ASSERT_TRUE(along1 && along0);
    EXPECT_EQ(along1->GetLayerID(), layer);
    EXPECT_EQ(PixelAt(along1->GetPixFrame(7), {0, 0}), 307);
    EXPECT_EQ(PixelAt(along0->GetPixFrame(2), {0, 0}), 206);
    EXPECT_EQ(along1->GetEndIndex(), 10);
    EXPECT_EQ(along0->GetEndIndex(), 4);

    // The active frame belongs to a view only at its base position.
    const Scope scope(img::CreateScope(doc, layer));
    int i = -5;
    ASSERT_TRUE(scope->ActivateFrame({2, 7}));
    EXPECT_FALSE(along1->GetActiveFrame(i));
    EXPECT_EQ(i, -5);
    ASSERT_TRUE(along0->ActivateFrame(2));
    geo::CiVecN active;
    EXPECT_TRUE(scope->GetActiveFrame(active) && active == geo::CiVecN({2, 6}));
    EXPECT_TRUE(along0->GetActiveFrame(i) && i == 2);
    EXPECT_FALSE(along1->GetActiveFrame(i));
    ASSERT_TRUE(scope->ActivateFrame({3, 7}));
    EXPECT_TRUE(along1->GetActiveFrame(i) && i == 7);
    ASSERT_TRUE(scope->ActivateFrame({3}));  // too short to hold dimension 1
    EXPECT_FALSE(along1->GetActiveFrame(i));
}

TEST_F(SimpleStackTest, DimensionMembersActOnTheStackDimension)
{
    const int layer = AddRasterLayer(doc, {4, 4, 3, 5}, true, utl::eUInt16);
    const Stack stack(img::CreateSimpleStack(doc, layer, {0, 0}, 1));
    const Scope scope(img::CreateScope(doc, layer));
    ASSERT_TRUE(stack && scope);
    ASSERT_TRUE(stack->SetDimensionType(img::eDimLambda));
    img::EPhysDim type = img::eDimNone;
    CString name;
    EXPECT_TRUE(scope->GetDimensionType(1, type) && type == img::eDimLambda);
    EXPECT_FALSE(scope->GetDimensionType(0, type));
    EXPECT_TRUE(stack->GetDimensionName(name) && name == CString(L"Lambda"));

    const UValue first(kMicron, 0.5), second(kMicron, 2.0), rate(kSecond, 0.1);
    UValue a, b;
    ASSERT_TRUE(stack->SetDimensionStepping(first, second));
    EXPECT_TRUE(scope->GetDimensionStepping(1, a, b) && a == first && b == second);
    EXPECT_TRUE(stack->GetDimensionStepping(a, b));
    ASSERT_TRUE(stack->SetDimensionFrameRate(rate, true));
    EXPECT_TRUE(scope->GetDimensionFrameRate(1, a, true) && a == rate);
    EXPECT_FALSE(stack->GetDimensionFrameRate(a, false));
    // Channel -1 is the dimension as a whole, which marks channel values as set up.
    ASSERT_TRUE(stack->SetDimensionChannelValue(-1, UValue(kMicron, 0.5)));
    ASSERT_TRUE(stack->SetDimensionChannelValue(2, UValue(kMicron, 0.6)));
    EXPECT_TRUE(scope->SetDimensionChannelValue(1, 0, UValue(kMicron, 0.4)));
    EXPECT_TRUE(scope->GetDimensionChannelValue(1, 2, a) && a == UValue(kMicron, 0.6));
    EXPECT_TRUE(stack->GetDimensionChannelValue(0, a) && a == UValue(kMicron, 0.4));

    // Frame values need the stack dimension within the stack's dimensions:
    // up to its order inclusive, never past it.
    ASSERT_TRUE(stack->SetDimensionType(img::eDimZ));
    const auto frame = doc.FindStack(layer).GetDataFrame(0);
    ASSERT_TRUE(frame->SetPlaneBoundary(geo::CiVolumeN::FromPositionSize({0, 0}, {3, 1})));  // order 1
    EXPECT_TRUE(stack->SetFrameProperty(0, UValue(kMicron, 1.0)));
    ASSERT_TRUE(frame->SetPlaneBoundary(geo::CiVolumeN::FromPositionSize({0, 0}, {1, 1})));  // order 0
    EXPECT_FALSE(stack->SetFrameProperty(0, UValue(kMicron, 1.0)));
    EXPECT_FALSE(stack->GetFrameProperty(0, a));
}

TEST_F(SimpleStackTest, TypedStacksTypeTheirDimensionOrRefuseIt)
{
    const int layer = AddRasterLayer(doc, {4, 4, 3, 5, 2}, true, utl::eUInt16);
    const Scope scope(img::CreateScope(doc, layer));
    ASSERT_TRUE(scope);
    const geo::CiVecN base{0, 0, 0};
    img::EPhysDim type = img::eDimNone;

    // Two parts on one dimension, or a part on a dimension typed otherwise,
    // make nothing and type nothing.
    EXPECT_EQ(img::CreateTZStack(doc, layer, base, 1, 1), nullptr);
    ASSERT_TRUE(scope->SetDimensionType(2, img::eDimLambda));
    EXPECT_EQ(img::CreateBTZStack(doc, layer, base, 0, 1, 2), nullptr);
    EXPECT_EQ(img::CreateBStack(doc, layer, base, 2), nullptr);
    EXPECT_FALSE(scope->GetDimensionType(0, type) || scope->GetDimensionType(1, type));

    const std::unique_ptr<img::CTZStack> tz(img::CreateTZStack(doc, layer, base, 0, 1));
    ASSERT_TRUE(tz);
    EXPECT_TRUE(scope->GetDimensionType(0, type) && type == img::eDimTime);
    EXPECT_TRUE(scope->GetDimensionType(1, type) && type == img::eDimZ);
    EXPECT_EQ(tz->CTStack::GetEndIndex(), 3);
    EXPECT_EQ(tz->CZStack::GetEndIndex(), 5);
    // Frame values work at once, each part under its own property.
    EXPECT_TRUE(tz->CZStack::SetFrameProperty(4, UValue(kMicron, 1.0)));
    EXPECT_TRUE(tz->CTStack::SetFrameProperty(2, UValue(kSecond, 3.0)));
    EXPECT_TRUE(scope->FramePropertyExists({0, 4, 0}, 2014));
    EXPECT_TRUE(scope->FramePropertyExists({2, 0, 0}, 2017));

    EXPECT_TRUE(std::unique_ptr<img::CZStack>(img::CreateZStack(doc, layer, base, 1)));
    EXPECT_EQ(img::CreateTStack(doc, layer, base, 1), nullptr);  // a z dimension
    EXPECT_EQ(img::CreateZStack(doc, layer, base, 3), nullptr);  // past the order
    ASSERT_TRUE(scope->SetDimensionType(2, img::eDimBlock));
    const std::unique_ptr<img::CBTZStack> blocks(img::CreateBTZStack(doc, layer, {0, 0, 1}, 2, 0, 1));
    ASSERT_TRUE(blocks);
    EXPECT_EQ(blocks->CBStack::GetEndIndex(), 2);
}

}  // namespace

#include "imgscope/typed/multi_dim_stack_scope.h"

#include "tests/scope/core_documents.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace imgscope_test;
using NdScope = std::unique_ptr<img::CMultiDimStackScope>;
using UValue = utl::TUnitValue<double>;

const utl::CPropSet kNone;

class MultiDimStackScopeTest : public ::testing::Test {
protected:
    // A new layer of 8 × 6 pixels with planes at `position` of `size`.
    NdScope Insert(geo::CiVecN const& position, geo::CiVecN const& size)
    {
        geo::CiVecN p{0, 0}, s{8, 6};
        for (std::size_t i = 0; i < position.size(); ++i) {
            p.Append(position[i]);
            s.Append(size[i]);
        }
        return NdScope(img::InsertMultiDimStackScope(doc, geo::CiVolumeN::FromPositionSize(p, s), kGray16,
                                                     mem::eMemoryDefault, mem::eAlignNone, kNone));
    }

    // Runs `make` and reports whether it threw a CBadScopeException*, which
    // it then deletes; a scope made is deleted too.
    template <class Make>
    bool ThrowsBadScope(Make make)
    {
        try {
            delete make();
        } catch (img::CBadScopeException* e) {
            e->Delete();
            return true;
        }
        return false;
    }

    img::CImg doc;
};

TEST_F(MultiDimStackScopeTest, FactoriesPassTheExceptionOn)
{
    EXPECT_TRUE(ThrowsBadScope([&] { return img::CreateMultiDimStackScope(doc, -1); }));
    const NdScope made = Insert({0, 0}, {3, 4});
    ASSERT_TRUE(made);
    EXPECT_TRUE(ThrowsBadScope([&] { return img::CreateMultiDimStackScope(doc, made->GetLayerID() + 1); }));
    EXPECT_FALSE(ThrowsBadScope([&] { return img::CreateMultiDimStackScope(doc, -1); }));
    EXPECT_TRUE(ThrowsBadScope([&] {
        return img::InsertMultiDimStackScope(doc, geo::CiVolumeN(geo::CiRect(0, 0, 4, 4)), img::CPixelInfo(),
                                             mem::eMemoryDefault, mem::eAlignNone, kNone);
    }));
    EXPECT_EQ(doc.GetStackCount(), 1u);
}

TEST_F(MultiDimStackScopeTest, EndIndexIsOnePastTheLastFrameAlongDimensionZero)
{
    const NdScope scope = Insert({2, 5}, {3, 4});
    ASSERT_TRUE(scope);
    EXPECT_EQ(scope->GetEndIndex(), geo::CiVecN({5, 5}));
    const NdScope flat = Insert({}, {});
    ASSERT_TRUE(flat);
    EXPECT_TRUE(flat->GetEndIndex().empty());  // a picture has no frame dimensions

    ASSERT_TRUE(doc.Remove(scope->GetLayerID()));
    EXPECT_TRUE(scope->GetEndIndex().empty());
    EXPECT_FALSE(scope->GetDataFrame(0));
}

TEST_F(MultiDimStackScopeTest, FramesByFullIndexWithTheirProperties)
{
    const NdScope scope = Insert({0, 0}, {2, 3});
    ASSERT_TRUE(scope);
    utl::CPropSet props;
    props.SetProperty(6001, mem::CBin(CString(L"dapi")));
    ASSERT_TRUE(scope->AddPixFrame(UniformFrame(geo::CiRect(0, 0, 8, 6), kGray16, 321), {1, 2}, props));
    ASSERT_TRUE(scope->AddPixFrame(UniformFrame(geo::CiRect(0, 0, 8, 6), kGray16, 123), {0, 2}));
    EXPECT_EQ(PixelAt(scope->GetPixFrame({1, 2}), {7, 5}), 321);
    EXPECT_EQ(PixelAt(static_cast<img::CMultiDimStackScope const&>(*scope).GetPixFrame({0, 2}), {0, 0}), 123);
    EXPECT_TRUE(scope->FramePropertyExists({1, 2}, 6001));
    EXPECT_FALSE(scope->FramePropertyExists({0, 2}, 6001));
    EXPECT_TRUE(scope->GetDataFrame(0) && !scope->GetDataFrame(1));
}

TEST_F(MultiDimStackScopeTest, DimensionValuesRoundTripUnderTheirTypesProperty)
{
    const NdScope scope = Insert({0, 0}, {2, 3});
    ASSERT_TRUE(scope);
    const struct {
        img::EPhysDim type;
        int id;
    } cases[] = {{img::eDimZ, 2014}, {img::eDimTime, 2017}, {img::eDimLambda, 2041}, {img::eDimChannel, 2417}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.type);
        const UValue written(kMicron, 1.0 + c.type);
        const geo::CiVecN index{1, c.type % 3};
        ASSERT_TRUE(scope->SetDimensionValue(index, c.type, written));
        mem::CBin bin;
        UValue stored;
        EXPECT_TRUE(doc.FindStack(scope->GetLayerID()).GetProperty(utl::CIndexN(index), c.id, bin) &&
                    bin.Get(stored) && stored == written);
        UValue read;
        EXPECT_TRUE(scope->GetDimensionValue(index, c.type, read) && read == written);
    }

    // A type without a value property passes -1 on; the document keeps it.
    ASSERT_TRUE(scope->SetDimensionValue({0, 1}, img::eDimOther, UValue(kMicron, 4.0)));
    EXPECT_TRUE(scope->FramePropertyExists({0, 1}, -1));

    // A frame without the value, and a value of another type, leave the
    // caller's value alone.
    const UValue kept(kSecond, 8.0);
    UValue value = kept;
    EXPECT_FALSE(scope->GetDimensionValue({0, 0}, img::eDimZ, value));
    EXPECT_EQ(value, kept);
    ASSERT_TRUE(scope->SetFrameProperty({0, 0}, 2014, mem::CBin(5)));
    EXPECT_TRUE(scope->GetDimensionValue({0, 0}, img::eDimZ, value));
    EXPECT_EQ(value, kept);
}

TEST_F(MultiDimStackScopeTest, SetDimensionTypeKeepsTheValueProperty)
{
    const NdScope scope = Insert({0, 0}, {2, 3});
    ASSERT_TRUE(scope);
    ASSERT_TRUE(scope->CStackScope::SetDimensionType(1, img::eDimLambda));  // records 2041 as value property
    ASSERT_TRUE(scope->SetDimensionType(1, img::eDimZ));
    img::EPhysDim type = img::eDimNone;
    EXPECT_TRUE(scope->GetDimensionType(1, type) && type == img::eDimZ);
    mem::CBin bin;
    int valueId = 0;
    EXPECT_TRUE(doc.FindStack(scope->GetLayerID()).GetDimProperty(1, 2027, bin) && bin.Get(valueId));
    EXPECT_EQ(valueId, 2041);

    EXPECT_TRUE(scope->SetDimensionType(0, img::eDimTime));  // nothing recorded before: nothing now
    EXPECT_FALSE(doc.FindStack(scope->GetLayerID()).DimPropertyExists(0, 2027));
    EXPECT_FALSE(scope->SetDimensionType(3, img::eDimTime));  // past the order
}

TEST_F(MultiDimStackScopeTest, ChannelDimensionAsTheDocumentSeesIt)
{
    const NdScope scope = Insert({0, 0}, {3, 4});
    ASSERT_TRUE(scope);
    EXPECT_EQ(scope->GetChannelDim(), -1);
    EXPECT_FALSE(scope->HasChannelDim());
    EXPECT_TRUE(scope->SetChannelDim(1));
    EXPECT_EQ(scope->GetChannelDim(), 1);
    EXPECT_TRUE(scope->HasChannelDim());
    EXPECT_TRUE(scope->SetChannelDim(7));  // ignored by the stack, true all the same
    EXPECT_EQ(scope->GetChannelDim(), 1);

    EXPECT_TRUE(scope->SetChannelDim(-1));
    EXPECT_FALSE(scope->HasChannelDim());

    // A layer without an entry in the tree has no channel dimension for us.
    const int hidden = doc.Add(img::CStack(MakeDataFrame({4, 4, 3}, utl::eUInt16)));
    const NdScope unlisted(img::CreateMultiDimStackScope(doc, hidden));
    ASSERT_TRUE(unlisted->SetChannelDim(0));
    EXPECT_EQ(unlisted->GetChannelDim(), 0);
    EXPECT_FALSE(unlisted->HasChannelDim());

    ASSERT_TRUE(doc.Remove(scope->GetLayerID()));
    EXPECT_TRUE(scope->SetChannelDim(0));
    EXPECT_EQ(scope->GetChannelDim(), -1);
    EXPECT_FALSE(scope->HasChannelDim());
}

}  // namespace

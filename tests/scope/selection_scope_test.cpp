// The selection scope: every member works on the layer selected at the
// time of the call, and does nothing while no image layer is selected.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/scope/selection_scope.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>

namespace imgscope_test {
namespace {

// Reaches the protected lookup of the selected layer.
class CSelectionProbe : public img::CSelectionScope {
public:
    explicit CSelectionProbe(img::CImg doc) : img::CSelectionScope(doc, -1, geo::CiVecN(), geo::CiVecN()) {}
    using img::CSelectionScope::GetSelectedLayer;
};

// Two image layers of three frames (8-bit and 16-bit), each with a mask,
// and a vector layer; nothing selected.
class SelectionScopeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(core.InsertLayer(first, MakeDataFrame({6, 5, 3}), CString(L"first"), -3, 1, 0));
        ASSERT_TRUE(core.InsertLayer(second, MakeDataFrame({7, 4, 3}, utl::eUInt16), CString(L"second"), -3, 1, 0));
        ASSERT_TRUE(core.InsertLayer(vector, MakeGraphic(), CString(L"vector"), -3, 1, 0));
        for (int layer : {first, second}) {
            for (int k = 0; k < 3; ++k) {
                const auto frame = core.GetPixFrame(layer, geo::CiVecN{k});
                const std::uint16_t wide = ValueOf(layer, k);
                const std::uint8_t narrow = std::uint8_t(wide);
                const bool is16 = frame->GetPixelInfo().Size() == 2;
                ASSERT_TRUE(frame->FillRect(frame->GetBoundary(0), is16 ? static_cast<void const*>(&wide) : &narrow));
            }
        }
        ASSERT_TRUE(core.CreateTranspMask(first, 11));
        ASSERT_TRUE(core.CreateTranspMask(second, 22));
        ASSERT_TRUE(scope);
    }

    img::CStack Stack(int layer) const { return doc.FindStack(layer); }

    // Frame k of a layer holds one value throughout.
    static std::uint16_t ValueOf(int layer, int k) { return std::uint16_t(10 * layer + k); }
    static double Shows(boost::shared_ptr<img::CPixFrame> const& frame) { return PixelAt(frame, {3, 2}); }

    img::CImg doc;
    TestScope core{doc};
    int first = -1, second = -1, vector = -1;
    std::unique_ptr<img::CSelectionScope> scope{img::CreateSelectionScope(doc)};
};

TEST_F(SelectionScopeTest, FollowsTheSelectedLayer)
{
    CSelectionProbe probe(doc);
    for (int layer : {first, second, first}) {
        SCOPED_TRACE(layer);
        ASSERT_TRUE(core.SetSelectedLayer(layer, false));
        const img::CStack stack = Stack(layer);
        EXPECT_EQ(probe.GetSelectedLayer(img::eLayerTypeImage), layer);
        EXPECT_EQ(scope->GetDataFrame(0), stack.GetDataFrame(0));
        EXPECT_EQ(std::as_const(*scope).GetDataFrame(0), stack.GetDataFrame(0));
        EXPECT_EQ(Shows(scope->GetPixFrame(geo::CiVecN{2})), ValueOf(layer, 2));
        EXPECT_EQ(Shows(std::as_const(*scope).GetPixFrame(geo::CiVecN{1})), ValueOf(layer, 1));
        EXPECT_EQ(scope->GetTranspMask(), core.GetTranspMask(layer));
        EXPECT_EQ(std::as_const(*scope).GetTranspMask(), core.GetTranspMask(layer));
        // The caller's index and data-frame number are passed on.
        EXPECT_FALSE(scope->GetDataFrame(1));
        EXPECT_FALSE(scope->GetPixFrame(geo::CiVecN{3}));
    }
    // A vector layer is selected among its own kind: the image layer stays.
    ASSERT_TRUE(core.SetSelectedLayer(vector, true));
    EXPECT_EQ(probe.GetSelectedLayer(img::eLayerTypeImage), first);
    EXPECT_EQ(probe.GetSelectedLayer(img::eLayerTypeVector), vector);
    int layer = -1;
    bool maskActive = true;
    ASSERT_TRUE(scope->GetSelectedLayer(img::eLayerTypeVector, layer, maskActive));
    EXPECT_EQ(layer, vector);
    EXPECT_FALSE(maskActive);
}

TEST_F(SelectionScopeTest, DoesNothingWithoutASelectedImageLayer)
{
    CSelectionProbe probe(doc);
    const auto other = MakeDataFrame({6, 5, 3});
    const unsigned int count = Stack(first).GetPixelModificationCount(0);
    for (bool vectorSelected : {false, true}) {
        SCOPED_TRACE(vectorSelected);
        if (vectorSelected) {
            ASSERT_TRUE(core.SetSelectedLayer(vector, false));
        }
        EXPECT_EQ(probe.GetSelectedLayer(img::eLayerTypeImage), -1);
        EXPECT_FALSE(scope->InvalidateRect(geo::CiRect(0, 0, 2, 2)));
        EXPECT_FALSE(scope->GetPixFrame(geo::CiVecN{0}));
        EXPECT_FALSE(std::as_const(*scope).GetPixFrame(geo::CiVecN{0}));
        EXPECT_FALSE(scope->GetDataFrame(0));
        EXPECT_FALSE(std::as_const(*scope).GetDataFrame(0));
        EXPECT_FALSE(scope->SwapDataFrame(other, 0));
        EXPECT_FALSE(scope->GetTranspMask());
        EXPECT_FALSE(std::as_const(*scope).GetTranspMask());
        int layer = 42;
        bool maskActive = true;
        EXPECT_FALSE(scope->GetSelectedLayer(img::eLayerTypeImage, layer, maskActive));
        EXPECT_EQ(layer, 42);
    }
    EXPECT_EQ(Stack(first).GetPixelModificationCount(0), count);
    EXPECT_NE(Stack(first).GetDataFrame(0), other);

    // A selected layer that is deleted is no longer selected.
    ASSERT_TRUE(core.SetSelectedLayer(second, false));
    ASSERT_TRUE(core.DelLayer(second));
    EXPECT_EQ(probe.GetSelectedLayer(img::eLayerTypeImage), -1);
    EXPECT_FALSE(scope->GetDataFrame(0));
}

TEST_F(SelectionScopeTest, SwapTakesTheFrameFirstAndTheNumberSecond)
{
    ASSERT_TRUE(core.SetSelectedLayer(second, false));
    auto replacement = MakeDataFrame({7, 4, 3}, utl::eUInt16);
    const std::uint16_t value = 4321;
    replacement->Fill(replacement->GetBoundary(), &value);
    EXPECT_FALSE(scope->SwapDataFrame(replacement, 1));  // the layer has data frame 0 only
    EXPECT_EQ(Shows(Stack(second).GetPixFrame(utl::CIndexN(geo::CiVecN{2}))), ValueOf(second, 2));
    ASSERT_TRUE(scope->SwapDataFrame(replacement, 0));

    EXPECT_EQ(Shows(Stack(second).GetPixFrame(utl::CIndexN(geo::CiVecN{2}))), value);
    EXPECT_EQ(Shows(Stack(first).GetPixFrame(utl::CIndexN(geo::CiVecN{2}))), ValueOf(first, 2));
}

TEST_F(SelectionScopeTest, InvalidateReachesTheSelectedLayerOnly)
{
    ASSERT_TRUE(core.SetSelectedLayer(second, false));
    const unsigned int firstCount = Stack(first).GetPixelModificationCount(0);
    const unsigned int secondCount = Stack(second).GetPixelModificationCount(0);
    EXPECT_TRUE(scope->InvalidateRect(geo::CiRect(1, 1, 3, 3)));
    EXPECT_EQ(Stack(first).GetPixelModificationCount(0), firstCount);
    EXPECT_NE(Stack(second).GetPixelModificationCount(0), secondCount);
}

TEST_F(SelectionScopeTest, SelectionMaskIsAlwaysEmpty)
{
    EXPECT_FALSE(scope->GetSelectionMask());
    ASSERT_TRUE(core.SetSelectedLayer(first, true));
    ASSERT_TRUE(core.GetTranspMask(first));
    EXPECT_FALSE(scope->GetSelectionMask());
}

TEST_F(SelectionScopeTest, SelectionQueriesTakeAnyPlaneUnchanged)
{
    // The selection is `first`; the queries answer for the plane asked.
    ASSERT_TRUE(core.SetSelectedLayer(first, false));
    const int plane = core.FindPlaneID(second);
    ASSERT_TRUE(core.SelectFrame(second, geo::CiVecN{1}));
    ASSERT_TRUE(core.SelectFrame(first, geo::CiVecN{2}));

    std::set<geo::CiVecN, geo::tiVecNLess> frames;
    ASSERT_TRUE(scope->GetFrameSelection(plane, frames));
    EXPECT_EQ(frames, (std::set<geo::CiVecN, geo::tiVecNLess>{geo::CiVecN{1}}));
    std::set<int> channels{7};
    ASSERT_TRUE(scope->GetSelectedChannels(plane, channels));
    EXPECT_EQ(channels, std::set<int>{0});
    bool selected = false;
    ASSERT_TRUE(scope->IsChannelSelected(plane, 0, selected));
    EXPECT_TRUE(selected);

    // A layer ID is no plane ID: nothing is looked up for it.
    frames.clear();
    EXPECT_FALSE(scope->GetFrameSelection(second, frames));
    EXPECT_FALSE(scope->GetSelectedChannels(second, channels));
    EXPECT_FALSE(scope->IsChannelSelected(second, 0, selected));
    EXPECT_TRUE(frames.empty());
}

TEST(SelectionScopeFactoryTest, BothFactoriesWorkOnTheCallersDocument)
{
    img::CImg doc;
    TestScope core(doc);
    int layer = -1;
    ASSERT_TRUE(core.InsertLayer(layer, MakeDataFrame({4, 4}), CString(L"l"), -3, 0x009, 0));
    const img::CImg& constDoc = doc;
    std::unique_ptr<img::CSelectionScope> mutableScope(img::CreateSelectionScope(doc));
    std::unique_ptr<img::CSelectionScope const> constScope(img::CreateSelectionScope(constDoc));
    std::unique_ptr<img::CSelectionScope> fromCore(core.GetSelection());
    ASSERT_TRUE(mutableScope && constScope && fromCore);
    const auto frame = doc.FindStack(layer).GetDataFrame(0);
    EXPECT_EQ(mutableScope->GetDataFrame(0), frame);
    EXPECT_EQ(constScope->GetDataFrame(0), frame);
    EXPECT_EQ(fromCore->GetDataFrame(0), frame);
}

}  // namespace
}  // namespace imgscope_test

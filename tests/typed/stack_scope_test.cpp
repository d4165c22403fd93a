#include "imgscope/typed/stack_scope.h"

#include "imgscope/contracts/foundation/tile_distributor.h"
#include "tests/scope/core_documents.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using imgscope_test::kGray8;
using imgscope_test::kMicron;
using Scope = std::unique_ptr<img::CStackScope>;
using UVec = utl::TUnitValue<geo::CdVec2>;

class StackScopeTest : public ::testing::Test {
protected:
    // A new layer of `w` × `h` × `planes` pixels in the fixture's document.
    Scope Insert(int w, int h, int planes, utl::CPropSet const& props = utl::CPropSet(),
                 mem::EMemoryModel model = mem::eMemoryDefault)
    {
        const geo::CiVolumeN volume(geo::CiVecN{0, 0, 0}, geo::CiVecN{w, h, planes});
        return Scope(img::InsertScope(doc, volume, kGray8, model, mem::eAlign32, props));
    }

    boost::shared_ptr<mem::CDataFrame> FrameOf(Scope const& scope)
    {
        return doc.FindStack(scope->GetLayerID()).GetDataFrame(0);
    }

    // The document's own layer tree, as every scope of it sees it.
    img::CDisplProcessFlow Tree() { return img::CDisplProcessFlow(doc, false); }

    img::CImg doc;
};

TEST_F(StackScopeTest, CreateScopeOpensExistingLayersOnly)
{
    EXPECT_EQ(img::CreateScope(doc, -1), nullptr);  // no layer yet
    const Scope made = Insert(64, 32, 2);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->GetLayerID(), 1);

    const Scope first(img::CreateScope(doc, -1));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetLayerID(), 1);
    EXPECT_EQ(first->GetOrder(), 1);
    EXPECT_EQ(first->GetBoundary(), geo::CiRect(0, 0, 64, 32));
    EXPECT_EQ(first->GetPixelInfo(), kGray8);

    for (int id : {0, 2, -2, 1 << 30}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(img::CreateScope(doc, id), nullptr);  // the exception is caught and deleted
    }
}

TEST_F(StackScopeTest, InsertScopePassesTheExceptionForAnImpossibleFrame)
{
    const geo::CiVolumeN huge =
        geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0}, geo::CiVecN{mem::kMaxExtent + 1, 16});
    const struct {
        geo::CiVolumeN volume;
        img::CPixelInfo info;
    } cases[] = {{huge, kGray8}, {geo::CiVolumeN(geo::CiRect(0, 0, 4, 4)), img::CPixelInfo()}};
    for (auto const& c : cases) {
        bool thrown = false;
        try {
            delete img::InsertScope(doc, c.volume, c.info, mem::eMemoryDefault, mem::eAlign32, utl::CPropSet());
        } catch (img::CBadScopeException* e) {
            thrown = true;
            e->Delete();
        }
        EXPECT_TRUE(thrown);
    }
    EXPECT_EQ(doc.GetStackCount(), 0u);
}

TEST_F(StackScopeTest, EmptyVolumeGetsSparseTilesOfItsPlaneUnlessTheCallerChoseAModel)
{
    const Scope grown = Insert(2000, 1500, 0);
    ASSERT_TRUE(grown);
    ASSERT_TRUE(FrameOf(grown));
    EXPECT_EQ(FrameOf(grown)->GetMemoryModel(), mem::eMemoryTiledSparse);
    EXPECT_EQ(FrameOf(grown)->GetTileSize(), geo::CiVec2(2000, 1500));
    EXPECT_EQ(FrameOf(grown)->GetAlign(), mem::eAlign32);

    utl::CPropSet own;
    own.SetProperty(20004, mem::CBin(int(mem::eMemoryTiled)));
    own.SetProperty(20015, mem::CBin(int(mem::eAlign8)));
    const Scope chosen = Insert(2000, 1500, 0, own);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(FrameOf(chosen)->GetMemoryModel(), mem::eMemoryTiled);
    EXPECT_EQ(FrameOf(chosen)->GetAlign(), mem::eAlign8);  // the argument is ignored
    EXPECT_NE(FrameOf(chosen)->GetTileSize(), geo::CiVec2(2000, 1500));

    const Scope filled = Insert(40, 30, 2);
    ASSERT_TRUE(filled);
    EXPECT_NE(FrameOf(filled)->GetMemoryModel(), mem::eMemoryTiledSparse);
}

TEST_F(StackScopeTest, LayerIsNamedByProperty2030OrLayer1)
{
    utl::CPropSet named;
    named.SetProperty(2030, mem::CBin(CString(L"Overview")));
    utl::CPropSet withUnit;
    withUnit.SetProperty(2030, mem::CBin(CString(L"Label"), kMicron));
    utl::CPropSet wrongType;
    wrongType.SetProperty(2030, mem::CBin(7));
    const struct {
        utl::CPropSet props;
        wchar_t const* name;
    } cases[] = {{utl::CPropSet(), L"Layer 1"}, {named, L"Overview"}, {withUnit, L"Label"}, {wrongType, L""}};
    for (auto const& c : cases) {
        const Scope scope = Insert(8, 8, 1, c.props);
        ASSERT_TRUE(scope);
        CString name(L"unset");
        EXPECT_TRUE(scope->GetLayerName(name) && name == CString(c.name));
    }
}

TEST_F(StackScopeTest, ResetRenderer2DGivesAnUncalibratedCanvasTheLayersCalibrationAndShowsTheLayer)
{
    const Scope scope = Insert(300, 200, 1);
    ASSERT_TRUE(scope);
    geo::CiRect canvasRect;
    EXPECT_TRUE(scope->GetCanvasPixelRect(canvasRect) && canvasRect == geo::CiRect(0, 0, 300, 200));
    utl::TUnitValue<geo::CdVec2> scale;
    geo::CdVec2 origin;
    EXPECT_FALSE(scope->GetCanvasCoords(scale, origin));  // an uncalibrated layer calibrates nothing

    ASSERT_TRUE(scope->SetPixelSize(kMicron, 0.5, 0.0));
    ASSERT_TRUE(scope->ResetRenderer2D());
    EXPECT_TRUE(scope->GetCanvasCoords(scale, origin) && scale == UVec(kMicron, geo::CdVec2(0.5, 0.5)));
    img::CDisplProcessFlow tree = Tree();
    const int plane = tree.FindLayer(scope->GetLayerID());
    ASSERT_NE(plane, -1);
    EXPECT_TRUE(tree.IsVisible(plane));
    EXPECT_FALSE(tree.IsHidden(plane));
    geo::CdVec2 placeOrigin, placeScale;
    EXPECT_FALSE(tree.GetLayerCanvasPlacement(plane, placeOrigin, placeScale));  // only a calibrated canvas places

    // Now the canvas is calibrated in a real unit: it keeps its calibration
    // and the layer is placed at the canvas origin with the layer's pixel size.
    ASSERT_TRUE(scope->SetPixelCoords(UVec(kMicron, geo::CdVec2(2.0, 2.0)), geo::CdVec2(1.0, 1.0)));
    ASSERT_TRUE(scope->ResetRenderer2D());
    EXPECT_TRUE(scope->GetCanvasCoords(scale, origin) && scale == UVec(kMicron, geo::CdVec2(0.5, 0.5)));
    EXPECT_EQ(origin, geo::CdVec2(0.0, 0.0));
    EXPECT_TRUE(tree.GetLayerCanvasPlacement(plane, placeOrigin, placeScale) && placeScale == geo::CdVec2(2.0, 2.0));
    EXPECT_EQ(placeOrigin, geo::CdVec2(0.0, 0.0));
    // A canvas in pixels has no calibration worth keeping: it takes the
    // layer's, origin included.
    ASSERT_TRUE(scope->SetCanvasCoords(UVec(utl::c_pixel, geo::CdVec2(3.0, 3.0)), geo::CdVec2(4.0, 5.0)));
    ASSERT_TRUE(scope->ResetRenderer2D());
    EXPECT_TRUE(scope->GetCanvasCoords(scale, origin) && scale == UVec(kMicron, geo::CdVec2(2.0, 2.0)));
    EXPECT_EQ(origin, geo::CdVec2(1.0, 1.0));
    EXPECT_TRUE(tree.GetLayerCanvasPlacement(plane, placeOrigin, placeScale) && placeOrigin == geo::CdVec2(1.0, 1.0));

    // It shows a layer that was switched off, but never adds an entry: a
    // layer taken out of the tree reports no hidden flag, so it stays out.
    ASSERT_TRUE(tree.SetVisibility(plane, false));
    ASSERT_TRUE(scope->ResetRenderer2D());
    EXPECT_TRUE(tree.IsVisible(plane));
    ASSERT_TRUE(tree.Remove(plane));
    EXPECT_TRUE(scope->ResetRenderer2D());
    EXPECT_EQ(tree.FindLayer(scope->GetLayerID()), -1);
}

TEST_F(StackScopeTest, AScopeWhoseLayerWentReachesNoOtherLayer)
{
    const Scope first = Insert(300, 200, 1);
    const Scope second = Insert(40, 30, 1);
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->GetLayerID(), 1);
    ASSERT_EQ(second->GetLayerID(), 2);
    const Scope opened(img::CreateScope(doc, 1));  // a second scope of layer 1
    ASSERT_TRUE(opened);

    // A deleted ID is not given out again: the next layer gets a new one.
    ASSERT_TRUE(doc.Remove(2));
    const Scope third = Insert(10, 10, 1);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->GetLayerID(), 3);
    geo::CiRect canvas;
    ASSERT_TRUE(first->GetCanvasPixelRect(canvas));
    ASSERT_FALSE(canvas.IsEmpty());
    EXPECT_FALSE(second->ResetRenderer2D()) << "nothing to place";
    geo::CiRect after;
    EXPECT_TRUE(first->GetCanvasPixelRect(after) && after == canvas) << "the shared canvas keeps its rectangle";

    // ID 1 is handed out again once free, yet the scopes made on the old
    // layer 1 find nothing: they neither rename the new layer nor hand out
    // its frame.
    ASSERT_TRUE(doc.Remove(1));
    const Scope fourth = Insert(20, 20, 1);
    ASSERT_TRUE(fourth);
    ASSERT_EQ(fourth->GetLayerID(), 1);
    for (img::CStackScope* stale : {first.get(), opened.get()}) {
        EXPECT_EQ(stale->GetLayerID(), 1);
        EXPECT_FALSE(stale->SetLayerName(CString(L"stale")));
        EXPECT_FALSE(stale->ResetRenderer2D());
        EXPECT_FALSE(stale->SetLimits(utl::TInterval<double>(0.0, 1.0)));
        EXPECT_FALSE(stale->ActivateFrame(geo::CiVecN()));
        EXPECT_EQ(stale->GetOrder(), -1);
        EXPECT_EQ(stale->GetBoundary(), geo::CiRect());
    }
    CString name;
    EXPECT_TRUE(fourth->GetLayerName(name) && name == L"Layer 1");
    EXPECT_TRUE(fourth->SetLayerName(CString(L"new")));
    const Scope reopened(img::CreateScope(doc, 1));
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->GetBoundary(), geo::CiRect(0, 0, 20, 20));
}

TEST_F(StackScopeTest, VirtualUnlockDropsOneLockFromEveryExistingTile)
{
    utl::CPropSet props;
    props.SetProperty(20002, mem::CBin(geo::CiVec3(16, 16, 1)));
    const Scope scope = Insert(64, 64, 1, props, mem::eMemoryTiled);
    ASSERT_TRUE(scope);
    auto frame = FrameOf(scope);
    mem::CTileDistributor* tiles = frame->GetTileDistributor();
    ASSERT_NE(tiles, nullptr);

    scope->VirtualUnlock();  // no tile exists yet: nothing to do

    // Two tiles of fill-value pixels: garbage unless locked.
    const std::vector<unsigned char> zeros(32 * 16, 0);
    ASSERT_TRUE(frame->WriteRect(geo::CiRect(0, 0, 32, 16), geo::CiVecN{0}, zeros.data(), 32));
    std::vector<geo::CiVecN> existing;
    geo::CiVecN p = tiles->GetBegin(0);
    ASSERT_NE(p, tiles->GetEnd(0));
    do {
        existing.push_back(p);
        ASSERT_TRUE(tiles->IncrementFlag(p, 0, mem::eTileFlagLocked, 2));
    } while (tiles->GetNextExisting(p, p, 0));
    ASSERT_EQ(existing.size(), 2u);

    scope->VirtualUnlock();
    for (auto const& tile : existing)
        EXPECT_EQ(tiles->GetFlag(tile, 0, mem::eTileFlagLocked), 1);
    scope->GarbageCollection();
    EXPECT_EQ(tiles->GetTileCount(), 2);  // still locked once

    scope->VirtualUnlock();
    scope->GarbageCollection();
    EXPECT_EQ(tiles->GetTileCount(), 0);
}

TEST_F(StackScopeTest, StackAndFramePropertiesGoToTheLayer)
{
    const Scope scope = Insert(8, 8, 3);
    ASSERT_TRUE(scope);
    EXPECT_TRUE(scope->SetStackProperty(5000, mem::CBin(1.5)));
    EXPECT_TRUE(scope->StackPropertyExists(5000));
    EXPECT_TRUE(scope->SetFrameProperty(geo::CiVecN{2}, 5001, mem::CBin(3)));
    EXPECT_TRUE(scope->FramePropertyExists(geo::CiVecN{2}, 5001));
    EXPECT_FALSE(scope->FramePropertyExists(geo::CiVecN{1}, 5001));
}

}  // namespace

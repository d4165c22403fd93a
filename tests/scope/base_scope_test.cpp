// The scope base: one-time preparation, resolution, the tree hooks, muting
// and the base stubs.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include "imgscope/scope/selection_scope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace imgscope_test {
namespace {

class BaseScopeTest : public ::testing::Test {
protected:
    BaseScopeTest()
    {
        layer = AddRasterLayer(doc, {16, 8, 3});
        bare = AddRasterLayer(doc, {16, 8}, /*withEntry*/ false);
        plane = img::CDisplProcessFlow(doc, false).FindLayer(layer);
        group = img::CDisplProcessFlow(doc, false).InsertGroup(-1, -3);
    }

    img::CImg doc;
    int layer = -1;  // order 1, with an entry in the tree
    int bare = -1;   // order 0, no entry
    int plane = -1;
    int group = -1;
};

TEST_F(BaseScopeTest, FirstUseOfAnyOperationInitialisesTheDocumentOnce)
{
    int const l = layer;
    std::vector<std::pair<char const*, std::function<void(TestScope&)>>> const rows = {
        {"GetCollection", [](TestScope& s) { s.GetCollection(); }},
        {"GetCollection const", [](TestScope const& s) { s.GetCollection(); }},
        {"MuteImageMessages", [](TestScope& s) { s.MuteImageMessages(); }},
        {"MuteRenderMessages", [](TestScope& s) { s.MuteRenderMessages(); }},
        {"HasLayer of no layer", [](TestScope const& s) { s.HasLayer(INT_MAX); }},
        {"FindPlaneID", [l](TestScope const& s) { s.FindPlaneID(l); }},
        {"IsPlaneExisting", [](TestScope const& s) { s.IsPlaneExisting(1); }},
        {"GetSelection", [](TestScope const& s) { std::unique_ptr<img::CSelectionScope>(s.GetSelection()); }},
        {"Assign", [this](TestScope& s) { s.Assign(doc); }},
        {"PropertyExists", [](TestScope const& s) { s.PropertyExists(5); }},
        {"GroupPropertyExists", [](TestScope const& s) { s.GroupPropertyExists(1, 5); }},
        {"GetDataFrame const", [l](TestScope const& s) { s.GetDataFrame(l); }},
        {"GetFirstSample", [l](TestScope const& s) { s.GetFirstSample(l); }},
    };
    for (auto const& [name, op] : rows) {
        SCOPED_TRACE(name);
        img::CImg fresh = doc;
        int const before = fresh.GetInitializeCount();
        TestScope scope(fresh);
        EXPECT_EQ(fresh.GetInitializeCount(), before) << "construction must not initialise";
        op(scope);
        EXPECT_EQ(fresh.GetInitializeCount(), before + 1);
        op(scope);
        scope.HasLayer(layer);
        EXPECT_EQ(fresh.GetInitializeCount(), before + 1) << "later calls must not initialise again";
    }
}

TEST_F(BaseScopeTest, EveryScopeInitialisesOnItsOwnFirstUseAndAssignDoesNot)
{
    TestScope first(doc);
    TestScope second(doc);
    first.FirstLayerID();
    first.FirstLayerID();
    EXPECT_EQ(doc.GetInitializeCount(), 1);
    second.FirstLayerID();
    EXPECT_EQ(doc.GetInitializeCount(), 2);

    // The selection scope shares the document but prepares on its own use.
    std::unique_ptr<img::CSelectionScope> selection(first.GetSelection());
    ASSERT_NE(selection, nullptr);
    EXPECT_EQ(doc.GetInitializeCount(), 2);
    EXPECT_TRUE(selection->GetCollection() == doc);
    EXPECT_EQ(doc.GetInitializeCount(), 3);

    // Assign prepares the scope's own document first, never the new one.
    img::CImg other;
    AddRasterLayer(other, {4, 4});
    TestScope third(doc);
    third.Assign(other);
    EXPECT_EQ(doc.GetInitializeCount(), 4);
    EXPECT_TRUE(third.GetCollection() == other);
    EXPECT_EQ(third.FirstLayerID(), other.FirstStackId());
    EXPECT_EQ(other.GetInitializeCount(), 0);
}

TEST_F(BaseScopeTest, SetToRenderer2DRefusesTheFlowAndTellsTheScope)
{
    // A tree in which the IDs of both fixture layers have entries.
    img::CImg stranger;
    AddRasterLayer(stranger, {4, 4});
    AddRasterLayer(stranger, {4, 4});
    img::CDisplProcessFlow offered(stranger, true);
    ASSERT_NE(offered.FindLayer(bare), -1);

    TestScope scope(doc);
    EXPECT_FALSE(scope.SetToRenderer2D(offered));
    EXPECT_EQ(scope.rendererChangedCalls, 1);
    EXPECT_EQ(scope.FindPlaneID(layer), plane) << "the scope keeps its own tree";
    EXPECT_EQ(scope.FindPlaneID(bare), -1);

    img::CDisplProcessFlow const copy = scope.CopyRenderer2D();
    EXPECT_EQ(copy.FindLayer(layer), -1) << "a copy starts empty";
    EXPECT_EQ(copy.GetOpUnitCount(copy.RootId()), 0);
}

TEST_F(BaseScopeTest, ResolutionPathsAcceptOnlyTheirOwnIdentifiers)
{
    ASSERT_FALSE(doc.FindStack(plane).IsValid()) << "plane IDs must not double as layer IDs here";
    TestScope const scope(doc);
    int const unknown = UnknownLayer(doc);

    // Stack path: any stack of the document, with or without a tree entry.
    EXPECT_TRUE(scope.HasLayer(layer));
    EXPECT_TRUE(scope.HasLayer(bare));
    for (int id : {unknown, 0, -1, INT_MIN, INT_MAX, plane, group})
        EXPECT_FALSE(scope.HasLayer(id)) << id;

    // Flow path: only layers with an entry.
    EXPECT_EQ(scope.FindPlaneID(layer), plane);
    for (int id : {bare, unknown, -1, INT_MIN, plane, group})
        EXPECT_EQ(scope.FindPlaneID(id), -1) << id;

    // Any entry of the tree, groups included; layer IDs are not entries.
    EXPECT_TRUE(scope.IsPlaneExisting(plane));
    EXPECT_TRUE(scope.IsPlaneExisting(group));
    for (int id : {layer, bare, -1, INT_MIN, INT_MAX})
        EXPECT_FALSE(scope.IsPlaneExisting(id)) << id;

    img::CImg empty;
    EXPECT_EQ(TestScope(empty).FirstLayerID(), -1);
    EXPECT_EQ(scope.FirstLayerID(), std::min(layer, bare));
}

TEST_F(BaseScopeTest, TestOrderNeedsAResolvingLayerAndTheExactIndexLength)
{
    int const order2 = AddRasterLayer(doc, {8, 8, 3, 2});
    int const unknown = UnknownLayer(doc);
    TestScope const scope(doc);
    struct Row {
        int layer;
        geo::CiVecN index;
        bool expected;
    } const rows[] = {
        {bare, {}, true},     {bare, {0}, false},     {layer, {}, false},        {layer, {2}, true},
        {layer, {0, 0}, false}, {order2, {1}, false}, {order2, {1, 1}, true},    {order2, {1, 1, 1}, false},
        {unknown, {}, false}, {unknown, {0}, false},  {plane, {0}, false},
    };
    for (Row const& row : rows)
        EXPECT_EQ(scope.TestOrder(row.layer, row.index), row.expected) << row.layer << "/" << row.index.size();
}

TEST_F(BaseScopeTest, MutingTokensSilenceTheDocumentAndTheTreeWhileACopyLives)
{
    TestScope scope(doc);
    scope.GetCollection();  // initialisation is not what this test watches
    img::CDisplProcessFlow observer(doc, false);
    std::vector<img::EChange> docSeen, treeSeen;
    int const docSub = doc.Subscribe([&](img::EChange c) { docSeen.push_back(c); });
    int const treeSub = observer.Subscribe([&](img::EChange c) { treeSeen.push_back(c); });

    {
        boost::shared_ptr<void> imageToken = scope.MuteImageMessages();
        boost::shared_ptr<void> renderToken = scope.MuteRenderMessages();
        ASSERT_TRUE(imageToken && renderToken);
        boost::shared_ptr<void> const imageCopy = imageToken;
        boost::shared_ptr<void> const renderCopy = renderToken;
        imageToken.reset();
        renderToken.reset();
        EXPECT_TRUE(scope.SetProperty(900, mem::CBin(1)));
        EXPECT_TRUE(scope.SetProperty(layer, 901, mem::CBin(2)));
        EXPECT_TRUE(scope.ActivateFrame(layer, {1}));
        EXPECT_TRUE(docSeen.empty());
        EXPECT_TRUE(treeSeen.empty());
    }
    EXPECT_EQ(docSeen, std::vector<img::EChange>{img::eChangeSummary});
    EXPECT_EQ(treeSeen, std::vector<img::EChange>{img::eChangeSummary});

    // The scope kept no copy: messages flow again.
    EXPECT_TRUE(scope.SetProperty(902, mem::CBin(3)));
    EXPECT_TRUE(scope.ActivateFrame(layer, {2}));
    EXPECT_EQ(docSeen.size(), 2u);
    EXPECT_EQ(treeSeen.size(), 2u);
    doc.Unsubscribe(docSub);
    observer.Unsubscribe(treeSub);
}

TEST_F(BaseScopeTest, BaseStubsGiveTheirConstantAndTouchNothing)
{
    TestScope scope(doc);
    unsigned int const countBefore = doc.FindStack(layer).GetPixelModificationCount(-1);
    // The calibration class is opaque to the base; the stubs must not write
    // through the reference, which the unchanged bytes show.
    alignas(std::max_align_t) unsigned char calibrationBytes[256];
    std::fill(std::begin(calibrationBytes), std::end(calibrationBytes), 0xA5);
    auto& calibration = reinterpret_cast<img::CIntensityCalibration&>(calibrationBytes);
    // Out-parameters start at these values and must keep them.
    geo::CiVecN found{7, 7};
    double values[2] = {1.5, 2.5};
    double value = -4.25;
    utl::CUnit unit(1, 1, -6);
    bool flag = true;

    using Call = std::function<bool(TestScope&, int)>;
    std::vector<std::tuple<char const*, bool, Call>> const rows = {
        {"FindProperty(layer, index)", false, [&](TestScope& s, int l) { return s.FindProperty(l, {0}, 5, found); }},
        {"FindProperty(address)", false, [&](TestScope& s, int l) { return s.FindProperty(geo::CiVecN{l}, 5, found); }},
        {"FindProperty(layer)", false, [&](TestScope& s, int l) { return s.FindProperty(l, 5, found); }},
        {"GetIntensityCol", false, [&](TestScope& s, int l) { return s.GetIntensityCol(l, {0, 0}, values, values + 2); }},
        {"GetIntensityRow", false, [&](TestScope& s, int l) { return s.GetIntensityRow(l, {0, 0}, values, values + 2); }},
        {"GetIntensityValue", false, [&](TestScope& s, int l) { return s.GetIntensityValue(l, {1, 1}, value); }},
        {"GetIntensityCalibration", false, [&](TestScope& s, int l) { return s.GetIntensityCalibration(l, calibration); }},
        {"SetIntensityCalibration", false, [&](TestScope& s, int l) { return s.SetIntensityCalibration(l, calibration); }},
        {"DelIntensityCalibration", false, [](TestScope& s, int l) { return s.DelIntensityCalibration(l); }},
        {"HasIntensityCalibration", false, [](TestScope& s, int l) { return s.HasIntensityCalibration(l); }},
        {"GetIntensityUnit", false, [&](TestScope& s, int l) { return s.GetIntensityUnit(l, unit); }},
        {"ChainLayer", false, [](TestScope& s, int l) { return s.ChainLayer(l); }},
        {"UnchainLayer", false, [](TestScope& s, int l) { return s.UnchainLayer(l); }},
        {"IsChained", false, [&](TestScope& s, int l) { return s.IsChained(l, flag); }},
        {"MoveChainedLayers", false, [](TestScope& s, int) { return s.MoveChainedLayers({3.0, 4.0}); }},
        {"SetLayerProtection", false, [](TestScope& s, int l) { return s.SetLayerProtection(l, true); }},
        {"IsLayerProtected", false, [&](TestScope& s, int l) { return s.IsLayerProtected(l, flag); }},
        {"DelLimits", false, [](TestScope& s, int l) { return s.DelLimits(l); }},
        {"SetBoundary", false, [](TestScope& s, int l) { return s.SetBoundary(l, geo::CiRect(0, 0, 2, 2)); }},
        {"SetPixelOrigin", false, [](TestScope& s, int l) { return s.SetPixelOrigin(l, {5.0, 5.0}); }},
        {"ResetRenderer2D", true, [](TestScope& s, int) { return s.ResetRenderer2D(); }},
        {"CreateSelectionMask", false, [](TestScope& s, int) { return bool(s.CreateSelectionMask()); }},
        {"GetSelectionMask", false, [](TestScope& s, int) { return bool(s.GetSelectionMask()); }},
        {"GetSelectionMask const", false, [](TestScope const& s, int) { return bool(s.GetSelectionMask()); }},
        {"AppendFrame", false, [](TestScope& s, int) { return bool(s.CallAppendFrame({0})); }},
        {"DelSelectionMask", false, [](TestScope& s, int) { return s.DelSelectionMask(), false; }},
    };
    for (auto const& [name, expected, call] : rows)
        for (int id : {layer, bare, UnknownLayer(doc), -1})
            EXPECT_EQ(call(scope, id), expected) << name << " on " << id;

    EXPECT_EQ(found, (geo::CiVecN{7, 7}));
    EXPECT_EQ(values[0] + values[1], 4.0);
    EXPECT_EQ(value, -4.25);
    EXPECT_EQ(unit, utl::CUnit(1, 1, -6));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(std::all_of(std::begin(calibrationBytes), std::end(calibrationBytes),
                            [](unsigned char b) { return b == 0xA5; }));
    // Nothing was looked up, let alone changed.
    EXPECT_EQ(doc.GetInitializeCount(), 0);
    EXPECT_EQ(doc.FindStack(layer).GetPixelModificationCount(-1), countBefore);
    EXPECT_EQ(doc.FindStack(layer).GetBoundary(), geo::CiRect(0, 0, 16, 8));
    EXPECT_EQ(scope.rendererChangedCalls, 0);
}

}  // namespace
}  // namespace imgscope_test

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

TEST_F(BaseScopeTest, FixtureDocumentIsWhatTheTestsAssume)
{
    ASSERT_NE(layer, -1);
    ASSERT_NE(bare, -1);
    ASSERT_NE(plane, -1);
    ASSERT_NE(group, -1);
    // Plane IDs are drawn apart from layer IDs; the resolution tests rely on it.
    ASSERT_FALSE(doc.FindStack(plane).IsValid());
    ASSERT_FALSE(doc.FindStack(group).IsValid());
}

TEST_F(BaseScopeTest, FirstUseOfAnyOperationInitialisesTheDocumentOnce)
{
    using Op = std::function<void(TestScope&)>;
    struct Row {
        char const* name;
        Op op;
    };
    int const l = layer;
    std::vector<Row> const rows = {
        {"GetCollection", [](TestScope& s) { s.GetCollection(); }},
        {"GetCollection const", [](TestScope& s) { static_cast<TestScope const&>(s).GetCollection(); }},
        {"MuteImageMessages", [](TestScope& s) { s.MuteImageMessages(); }},
        {"MuteRenderMessages", [](TestScope& s) { s.MuteRenderMessages(); }},
        {"HasLayer", [l](TestScope const& s) { s.HasLayer(l); }},
        {"FirstLayerID", [](TestScope const& s) { s.FirstLayerID(); }},
        {"FindPlaneID", [l](TestScope const& s) { s.FindPlaneID(l); }},
        {"IsPlaneExisting", [](TestScope const& s) { s.IsPlaneExisting(1); }},
        {"TestOrder", [l](TestScope const& s) { s.TestOrder(l, {0}); }},
        {"GetSelection", [](TestScope const& s) { std::unique_ptr<img::CSelectionScope>(s.GetSelection()); }},
        {"Assign", [this](TestScope& s) { s.Assign(doc); }},
        {"PropertyExists", [](TestScope const& s) { s.PropertyExists(5); }},
        {"GetProperties", [](TestScope const& s) {
             utl::CPropSet props;
             s.GetProperties(props);
         }},
        {"stack PropertyExists", [l](TestScope const& s) { s.PropertyExists(l, 5); }},
        {"GroupPropertyExists", [](TestScope const& s) { s.GroupPropertyExists(1, 5); }},
        {"HasBlob", [l](TestScope const& s) { s.HasBlob(l, 1); }},
        {"GetDataFrame const", [l](TestScope const& s) { s.GetDataFrame(l); }},
        {"GetFirstSample", [l](TestScope const& s) { s.GetFirstSample(l); }},
        {"GetActiveFrame", [l](TestScope const& s) {
             geo::CiVecN index;
             s.GetActiveFrame(l, index);
         }},
        {"unknown layer", [](TestScope const& s) { s.HasLayer(INT_MAX); }},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(row.name);
        img::CImg fresh = doc;
        int const before = fresh.GetInitializeCount();
        TestScope scope(fresh);
        EXPECT_EQ(fresh.GetInitializeCount(), before) << "construction must not initialise";
        row.op(scope);
        EXPECT_EQ(fresh.GetInitializeCount(), before + 1);
        row.op(scope);
        scope.HasLayer(layer);
        scope.GetCollection();
        EXPECT_EQ(fresh.GetInitializeCount(), before + 1) << "later calls must not initialise again";
    }
}

TEST_F(BaseScopeTest, EveryScopeInitialisesOnItsOwnFirstUse)
{
    TestScope first(doc);
    TestScope second(doc);
    first.FirstLayerID();
    first.FirstLayerID();
    EXPECT_EQ(doc.GetInitializeCount(), 1);
    second.FirstLayerID();
    EXPECT_EQ(doc.GetInitializeCount(), 2);

    // The selection scope is a scope of its own and prepares on its own use.
    std::unique_ptr<img::CSelectionScope> selection(first.GetSelection());
    ASSERT_NE(selection, nullptr);
    EXPECT_EQ(doc.GetInitializeCount(), 2);
    EXPECT_TRUE(selection->GetCollection() == doc);
    EXPECT_EQ(doc.GetInitializeCount(), 3);
}

TEST_F(BaseScopeTest, AssignSwitchesDocumentWithoutInitialisingIt)
{
    img::CImg other;
    int const otherLayer = AddRasterLayer(other, {4, 4});
    AddRasterLayer(other, {4, 4});
    ASSERT_NE(otherLayer, -1);

    TestScope scope(doc);
    scope.Assign(other);
    EXPECT_EQ(doc.GetInitializeCount(), 1) << "Assign prepares the scope's own document first";
    EXPECT_EQ(other.GetInitializeCount(), 0);
    EXPECT_TRUE(scope.GetCollection() == other);
    EXPECT_EQ(scope.FirstLayerID(), other.FirstStackId());
    EXPECT_EQ(other.GetInitializeCount(), 0);
}

TEST_F(BaseScopeTest, SetToRenderer2DRefusesTheFlowAndTellsTheScope)
{
    TestScope scope(doc);
    // A tree in which the IDs of both fixture layers have entries.
    img::CImg stranger;
    AddRasterLayer(stranger, {4, 4});
    AddRasterLayer(stranger, {4, 4});
    img::CDisplProcessFlow offered(stranger, true);
    ASSERT_NE(offered.FindLayer(bare), -1);

    EXPECT_FALSE(scope.SetToRenderer2D(offered));
    EXPECT_EQ(scope.rendererChangedCalls, 1);
    EXPECT_EQ(scope.FindPlaneID(layer), plane) << "the scope keeps its own tree";
    EXPECT_EQ(scope.FindPlaneID(bare), -1);

    EXPECT_FALSE(scope.SetToRenderer2D(img::CDisplProcessFlow()));
    EXPECT_EQ(scope.rendererChangedCalls, 2);
}

TEST_F(BaseScopeTest, CopyRenderer2DIsEmptyEvenWhenTheTreeIsNot)
{
    TestScope scope(doc);
    ASSERT_NE(scope.FindPlaneID(layer), -1);
    img::CDisplProcessFlow const copy = scope.CopyRenderer2D();
    EXPECT_EQ(copy.FindLayer(layer), -1);
    EXPECT_EQ(copy.GetOpUnitCount(copy.RootId()), 0);
    EXPECT_FALSE(copy.Exists(plane));
}

TEST_F(BaseScopeTest, ResolutionPathsAcceptOnlyTheirOwnIdentifiers)
{
    TestScope const scope(doc);
    int const unknown = UnknownLayer(doc);

    // Stack path: any stack of the document, with or without a tree entry.
    EXPECT_TRUE(scope.HasLayer(layer));
    EXPECT_TRUE(scope.HasLayer(bare));
    for (int id : {unknown, 0, -1, INT_MIN, INT_MAX, plane, group}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(scope.HasLayer(id));
    }

    // Flow path: only layers with an entry.
    EXPECT_EQ(scope.FindPlaneID(layer), plane);
    EXPECT_EQ(scope.FindPlaneID(bare), -1);
    for (int id : {unknown, -1, INT_MIN, plane, group})
        EXPECT_EQ(scope.FindPlaneID(id), -1) << id;

    // Any entry of the tree, groups included; layer IDs are not entries.
    EXPECT_TRUE(scope.IsPlaneExisting(plane));
    EXPECT_TRUE(scope.IsPlaneExisting(group));
    for (int id : {layer, bare, -1, INT_MIN, INT_MAX})
        EXPECT_FALSE(scope.IsPlaneExisting(id)) << id;
}

TEST_F(BaseScopeTest, FirstLayerIDIsLowestStackOrMinusOne)
{
    img::CImg empty;
    EXPECT_EQ(TestScope(empty).FirstLayerID(), -1);
    EXPECT_EQ(TestScope(doc).FirstLayerID(), std::min(layer, bare));
}

TEST_F(BaseScopeTest, TestOrderNeedsAResolvingLayerAndTheExactIndexLength)
{
    int const order2 = AddRasterLayer(doc, {8, 8, 3, 2});
    TestScope const scope(doc);
    struct Row {
        int layer;
        geo::CiVecN index;
        bool expected;
    };
    std::vector<Row> const rows = {
        {bare, {}, true},          {bare, {0}, false},
        {layer, {}, false},        {layer, {2}, true},        {layer, {0, 0}, false},
        {order2, {1}, false},      {order2, {1, 1}, true},    {order2, {1, 1, 1}, false},
        {UnknownLayer(doc), {}, false}, {UnknownLayer(doc), {0}, false}, {plane, {0}, false},
    };
    for (Row const& row : rows) {
        SCOPED_TRACE(::testing::Message() << "layer " << row.layer << ", " << row.index.size() << " components");
        EXPECT_EQ(scope.TestOrder(row.layer, row.index), row.expected);
    }
}

TEST_F(BaseScopeTest, GetSelectionMakesAScopeOverTheSameDocument)
{
    TestScope const scope(doc);
    std::unique_ptr<img::CSelectionScope> selection(scope.GetSelection());
    ASSERT_NE(selection, nullptr);
    EXPECT_TRUE(selection->GetCollection() == doc);
    std::unique_ptr<img::CSelectionScope> second(scope.GetSelection());
    EXPECT_NE(second.get(), selection.get()) << "each call makes a new scope for the caller";
}

TEST_F(BaseScopeTest, ImageMessagesStayMutedWhileAnyTokenCopyLives)
{
    TestScope scope(doc);
    scope.GetCollection();  // initialisation is not what this test watches
    std::vector<img::EChange> seen;
    int const subscription = doc.Subscribe([&](img::EChange change) { seen.push_back(change); });

    {
        boost::shared_ptr<void> token = scope.MuteImageMessages();
        ASSERT_TRUE(token);
        boost::shared_ptr<void> copy = token;
        token.reset();
        EXPECT_TRUE(scope.SetProperty(900, mem::CBin(1)));
        EXPECT_TRUE(scope.SetProperty(layer, 901, mem::CBin(2)));
        EXPECT_TRUE(seen.empty()) << "muted while the copy lives";
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], img::eChangeSummary);

    // The scope kept no copy: messages flow again.
    EXPECT_TRUE(scope.SetProperty(902, mem::CBin(3)));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], img::eChangeProperties);
    doc.Unsubscribe(subscription);
}

TEST_F(BaseScopeTest, RenderMessagesStayMutedWhileAnyTokenCopyLives)
{
    TestScope scope(doc);
    scope.GetCollection();
    img::CDisplProcessFlow observer(doc, false);
    std::vector<img::EChange> seen;
    int const subscription = observer.Subscribe([&](img::EChange change) { seen.push_back(change); });

    {
        boost::shared_ptr<void> token = scope.MuteRenderMessages();
        ASSERT_TRUE(token);
        boost::shared_ptr<void> copy = token;
        token.reset();
        EXPECT_TRUE(scope.ActivateFrame(layer, {1}));
        EXPECT_TRUE(seen.empty());
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], img::eChangeSummary);

    EXPECT_TRUE(scope.ActivateFrame(layer, {2}));
    EXPECT_EQ(seen.size(), 2u);
    observer.Unsubscribe(subscription);
}

TEST_F(BaseScopeTest, BaseStubsGiveTheirConstantAndTouchNothing)
{
    TestScope scope(doc);
    int const unknown = UnknownLayer(doc);
    unsigned int const countBefore = doc.FindStack(layer).GetPixelModificationCount(-1);

    // The class behind this reference is opaque to the base; its stubs must
    // not write through it, which the unchanged bytes show.
    alignas(std::max_align_t) unsigned char calibrationBytes[256];
    std::fill(std::begin(calibrationBytes), std::end(calibrationBytes), 0xA5);
    auto& calibration = reinterpret_cast<img::CIntensityCalibration&>(calibrationBytes);

    using Call = std::function<bool(TestScope&, int)>;
    struct Row {
        char const* name;
        bool expected;
        Call call;
    };
    std::vector<Row> const rows = {
        {"FindProperty(layer, index)", false,
         [](TestScope& s, int l) {
             geo::CiVecN found{7, 7};
             bool const r = s.FindProperty(l, geo::CiVecN{0}, 5, found);
             EXPECT_EQ(found, (geo::CiVecN{7, 7}));
             return r;
         }},
        {"FindProperty(address)", false,
         [](TestScope& s, int l) {
             geo::CiVecN found{7};
             bool const r = s.FindProperty(geo::CiVecN{l}, 5, found);
             EXPECT_EQ(found, geo::CiVecN{7});
             return r;
         }},
        {"FindProperty(layer)", false,
         [](TestScope& s, int l) {
             geo::CiVecN found;
             bool const r = s.FindProperty(l, 5, found);
             EXPECT_TRUE(found.empty());
             return r;
         }},
        {"GetIntensityCol", false,
         [](TestScope& s, int l) {
             double values[3] = {1.5, 2.5, 3.5};
             bool const r = s.GetIntensityCol(l, {0, 0}, values, values + 3);
             EXPECT_EQ(values[0] + values[1] + values[2], 7.5);
             return r;
         }},
        {"GetIntensityRow", false,
         [](TestScope& s, int l) {
             double values[3] = {1.5, 2.5, 3.5};
             bool const r = s.GetIntensityRow(l, {0, 0}, values, values + 3);
             EXPECT_EQ(values[0] + values[1] + values[2], 7.5);
             return r;
         }},
        {"GetIntensityValue", false,
         [](TestScope& s, int l) {
             double value = -4.25;
             bool const r = s.GetIntensityValue(l, {1, 1}, value);
             EXPECT_EQ(value, -4.25);
             return r;
         }},
        {"GetIntensityCalibration", false,
         [&calibration](TestScope& s, int l) { return s.GetIntensityCalibration(l, calibration); }},
        {"SetIntensityCalibration", false,
         [&calibration](TestScope& s, int l) { return s.SetIntensityCalibration(l, calibration); }},
        {"DelIntensityCalibration", false, [](TestScope& s, int l) { return s.DelIntensityCalibration(l); }},
        {"HasIntensityCalibration", false, [](TestScope& s, int l) { return s.HasIntensityCalibration(l); }},
        {"GetIntensityUnit", false,
         [](TestScope& s, int l) {
             utl::CUnit unit(1, 1, -6);
             bool const r = s.GetIntensityUnit(l, unit);
             EXPECT_EQ(unit, utl::CUnit(1, 1, -6));
             return r;
         }},
        {"ChainLayer", false, [](TestScope& s, int l) { return s.ChainLayer(l); }},
        {"UnchainLayer", false, [](TestScope& s, int l) { return s.UnchainLayer(l); }},
        {"IsChained", false,
         [](TestScope& s, int l) {
             bool chained = true;
             bool const r = s.IsChained(l, chained);
             EXPECT_TRUE(chained);
             return r;
         }},
        {"MoveChainedLayers", false, [](TestScope& s, int) { return s.MoveChainedLayers({3.0, 4.0}); }},
        {"SetLayerProtection", false, [](TestScope& s, int l) { return s.SetLayerProtection(l, true); }},
        {"IsLayerProtected", false,
         [](TestScope& s, int l) {
             bool isProtected = true;
             bool const r = s.IsLayerProtected(l, isProtected);
             EXPECT_TRUE(isProtected);
             return r;
         }},
        {"DelLimits", false, [](TestScope& s, int l) { return s.DelLimits(l); }},
        {"SetBoundary", false, [](TestScope& s, int l) { return s.SetBoundary(l, geo::CiRect(0, 0, 2, 2)); }},
        {"SetPixelOrigin", false, [](TestScope& s, int l) { return s.SetPixelOrigin(l, {5.0, 5.0}); }},
        {"ResetRenderer2D", true, [](TestScope& s, int) { return s.ResetRenderer2D(); }},
        {"CreateSelectionMask", false, [](TestScope& s, int) { return bool(s.CreateSelectionMask()); }},
        {"GetSelectionMask", false, [](TestScope& s, int) { return bool(s.GetSelectionMask()); }},
        {"GetSelectionMask const", false,
         [](TestScope& s, int) { return bool(static_cast<TestScope const&>(s).GetSelectionMask()); }},
        {"AppendFrame", false, [](TestScope& s, int) { return bool(s.CallAppendFrame(geo::CiVecN{0})); }},
        {"DelSelectionMask", false,
         [](TestScope& s, int) {
             s.DelSelectionMask();
             return false;
         }},
    };
    for (Row const& row : rows) {
        for (int id : {layer, bare, unknown, -1}) {
            SCOPED_TRACE(::testing::Message() << row.name << " on " << id);
            EXPECT_EQ(row.call(scope, id), row.expected);
        }
    }
    EXPECT_TRUE(std::all_of(std::begin(calibrationBytes), std::end(calibrationBytes),
                            [](unsigned char b) { return b == 0xA5; }));
    // Nothing was looked up, let alone changed.
    EXPECT_EQ(doc.GetInitializeCount(), 0);
    EXPECT_EQ(doc.FindStack(layer).GetPixelModificationCount(-1), countBefore);
    EXPECT_EQ(doc.FindStack(layer).GetBoundary(), geo::CiRect(0, 0, 16, 8));
    EXPECT_EQ(scope.rendererChangedCalls, 0);
}

TEST_F(BaseScopeTest, BadScopeExceptionIsThrownByPointerAndReleasedWithDelete)
{
    try {
        throw new img::CBadScopeException();
    } catch (CException* e) {
        EXPECT_NE(dynamic_cast<img::CBadScopeException*>(e), nullptr);
        e->Delete();  // leak-checked under the sanitizers
    }
}

}  // namespace
}  // namespace imgscope_test

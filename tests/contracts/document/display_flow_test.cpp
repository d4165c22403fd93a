#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/stack.h"
#include "tests/contracts/document/document_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using namespace doctest;
const utl::CUnit kSecond(utl::eQuantityTime, 1, 0);

class FlowTest : public ::testing::Test {
protected:
    // A stack in the document, without an entry.
    int AddLayer(geo::CiVecN const& size = {8, 6}, img::CPixelInfo const& info = kGray8)
    {
        const int id = doc.Add(img::CStack(Frame(size, info)));
        EXPECT_GT(id, 0);
        return id;
    }
    // A stack with an entry at the end of the root's list.
    int AddEntry(geo::CiVecN const& size = {8, 6}, img::CPixelInfo const& info = kGray8)
    {
        const int plane = flow.InsertLayer(-1, -3, AddLayer(size, info), utl::CIndexN(), -1);
        EXPECT_GE(plane, 0);
        return plane;
    }
    std::vector<int> Units(int parent) const
    {
        std::vector<int> units;
        for (int i = 0; i < flow.GetOpUnitCount(parent); ++i)
            units.push_back(flow.GetOpUnit(parent, i));
        return units;
    }

    img::CImg doc;
    img::CDisplProcessFlow flow{doc, false};
};

using V = std::vector<int>;

// ---------------------------------------------------------------- tree

TEST_F(FlowTest, InsertAtStartEndIndexAndInsideGroups)
{
    const int root = flow.RootId();
    const int a = AddEntry();
    const int b = flow.InsertLayer(-1, -3, AddLayer(), utl::CIndexN(), -1);
    const int c = flow.InsertLayer(root, -2, AddLayer(), utl::CIndexN(), -1);
    EXPECT_EQ(Units(root), (V{c, a, b}));

    const int g = flow.InsertGroup(root, 1);
    EXPECT_EQ(Units(root), (V{c, g, a, b}));
    EXPECT_TRUE(flow.IsGroup(g));
    EXPECT_FALSE(flow.IsGroup(a));
    EXPECT_FALSE(flow.IsGroup(root));

    const int m1 = flow.InsertLayer(g, -3, AddLayer(), utl::CIndexN(), -1);
    const int m2 = flow.InsertLayer(g, -2, AddLayer(), utl::CIndexN(), -1);
    const int m3 = flow.InsertLayer(g, 99, AddLayer(), utl::CIndexN(), -1);  // clamped to the end
    const int m4 = flow.InsertLayer(g, 1, AddLayer(), utl::CIndexN(), -1);
    EXPECT_EQ(Units(g), (V{m2, m4, m1, m3}));
    EXPECT_EQ(Units(root), (V{c, g, a, b}));

    int position = -7;
    EXPECT_EQ(flow.GetParentGroup(m1, position), g);
    EXPECT_EQ(position, 2);
    EXPECT_EQ(flow.GetParentGroup(a), root);
    EXPECT_EQ(flow.GetZOrder(g), 1);
    EXPECT_EQ(flow.GetZOrder(b), 3);
    EXPECT_EQ(flow.GetParentGroup(root, position), -1);
    EXPECT_EQ(position, 2);  // untouched on failure
    EXPECT_EQ(flow.GetOpUnit(root, 4), -1);
    EXPECT_EQ(flow.GetOpUnit(root, -1), -1);
    EXPECT_EQ(flow.GetOpUnitCount(a), 0);
    EXPECT_EQ(flow.GetOpUnitCount(12345), -1);
}

TEST_F(FlowTest, InsertRefusesWhatCannotBeShown)
{
    const int layer = AddLayer();
    const int plane = flow.InsertLayer(-1, -3, layer, utl::CIndexN(), -1);
    ASSERT_GE(plane, 0);
    const int g = flow.InsertGroup(-1, -3);

    EXPECT_EQ(flow.InsertLayer(-1, -3, layer, utl::CIndexN(), -1), -1) << "a layer has one entry";
    EXPECT_EQ(flow.InsertLayer(-1, -3, 4711, utl::CIndexN(), -1), -1) << "unknown layer";
    EXPECT_EQ(flow.InsertLayer(plane, -3, AddLayer(), utl::CIndexN(), -1), -1) << "a layer entry holds nothing";
    EXPECT_EQ(flow.InsertGroup(g, -3), -1) << "groups live only under the root";
    EXPECT_EQ(flow.InsertLayer(-1, -3, AddLayer(), utl::CIndexN{1}, -1), -1) << "frame of the wrong length";
    EXPECT_EQ(flow.InsertLayer(-1, -3, AddLayer(), utl::CIndexN(), 1), -1) << "one channel only";
    EXPECT_EQ(Units(flow.RootId()), (V{plane, g}));

    img::CDisplProcessFlow empty;
    EXPECT_EQ(empty.GetOpUnitCount(empty.RootId()), 0);
    EXPECT_EQ(empty.InsertLayer(-1, -3, layer, utl::CIndexN(), -1), -1);
    EXPECT_EQ(empty.InsertGroup(-1, -3), -1);
}

TEST_F(FlowTest, MoveToCountsThePositionBeforeTheMove)
{
    const int root = flow.RootId();
    const int a = AddEntry(), b = AddEntry(), c = AddEntry(), d = AddEntry();
    EXPECT_TRUE(flow.MoveTo(a, root, 2));
    EXPECT_EQ(Units(root), (V{b, a, c, d}));
    EXPECT_TRUE(flow.MoveTo(a, root, 1));  // its own place
    EXPECT_TRUE(flow.MoveTo(a, root, 2));  // just behind itself
    EXPECT_EQ(Units(root), (V{b, a, c, d}));
    EXPECT_TRUE(flow.MoveTo(d, root, -2));
    EXPECT_EQ(Units(root), (V{d, b, a, c}));
    EXPECT_TRUE(flow.MoveTo(d, root, -3));
    EXPECT_EQ(Units(root), (V{b, a, c, d}));

    const int g = flow.InsertGroup(root, 0);
    EXPECT_TRUE(flow.MoveTo(c, g, 0));
    EXPECT_TRUE(flow.MoveTo(a, g, -2));
    EXPECT_EQ(Units(g), (V{a, c}));
    EXPECT_EQ(Units(root), (V{g, b, d}));
    EXPECT_EQ(flow.GetParentGroup(c), g);

    const int h = flow.InsertGroup(root, -3);
    EXPECT_FALSE(flow.MoveTo(h, g, 0)) << "a group only within the root";
    EXPECT_TRUE(flow.MoveTo(h, root, 0));
    EXPECT_EQ(Units(root), (V{h, g, b, d}));
    EXPECT_FALSE(flow.MoveTo(b, a, 0)) << "into a layer entry";
    EXPECT_FALSE(flow.MoveTo(root, g, 0));
    EXPECT_FALSE(flow.MoveTo(99999, root, 0));
    EXPECT_EQ(Units(g), (V{a, c}));
}

TEST_F(FlowTest, RemoveTakesGroupMembersButKeepsTheStacks)
{
    const int root = flow.RootId();
    const int a = AddEntry();
    const int g = flow.InsertGroup(root, -3);
    const int layer = AddLayer();
    const int m = flow.InsertLayer(g, -3, layer, utl::CIndexN(), -1);
    ASSERT_TRUE(flow.SetActiveOpLayer(m));

    EXPECT_TRUE(flow.Remove(g));
    EXPECT_FALSE(flow.Exists(g));
    EXPECT_FALSE(flow.Exists(m));
    EXPECT_EQ(flow.FindLayer(layer), -1);
    EXPECT_EQ(flow.GetActiveOpLayer(img::eLayerTypeImage), -1);
    EXPECT_TRUE(doc.FindStack(layer).IsValid());
    EXPECT_EQ(Units(root), (V{a}));

    EXPECT_FALSE(flow.Remove(root));
    EXPECT_FALSE(flow.Remove(g));
    const int again = flow.InsertLayer(-1, -2, layer, utl::CIndexN(), -1);
    EXPECT_NE(again, m) << "plane IDs are not reused";
    EXPECT_EQ(Units(root), (V{again, a}));
}

TEST_F(FlowTest, PlaneIdsAndLayerIdsNeverMeetAndDocumentRemovalForgetsTheEntry)
{
    const int layer = AddLayer();
    const int plane = flow.InsertLayer(-1, -3, layer, utl::CIndexN(), -1);
    EXPECT_NE(plane, layer);
    EXPECT_FALSE(flow.Exists(layer));
    EXPECT_EQ(flow.GetStackId(layer), -1);
    EXPECT_FALSE(flow.GetStack(layer).IsValid());
    EXPECT_EQ(flow.FindLayer(plane), -1);
    EXPECT_FALSE(flow.SetVisibility(layer, false));
    EXPECT_EQ(flow.GetStackId(plane), layer);
    EXPECT_TRUE(flow.GetStack(plane) == doc.FindStack(layer));
    EXPECT_EQ(flow.GetStackId(flow.RootId()), -1);

    ASSERT_TRUE(flow.SetActiveOpLayer(plane));
    EXPECT_TRUE(doc.Remove(layer));
    EXPECT_FALSE(flow.Exists(plane));
    EXPECT_EQ(flow.FindLayer(layer), -1);
    EXPECT_EQ(flow.GetActiveStackID(img::eLayerTypeImage), -1);
    EXPECT_EQ(flow.GetOpUnitCount(flow.RootId()), 0);
}

TEST_F(FlowTest, ViewsShareOneTreeAndIndependentCopiesDoNot)
{
    const int plane = AddEntry();
    img::CDisplProcessFlow other(doc, false);
    EXPECT_TRUE(other.Exists(plane));
    ASSERT_TRUE(other.SetVisibility(plane, false));
    EXPECT_FALSE(flow.IsVisible(plane));
    other.SetImagePlaneRect(geo::CiRect(0, 0, 10, 10));
    EXPECT_EQ(flow.GetImagePlaneRect(), geo::CiRect(0, 0, 10, 10));

    ASSERT_TRUE(flow.CreateTransparencyMask(plane, 7));
    img::CDisplProcessFlow copy(doc, true);
    EXPECT_TRUE(copy.Exists(plane)) << "a copy keeps the plane IDs";
    EXPECT_FALSE(copy.IsVisible(plane));
    ASSERT_TRUE(copy.GetTransparencyMask(plane));
    EXPECT_NE(copy.GetTransparencyMask(plane), flow.GetTransparencyMask(plane));
    copy.GetTransparencyMask(plane)->Rectangle(geo::CiRect(0, 0, 8, 6), 200, 0);
    EXPECT_EQ(flow.GetTransparencyMask(plane)->GetValue(geo::CiVec2(1, 1)), 7);

    const int later = AddEntry();
    EXPECT_FALSE(copy.Exists(later));
    EXPECT_TRUE(copy.SetVisibility(plane, true));
    EXPECT_FALSE(flow.IsVisible(plane));
    const int copied = copy.InsertGroup(-1, -3);
    EXPECT_FALSE(flow.IsGroup(copied));

    img::CDisplProcessFlow handle = copy;  // copies of a flow object share it
    EXPECT_TRUE(handle.Exists(copied));
    handle = flow;
    EXPECT_TRUE(handle.Exists(later));
}

// ---------------------------------------------------------------- display state

TEST_F(FlowTest, ChannelVisibilityAndTheChannelList)
{
    const int plane = AddEntry({4, 4}, kRgb8);
    EXPECT_EQ(flow.GetChannelList(plane, false), (std::set<int>{0, 1, 2}));
    EXPECT_EQ(flow.GetSelectedChannels(plane), (std::set<int>{0, 1, 2}));
    EXPECT_TRUE(flow.SetVisibility(plane, 1, false));
    EXPECT_FALSE(flow.IsVisible(plane, 1));
    EXPECT_TRUE(flow.IsVisible(plane, 2));
    EXPECT_EQ(flow.GetChannelList(plane, true), (std::set<int>{0, 2}));
    EXPECT_FALSE(flow.SetVisibility(plane, 3, false));
    EXPECT_FALSE(flow.IsVisible(plane, 3));
    EXPECT_TRUE(flow.SetVisibility(plane, -1, false));
    EXPECT_TRUE(flow.GetChannelList(plane, true).empty());
    EXPECT_TRUE(flow.IsVisible(plane)) << "the entry keeps its own flag";

    const int one = flow.InsertLayer(-1, -3, AddLayer({4, 4}, kRgb8), utl::CIndexN(), 2);
    EXPECT_EQ(flow.GetChannelList(one, true), (std::set<int>{2}));
    EXPECT_EQ(flow.GetSelectedChannels(one), (std::set<int>{2}));
    EXPECT_FALSE(flow.SetSelectedChannels(one, {0, 5}));
    EXPECT_EQ(flow.GetSelectedChannels(one), (std::set<int>{2}));
    EXPECT_TRUE(flow.SetSelectedChannels(one, {}));
    EXPECT_TRUE(flow.GetSelectedChannels(one).empty());
    EXPECT_TRUE(flow.GetSelectedChannels(flow.RootId()).empty());
}

TEST_F(FlowTest, LutsPerChannelWithDeleteAndAll)
{
    const int plane = AddEntry({4, 4}, kRgb8);
    const std::vector<utl::CBGR8> lut{{0, 0, 0}, {10, 20, 30}};
    std::vector<utl::CBGR8> out{{1, 2, 3}};
    EXPECT_FALSE(flow.GetLUT(plane, 0, out));
    EXPECT_EQ(out.size(), 1u);
    EXPECT_FALSE(flow.SetLUT(plane, 0, {}));
    EXPECT_FALSE(flow.SetLUT(plane, 7, lut));
    EXPECT_TRUE(flow.SetLUT(plane, 1, lut));
    EXPECT_TRUE(flow.GetLUT(plane, 1, out) && out == lut);
    EXPECT_FALSE(flow.DelLUT(plane, 0)) << "nothing to delete";
    EXPECT_TRUE(flow.DelLUT(plane, 1));
    EXPECT_FALSE(flow.GetLUT(plane, 1, out));
    EXPECT_TRUE(flow.SetLUT(plane, -1, lut));
    EXPECT_TRUE(flow.GetLUT(plane, 2, out));
    EXPECT_TRUE(flow.DelLUT(plane, -1));
    EXPECT_FALSE(flow.GetLUT(plane, 0, out));
    EXPECT_TRUE(flow.DelLUT(plane, -1)) << "-1 succeeds for any layer entry";
    EXPECT_TRUE(flow.UseLUT(plane, 0));
    EXPECT_FALSE(flow.UseLUT(flow.InsertGroup(-1, -3), 1));
}

TEST_F(FlowTest, OpacityPropertyIsTheGammaOfChannelZero)
{
    const int plane = AddEntry();
    double gamma = -1.0;
    EXPECT_TRUE(flow.GetGamma(plane, 0, gamma) && gamma == 1.0);
    ASSERT_TRUE(flow.SetProperty(plane, 10009, mem::CBin(0.25)));
    EXPECT_TRUE(flow.GetGamma(plane, 0, gamma) && gamma == 0.25);
    for (double bad : {1.5, -0.1, std::nan("")})
        EXPECT_FALSE(flow.SetGamma(plane, 0, bad));
    EXPECT_FALSE(flow.GetGamma(plane, 4, gamma));
    EXPECT_FALSE(flow.GetGamma(flow.RootId(), 0, gamma));
    EXPECT_EQ(gamma, 0.25);
}

TEST_F(FlowTest, FunctionsFiltersAndMasks)
{
    const int plane = AddEntry({5, 3});
    img::ELayerFunction function = img::eFunctionMax;
    EXPECT_TRUE(flow.GetFunction(plane, 0, function) && function == img::eFunctionNormal);
    ASSERT_TRUE(flow.SetLUT(plane, 0, {{0, 0, 0}, {9, 9, 9}}));  // gives the channel settings of its own
    EXPECT_TRUE(flow.GetFunction(plane, 0, function) && function == img::eFunctionNormal);
    EXPECT_FALSE(flow.SetFunction(plane, 0, img::ELayerFunction(9)));
    EXPECT_FALSE(flow.GetFunction(plane, 1, function));
    EXPECT_EQ(function, img::eFunctionNormal);

    boost::shared_ptr<img::CDisplayFilter> filter;
    EXPECT_FALSE(flow.SetDisplayFilter(plane, filter));
    EXPECT_TRUE(flow.SetDisplayFilter(plane, boost::shared_ptr<img::CDisplayFilter>(new img::CDisplayFilter)));
    EXPECT_TRUE(flow.ResetDisplayFilter(plane));
    EXPECT_FALSE(flow.GetDisplayFilter(plane, filter));

    EXPECT_FALSE(flow.GetTransparencyMask(plane));
    EXPECT_TRUE(flow.SetTransparencyMaskActive(plane, true));
    EXPECT_FALSE(flow.IsTransparencyMaskActive(plane)) << "no mask yet";
    auto mask = flow.CreateTransparencyMask(plane, 9);
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->GetBoundary(), geo::CiRect(0, 0, 5, 3));
    EXPECT_EQ(mask->GetValue(geo::CiVec2(4, 2)), 9);
    EXPECT_TRUE(flow.IsTransparencyMaskActive(plane));
    EXPECT_TRUE(flow.DeleteTransparencyMask(plane));
    EXPECT_FALSE(flow.DeleteTransparencyMask(plane));
    EXPECT_FALSE(flow.IsTransparencyMaskActive(plane));
    EXPECT_FALSE(flow.CreateTransparencyMask(flow.InsertGroup(-1, -3), 0));
}

TEST_F(FlowTest, PropertiesOfEntriesChannelsAndGroups)
{
    const int plane = AddEntry({4, 4}, kRgb8);
    const int group = flow.InsertGroup(-1, -3);
    ASSERT_TRUE(flow.SetProperty(plane, 2006, mem::CBin(3)));
    ASSERT_TRUE(flow.SetProperty(plane, 2, 2006, mem::CBin(geo::CdVec2(1.5, 2.5))));
    ASSERT_TRUE(flow.SetProperty(group, -1, 120060, mem::CBin(10.0, kMicro)));
    EXPECT_FALSE(flow.SetProperty(group, 0, 120060, mem::CBin(1.0))) << "groups have no channels";
    EXPECT_FALSE(flow.SetProperty(plane, 3, 1, mem::CBin(1)));
    EXPECT_FALSE(flow.SetProperty(plane, 1, mem::CBin())) << "an empty value is not stored";
    EXPECT_FALSE(flow.SetProperty(flow.RootId(), 1, mem::CBin(1)));

    // Equal bins hold equal values of one type: nothing is converted.
    mem::CBin bin;
    EXPECT_TRUE(flow.GetProperty(plane, -1, 2006, bin) && bin == mem::CBin(3));
    EXPECT_TRUE(flow.GetProperty(plane, 2, 2006, bin) && bin == mem::CBin(geo::CdVec2(1.5, 2.5)));
    EXPECT_FALSE(flow.PropertyExists(plane, 1, 2006));
    EXPECT_TRUE(flow.PropertyExists(group, -1, 120060));
    EXPECT_TRUE(flow.GetProperty(group, 120060, bin) && bin == mem::CBin(10.0, kMicro));
    mem::CBin untouched(7);
    EXPECT_FALSE(flow.GetProperty(plane, 999, untouched));
    EXPECT_EQ(untouched, mem::CBin(7));
}

TEST_F(FlowTest, FramesSelectionsAndActiveFrame)
{
    const int plane = AddEntry({4, 4, 3, 2});  // a stack of order 2
    EXPECT_EQ(flow.GetActiveFrameIndex(plane), (utl::CIndexN{0, 0}));
    EXPECT_FALSE(flow.SetActiveFrameIndex(utl::CIndexN{1}, plane));
    EXPECT_TRUE(flow.SetActiveFrameIndex(utl::CIndexN{2, 1}, plane));
    EXPECT_EQ(flow.GetActiveFrameIndex(plane), (utl::CIndexN{2, 1}));  // the equality walk sets 1-D ones only

    std::set<geo::CiVecN, geo::tiVecNLess> frames{{0, 1}, {2, 0}};
    EXPECT_TRUE(flow.SetFrameSelection(plane, frames));
    std::set<geo::CiVecN, geo::tiVecNLess> out;
    EXPECT_TRUE(flow.GetFrameSelection(plane, out) && out == frames);
    EXPECT_FALSE(flow.SetFrameSelection(plane, {{0}}));
    EXPECT_TRUE(flow.GetFrameSelection(plane, out) && out == frames);

    EXPECT_TRUE(flow.SetActiveStackDim(plane, 1));
    EXPECT_FALSE(flow.SetActiveStackDim(plane, 2));
    EXPECT_EQ(flow.GetActiveStackDim(plane), 1);
}

TEST_F(FlowTest, ActiveOperationLayerPerLayerType)
{
    const int image = AddEntry();
    boost::shared_ptr<img::CVecGraph> graphic(new img::CVecGraph);
    const int vectorLayer = doc.Add(img::CStack(graphic));
    const int vector = flow.InsertLayer(-1, -3, vectorLayer, utl::CIndexN(), -1);
    ASSERT_GE(vector, 0);
    EXPECT_TRUE(flow.IsVectorGraficLayer(vector));
    EXPECT_FALSE(flow.IsVectorGraficLayer(image));
    double opacity = 0.0;
    ASSERT_TRUE(flow.SetProperty(vector, 10009, mem::CBin(0.3)));
    EXPECT_TRUE(flow.GetGamma(vector, 0, opacity) && opacity == 0.3) << "opacity reads back without channels";

    EXPECT_EQ(flow.GetActiveOpLayer(img::eLayerTypeImage), -1);
    EXPECT_TRUE(flow.SetActiveOpLayer(image));
    EXPECT_TRUE(flow.SetActiveOpLayer(vector));
    EXPECT_EQ(flow.GetActiveOpLayer(img::eLayerTypeImage), image);
    EXPECT_EQ(flow.GetActiveOpLayer(img::eLayerTypeVector), vector);
    EXPECT_EQ(flow.GetActiveStackID(img::eLayerTypeVector), vectorLayer);
    EXPECT_FALSE(flow.SetActiveOpLayer(flow.InsertGroup(-1, -3)));
    EXPECT_EQ(img::CDisplProcessFlow(doc, false).GetActiveOpLayer(img::eLayerTypeImage), image);
}

TEST_F(FlowTest, GroupNamesAndFlagsBelongToGroupsOnly)
{
    const int plane = AddEntry();
    const int group = flow.InsertGroup(-1, -3);
    CString name(L"before");
    bool flag = true;
    EXPECT_TRUE(flow.GetGroupName(group, name) && name.IsEmpty());
    EXPECT_TRUE(flow.IsGroupLocked(group, flag) && !flag);
    EXPECT_TRUE(flow.IsGroupSingular(group, flag) && !flag);
    for (int notGroup : {plane, flow.RootId(), -1}) {
        SCOPED_TRACE(notGroup);
        name = L"kept";
        flag = false;
        EXPECT_FALSE(flow.SetGroupName(notGroup, L"x"));
        EXPECT_FALSE(flow.GetGroupName(notGroup, name));
        EXPECT_FALSE(flow.LockGroup(notGroup, true));
        EXPECT_FALSE(flow.IsGroupLocked(notGroup, flag));
        EXPECT_FALSE(flow.IsGroupSingular(notGroup, flag));
        EXPECT_EQ(name, L"kept");
        EXPECT_FALSE(flag);
    }
}

// ---------------------------------------------------------------- canvas

TEST_F(FlowTest, CanvasCalibrationAndLayerPlacementStayUntilValid)
{
    geo::CdVec2 origin(-1, -1), scale(-1, -1);
    utl::CUnit2 units(kSecond, kSecond);
    EXPECT_FALSE(flow.GetImagePlaneCalibration(origin, scale, units));
    EXPECT_EQ(origin, geo::CdVec2(-1, -1));
    EXPECT_EQ(units.x, kSecond);
    utl::TUnitValue<geo::CdRect> rwc;
    EXPECT_FALSE(flow.GetImagePlaneRWC(rwc));

    flow.SetImagePlaneCalibration(geo::CdVec2(10, 20), geo::CdVec2(0.5, 0.25), utl::CUnit2(kMicro, kNano));
    EXPECT_TRUE(flow.GetImagePlaneCalibration(origin, scale, units) && origin == geo::CdVec2(10, 20));
    EXPECT_EQ(scale, geo::CdVec2(0.5, 0.25));
    EXPECT_EQ(units, utl::CUnit2(kMicro, kNano));

    for (geo::CdVec2 bad : {geo::CdVec2(0, 1), geo::CdVec2(1, std::nan(""))})
        flow.SetImagePlaneCalibration(geo::CdVec2(0, 0), bad, utl::CUnit2(kMicro, kMicro));
    EXPECT_TRUE(flow.GetImagePlaneCalibration(origin, scale, units) && scale == geo::CdVec2(0.5, 0.25));

    // The real-world rectangle is what the pixel rectangle covers.
    flow.SetImagePlaneCalibration(geo::CdVec2(10, 20), geo::CdVec2(0.5, 0.25), utl::CUnit2(kMicro, kMicro));
    flow.SetImagePlaneRect(geo::CiRect(0, 0, 100, 40));
    ASSERT_TRUE(flow.GetImagePlaneRWC(rwc));
    EXPECT_EQ(rwc.unit, kMicro);
    EXPECT_EQ(rwc.value, geo::CdRect(10, 20, 60, 30));
    flow.SetImagePlaneRWC(utl::TUnitValue<geo::CdRect>(kNano, geo::CdRect(0, 0, 1000, 400)));
    EXPECT_TRUE(flow.GetImagePlaneCalibration(origin, scale, units) && scale == geo::CdVec2(10, 10));
    EXPECT_EQ(units.y, kNano);

    geo::CdRect rect(1, 1, 1, 1);
    EXPECT_FALSE(flow.GetCanvasRectangle(rect));
    EXPECT_EQ(rect, geo::CdRect(1, 1, 1, 1));
    EXPECT_FALSE(flow.SetCanvasRectangle(geo::CdRect(0, 0, std::nan(""), 1)));
    EXPECT_TRUE(flow.SetCanvasRectangle(geo::CdRect(5, 5, 0, 0)));
    EXPECT_TRUE(flow.GetCanvasRectangle(rect) && rect == geo::CdRect(0, 0, 5, 5));

    const int plane = AddEntry();
    origin = scale = geo::CdVec2(7, 7);
    EXPECT_FALSE(flow.GetLayerCanvasPlacement(plane, origin, scale)) << "no placement yet";
    EXPECT_EQ(origin, geo::CdVec2(7, 7));
    EXPECT_FALSE(flow.SetLayerCanvasPlacement(plane, geo::CdVec2(0, 0), geo::CdVec2(0, 1)));
    EXPECT_TRUE(flow.SetLayerCanvasPlacement(plane, geo::CdVec2(1, 2), geo::CdVec2(0.5, 0.5)));
    EXPECT_TRUE(flow.GetLayerCanvasPlacement(plane, origin, scale) && origin == geo::CdVec2(1, 2));
    EXPECT_EQ(scale, geo::CdVec2(0.5, 0.5));
    EXPECT_FALSE(flow.SetLayerCanvasPlacement(flow.InsertGroup(-1, -3), origin, scale));
}

TEST_F(FlowTest, OptimizeCanvasFitsTheCalibratedLayers)
{
    const int a = AddLayer({100, 50});
    const int b = AddLayer({10, 10});
    ASSERT_TRUE(doc.FindStack(a).SetOriginScale(geo::CdVec2(100, 200), geo::CdVec2(2, 2), kMicro));
    ASSERT_TRUE(doc.FindStack(b).SetOriginScale(geo::CdVec2(50000, 100000), geo::CdVec2(500, 500), kNano));
    EXPECT_FALSE(flow.OptimizeCanvasFromCalibration({}));
    EXPECT_FALSE(flow.OptimizeCanvasFromCalibration({4711}));
    geo::CdVec2 origin, scale;
    utl::CUnit2 units;
    EXPECT_FALSE(flow.GetImagePlaneCalibration(origin, scale, units));

    // a covers 100..300 × 200..300 µm, b 50..55 × 100..105 µm; the finest
    // pixel is b's 0.5 µm.
    ASSERT_TRUE(flow.OptimizeCanvasFromCalibration({a, b}));
    EXPECT_TRUE(flow.GetImagePlaneCalibration(origin, scale, units) && units == utl::CUnit2(kMicro, kMicro));
    EXPECT_DOUBLE_EQ(scale.x, 0.5);
    EXPECT_DOUBLE_EQ(origin.x, 50.0);
    EXPECT_DOUBLE_EQ(origin.y, 100.0);
    EXPECT_EQ(flow.GetImagePlaneRect(), geo::CiRect(0, 0, 500, 400));
    geo::CdRect rect;
    ASSERT_TRUE(flow.GetCanvasRectangle(rect));
    EXPECT_DOUBLE_EQ(rect.right, 300.0);
    EXPECT_DOUBLE_EQ(rect.bottom, 300.0);

    // A calibrated canvas keeps its scale and unit; a placement wins over
    // the layer's calibration.
    flow.SetImagePlaneCalibration(geo::CdVec2(0, 0), geo::CdVec2(4000, 4000), utl::CUnit2(kNano, kNano));
    const int plane = flow.InsertLayer(-1, -3, b, utl::CIndexN(), -1);
    ASSERT_TRUE(flow.SetLayerCanvasPlacement(plane, geo::CdVec2(0, 0), geo::CdVec2(1000, 1000)));
    ASSERT_TRUE(flow.OptimizeCanvasFromCalibration({a, b}));
    EXPECT_TRUE(flow.GetImagePlaneCalibration(origin, scale, units) && scale == geo::CdVec2(4000, 4000));
    EXPECT_EQ(origin, geo::CdVec2(0, 0));
    EXPECT_EQ(flow.GetImagePlaneRect(), geo::CiRect(0, 0, 75, 75));  // up to 300 µm
}

// ---------------------------------------------------------------- messages

TEST_F(FlowTest, MessagesReachSubscribersOfEveryViewAndMutingCollectsThem)
{
    std::vector<img::EChange> seen;
    img::CDisplProcessFlow other(doc, false);
    const int subscription = other.Subscribe([&](img::EChange c) { seen.push_back(c); });
    const int plane = AddEntry();
    flow.SetVisibility(plane, false);
    flow.SetImagePlaneRect(geo::CiRect(0, 0, 4, 4));
    EXPECT_EQ(seen, (std::vector<img::EChange>{img::eChangeLayerTree, img::eChangeDisplay, img::eChangeCanvas}));

    seen.clear();
    {
        boost::shared_ptr<void> token = flow.MuteMessaging();
        boost::shared_ptr<void> copy = token;
        token.reset();
        flow.SetHidden(plane, true);
        flow.Remove(plane);
        EXPECT_TRUE(seen.empty());
    }
    EXPECT_EQ(seen, (std::vector<img::EChange>{img::eChangeSummary}));

    seen.clear();
    flow.MuteMessaging().reset();
    EXPECT_TRUE(seen.empty()) << "no summary without changes";

    img::CDisplProcessFlow copy(doc, true);
    copy.InsertGroup(-1, -3);
    EXPECT_TRUE(seen.empty()) << "an independent copy has messages of its own";

    other.Unsubscribe(subscription);
    flow.InsertGroup(-1, -3);
    EXPECT_TRUE(seen.empty());
}

}  // namespace

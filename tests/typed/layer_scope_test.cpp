// The layer scope: every member must act exactly as the scope core's
// operation of the same name. Each case runs on two identical documents,
// one through a CLayerScope and one through the core directly, and the
// results and the documents afterwards must agree.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/io/document_compare.h"
#include "imgscope/scope/selection_scope.h"
#include "imgscope/typed/layer_scope.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace imgscope_test {
namespace {

// The layers and groups of the document every case starts from.
struct tIds {
    int rgb = -1;      // RGB, three frames, channel 1 hidden, a mask, frames 0 and 2 selected
    int gray = -1;     // 16-bit gray in `group`, placed, calibrated, opacity 0.75, selected
    int vec = -1;      // a vector layer, selected among vector layers
    int hidden = -1;   // inserted hidden and invisible
    int bare = -1;     // no entry in the tree
    int group = -1;    // visible and locked
    int singular = -1; // visible, singular, empty
    int rgbPlane = -1;
    int grayPlane = -1;
};

tIds Build(img::CImg& doc)
{
    TestScope s(doc);
    tIds i;
    auto rgbFrame = MakeDataFrame({6, 5, 3}, utl::eUInt8, 3);
    for (int k = 0; k < 3; ++k) {
        const std::uint8_t pixel[3] = {std::uint8_t(10 * k + 1), std::uint8_t(10 * k + 2), std::uint8_t(10 * k + 3)};
        rgbFrame->Fill(geo::CiVolumeN(geo::CiVecN{0, 0, k}, geo::CiVecN{6, 5, k + 1}), pixel);
    }
    s.InsertLayer(i.rgb, rgbFrame, CString(L"rgb"), -3, 0x001, 0);
    s.InsertLayer(i.gray, MakeDataFrame({6, 5}, utl::eUInt16), CString(L"gray"), -3, 0x009, 0);
    s.InsertLayer(i.vec, MakeGraphic(), CString(L"vec"), -3, 0x009, 0);
    s.InsertLayer(i.hidden, MakeDataFrame({6, 5}), CString(L"hidden"), -3, 0x040, 0);
    s.InsertLayer(i.bare, MakeDataFrame({6, 5}), CString(L"bare"), -3, 0, 0);
    i.group = s.CreateGroup(CString(L"group"), -1, 0x3);
    i.singular = s.CreateGroup(CString(L"single"), -1, 0x5);
    s.AppendToGroup(i.gray, i.group);
    i.rgbPlane = s.FindPlaneID(i.rgb);
    i.grayPlane = s.FindPlaneID(i.gray);

    const auto mask = s.CreateTranspMask(i.rgb, 128);
    mask->Rectangle(geo::CiRect(1, 1, 3, 3), 40, 0);
    s.SetChannelVisible(i.rgb, 1, false);
    s.UnselectChannel(i.rgbPlane, 1);
    s.SetFunction(i.rgb, 1, img::eFunctionMultiply);
    s.SelectFrame(i.rgb, geo::CiVecN{0});
    s.SelectFrame(i.rgb, geo::CiVecN{2});
    s.ActivateFrame(i.rgb, geo::CiVecN{1});
    s.SetOpacity(i.gray, 0.75);
    s.SetCanvasPlacement(i.gray, geo::CdVec2(2, 3), geo::CdVec2(0.5, 0.25));
    s.SetPixelCoordsRect(i.gray, utl::TUnitValue<geo::CdRect>(kMicron, geo::CdRect(10, 20, 16, 25)));
    s.SetCanvasPixelRect(geo::CiRect(0, 0, 6, 5));
    return i;
}

// ---------------------------------------------------------------- describing

std::string Text(geo::CiVecN const& v)
{
    std::ostringstream os;
    os << '(';
    for (std::size_t k = 0; k < v.size(); ++k)
        os << (k ? "," : "") << v[k];
    return os.str() + ')';
}

std::string Text(std::set<geo::CiVecN, geo::tiVecNLess> const& set)
{
    std::string s;
    for (auto const& v : set)
        s += Text(v);
    return s;
}

std::string Text(std::vector<int> const& list)
{
    std::ostringstream os;
    for (int v : list)
        os << v << ' ';
    return os.str();
}

std::string Text(std::set<int> const& set) { return Text(std::vector<int>(set.begin(), set.end())); }

std::string Text(boost::shared_ptr<img::CPixFrame> const& frame)
{
    if (!frame)
        return "no frame";
    const geo::CiRect b = frame->GetBoundary(0);
    std::vector<std::uint8_t> pixels(std::size_t(b.Width()) * std::size_t(frame->GetPixelInfo().Size()));
    std::ostringstream os;
    os << b.left << ',' << b.top << ',' << b.right << ',' << b.bottom << ':';
    for (int y = b.top; y < b.bottom; ++y) {
        frame->ReadRowSegment(geo::CiVec2(b.left, y), b.Width(), pixels.data(), 0);
        for (std::uint8_t p : pixels)
            os << int(p) << ' ';
    }
    return os.str();
}

std::string Text(boost::shared_ptr<mem::CDataFrame> const& frame)
{
    return frame ? "data " + Text(frame->GetBoundary().Size()) : "no data";
}

std::string Text(boost::shared_ptr<img::CMask> const& mask)
{
    if (!mask)
        return "no mask";
    std::ostringstream os;
    const geo::CiRect b = mask->GetBoundary();
    for (int y = b.top; y < b.bottom; ++y)
        for (int x = b.left; x < b.right; ++x)
            os << mask->GetValue({x, y}) << ' ';
    return os.str();
}

std::string Text(boost::shared_ptr<img::CVecGraph> const& graphic)
{
    return graphic ? "shapes " + std::to_string(graphic->Shapes().size()) : "no graphic";
}

// One line of results and out-parameters.
template <class... T>
std::string Result(T const&... parts)
{
    std::ostringstream os;
    ((os << parts << " | "), ...);
    return os.str();
}

// The documents agree on all their state; on a difference, its path.
::testing::AssertionResult Same(img::CImg const& a, img::CImg const& b)
{
    std::string difference;
    if (img::CompareDocuments(a, b, &difference))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << difference;
}

boost::shared_ptr<img::CPixFrame> Target()
{
    return img::CPixFrame::Create(geo::CiRect(0, 0, 6, 5), img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
                                  mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
}

// ---------------------------------------------------------------- the table

// A case is written once and compiled for both kinds of scope. `expected`
// is the first field of its result through the core, and the members that
// change the document are named in Writers(): a case that does nothing on
// either side cannot pass unnoticed. Render cases report their target's use
// count, so a frame kept past the call shows.
struct tCase {
    char const* name;
    std::function<std::string(img::CLayerScope&, tIds const&)> viaLayerScope;
    std::function<std::string(TestScope&, tIds const&)> viaCore;
    char const* expected;
};

bool Writes(std::string const& name)
{
    static const std::set<std::string> writers = {
        "SetLayerName", "InsertLayer raster", "InsertLayerMasked", "InsertLayer vector", "DelLayer", "HideLayer",
        "UnhideLayer", "MoveLayer into a group", "MoveLayer to the root", "AppendToGroup", "PrependToGroup",
        "SetLayerVisible", "SetSelectedLayer", "CreateGroup", "SetGroupName", "SetGroupSingular", "LockGroup",
        "SetCanvasPlacement", "SetPixelCoordsRect", "SelectFrameRange", "UnselectFrameRange", "SelectFrame",
        "UnselectFrame", "ResetFrameSelection", "SetChannelVisible", "SelectChannel", "UnselectChannel",
        "SetOpacity", "SetFunction", "CreateTranspMask", "DelTranspMask", "SetVecFrame", "ActivateFrame"};
    return writers.count(name) != 0;
}

#define FORWARDING_CASE(name, expected, ...)                                                   \
    tCase                                                                                     \
    {                                                                                         \
        name, [](img::CLayerScope& s, [[maybe_unused]] tIds const& i) -> std::string { __VA_ARGS__ },          \
            [](TestScope& s, [[maybe_unused]] tIds const& i) -> std::string { __VA_ARGS__ }, expected          \
    }

std::vector<tCase> Cases()
{
    return {
        FORWARDING_CASE("GetLayerName", "1", CString n; const bool ok = s.GetLayerName(i.gray, n);
                        return Result(ok, n);),
        FORWARDING_CASE("SetLayerName", "1", return Result(s.SetLayerName(i.gray, CString(L"renamed")));),
        FORWARDING_CASE("InsertLayer raster", "1", int id = -1;
                        const bool ok = s.InsertLayer(id, MakeDataFrame({4, 3, 1}), CString(L"new"), -2, 0x049, 1);
                        return Result(ok, id);),
        FORWARDING_CASE("InsertLayerMasked", "1", int id = -1;
                        const bool ok =
                            s.InsertLayerMasked(id, MakeDataFrame({4, 3}), CString(L"masked"), -2, 0x029, 0);
                        return Result(ok, id);),
        FORWARDING_CASE("InsertLayer vector", "1", int id = -1;
                        const bool ok = s.InsertLayer(id, MakeGraphic(), CString(L"shapes"), -2, 0x009, 0);
                        return Result(ok, id);),
        FORWARDING_CASE("DelLayer", "1", return Result(s.DelLayer(i.gray));),
        FORWARDING_CASE("HideLayer", "1", return Result(s.HideLayer(i.rgb));),
        FORWARDING_CASE("UnhideLayer", "1", return Result(s.UnhideLayer(i.bare, -2, 5));),
        FORWARDING_CASE("IsLayerHidden", "1", bool b = false; const bool ok = s.IsLayerHidden(i.hidden, b);
                        return Result(ok, b);),
        FORWARDING_CASE("MoveLayer into a group", "1",
                        return Result(s.MoveLayer(i.vec, i.gray, img::eAffinityGroup));),
        FORWARDING_CASE("MoveLayer to the root", "1",
                        return Result(s.MoveLayer(i.vec, i.gray, img::eAffinityRoot));),
        FORWARDING_CASE("AppendToGroup", "1", return Result(s.AppendToGroup(i.rgb, i.group));),
        FORWARDING_CASE("PrependToGroup", "1", return Result(s.PrependToGroup(i.vec, i.group));),
        FORWARDING_CASE("SetLayerVisible", "1", return Result(s.SetLayerVisible(i.rgb, false));),
        FORWARDING_CASE("IsLayerVisible", "1", bool b = true; const bool ok = s.IsLayerVisible(i.hidden, b);
                        return Result(ok, b);),
        FORWARDING_CASE("GetLayerFlags", "1", int f = 0; const bool ok = s.GetLayerFlags(i.gray, f);
                        return Result(ok, f);),
        FORWARDING_CASE("SetSelectedLayer", "1", return Result(s.SetSelectedLayer(i.rgb, true));),
        FORWARDING_CASE("GetSelectedLayer", "1", int l = 0; bool m = true;
                        const bool ok = s.GetSelectedLayer(img::eLayerTypeVector, l, m); return Result(ok, l, m);),
        FORWARDING_CASE("GetLayers", "1", std::vector<int> v; const bool ok = s.GetLayers(v, 0x109);
                        return Result(ok, Text(v));),
        FORWARDING_CASE("GetGroups", "1", std::vector<int> v; const bool ok = s.GetGroups(v);
                        return Result(ok, Text(v));),
        FORWARDING_CASE("GetGroupMembers", "1", std::vector<int> v; const bool ok = s.GetGroupMembers(i.group, v);
                        return Result(ok, Text(v));),
        FORWARDING_CASE("GetGroupOf", "1", int g = 0; const bool ok = s.GetGroupOf(i.gray, g); return Result(ok, g);),
        FORWARDING_CASE("IsOutsideGroup", "1", bool b = false; const bool ok = s.IsOutsideGroup(i.rgbPlane, b);
                        return Result(ok, b);),
        FORWARDING_CASE("CreateGroup", "1", const int g = s.CreateGroup(CString(L"made"), i.singular, 0x6);
                        return Result(g != -1, g);),
        FORWARDING_CASE("GetGroupName", "1", CString n; const bool ok = s.GetGroupName(i.singular, n);
                        return Result(ok, n);),
        FORWARDING_CASE("SetGroupName", "1", return Result(s.SetGroupName(i.group, CString(L"renamed")));),
        FORWARDING_CASE("SetGroupSingular", "1", return Result(s.SetGroupSingular(i.group, true));),
        FORWARDING_CASE("LockGroup", "1", return Result(s.LockGroup(i.group, false));),
        FORWARDING_CASE("IsGroupLocked", "1", bool b = false; const bool ok = s.IsGroupLocked(i.group, b);
                        return Result(ok, b);),
        FORWARDING_CASE("GetCanvasPlacement", "1", geo::CdVec2 o, sc;
                        const bool ok = s.GetCanvasPlacement(i.gray, o, sc);
                        return Result(ok, o.x, o.y, sc.x, sc.y);),
        FORWARDING_CASE("SetCanvasPlacement", "1",
                        return Result(s.SetCanvasPlacement(i.rgb, geo::CdVec2(7, 8), geo::CdVec2(2, 4)));),
        FORWARDING_CASE("GetPixelCoordsRect", "1", utl::TUnitValue<geo::CdRect> r;
                        const bool ok = s.GetPixelCoordsRect(i.gray, r);
                        return Result(ok, r.value.left, r.value.top, r.value.right, r.value.bottom);),
        FORWARDING_CASE("SetPixelCoordsRect", "1",
                        return Result(s.SetPixelCoordsRect(
                            i.rgb, utl::TUnitValue<geo::CdRect>(kMicron, geo::CdRect(1, 2, 13, 12))));),
        FORWARDING_CASE("SelectFrameRange", "1",
                        return Result(s.SelectFrameRange(i.rgb, geo::CiVecN{1}, geo::CiVecN{3}));),
        FORWARDING_CASE("UnselectFrameRange", "1",
                        return Result(s.UnselectFrameRange(i.rgb, geo::CiVecN{1}, geo::CiVecN{3}));),
        FORWARDING_CASE("SelectFrame", "1", return Result(s.SelectFrame(i.rgb, geo::CiVecN{1}));),
        FORWARDING_CASE("UnselectFrame", "1", return Result(s.UnselectFrame(i.rgb, geo::CiVecN{2}));),
        FORWARDING_CASE("ResetFrameSelection", "1", return Result(s.ResetFrameSelection(i.rgbPlane));),
        FORWARDING_CASE("GetFrameSelection", "1", std::set<geo::CiVecN, geo::tiVecNLess> f;
                        const bool ok = s.GetFrameSelection(i.rgbPlane, f); return Result(ok, Text(f));),
        FORWARDING_CASE("SetChannelVisible", "1", return Result(s.SetChannelVisible(i.rgb, 2, false));),
        FORWARDING_CASE("IsChannelVisible", "1", bool b = true; const bool ok = s.IsChannelVisible(i.rgb, 1, b);
                        return Result(ok, b);),
        FORWARDING_CASE("GetFirstChannel", "0", return Result(s.GetFirstChannel(i.rgb));),
        FORWARDING_CASE("GetNextChannel", "2", return Result(s.GetNextChannel(i.rgb, 1));),
        FORWARDING_CASE("GetChannelIDs", "0 2 ", return Result(Text(s.GetChannelIDs(i.rgb)));),
        FORWARDING_CASE("SelectChannel", "1", return Result(s.SelectChannel(i.rgbPlane, 1));),
        FORWARDING_CASE("UnselectChannel", "1", return Result(s.UnselectChannel(i.rgbPlane, 2));),
        FORWARDING_CASE("GetSelectedChannels", "1", std::set<int> c;
                        const bool ok = s.GetSelectedChannels(i.rgbPlane, c); return Result(ok, Text(c));),
        FORWARDING_CASE("IsChannelSelected", "1", bool b = true; const bool ok = s.IsChannelSelected(i.rgbPlane, 1, b);
                        return Result(ok, b);),
        FORWARDING_CASE("SetOpacity", "1", return Result(s.SetOpacity(i.rgb, 0.25));),
        FORWARDING_CASE("GetOpacity", "1", double o = 0; const bool ok = s.GetOpacity(i.gray, o); return Result(ok, o);),
        FORWARDING_CASE("SetFunction", "1", return Result(s.SetFunction(i.rgb, 2, img::eFunctionMax));),
        FORWARDING_CASE("GetFunction", "1", img::ELayerFunction f = img::eFunctionNormal;
                        const bool ok = s.GetFunction(i.rgb, 1, f); return Result(ok, int(f));),
        FORWARDING_CASE("CreateTranspMask", "1", const auto m = s.CreateTranspMask(i.gray, 77);
                        return Result(bool(m), Text(m));),
        FORWARDING_CASE("GetTranspMask", "1", const auto m = s.GetTranspMask(i.rgb); return Result(bool(m), Text(m));),
        FORWARDING_CASE("GetTranspMask const", "1", const auto m = std::as_const(s).GetTranspMask(i.rgb);
                        return Result(bool(m), Text(m));),
        FORWARDING_CASE("DelTranspMask", "1", return Result(s.DelTranspMask(i.rgb));),
        FORWARDING_CASE("GetPixFrame", "1", const auto f = s.GetPixFrame(i.rgb, geo::CiVecN{2});
                        return Result(bool(f), Text(f));),
        FORWARDING_CASE("GetPixFrame const", "1", const auto f = std::as_const(s).GetPixFrame(i.rgb, geo::CiVecN{2});
                        return Result(bool(f), Text(f));),
        FORWARDING_CASE("GetDataFrame", "1", const auto f = s.GetDataFrame(i.gray, 0);
                        return Result(bool(f), Text(f), Text(s.GetDataFrame(i.gray, 1)));),
        FORWARDING_CASE("GetDataFrame const", "1", const auto f = std::as_const(s).GetDataFrame(i.rgb, 0);
                        return Result(bool(f), Text(f), Text(std::as_const(s).GetDataFrame(i.rgb, 1)));),
        FORWARDING_CASE("GetVecFrame", "1", const auto g = s.GetVecFrame(i.vec); return Result(bool(g), Text(g));),
        FORWARDING_CASE("GetVecFrame const", "1", const auto g = std::as_const(s).GetVecFrame(i.vec);
                        return Result(bool(g), Text(g));),
        FORWARDING_CASE("SetVecFrame", "1", auto g = MakeGraphic();
                        g->Add(img::CVecGraph::tShape{img::CVecGraph::eLine, geo::CdRect(0, 0, 5, 4)});
                        return Result(s.SetVecFrame(i.vec, g));),
        FORWARDING_CASE("ActivateFrame", "1", return Result(s.ActivateFrame(i.rgb, geo::CiVecN{2}));),
        FORWARDING_CASE("GetActiveFrame", "1", geo::CiVecN f; const bool ok = s.GetActiveFrame(i.rgb, f);
                        return Result(ok, Text(f));),
        FORWARDING_CASE("RenderComplete", "1", const auto t = Target();
                        const bool ok = s.RenderComplete(t, geo::CiRect(0, 0, 6, 5), geo::CdRect(0, 0, 6, 5), true,
                                                         img::eZoomSmooth);
                        return Result(ok, Text(t), t.use_count());),
        FORWARDING_CASE("RenderLowerStack", "1", const auto t = Target();
                        const bool ok = s.RenderLowerStack(i.vec, t, geo::CiRect(1, 1, 6, 5),
                                                           geo::CdRect(0.5, 0, 6, 4.5), img::eZoomSmooth);
                        return Result(ok, Text(t), t.use_count());),
        FORWARDING_CASE("RenderHigherStack", "0", const auto t = Target();
                        const bool ok = s.RenderHigherStack(i.vec, t, Target(), geo::CiRect(0, 0, 6, 5),
                                                            geo::CdRect(0, 0, 6, 5), false, img::eZoomNearest);
                        return Result(ok, Text(t), t.use_count());),
        FORWARDING_CASE("RenderSingleLayer", "0", const auto t = Target();
                        const bool ok = s.RenderSingleLayer(i.rgb, t, false, img::eZoomNearest);
                        return Result(ok, Text(t), t.use_count());),
        FORWARDING_CASE("GetSelection", "1", std::unique_ptr<img::CSelectionScope> sel(s.GetSelection());
                        return Result(bool(sel), sel ? Text(sel->GetDataFrame(0)) : "");),
        FORWARDING_CASE("ChainLayer", "0", return Result(s.ChainLayer(i.rgb));),
        FORWARDING_CASE("UnchainLayer", "0", return Result(s.UnchainLayer(i.rgb));),
        FORWARDING_CASE("MoveChainedLayers", "0", return Result(s.MoveChainedLayers(geo::CdVec2(1, 1)));),
        FORWARDING_CASE("IsChained", "0", bool b = true; const bool ok = s.IsChained(i.rgb, b); return Result(ok, b);),
        FORWARDING_CASE("IsLayerProtected", "0", bool b = true; const bool ok = s.IsLayerProtected(i.rgb, b);
                        return Result(ok, b);),
        FORWARDING_CASE("SetLayerProtection", "0", return Result(s.SetLayerProtection(i.rgb, true));),
    };
}

#undef FORWARDING_CASE

TEST(LayerScopeTest, EveryMemberActsAsTheScopeCoreOperation)
{
    for (tCase const& c : Cases()) {
        SCOPED_TRACE(c.name);
        img::CImg viaLayerScope, viaCore, untouched;
        const tIds a = Build(viaLayerScope);
        const tIds b = Build(viaCore);
        Build(untouched);
        ASSERT_TRUE(Same(viaLayerScope, viaCore));

        std::unique_ptr<img::CLayerScope> layerScope(img::CreateLayerScope(viaLayerScope));
        ASSERT_TRUE(layerScope);
        TestScope core(viaCore);
        const std::string expected = c.viaCore(core, b);
        EXPECT_EQ(c.viaLayerScope(*layerScope, a), expected);
        EXPECT_TRUE(Same(viaLayerScope, viaCore));
        EXPECT_EQ(expected.rfind(std::string(c.expected) + " | ", 0), 0u) << expected;
        EXPECT_EQ(img::CompareDocuments(viaCore, untouched), !Writes(c.name));
    }
}

class LayerScopeDocumentTest : public ::testing::Test {
protected:
    img::CImg doc;
    tIds ids = Build(doc);
    std::unique_ptr<img::CLayerScope> scope{img::CreateLayerScope(doc)};
};

TEST_F(LayerScopeDocumentTest, IsGroupSinglularAnswersAsIsGroupSingular)
{
    ASSERT_TRUE(scope);
    const img::CDisplProcessFlow flow(doc, false);
    for (int group : {ids.group, ids.singular}) {
        bool expected = false, answer = !expected;
        ASSERT_TRUE(flow.IsGroupSingular(group, expected));
        answer = !expected;
        EXPECT_TRUE(scope->IsGroupSinglular(group, answer));
        EXPECT_EQ(answer, expected) << group;
    }
    bool untouched = true;
    EXPECT_FALSE(scope->IsGroupSinglular(ids.rgbPlane, untouched));
    EXPECT_FALSE(scope->IsGroupSinglular(12345, untouched));
    EXPECT_TRUE(untouched);
}

TEST_F(LayerScopeDocumentTest, FactoriesShareTheDocumentAndNeverFail)
{
    EXPECT_TRUE(img::TestLayerScope(doc));
    EXPECT_TRUE(img::TestLayerScope(img::CImg()));
    // A change through the scope is a change of the caller's document.
    ASSERT_TRUE(scope->SetLayerName(ids.bare, CString(L"seen")));
    EXPECT_EQ(doc.FindStack(ids.bare).GetName(), L"seen");
    // Deleting the scope leaves the document whole.
    img::CImg reference;
    reference.FindStack(Build(reference).bare).SetName(L"seen");
    scope.reset();
    EXPECT_TRUE(Same(doc, reference));
}

// An application's own scope over the whole document.
class CDrawingSurface : public img::CSurface {
public:
    explicit CDrawingSurface(img::CImg doc, bool& destroyed) : img::CSurface(doc), m_destroyed(destroyed) {}
    ~CDrawingSurface() override { m_destroyed = true; }
    int Layers() const
    {
        std::vector<int> layers;
        return GetLayers(layers, -1) ? int(layers.size()) : -1;
    }

private:
    bool& m_destroyed;
};

TEST_F(LayerScopeDocumentTest, SurfaceIsABaseForApplicationScopes)
{
    bool destroyed = false;
    std::unique_ptr<img::CBaseScope> surface(new CDrawingSurface(doc, destroyed));
    EXPECT_EQ(static_cast<CDrawingSurface&>(*surface).Layers(), 4);  // the bare layer has no entry
    surface.reset();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(img::CDisplProcessFlow(doc, false).FindLayer(ids.rgb) != -1);
}

}  // namespace
}  // namespace imgscope_test

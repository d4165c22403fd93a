// The equality walk: two documents built alike are equal, and every kind
// of state changed once makes it report a difference at the right place.
#include "tests/io/io_documents.h"

#include <functional>

namespace {

using namespace io_test;

struct tSeed {
    char const* what;       // the change
    char const* expected;   // a part of the reported path
    std::function<void(img::CImg&, tRich const&)> change;
};

img::CDisplProcessFlow Flow(img::CImg& doc) { return img::CDisplProcessFlow(doc, false); }

int Plane(img::CImg& doc, int layer) { return Flow(doc).FindLayer(layer); }

std::vector<tSeed> Seeds()
{
    using D = img::CImg&;
    using R = tRich const&;
    return {
        {"document property value", "property 5",
         [](D d, R) { d.SetProperty(5, mem::CBin(std::int32_t(0))); }},
        {"document property unit", "property 26",
         [](D d, R) { d.SetProperty(26, mem::CBin(0.65, utl::CUnit(utl::eQuantityLength, 1, -9))); }},
        {"nested set value", "property 22",
         [](D d, R) {
             utl::CPropSet inner;
             inner.SetValue(1, std::int32_t(-8));
             d.SetProperty(22, mem::CBin(boost::make_shared<utl::CPropSet>(inner)));
         }},
        {"dynamic set", "dynamic property set 1",
         [](D d, R) {
             auto sets = img::GetDynPropStorage(d);
             auto changed = boost::make_shared<utl::CPropSet>(*sets[1]);
             changed->SetValue(6, 1.0);
             sets[1] = changed;
             img::SetDynPropStorage(d, sets);
         }},
        {"layer ID", "stack IDs",
         [](D d, R r) {
             img::CStack s = d.FindStack(r.wide);
             d.Remove(r.wide);
             d.Add(8, s);
         }},
        {"a layer added and removed", "highest stack ID",
         [](D d, R) {
             d.Remove(d.Add(img::CStack(MakeFrame({0, 0}, {2, 2}, img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray)))));
         }},
        {"layer name", "name", [](D d, R r) { d.FindStack(r.zstack).SetName(L"other"); }},
        {"stack property", "property 2074", [](D d, R r) { d.FindStack(r.zstack).SetProperty(2074, mem::CBin(1)); }},
        {"frame property", "frame (2)",
         [](D d, R r) { d.FindStack(r.zstack).SetProperty(utl::CIndexN{2}, 2014, mem::CBin(4.5, kMicro)); }},
        {"dimension property of a channel", "dimension 0 channel 2",
         [](D d, R r) { d.FindStack(r.zstack).SetDimProperty(0, 2, 2014, mem::CBin(3.25, kMicro)); }},
        {"blob", "blob 4", [](D d, R r) { d.FindStack(r.zstack).SetBlob(mem::CBin(CString(L"bloc")), 4); }},
        {"calibration of z", "calibration of dimension 1",
         [](D d, R r) { d.FindStack(r.zstack).SetDimOriginScale(img::eDimZ, 0.0, 2.5, kMicro); }},
        {"calibration unit", "calibration of dimension 6",
         [](D d, R r) {
             d.FindStack(r.zstack).SetDimOriginScale(img::eDimX, 1.5, 0.65, utl::CUnit(utl::eQuantityLength, 1, -3));
         }},
        {"XY-fixed", "XY-fixed", [](D d, R r) { d.FindStack(r.zstack).SetXYFixed(false); }},
        {"stack limits", "channel -1 / lower limit",
         [](D d, R r) { d.FindStack(r.zstack).SetDispLimits(utl::TInterval<double>(101.0, 4000.0), -1); }},
        {"channel limits", "channel 2 / upper limit",
         [](D d, R r) { d.FindStack(r.channels).SetDispLimits(utl::TInterval<double>(0.0, 129.0), 2); }},
        {"data LUT", "channel 2 / LUT",
         [](D d, R r) { d.FindStack(r.rgb).SetLUT({utl::CBGR8(4, 5, 6)}, 2); }},
        {"channel opting out of the LUT", "/ LUT", [](D d, R r) { d.FindStack(r.rgb).RemoveLUT(0); }},
        {"channel name", "channel 1 / name", [](D d, R r) { d.FindStack(r.channels).SetChannelName(L"GFP", 1); }},
        {"channel dimension", "channel dimension", [](D d, R r) { d.FindStack(r.channels).SetChannelDim(-1); }},
        {"pixel in a written tile", "pixels differ in row 130",
         [](D d, R r) {
             const std::uint16_t v = 1;
             d.FindStack(r.zstack).GetDataFrame(0)->WriteRect(geo::CiRect(300, 130, 301, 131), {3}, &v, 0);
         }},
        {"a tile written with the fill value", "written tiles",
         [](D d, R r) {
             const std::uint16_t zero = 0;
             d.FindStack(r.zstack).GetDataFrame(0)->WriteRect(geo::CiRect(10, -5, 11, -4), {0}, &zero, 0);
         }},
        {"fill value", "fill value",
         [](D d, R r) {
             img::CStack s = d.FindStack(r.wide);
             auto old = s.GetDataFrame(0);
             utl::CPropSet props = old->GetCreationProperties();
             std::int64_t fill[2] = {1, 1};
             props.SetValue(mem::ePropFillValue, static_cast<void*>(fill));
             mem::CDataFrame fresh(old->GetBoundary(), old->GetElementInfo(), props);
             mem::Copy(*old, fresh, old->GetBoundary(), geo::CiVecN{0, 0}, 0);
             old->Swap(fresh);
         }},
        {"float pixel", "plane (0)",
         [](D d, R r) {
             const float v = -0.0f;
             d.FindStack(r.resident).GetDataFrame(0)->WriteRect(geo::CiRect(0, 0, 1, 1), {0}, &v, 0);
         }},
        {"sample flag", "sample 3 / flag",
         [](D d, R r) {
             img::CStack s = d.FindStack(r.rgb);
             auto frame = s.GetDataFrame(3);
             s.RemoveSample(3);
             s.AddSample(frame, img::eSampleNone);  // takes the free number 2
             s.AddSample(frame, img::eSampleReference);
             s.RemoveSample(2);
         }},
        {"sample pixel", "sample 1",
         [](D d, R r) {
             const std::uint8_t v = 0;
             d.FindStack(r.rgb).GetDataFrame(1)->WriteRect(geo::CiRect(39, 29, 40, 30), {}, &v, 0);
         }},
        {"frame kept apart", "frame (9)",
         [](D d, R r) {
             const float v = 7.0f;
             d.FindStack(r.resident).GetPixFrame(utl::CIndexN{9})->WriteRect(geo::CiRect(0, 0, 1, 1), &v, 0, 0);
         }},
        {"vector shape", "stack 6 / shape count",
         [](D d, R r) {
             img::CVecGraph::tShape extra;
             d.FindStack(r.vector).GetVecGraph(utl::CIndexN())->Add(extra);
         }},
        {"entry order", "layer tree / entry 2 / entry 0",
         [](D d, R r) {
             auto flow = Flow(d);
             flow.MoveTo(Plane(d, r.channels), r.group, 2);
         }},
        {"entry visibility", "visible", [](D d, R r) { Flow(d).SetVisibility(Plane(d, r.zstack), true); }},
        {"hidden flag", "hidden", [](D d, R r) { Flow(d).SetHidden(Plane(d, r.vector), false); }},
        {"group name", "group name", [](D d, R r) { Flow(d).SetGroupName(r.group, L"20x"); }},
        {"group lock", "locked", [](D d, R r) { Flow(d).LockGroup(r.group, false); }},
        {"group property", "properties / property 120060",
         [](D d, R r) { Flow(d).SetProperty(r.group, 120060, mem::CBin(20.0)); }},
        {"opacity", "properties / property 10009", [](D d, R r) { Flow(d).SetGamma(Plane(d, r.rgb), -1, 0.5); }},
        {"channel visibility", "channel 1 / visible", [](D d, R r) { Flow(d).SetVisibility(Plane(d, r.rgb), 1, true); }},
        {"display LUT", "channel 0 / LUT", [](D d, R r) { Flow(d).DelLUT(Plane(d, r.rgb), 0); }},
        {"layer function", "channel 2 / function",
         [](D d, R r) { Flow(d).SetFunction(Plane(d, r.rgb), 2, img::eFunctionMin); }},
        {"channel property", "channel 2 / properties",
         [](D d, R r) { Flow(d).SetProperty(Plane(d, r.rgb), 2, 77, mem::CBin(std::int32_t(6))); }},
        {"LUT use", "LUT use", [](D d, R r) { Flow(d).UseLUT(Plane(d, r.rgb), 1); }},
        {"placement", "placement", [](D d, R r) {
             Flow(d).SetLayerCanvasPlacement(Plane(d, r.rgb), {10.0, 20.5}, {0.25, 0.3});
         }},
        {"display filter", "display filter table",
         [](D d, R r) {
             boost::shared_ptr<img::CDisplayFilter> f;
             Flow(d).GetDisplayFilter(Plane(d, r.rgb), f);
             f->table[3] = 0;
         }},
        {"mask pixel", "transparency mask / tile (1 1)",
         [](D d, R r) {
             Flow(d).GetTransparencyMask(Plane(d, r.rgb))->Rectangle(geo::CiRect(800, 700, 801, 701), 1, 0);
         }},
        {"mask active", "transparency mask / active",
         [](D d, R r) { Flow(d).SetTransparencyMaskActive(Plane(d, r.rgb), false); }},
        {"selected channels", "selected channels",
         [](D d, R r) { Flow(d).SetSelectedChannels(Plane(d, r.channels), {0}); }},
        {"frame selection", "frame selection",
         [](D d, R r) { Flow(d).SetFrameSelection(Plane(d, r.channels), {geo::CiVecN{1}}); }},
        {"active frame", "active frame",
         [](D d, R r) { Flow(d).SetActiveFrameIndex(utl::CIndexN{0}, Plane(d, r.channels)); }},
        {"active dimension", "active dimension",
         [](D d, R r) { Flow(d).SetActiveStackDim(Plane(d, r.channels), -1); }},
        {"selected layer", "selected layer", [](D d, R r) { Flow(d).SetActiveOpLayer(Plane(d, r.rgb)); }},
        {"canvas rectangle", "canvas / rectangle",
         [](D d, R) { Flow(d).SetImagePlaneRect(geo::CiRect(0, 0, 800, 601)); }},
        {"canvas calibration", "canvas / origin",
         [](D d, R) { Flow(d).SetImagePlaneCalibration({-5.0, 2.5}, {0.5, 0.5}, utl::CUnit2(kMicro, kMicro)); }},
        {"canvas colour", "canvas / border",
         [](D d, R) {
             img::CCanvasColor background, border;
             background[0] = 10;
             border[2] = 201;
             Flow(d).SetCanvasColors(background, border);
         }},
    };
}

TEST(CompareTest, EveryKindOfStateChangedOnceIsFound)
{
    for (tSeed const& seed : Seeds()) {
        SCOPED_TRACE(seed.what);
        const img::CImg base = BuildRichDocument();
        tRich ids;
        img::CImg changed = BuildRichDocument(&ids);
        seed.change(changed, ids);
        std::string difference = "untouched";
        EXPECT_FALSE(img::CompareDocuments(base, changed, &difference));
        EXPECT_NE(difference.find(seed.expected), std::string::npos) << difference;
        // The walk is symmetric in what it finds.
        EXPECT_FALSE(img::CompareDocuments(changed, base));
    }
}

TEST(CompareTest, NaNEqualsNaNButNegativeZeroIsNotZero)
{
    img::CImg a, b;
    a.SetProperty(1, mem::CBin(std::numeric_limits<double>::quiet_NaN()));
    b.SetProperty(1, mem::CBin(std::numeric_limits<double>::quiet_NaN()));
    a.SetProperty(2, mem::CBin(geo::CdVec2(0.0, std::nan(""))));
    b.SetProperty(2, mem::CBin(geo::CdVec2(0.0, std::nan(""))));
    EXPECT_TRUE(img::CompareDocuments(a, b));
    b.SetProperty(2, mem::CBin(geo::CdVec2(-0.0, std::nan(""))));
    EXPECT_FALSE(img::CompareDocuments(a, b));
    b.SetProperty(2, mem::CBin(geo::CdVec2(0.0, 1.0)));
    EXPECT_FALSE(img::CompareDocuments(a, b));
}

}  // namespace

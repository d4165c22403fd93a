#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/document/stack.h"
#include "tests/contracts/document/document_test_util.h"
#include "tests/contracts/foundation/store_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using namespace doctest;

struct tBGR {
    int b, g, r;
    bool operator==(tBGR const& o) const { return b == o.b && g == o.g && r == o.r; }
};
std::ostream& operator<<(std::ostream& os, tBGR const& c)
{
    return os << "(" << c.b << "," << c.g << "," << c.r << ")";
}

class ComposeTest : public ::testing::Test {
protected:
    int AddLayer(boost::shared_ptr<mem::CDataFrame> frame, int position = -3)
    {
        const int id = doc.Add(img::CStack(frame));
        EXPECT_GT(id, 0);
        EXPECT_GE(flow.InsertLayer(-1, position, id, utl::CIndexN(), -1), 0);
        return id;
    }
    int Plane(int layer) const { return flow.FindLayer(layer); }

    boost::shared_ptr<img::CPixFrame> Target(int w, int h, img::CPixelInfo const& info = kBgr8)
    {
        auto t = img::CPixFrame::Create(geo::CiRect(0, 0, w, h), info, mem::eMemoryDefault, mem::eAlignNone,
                                        utl::CPropSet());
        EXPECT_TRUE(t);
        return t;
    }
    bool Render(boost::shared_ptr<img::CPixFrame> const& t, std::vector<int> const& layers,
                img::tRenderHints const& hints = img::tRenderHints())
    {
        const geo::CiRect r = t->GetBoundary();
        return flow.PlayToPixFrame(t, r, geo::CdRect(r), 0, layers, hints);
    }
    // Renders `layers` into `t` and reads the pixel at (x, y).
    tBGR RenderedAt(boost::shared_ptr<img::CPixFrame> const& t, std::vector<int> const& layers, int x, int y)
    {
        EXPECT_TRUE(Render(t, layers));
        return At(t, x, y);
    }
    static tBGR At(boost::shared_ptr<img::CPixFrame> const& t, int x, int y)
    {
        std::uint8_t p[3] = {};
        EXPECT_TRUE(t->ReadRowSegment(geo::CiVec2(x, y), 1, p, 0));
        return {p[0], p[1], p[2]};
    }
    void SetBackground(int b, int g, int r)
    {
        img::CCanvasColor bg, border;
        bg[0] = std::uint8_t(b);
        bg[1] = std::uint8_t(g);
        bg[2] = std::uint8_t(r);
        flow.SetCanvasColors(bg, border);
    }

    img::CImg doc;
    img::CDisplProcessFlow flow{doc, false};
};

int Blend(int below, int c, double alpha) { return int(std::lround(below * (1.0 - alpha) + c * alpha)); }

// ---------------------------------------------------------------- reference

// A plain per-pixel renderer of single-frame raster layers with the Normal
// function, reading every setting through the public interface at every
// pixel: the fast path must agree with it to within rounding.
class CReference {
public:
    CReference(img::CImg const& doc, img::CDisplProcessFlow const& flow) : m_doc(doc), m_flow(flow) {}

    tBGR Pixel(int i, int j, geo::CiRect const& pixelRect, geo::CdRect const& canvasRect,
               std::vector<int> const& layers) const
    {
        img::CCanvasColor bg, border;
        m_flow.GetCanvasColors(bg, border);
        double out[3] = {double(bg[0]), double(bg[1]), double(bg[2])};
        const double cx = canvasRect.left + (i + 0.5 - pixelRect.left) * canvasRect.Width() / pixelRect.Width();
        const double cy = canvasRect.top + (j + 0.5 - pixelRect.top) * canvasRect.Height() / pixelRect.Height();
        geo::CdVec2 co(0, 0), cs(1, 1);
        utl::CUnit2 cu;
        const bool calibrated = m_flow.GetImagePlaneCalibration(co, cs, cu);
        const double X = cx * cs.x + co.x, Y = cy * cs.y + co.y;
        for (int layer : layers) {
            const int plane = m_flow.FindLayer(layer);
            if (plane < 0 || !m_flow.IsVisible(plane) || m_flow.IsHidden(plane))
                continue;
            const img::CStack stack = m_doc.FindStack(layer);
            geo::CdVec2 o(0, 0), s(1, 1);
            utl::CUnit unit;
            if (!m_flow.GetLayerCanvasPlacement(plane, o, s)) {
                if (calibrated && stack.GetOriginScale(o, s, unit)) {
                    o = utl::Convert(o, unit, cu.x);
                    s = utl::Convert(s, unit, cu.x);
                } else {
                    o = calibrated ? co : geo::CdVec2(0, 0);
                    s = calibrated ? cs : geo::CdVec2(1, 1);
                }
            }
            const int lx = int(std::floor((X - o.x) / s.x));
            const int ly = int(std::floor((Y - o.y) / s.y));
            auto frame = stack.GetPixFrame(stack.FrameIndexBegin(0));
            if (!frame->GetBoundary().Contains(geo::CiVec2(lx, ly)))
                continue;
            img::CPixelInfo const info = frame->GetPixelInfo();
            std::vector<std::uint8_t> pixel(std::size_t(info.Size()));
            frame->ReadRowSegment(geo::CiVec2(lx, ly), 1, pixel.data(), 0);
            double colour[3] = {0, 0, 0};
            const int comps = info.GetComponentCount();
            for (int c = 0; c < comps; ++c) {
                if (!m_flow.IsVisible(plane, c))
                    continue;
                const double v = info.GetElementType() == utl::eUInt16
                                     ? double(pixel[std::size_t(2 * c)] | pixel[std::size_t(2 * c + 1)] << 8)
                                     : double(pixel[std::size_t(c)]);
                utl::TInterval<double> limits;
                stack.GetDispLimits(limits, c);
                const double t = std::clamp((v - limits.lower) / (limits.upper - limits.lower), 0.0, 1.0);
                std::vector<utl::CBGR8> lut;
                if (m_flow.GetLUT(plane, c, lut) || stack.GetLUT(lut, c)) {
                    utl::CBGR8 e = lut[std::size_t(std::lround(t * double(lut.size() - 1)))];
                    colour[0] += e.b;
                    colour[1] += e.g;
                    colour[2] += e.r;
                } else {
                    const double level = std::lround(t * 255.0);
                    const int lane = comps == 1 ? -1 : 2 - c;  // RGB: component 0 is red
                    for (int k = 0; k < 3; ++k)
                        if (lane < 0 || lane == k)
                            colour[k] += level;
                }
            }
            double alpha = 1.0;
            m_flow.GetGamma(plane, 0, alpha);
            mem::CBin group;  // a group's opacity multiplies its members'
            const int parent = m_flow.GetParentGroup(plane);
            if (parent != m_flow.RootId() && m_flow.GetProperty(parent, 10009, group))
                alpha *= group.GetOr(1.0);
            if (auto mask = m_flow.GetTransparencyMask(plane))
                alpha *= std::max(0, mask->GetValue(geo::CiVec2(lx, ly))) / 255.0;
            for (int k = 0; k < 3; ++k)
                out[k] = out[k] * (1.0 - alpha) + std::min(255.0, colour[k]) * alpha;
        }
        return {int(std::lround(out[0])), int(std::lround(out[1])), int(std::lround(out[2]))};
    }

private:
    img::CImg m_doc;
    img::CDisplProcessFlow m_flow;
};

// Whole targets when no rectangles are given.
void ExpectMatchesReference(img::CImg const& doc, img::CDisplProcessFlow const& flow,
                            boost::shared_ptr<img::CPixFrame> const& target, std::vector<int> const& layers,
                            int tolerance = 1, geo::CiRect pixelRect = geo::CiRect(), geo::CdRect canvasRect = {})
{
    if (pixelRect.IsEmpty())
        canvasRect = geo::CdRect(pixelRect = target->GetBoundary());
    CReference reference(doc, flow);
    int mismatches = 0;
    for (int j = pixelRect.top; j < pixelRect.bottom; ++j)
        for (int i = pixelRect.left; i < pixelRect.right; ++i) {
            std::uint8_t p[3];
            ASSERT_TRUE(target->ReadRowSegment(geo::CiVec2(i, j), 1, p, 0));
            const tBGR want = reference.Pixel(i, j, pixelRect, canvasRect, layers);
            if (std::abs(p[0] - want.b) > tolerance || std::abs(p[1] - want.g) > tolerance ||
                std::abs(p[2] - want.r) > tolerance) {
                if (++mismatches <= 5)
                    ADD_FAILURE() << "pixel (" << i << ", " << j << "): " << tBGR{p[0], p[1], p[2]} << " want " << want;
            }
        }
    EXPECT_EQ(mismatches, 0);
}

// ---------------------------------------------------------------- each layer kind

TEST_F(ComposeTest, GrayLayersMatchThePlainLoopExactly)
{
    // 8 bits one to one; 16 bits through limits and a short data LUT.
    const int gray8 =
        AddLayer(Filled({40, 20}, kGray8, [](int x, int y, int, int) { return (x * 7 + y * 3) % 256; }));
    const int gray16 = AddLayer(Filled({37, 19}, kGray16, [](int x, int y, int, int) { return x * 97 + y * 13; }));
    img::CStack stack = doc.FindStack(gray16);
    ASSERT_TRUE(stack.SetDispLimits(utl::TInterval<double>(500, 3000), -1));
    std::vector<utl::CBGR8> lut;
    for (int i = 0; i < 16; ++i)
        lut.push_back(utl::CBGR8(std::uint8_t(i * 16), 0, std::uint8_t(255 - i * 16)));
    ASSERT_TRUE(stack.SetLUT(lut, 0));
    for (int layer : {gray8, gray16}) {
        SCOPED_TRACE(layer);
        auto target = Target(40, 20);
        ASSERT_TRUE(Render(target, {layer}));
        ExpectMatchesReference(doc, flow, target, {layer}, 0);
    }
}

TEST_F(ComposeTest, Rgb8ComponentsInBothTargetOrdersLimitsAndInvisibleChannels)
{
    const int layer = AddLayer(Filled({20, 10}, kRgb8, [](int x, int y, int, int e) {
        return e == 0 ? x * 10 : e == 1 ? y * 20 : 100;
    }));
    auto target = Target(20, 10);
    EXPECT_EQ(RenderedAt(target, {layer}, 3, 4), (tBGR{100, 80, 30})) << "red first in an RGB layer";
    auto rgbTarget = Target(20, 10, img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB));
    EXPECT_EQ(RenderedAt(rgbTarget, {layer}, 3, 4), (tBGR{30, 80, 100})) << "an RGB target gets the bytes red first";
    ASSERT_TRUE(flow.SetVisibility(Plane(layer), 1, false));
    ASSERT_TRUE(doc.FindStack(layer).SetDispLimits(utl::TInterval<double>(0, 100), 0));
    EXPECT_EQ(RenderedAt(target, {layer}, 3, 4), (tBGR{100, 0, 77}));
    EXPECT_EQ(At(target, 15, 4), (tBGR{100, 0, 255})) << "clamped at the upper limit";
    ASSERT_TRUE(flow.SetVisibility(Plane(layer), -1, false));
    SetBackground(9, 9, 9);
    EXPECT_EQ(RenderedAt(target, {layer}, 3, 4), (tBGR{9, 9, 9})) << "a layer without shown channels shows nothing";
}

TEST_F(ComposeTest, DisplayLutWinsOverDataLutUnlessSwitchedOff)
{
    const int layer = AddLayer(Filled({4, 4}, kGray8, [](int, int, int, int) { return 255; }));
    ASSERT_TRUE(doc.FindStack(layer).SetLUT({{0, 0, 0}, {1, 2, 3}}, 0));
    ASSERT_TRUE(flow.SetLUT(Plane(layer), 0, {{0, 0, 0}, {40, 50, 60}}));
    auto target = Target(4, 4);
    EXPECT_EQ(RenderedAt(target, {layer}, 1, 1), (tBGR{40, 50, 60}));
    ASSERT_TRUE(flow.UseLUT(Plane(layer), 0));
    EXPECT_EQ(RenderedAt(target, {layer}, 1, 1), (tBGR{1, 2, 3}));
}

TEST_F(ComposeTest, FloatLayersGoThroughLevels)
{
    // Float values between limits 0..2; NaN shows as the lower end.
    const double values[4] = {0.0, 1.0, 5.0, std::nan("")};
    const int layer = AddLayer(Filled({4, 1}, img::CPixelInfo(utl::eFloat, 1, img::eColorSpaceGray),
                                      [&](int x, int, int, int) { return values[x]; }));
    ASSERT_TRUE(doc.FindStack(layer).SetDispLimits(utl::TInterval<double>(0, 2), -1));
    auto target = Target(4, 1);
    EXPECT_EQ(RenderedAt(target, {layer}, 0, 0).g, 0);
    EXPECT_EQ(At(target, 1, 0).g, 128);
    EXPECT_EQ(At(target, 2, 0).g, 255);
    EXPECT_EQ(At(target, 3, 0).g, 0);
}

TEST_F(ComposeTest, FiltersChangeTheLayerAndLayersLeavingDuringRenderingOrFromACopyAreHarmless)
{
    // A filter that inverts the layer before blending and takes its own
    // layer out of the document while its row is being drawn: the
    // rendering keeps what it planned with.
    class CRemover : public img::CDisplayFilter {
    public:
        CRemover(img::CImg d, int id) : m_doc(d), m_id(id) {}
        void Apply(std::uint8_t* bgr, int count) const override
        {
            m_doc.Remove(m_id);
            img::CDisplayFilter::Apply(bgr, count);  // the default table changes nothing
            for (int i = 0; i < 3 * count; ++i)
                bgr[i] = std::uint8_t(255 - bgr[i]);
        }

    private:
        mutable img::CImg m_doc;
        int m_id;
    };
    const int layer = AddLayer(Filled({20, 20}, kGray8, [](int x, int, int, int) { return x * 10; }));
    img::CDisplProcessFlow copy(doc, true);
    ASSERT_TRUE(flow.SetDisplayFilter(Plane(layer), boost::shared_ptr<img::CDisplayFilter>(new CRemover(doc, layer))));
    auto target = Target(20, 20);
    EXPECT_EQ(RenderedAt(target, {layer}, 5, 19), (tBGR{205, 205, 205}));
    EXPECT_FALSE(doc.FindStack(layer).IsValid());
    EXPECT_EQ(flow.FindLayer(layer), -1);

    // The copy still has an entry whose stack is gone: it is skipped.
    EXPECT_GE(copy.FindLayer(layer), 0);
    EXPECT_TRUE(copy.PlayToPixFrame(target, geo::CiRect(0, 0, 20, 20), geo::CdRect(0, 0, 20, 20), 0, {layer}, {}));
    EXPECT_EQ(At(target, 5, 19), (tBGR{0, 0, 0}));
}

// ---------------------------------------------------------------- blending

TEST_F(ComposeTest, LayerAndGroupOpacityAndMaskBlendOverTheBackgroundUnlessMasksAreIgnored)
{
    SetBackground(200, 100, 0);
    const int layer = AddLayer(Filled({30, 30}, kGray8, [](int, int, int, int) { return 50; }));
    ASSERT_TRUE(flow.SetProperty(Plane(layer), 10009, mem::CBin(0.6)));
    const int group = flow.InsertGroup(-1, -3);
    ASSERT_TRUE(flow.MoveTo(Plane(layer), group, 0));
    ASSERT_TRUE(flow.SetProperty(group, 10009, mem::CBin(0.5)));
    auto mask = flow.CreateTransparencyMask(Plane(layer), 0);
    ASSERT_TRUE(mask);
    ASSERT_TRUE(mask->Rectangle(geo::CiRect(0, 0, 30, 10), 255, 0));
    ASSERT_TRUE(mask->Rectangle(geo::CiRect(0, 10, 30, 20), 128, 0));
    auto target = Target(30, 30);
    ASSERT_TRUE(Render(target, {layer}));
    ExpectMatchesReference(doc, flow, target, {layer});
    EXPECT_EQ(At(target, 5, 25), (tBGR{200, 100, 0})) << "masked out";
    const tBGR opaque = At(target, 5, 5);

    img::tRenderHints hints;
    hints.ignoreMasks = true;
    ASSERT_TRUE(Render(target, {layer}, hints));
    EXPECT_EQ(At(target, 5, 25), opaque);
}

TEST_F(ComposeTest, LayerFunctionsCombineWithWhatLiesBelow)
{
    const int below = AddLayer(Filled({4, 4}, kRgb8, [](int, int, int, int e) {
        return e == 0 ? 200 : e == 1 ? 100 : 40;
    }));
    const int top = AddLayer(Filled({4, 4}, kGray8, [](int, int, int, int) { return 120; }));
    auto target = Target(4, 4);
    struct tCase {
        img::ELayerFunction function;
        tBGR want;  // below is (40, 100, 200) in blue, green, red
    };
    for (tCase const& c : {tCase{img::eFunctionNormal, {120, 120, 120}}, tCase{img::eFunctionAdd, {160, 220, 255}},
                           tCase{img::eFunctionMultiply, {19, 47, 94}}, tCase{img::eFunctionMax, {120, 120, 200}},
                           tCase{img::eFunctionMin, {40, 100, 120}}}) {
        SCOPED_TRACE(int(c.function));
        ASSERT_TRUE(flow.SetFunction(Plane(top), 0, c.function));
        EXPECT_EQ(RenderedAt(target, {below, top}, 2, 2), c.want);
    }
}

TEST_F(ComposeTest, InvisibleHiddenAndGroupedEntries)
{
    SetBackground(1, 2, 3);
    const auto flat = [](int v) { return [v](int, int, int, int) { return v; }; };
    const int a = AddLayer(Filled({4, 4}, kGray8, flat(10)));
    const int b = AddLayer(Filled({4, 4}, kGray8, flat(20)));
    const int c = AddLayer(Filled({4, 4}, kGray8, flat(30)));
    const int unlisted = doc.Add(img::CStack(Filled({4, 4}, kGray8, flat(99))));
    auto target = Target(4, 4);
    EXPECT_EQ(RenderedAt(target, {a, b, c, unlisted, 4711}, 0, 0), (tBGR{30, 30, 30}))
        << "last is on top; IDs without entry are skipped";
    EXPECT_EQ(RenderedAt(target, {c, b, a}, 0, 0), (tBGR{10, 10, 10}));
    EXPECT_EQ(RenderedAt(target, {}, 0, 0), (tBGR{1, 2, 3}));

    flow.SetVisibility(Plane(c), false);
    EXPECT_EQ(RenderedAt(target, {a, b, c}, 0, 0), (tBGR{20, 20, 20}));
    flow.SetHidden(Plane(b), true);
    EXPECT_EQ(RenderedAt(target, {a, b, c}, 0, 0), (tBGR{10, 10, 10}));

    // A singular group shows its topmost shown member only.
    flow.SetVisibility(Plane(c), true);
    flow.SetHidden(Plane(b), false);
    const int g = flow.InsertGroup(-1, -3);
    ASSERT_TRUE(flow.MoveTo(Plane(b), g, -3));
    ASSERT_TRUE(flow.MoveTo(Plane(c), g, -2));
    ASSERT_TRUE(flow.SetGroupSingular(g, true));
    EXPECT_EQ(RenderedAt(target, {a, c}, 0, 0), (tBGR{10, 10, 10})) << "c is below b in its group";
    EXPECT_EQ(RenderedAt(target, {a, b}, 0, 0), (tBGR{20, 20, 20}));
    ASSERT_TRUE(flow.SetVisibility(g, false));
    EXPECT_EQ(RenderedAt(target, {a, b}, 0, 0), (tBGR{10, 10, 10}));
}

// ---------------------------------------------------------------- frames and channels

TEST_F(ComposeTest, ShownFrameComesFromPropertyThenActiveFrameThenFirst)
{
    const int layer = AddLayer(Filled({4, 4, 3}, kGray8, [](int, int, int p, int) { return 10 + p; }));
    const int plane = Plane(layer);
    auto target = Target(4, 4);
    EXPECT_EQ(RenderedAt(target, {layer}, 0, 0).g, 10);
    ASSERT_TRUE(flow.SetActiveFrameIndex(utl::CIndexN{1}, plane));
    EXPECT_EQ(RenderedAt(target, {layer}, 0, 0).g, 11);
    ASSERT_TRUE(flow.SetProperty(plane, 10014, mem::CBin(utl::CIndexN{2})));
    EXPECT_EQ(RenderedAt(target, {layer}, 0, 0).g, 12);
}

TEST_F(ComposeTest, ChannelDimensionSumsTheVisibleChannelsInTheirColours)
{
    const int layer = AddLayer(Filled({4, 4, 3}, kGray8, [](int, int, int p, int) { return 100 + 50 * p; }));
    img::CStack stack = doc.FindStack(layer);
    stack.SetChannelDim(0);
    ASSERT_EQ(stack.GetChannelDim(), 0);
    auto target = Target(4, 4);
    EXPECT_EQ(RenderedAt(target, {layer}, 1, 1), (tBGR{200, 150, 100})) << "red, green, blue by channel order";
    ASSERT_TRUE(flow.SetLUT(Plane(layer), 1, {{0, 0, 0}, {255, 255, 255}}));
    ASSERT_TRUE(flow.SetVisibility(Plane(layer), 0, false));
    ASSERT_TRUE(Render(target, {layer}));
    const int white = int(std::lround(150 / 255.0));  // a two-entry LUT rounds to its ends
    EXPECT_EQ(At(target, 1, 1), (tBGR{std::min(255, 200 + 255 * white), 255 * white, 255 * white}));
}

// ---------------------------------------------------------------- geometry

TEST_F(ComposeTest, ScalingPlacementAndCalibrationAgreeWithThePlainLoop)
{
    // A 16-bit layer with limits and a LUT under an RGB layer at opacity 0.6
    // with a mask, both wider than several 16-pixel tiles.
    const int gray = AddLayer(Filled({70, 45}, kGray16, [](int x, int y, int, int) { return x * 300 + y * 50; }));
    const int rgb =
        AddLayer(Filled({53, 41}, kRgb8, [](int x, int y, int, int e) { return (x * 5 + y * 3 + e * 60) % 256; }));
    img::CStack g = doc.FindStack(gray);
    ASSERT_TRUE(g.SetDispLimits(utl::TInterval<double>(2000, 18000), -1));
    std::vector<utl::CBGR8> lut;
    for (int i = 0; i < 256; ++i)
        lut.push_back(utl::CBGR8(std::uint8_t(i), std::uint8_t(i / 2), std::uint8_t(255 - i)));
    ASSERT_TRUE(g.SetLUT(lut, 0));
    ASSERT_TRUE(flow.SetProperty(Plane(rgb), 10009, mem::CBin(0.6)));
    auto mask = flow.CreateTransparencyMask(Plane(rgb), 255);
    ASSERT_TRUE(mask->Rectangle(geo::CiRect(10, 5, 30, 35), 90, 0));
    SetBackground(7, 8, 9);

    // The canvas in µm; the gray layer calibrated in nm, the RGB layer placed.
    flow.SetImagePlaneCalibration(geo::CdVec2(-3, 2), geo::CdVec2(0.5, 0.5), utl::CUnit2(kMicro, kMicro));
    ASSERT_TRUE(g.SetOriginScale(geo::CdVec2(-2000, 1000), geo::CdVec2(700, 650), kNano));
    ASSERT_TRUE(flow.SetLayerCanvasPlacement(Plane(rgb), geo::CdVec2(4, 5), geo::CdVec2(0.4, 0.45)));

    struct tView {
        geo::CiRect pixels;
        geo::CdRect canvas;
    };
    for (tView const& v : {tView{geo::CiRect(0, 0, 90, 70), geo::CdRect(0, 0, 90, 70)},
                           tView{geo::CiRect(5, 3, 85, 60), geo::CdRect(-10, -4, 150, 110)},  // zoomed out
                           tView{geo::CiRect(0, 0, 90, 70), geo::CdRect(20.3, 11.7, 41.9, 33.2)}}) {  // zoomed in
        SCOPED_TRACE(v.canvas.right);
        auto target = Target(90, 70);
        ASSERT_TRUE(flow.PlayToPixFrame(target, v.pixels, v.canvas, 0, {gray, rgb}, img::tRenderHints()));
        ExpectMatchesReference(doc, flow, target, {gray, rgb}, 1, v.pixels, v.canvas);
    }
}

TEST_F(ComposeTest, AxesCalibratedInTheirOwnUnitsMapApart)
{
    const int layer = AddLayer(Filled({4, 4}, kGray8, [](int x, int y, int, int) { return x + 10 * y; }));
    img::CStack stack = doc.FindStack(layer);
    ASSERT_TRUE(stack.SetDimOriginScale(img::eDimX, 0, 1, kMicro));
    ASSERT_TRUE(stack.SetDimOriginScale(img::eDimY, 0, 2000, kNano));  // 2 µm
    flow.SetImagePlaneCalibration(geo::CdVec2(0, 0), geo::CdVec2(1, 1), utl::CUnit2(kMicro, kMicro));
    auto target = Target(4, 8);
    EXPECT_EQ(RenderedAt(target, {layer}, 1, 5).g, 21);
    EXPECT_EQ(At(target, 3, 7).g, 33);
}

TEST_F(ComposeTest, BorderOutsideTheCanvasAndSkippedBackground)
{
    img::CCanvasColor bg, border;
    bg[1] = 50;
    border[2] = 250;
    flow.SetCanvasColors(bg, border);
    flow.SetImagePlaneRect(geo::CiRect(0, 0, 4, 3));
    auto target = Target(6, 5);
    EXPECT_EQ(RenderedAt(target, {}, 3, 2), (tBGR{0, 50, 0}));
    EXPECT_EQ(At(target, 4, 2), (tBGR{0, 0, 250}));
    EXPECT_EQ(At(target, 0, 3), (tBGR{0, 0, 250}));

    // A layer drawn over what the target held.
    const int layer = AddLayer(Filled({2, 2}, kGray8, [](int, int, int, int) { return 90; }));
    img::tRenderHints hints;
    hints.skipBackground = true;
    ASSERT_TRUE(Render(target, {layer}, hints));
    EXPECT_EQ(At(target, 1, 1), (tBGR{90, 90, 90}));
    EXPECT_EQ(At(target, 4, 2), (tBGR{0, 0, 250}));
}

TEST_F(ComposeTest, VectorLayersDrawTheirOutlines)
{
    boost::shared_ptr<img::CVecGraph> graphic(new img::CVecGraph);
    graphic->Add({img::CVecGraph::eLine, geo::CdRect(1, 2, 8, 2), 10, 20, 30});
    graphic->Add({img::CVecGraph::eRectangle, geo::CdRect(2, 4, 6, 8)});  // white by default
    const int layer = doc.Add(img::CStack(graphic));
    ASSERT_GE(flow.InsertLayer(-1, -3, layer, utl::CIndexN(), -1), 0);
    auto target = Target(10, 10);
    ASSERT_TRUE(Render(target, {layer}));
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(At(target, x, 2), (x >= 1 && x <= 8 ? tBGR{10, 20, 30} : tBGR{0, 0, 0})) << x;
    EXPECT_EQ(At(target, 2, 6), (tBGR{255, 255, 255}));
    EXPECT_EQ(At(target, 6, 6), (tBGR{255, 255, 255}));
    EXPECT_EQ(At(target, 4, 6), (tBGR{0, 0, 0})) << "outlines only";
    EXPECT_EQ(At(target, 4, 8), (tBGR{255, 255, 255}));
}

TEST_F(ComposeTest, RefusesTargetsAndRectanglesItCannotFill)
{
    const int layer = AddLayer(Filled({4, 4}, kGray8, [](int, int, int, int) { return 1; }));
    auto target = Target(4, 4);
    const geo::CiRect all(0, 0, 4, 4);
    const geo::CdRect canvas(all);
    EXPECT_FALSE(flow.PlayToPixFrame(boost::shared_ptr<img::CPixFrame>(), all, canvas, 0, {layer}, {}));
    EXPECT_FALSE(flow.PlayToPixFrame(Target(4, 4, kGray8), all, canvas, 0, {layer}, {}));
    EXPECT_FALSE(flow.PlayToPixFrame(Target(4, 4, img::CPixelInfo(utl::eUInt16, 3, img::eColorSpaceRGB)), all, canvas,
                                     0, {layer}, {}));
    EXPECT_FALSE(flow.PlayToPixFrame(target, geo::CiRect(0, 0, 0, 4), canvas, 0, {layer}, {}));
    EXPECT_FALSE(flow.PlayToPixFrame(target, geo::CiRect(10, 10, 20, 20), canvas, 0, {layer}, {}));
    EXPECT_FALSE(flow.PlayToPixFrame(target, all, geo::CdRect(0, 0, std::nan(""), 4), 0, {layer}, {}));
    EXPECT_FALSE(flow.PlayToPixFrame(target, all, geo::CdRect(4, 0, 0, 4), 0, {layer}, {}));
    EXPECT_EQ(At(target, 0, 0), (tBGR{0, 0, 0}));
    EXPECT_TRUE(flow.PlayToPixFrame(target, geo::CiRect(-5, -5, 2, 2), canvas, 0, {layer}, {}))
        << "a rectangle partly outside is clipped";
    EXPECT_TRUE(flow.PlayToPixFrame(target, geo::CiRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX), canvas, 0, {layer}, {}));
    EXPECT_TRUE(flow.PlayToPixFrame(target, all, geo::CdRect(-1e300, -1e300, 1e300, 1e300), 0, {layer}, {}));
}

}  // namespace

// ---------------------------------------------------------------- sparse layers and masks

namespace {

// A sparse RGB layer over a 16-bit one: the RGB layer holds pixels only
// where tiles were pasted, at odd offsets, and its mask (of fill value
// `fill`) opens those places fully, one of them partly, and one in
// stripes narrower than a run blended at one weight. Its mask tiles are
// 512 rows high, so rows 512..1023 hold no mask tile at all.
class SparseLayerTest : public ComposeTest {
protected:
    void Build(unsigned char fill)
    {
        gray = AddLayer(Filled({300, 1100}, kGray16, [](int x, int y, int, int) { return x * 150 + y * 40; }));
        auto data = Frame({300, 1100}, kRgb8, storetest::TileProps(16, 16));
        rgb = AddLayer(data);
        const std::vector<geo::CiRect> pasted = {geo::CiRect(13, 7, 77, 71), geo::CiRect(61, 45, 125, 109),
                                                 geo::CiRect(201, 467, 265, 531), geo::CiRect(37, 1029, 101, 1093)};
        auto tile = Filled({64, 64}, kRgb8, [](int x, int y, int, int e) { return (x * 9 + y * 5 + e * 70) % 256; });
        for (geo::CiRect const& r : pasted)
            ASSERT_TRUE(mem::Copy(*tile, *data, tile->GetBoundary(), geo::CiVecN{r.left, r.top}, 0));
        mask = flow.CreateTransparencyMask(Plane(rgb), fill);
        ASSERT_TRUE(mask);
        const unsigned char open = fill == 0 ? 255 : 0;
        for (geo::CiRect const& r : pasted)
            ASSERT_TRUE(mask->Rectangle(r, open, 0));
        ASSERT_TRUE(mask->Rectangle(geo::CiRect(61, 45, 125, 60), 100, 0));
        for (int x = 210; x < 260; x += 6)
            ASSERT_TRUE(mask->Rectangle(geo::CiRect(x, 470, x + 3, 520), 200, 0));
        // Right of the pasted tile: stripes, and a lone pixel in the last
        // column of the 1:1 view below.
        for (int x = 270; x < 291; x += 6)
            ASSERT_TRUE(mask->Rectangle(geo::CiRect(x, 470, x + 3, 520), open == 0 ? 255 : 200, 0));
        ASSERT_TRUE(mask->Rectangle(geo::CiRect(293, 470, 294, 520), open == 0 ? 255 : 150, 0));
        ASSERT_TRUE(flow.SetProperty(Plane(rgb), 10009, mem::CBin(0.9)));
        SetBackground(7, 8, 9);
    }

    void ExpectEveryViewMatches()
    {
        struct tView {
            geo::CiRect pixels;
            geo::CdRect canvas;
        };
        for (tView const& v : {tView{geo::CiRect(0, 0, 60, 220), geo::CdRect(0, 0, 300, 1100)},      // zoomed out
                               tView{geo::CiRect(0, 0, 100, 70), geo::CdRect(194, 480, 294, 550)},   // 1:1, rows 0 → 1
                               tView{geo::CiRect(0, 0, 100, 70), geo::CdRect(20, 1000, 120, 1070)},  // 1:1, rows 1 → 2
                               tView{geo::CiRect(3, 2, 83, 62), geo::CdRect(40.5, 30.25, 80.5, 60.25)}}) {  // in
            SCOPED_TRACE(v.canvas.top);
            auto target = Target(100, 220);
            ASSERT_TRUE(flow.PlayToPixFrame(target, v.pixels, v.canvas, 0, {gray, rgb}, img::tRenderHints()));
            ExpectMatchesReference(doc, flow, target, {gray, rgb}, 1, v.pixels, v.canvas);
        }
    }

    int gray = -1, rgb = -1;
    boost::shared_ptr<img::CMask> mask;
};

}  // namespace

TEST_F(SparseLayerTest, MaskOfFillZeroMatchesThePlainLoopAtEveryZoom)
{
    Build(0);
    ExpectEveryViewMatches();
}

TEST_F(SparseLayerTest, MaskOfFillOpaqueMatchesThePlainLoopAtEveryZoom)
{
    // Unwritten RGB tiles then show as black through the open mask.
    Build(255);
    ExpectEveryViewMatches();
}

TEST_F(ComposeTest, AlphaHidesColumnsAndFiltersStillSeeTheWholeRow)
{
    // Alpha 0 left of x = 10 and from x = 30 on but for a partial 85 at
    // x = 35: the middle shows, inverted by a filter that also records how
    // wide a row it was given.
    class CInvert : public img::CDisplayFilter {
    public:
        void Apply(std::uint8_t* bgr, int count) const override
        {
            widest = std::max(widest, count);
            for (int i = 0; i < 3 * count; ++i)
                bgr[i] = std::uint8_t(255 - bgr[i]);
        }
        mutable int widest = 0;
    };
    SetBackground(0, 0, 200);
    const img::CPixelInfo grayAlpha = img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray).AddAlpha(1);
    const int layer = AddLayer(Filled({40, 3}, grayAlpha, [](int x, int, int, int e) {
        return e == 0 ? 60 : (x >= 10 && x < 30 ? 255 : x == 35 ? 85 : 0);
    }));
    auto target = Target(40, 3);
    EXPECT_EQ(RenderedAt(target, {layer}, 9, 1), (tBGR{0, 0, 200}));
    EXPECT_EQ(At(target, 10, 1), (tBGR{60, 60, 60}));
    EXPECT_EQ(At(target, 29, 2), (tBGR{60, 60, 60}));
    EXPECT_EQ(At(target, 30, 0), (tBGR{0, 0, 200}));
    EXPECT_NEAR(At(target, 35, 1).r, Blend(200, 60, 85 / 255.0), 1);
    EXPECT_NEAR(At(target, 35, 1).g, Blend(0, 60, 85 / 255.0), 1);

    auto filter = boost::shared_ptr<CInvert>(new CInvert);
    ASSERT_TRUE(flow.SetDisplayFilter(Plane(layer), filter));
    EXPECT_EQ(RenderedAt(target, {layer}, 9, 1), (tBGR{0, 0, 200}));
    EXPECT_EQ(At(target, 20, 1), (tBGR{195, 195, 195}));
    EXPECT_EQ(filter->widest, 40);
}

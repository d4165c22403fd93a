// Renders split over 1, 2 and 4 threads must agree byte for byte: rows are
// independent, so any difference means a band was skipped, drawn twice with
// stale row state, or raced with another band.
#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/document/render/render_pool_internal.h"
#include "imgscope/contracts/document/stack.h"
#include "tests/contracts/document/document_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace doctest;

// A busy scene: every kind of layer the row loop handles differently.
class RenderThreadsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // 16-bit gray with limits and a LUT, calibrated, at the bottom.
        const int gray16 = Add(Filled({700, 520}, kGray16, [](int x, int y, int, int) { return x * 90 + y * 37; }, 64));
        img::CStack g = doc.FindStack(gray16);
        ASSERT_TRUE(g.SetDispLimits(utl::TInterval<double>(3000, 60000), -1));
        std::vector<utl::CBGR8> lut;
        for (int i = 0; i < 1024; ++i)
            lut.push_back(utl::CBGR8(std::uint8_t(i / 4), std::uint8_t(255 - i / 4), std::uint8_t(i % 256)));
        ASSERT_TRUE(g.SetLUT(lut, 0));

        // RGB at opacity 0.7 with a mask, inside a group at opacity 0.5.
        const int group = flow.InsertGroup(-1, -3);
        ASSERT_GE(group, 0);
        ASSERT_TRUE(flow.SetProperty(group, 10009, mem::CBin(0.5)));
        const int rgb = doc.Add(img::CStack(
            Filled({431, 377}, kRgb8, [](int x, int y, int, int e) { return (x * 7 + y * 3 + e * 70) % 256; }, 48)));
        const int rgbPlane = flow.InsertLayer(group, -3, rgb, utl::CIndexN(), -1);
        ASSERT_GE(rgbPlane, 0);
        ASSERT_TRUE(flow.SetProperty(rgbPlane, 10009, mem::CBin(0.7)));
        ASSERT_TRUE(flow.SetLayerCanvasPlacement(rgbPlane, geo::CdVec2(37.5, 21.25), geo::CdVec2(1.3, 1.1)));
        auto mask = flow.CreateTransparencyMask(rgbPlane, 255);
        ASSERT_TRUE(mask);
        for (int y = 0; y < 377; y += 29)
            ASSERT_TRUE(mask->Rectangle(geo::CiRect(y / 3, y, 431 - y / 2, y + 17), std::uint8_t(40 + y / 2), 0));

        // 8-bit gray added onto what lies below.
        const int added = Add(Filled({300, 600}, kGray8, [](int x, int y, int, int) { return (x ^ y) & 0x7f; }, 32));
        ASSERT_TRUE(flow.SetFunction(flow.FindLayer(added), 0, img::eFunctionAdd));
        ASSERT_TRUE(flow.SetLayerCanvasPlacement(flow.FindLayer(added), geo::CdVec2(250, -40), geo::CdVec2(1, 1)));

        // Float with NaN holes, and gray with an alpha component.
        const img::CPixelInfo float32(utl::eFloat, 1, img::eColorSpaceGray);
        const int floats = Add(Filled({200, 150}, float32, [](int x, int y, int, int) {
            return (x + y) % 23 == 0 ? std::nan("") : std::sin(x * 0.05) * std::cos(y * 0.07);
        }, 40));
        ASSERT_TRUE(doc.FindStack(floats).SetDispLimits(utl::TInterval<double>(-1, 1), -1));
        ASSERT_TRUE(flow.SetLayerCanvasPlacement(flow.FindLayer(floats), geo::CdVec2(420, 300), geo::CdVec2(1.7, 1.7)));
        const img::CPixelInfo grayAlpha = kGray8.AddAlpha(1);
        const int alpha = Add(Filled({160, 90}, grayAlpha, [](int x, int y, int, int e) { return e ? (x * 3 + y) % 256 : 200; }));
        ASSERT_TRUE(flow.SetLayerCanvasPlacement(flow.FindLayer(alpha), geo::CdVec2(11, 400), geo::CdVec2(2, 1)));

        // Outlines on top.
        boost::shared_ptr<img::CVecGraph> graphic(new img::CVecGraph);
        for (int i = 0; i < 12; ++i)
            graphic->Add({i % 2 ? img::CVecGraph::eRectangle : img::CVecGraph::eEllipse,
                          geo::CdRect(10 + i * 40, 5 + i * 30, 90 + i * 45, 70 + i * 33), std::uint8_t(i * 20), 90, 200});
        const int vector = doc.Add(img::CStack(graphic));
        ASSERT_GE(flow.InsertLayer(-1, -3, vector, utl::CIndexN(), -1), 0);

        layers = {gray16, rgb, added, floats, alpha, vector};
        img::CCanvasColor background, border;
        background[0] = 12;
        border[2] = 99;
        flow.SetCanvasColors(background, border);
        flow.SetImagePlaneRect(geo::CiRect(0, 0, 690, 510));
    }

    void TearDown() override { img::detail::SetRenderThreads(0); }

    int Add(boost::shared_ptr<mem::CDataFrame> const& frame)
    {
        const int id = doc.Add(img::CStack(frame));
        EXPECT_GT(id, 0);
        EXPECT_GE(flow.InsertLayer(-1, -3, id, utl::CIndexN(), -1), 0);
        return id;
    }

    // The target's bytes after rendering with `threads` threads.
    std::vector<std::uint8_t> Render(int threads, img::CPixelInfo const& info, geo::CiRect const& pixels,
                                     geo::CdRect const& canvas, img::tRenderHints const& hints)
    {
        img::detail::SetRenderThreads(threads);
        const geo::CiRect whole(0, 0, 640, 480);
        auto target = img::CPixFrame::Create(whole, info, mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
        EXPECT_TRUE(target);
        std::vector<std::uint8_t> bytes(std::size_t(whole.Width()) * std::size_t(whole.Height()) * 3, 0xa5);
        if (!target)
            return bytes;
        // Prefilled, so that skipped background shows rows no thread drew.
        EXPECT_TRUE(target->WriteRect(whole, bytes.data(), 0, 0));
        EXPECT_TRUE(flow.PlayToPixFrame(target, pixels, canvas, 0, layers, hints));
        EXPECT_TRUE(target->ReadRect(whole, bytes.data(), 0, 0));
        return bytes;
    }

    img::CImg doc;
    img::CDisplProcessFlow flow{doc, false};
    std::vector<int> layers;
};

const img::CPixelInfo kRgbTarget(utl::eUInt8, 3, img::eColorSpaceRGB);

TEST_F(RenderThreadsTest, OneTwoAndFourThreadsDrawTheSameBytes)
{
    struct tView {
        char const* what;
        img::CPixelInfo info;
        geo::CiRect pixels;
        geo::CdRect canvas;
        bool skipBackground;
    };
    const tView views[] = {
        {"whole, one to one", kBgr8, geo::CiRect(0, 0, 640, 480), geo::CdRect(0, 0, 640, 480), false},
        {"zoomed out at an odd offset", kBgr8, geo::CiRect(3, 7, 613, 471), geo::CdRect(-31.3, -12.6, 741.9, 533.2), false},
        {"zoomed in, fractional", kRgbTarget, geo::CiRect(0, 0, 640, 480), geo::CdRect(101.7, 63.3, 297.1, 211.9), false},
        {"reaching past the target, background kept", kBgr8, geo::CiRect(-20, 450, 700, 1100),
         geo::CdRect(0, 0, 720, 650), true},
        {"a few rows", kBgr8, geo::CiRect(5, 100, 630, 113), geo::CdRect(5, 100, 630, 113), false},
    };
    for (tView const& v : views) {
        SCOPED_TRACE(v.what);
        img::tRenderHints hints;
        hints.skipBackground = v.skipBackground;
        const std::vector<std::uint8_t> one = Render(1, v.info, v.pixels, v.canvas, hints);
        // The scene shows: many different colours, not one fill.
        ASSERT_GT(std::set<std::uint8_t>(one.begin(), one.end()).size(), 100u);
        for (int threads : {2, 4}) {
            SCOPED_TRACE(threads);
            const std::vector<std::uint8_t> many = Render(threads, v.info, v.pixels, v.canvas, hints);
            std::size_t first = 0;
            while (first < one.size() && one[first] == many[first])
                ++first;
            EXPECT_EQ(first, one.size()) << "first difference in target row " << first / (640 * 3);
        }
    }
}

TEST_F(RenderThreadsTest, MasksIgnoredAndRendersFromSeveralThreadsAtOnceAgree)
{
    img::tRenderHints hints;
    hints.ignoreMasks = true;
    const geo::CiRect pixels(0, 0, 640, 480);
    const geo::CdRect canvas(-3.5, 2.25, 700.5, 530.75);
    const std::vector<std::uint8_t> one = Render(1, kBgr8, pixels, canvas, hints);
    EXPECT_EQ(Render(4, kBgr8, pixels, canvas, hints), one);

    // Two renders at once: one has the pool, the other goes alone; both
    // must still draw the same picture.
    img::detail::SetRenderThreads(2);
    std::vector<std::uint8_t> other;
    std::thread second([&] {
        for (int i = 0; i < 3; ++i)
            other = Render(2, kBgr8, pixels, canvas, hints);
    });
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Render(2, kBgr8, pixels, canvas, hints), one);
    second.join();
    EXPECT_EQ(other, one);
}

}  // namespace

// Rendering through the scope core: which layers each render call composes.
#include "tests/scope/core_documents.h"
#include "tests/scope/test_scope.h"

#include "imgscope/contracts/document/pix_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

using imgscope_test::AddEntry;
using imgscope_test::MakeDataFrame;
using imgscope_test::TestScope;
using Pixel = std::array<std::uint8_t, 3>;

// Two opaque 4 × 4 gray layers, 100 below and 200 above, on a 4 × 4
// canvas with a known background.
class RenderingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bottom = Layer(100);
        top = Layer(200);
        img::CCanvasColor background, border;
        background[0] = 10;
        background[1] = 20;
        background[2] = 30;
        ASSERT_TRUE(scope.SetCanvasColors(background, border));
        ASSERT_TRUE(scope.SetCanvasPixelRect(geo::CiRect(0, 0, 4, 4)));
        target = img::CPixFrame::Create(geo::CiRect(0, 0, 4, 4), img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
                                        mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
        ASSERT_TRUE(target);
        const Pixel unset{77, 77, 77};
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                target->WriteRowSegment(geo::CiVec2(x, y), 1, unset.data(), 0);
    }

    int Layer(std::uint8_t value)
    {
        auto frame = MakeDataFrame({4, 4});
        frame->Fill(frame->GetBoundary(0), &value);
        const int id = doc.Add(img::CStack(frame));
        AddEntry(doc, id);
        return id;
    }

    Pixel At(int x, int y) const
    {
        Pixel p{};
        target->ReadRowSegment(geo::CiVec2(x, y), 1, p.data(), 0);
        return p;
    }

    img::CImg doc;
    TestScope scope{doc};
    int bottom = -1;
    int top = -1;
    boost::shared_ptr<img::CPixFrame> target;
    const geo::CiRect pixels{0, 0, 4, 4};
    const geo::CdRect canvas{0.0, 0.0, 4.0, 4.0};
};

TEST_F(RenderingTest, CompleteAndLowerStackRenderTheShownLayersInTreeOrder)
{
    ASSERT_TRUE(scope.RenderComplete(target, pixels, canvas, false, img::eZoomNearest));
    EXPECT_EQ(At(2, 2), (Pixel{200, 200, 200}));
    ASSERT_TRUE(scope.RenderLowerStack(top, target, pixels, canvas, img::eZoomNearest));
    EXPECT_EQ(At(0, 3), (Pixel{100, 100, 100}));
    // Below the first layer lies nothing but the background (blue, green, red).
    ASSERT_TRUE(scope.RenderLowerStack(bottom, target, pixels, canvas, img::eZoomNearest));
    const Pixel background = At(1, 1);
    EXPECT_TRUE(background == (Pixel{10, 20, 30}) || background == (Pixel{30, 20, 10}));

    // A hidden entry leaves the render list.
    img::CDisplProcessFlow(doc, false).SetHidden(scope.FindPlaneID(top), true);
    ASSERT_TRUE(scope.RenderComplete(target, pixels, canvas, false, img::eZoomNearest));
    EXPECT_EQ(At(2, 2), (Pixel{100, 100, 100}));
}

TEST_F(RenderingTest, LayersOutsideTheRenderListAndStubsRenderNothing)
{
    const int entryless = doc.Add(img::CStack(MakeDataFrame({4, 4})));
    const auto other = img::CPixFrame::Create(pixels, img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
                                              mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
    EXPECT_FALSE(scope.RenderLowerStack(entryless, target, pixels, canvas, img::eZoomNearest));
    EXPECT_FALSE(scope.RenderLowerStack(999, target, pixels, canvas, img::eZoomNearest));
    EXPECT_FALSE(scope.RenderHigherStack(top, target, other, pixels, canvas, false, img::eZoomNearest));
    EXPECT_FALSE(scope.RenderSingleLayer(top, target, false, img::eZoomNearest));
    EXPECT_EQ(At(3, 3), (Pixel{77, 77, 77}));
}

TEST_F(RenderingTest, FlagAndZoomModeChangeNothingAndFramesAreReleased)
{
    // A half-transparent top layer, so that the lower stack and the whole
    // stack differ everywhere.
    ASSERT_TRUE(scope.SetOpacity(top, 0.5));
    const auto render = [&](bool flag, img::EZoomMode zoom, bool lower) {
        const auto frame = img::CPixFrame::Create(pixels, img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
                                                  mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
        const bool ok = lower ? scope.RenderLowerStack(top, frame, pixels, canvas, zoom)
                              : scope.RenderComplete(frame, pixels, canvas, flag, zoom);
        EXPECT_TRUE(ok);
        EXPECT_EQ(frame.use_count(), 1);
        std::vector<std::uint8_t> bytes(4 * 4 * 3);
        EXPECT_TRUE(frame->ReadRect(pixels, bytes.data(), 0, 0));
        return bytes;
    };
    for (bool lower : {false, true}) {
        SCOPED_TRACE(lower);
        const auto reference = render(false, img::eZoomNearest, lower);
        EXPECT_EQ(render(true, img::eZoomNearest, lower), reference);
        EXPECT_EQ(render(false, img::eZoomSmooth, lower), reference);
        EXPECT_EQ(render(true, img::eZoomSmooth, lower), reference);
    }
    EXPECT_NE(render(false, img::eZoomNearest, false), render(false, img::eZoomNearest, true));
}

}  // namespace

// Documents, rendering and scopes when memory runs out at any allocation:
// every failure is the call's failure result (or the exception its contract
// passes on), the pixels of the document stay as they were, and nothing
// leaks.
#include "tests/alloc/failing_allocator.h"

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/document/render/render_pool_internal.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/typed/picture.h"
#include "tests/contracts/document/document_test_util.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

using namespace alloctest;
using namespace doctest;

namespace {

const utl::CPropSet kNone;

// A gray picture with limits and a LUT below an RGB picture under a
// transparency mask, on a canvas in micrometres. 8-bit: the 65536-entry
// tables of a 16-bit layer would slow each of the hundreds of runs.
struct tDocument {
    img::CImg doc;
    std::unique_ptr<img::CPicture> gray;
    std::unique_ptr<img::CPicture> color;

    tDocument()
    {
        gray.reset(img::InsertPicture(doc, geo::CiRect(0, 0, 70, 50), kGray8, mem::eMemoryDefault, mem::eAlign32,
                                      kNone, kNone, kNone));
        color.reset(img::InsertPicture(doc, geo::CiRect(10, 5, 60, 45), kRgb8, mem::eMemoryDefault, mem::eAlign32,
                                       kNone, kNone, kNone));
        EXPECT_TRUE(gray && color);
        Fill(*gray->GetPixFrame(), 3);
        Fill(*color->GetPixFrame(), 4);
        EXPECT_TRUE(gray->SetPixelSize(kMicro, 0.5, 0.5));
        EXPECT_TRUE(gray->SetLimits(utl::TInterval<double>(10.0, 240.0)));
        std::vector<utl::CBGR8> lut(256);
        for (int i = 0; i < 256; ++i)
            lut[std::size_t(i)] = utl::CBGR8(std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2));
        EXPECT_TRUE(gray->SetDataLUT(lut, -1));
        EXPECT_TRUE(gray->ResetRenderer2D());
        auto mask = color->CreateTranspMask(0);
        EXPECT_TRUE(mask && mask->Rectangle(geo::CiRect(15, 10, 50, 40), 200, img::CMask::eCombineSet));
    }

    static void Fill(img::CPixFrame& frame, int seed)
    {
        const geo::CiRect r = frame.GetBoundary(0);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(r.Area()) * frame.GetPixelInfo().Size());
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 13 + static_cast<std::size_t>(seed) * 7 + i / 97);
        EXPECT_TRUE(frame.WriteRect(r, bytes.data(), 0, 0));
    }

    // Every layer's pixels, to tell that a failed call changed none.
    std::vector<std::vector<std::uint8_t>> LayerPixels() const
    {
        std::vector<std::vector<std::uint8_t>> all;
        for (int id = doc.FirstStackId(); id != -1; id = doc.NextStackId(id))
            all.push_back(Pixels(*doc.FindStack(id).GetDataFrame(0)));
        return all;
    }
};

}  // namespace

TEST(DocumentAllocationTest, RenderingFailsCleanly)
{
    // On the calling thread alone: the sweep fails the nth allocation, so
    // allocations must come in one order, and the counting allocator is not
    // made for several threads.
    img::detail::SetRenderThreads(1);
    const std::shared_ptr<void> restore(nullptr, [](void*) { img::detail::SetRenderThreads(0); });
    tDocument d;
    const img::CDisplProcessFlow flow(d.doc, false);
    const std::vector<int> layers{d.gray->GetLayerID(), d.color->GetLayerID()};
    const geo::CiRect pixels(0, 0, 90, 60);
    const geo::CdRect canvas(-2.0, -1.0, 43.0, 29.0);
    const auto render = [&] {
        return img::CPixFrame::Create(pixels, kBgr8, mem::eMemoryDefault, mem::eAlignNone, kNone);
    };
    auto reference = render();
    ASSERT_TRUE(flow.PlayToPixFrame(reference, pixels, canvas, 0, layers, img::tRenderHints()));
    const auto expected = Pixels(*reference->GetDataFrame());
    const auto before = d.LayerPixels();
    const auto run = [&](auto arm, auto disarm) {
        auto target = render();
        arm();
        const bool ok = flow.PlayToPixFrame(target, pixels, canvas, 0, layers, img::tRenderHints());
        const bool reached = disarm();
        if (ok) {
            EXPECT_EQ(Pixels(*target->GetDataFrame()), expected);
        }
        EXPECT_EQ(d.LayerPixels(), before);
        EXPECT_TRUE(reached || ok);
        return reached;
    };
    SweepOperatorNew([&](std::int64_t n, EFailure mode) { return run([&] { Arm(n, mode); }, Disarm); });
    SweepTileAcquires([&](std::int64_t n) { return run([&] { ArmTiles(n); }, DisarmTiles); });
}

TEST(DocumentAllocationTest, PicturesAndLayerCallsFailCleanly)
{
    SweepOperatorNew([](std::int64_t n, EFailure mode) {
        tDocument d;
        const auto before = d.LayerPixels();
        const unsigned count = d.doc.GetStackCount();
        auto frame = img::CPixFrame::Create(geo::CiRect(0, 0, 40, 30), kGray16, mem::eMemoryDefault, mem::eAlign32,
                                            kNone);
        const utl::TUnitValue<geo::CdVec2> calibration(kMicro, geo::CdVec2(0.25, 0.25));
        const geo::CiVecN first{0};
        const CString name(L"colour");

        Arm(n, mode);
        std::unique_ptr<img::CPicture> made;
        bool passedOn = false;
        try {
            made.reset(img::InsertPicture(d.doc, frame, kNone, kNone));
        } catch (std::bad_alloc const&) {
            passedOn = true;  // the creating factories pass such exceptions on
        }
        const bool renamed = d.color->SetLayerName(name);
        const bool activated = d.gray->ActivateFrame(first);
        const bool calibrated = d.gray->SetCalibration(calibration);
        const bool reset = d.color->ResetRenderer2D();
        const bool limited = d.gray->SetLimits(utl::TInterval<double>(0.0, 1000.0));
        d.color->VirtualUnlock();
        d.color->GarbageCollection();
        const bool reached = Disarm();

        // A picture is whole or absent; a failed one adds no layer.
        if (made) {
            EXPECT_NE(made->GetLayerID(), -1);
            EXPECT_EQ(d.doc.GetStackCount(), count + 1);
        } else {
            EXPECT_EQ(d.doc.GetStackCount(), count);
        }
        EXPECT_FALSE(passedOn && made);
        EXPECT_EQ(d.LayerPixels().front(), before.front());
        EXPECT_TRUE(reached || (made && renamed && activated && calibrated && reset && limited));
        return reached;
    });
}

TEST(DocumentAllocationTest, AWriteThatMustPinARendersRowsFailsCleanly)
{
    // 256 rows in tiles of 32, drawn one to one in bands of 32 rows: after
    // the first band the render has read tile row 0 and not yet pinned
    // tile row 1. A write over both has the render pin row 1 first, which
    // takes memory; when that fails the write fails, and the render still
    // shows every row as it was.
    img::detail::SetRenderThreads(1);
    const std::shared_ptr<void> restore(nullptr, [](void*) {
        img::detail::SetRenderProgressHook({});
        img::detail::SetRenderThreads(0);
    });
    utl::CPropSet props;
    props.SetValue(mem::ePropTileSize, geo::CiVec3(32, 32, 1));
    img::CImg doc;
    const auto frame = boost::make_shared<mem::CDataFrame>(geo::CiVolumeN(geo::CiRect(0, 0, 64, 256)), kGray8, props);
    std::vector<std::uint8_t> old(64 * 256);
    for (std::size_t i = 0; i < old.size(); ++i)
        old[i] = std::uint8_t(i * 7 / 64);
    ASSERT_TRUE(frame->WriteRect(geo::CiRect(0, 0, 64, 256), geo::CiVecN(), old.data(), 0));
    const int layer = doc.Add(img::CStack(frame));
    img::CDisplProcessFlow flow(doc, false);
    ASSERT_GE(flow.InsertLayer(-1, -3, layer, utl::CIndexN(), -1), 0);
    const geo::CiRect pixels(0, 0, 64, 256);
    const geo::CdRect canvas(0.0, 0.0, 64.0, 256.0);
    const auto target = [&] {
        return img::CPixFrame::Create(pixels, kBgr8, mem::eMemoryDefault, mem::eAlignNone, kNone);
    };
    auto reference = target();
    ASSERT_TRUE(flow.PlayToPixFrame(reference, pixels, canvas, 0, {layer}, img::tRenderHints()));
    const auto expected = Pixels(*reference->GetDataFrame());
    const std::vector<std::uint8_t> bytes(64 * 32, 200);
    SweepOperatorNew([&](std::int64_t n, EFailure mode) {
        EXPECT_TRUE(frame->WriteRect(geo::CiRect(0, 0, 64, 256), geo::CiVecN(), old.data(), 0));
        bool reached = false, written = false;
        int calls = 0;
        img::detail::SetRenderProgressHook([&](int rows) {
            if (rows != 32 || calls++ > 0)
                return;
            Arm(n, mode);
            written = frame->WriteRect(geo::CiRect(0, 16, 64, 48), geo::CiVecN(), bytes.data(), 0);
            reached = Disarm();
        });
        auto out = target();
        EXPECT_TRUE(flow.PlayToPixFrame(out, pixels, canvas, 0, {layer}, img::tRenderHints()));
        img::detail::SetRenderProgressHook({});
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(Pixels(*out->GetDataFrame()), expected) << "the render shows every row as it began";
        EXPECT_TRUE(written || reached);
        std::vector<std::uint8_t> now = old;
        if (written)
            std::fill(now.begin() + 16 * 64, now.begin() + 48 * 64, std::uint8_t(200));
        EXPECT_EQ(Pixels(*frame), now);
        return reached;
    });
}

// The pixel store when memory runs out at any allocation: creating, pasting,
// copying, reading and writing frames and masks. Every failure must be the
// call's failure result with the earlier pixels intact and nothing leaked.
#include "tests/alloc/failing_allocator.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "tests/contracts/document/document_test_util.h"

#include <gtest/gtest.h>

#include <new>

using namespace alloctest;
using doctest::kGray16;
using doctest::kRgb8;

namespace {

utl::CPropSet Tiles(int side, bool commit = false)
{
    utl::CPropSet p;
    p.SetValue(mem::ePropTileSize, geo::CiVec3(side, side, 1));
    p.SetValue(mem::ePropCommitAtCreation, commit);
    return p;
}

geo::CiVolumeN Box(geo::CiVecN position, geo::CiVecN size)
{
    return geo::CiVolumeN::FromPositionSize(std::move(position), std::move(size));
}

std::vector<std::uint8_t> Ramp(std::size_t bytes, int seed)
{
    std::vector<std::uint8_t> v(bytes);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed) * 29 + i / 253);
    return v;
}

// A frame with some tiles written and others missing, so that a paste both
// writes into existing tiles and needs new ones.
std::unique_ptr<mem::CDataFrame> PartlyWritten(img::CPixelInfo const& info, int seed)
{
    auto frame = std::make_unique<mem::CDataFrame>(Box({-3, 5}, {61, 47}), info, Tiles(16));
    const geo::CiRect band(-3, 5, 58, 20);
    const auto bytes = Ramp(static_cast<std::size_t>(band.Area()) * info.Size(), seed);
    EXPECT_TRUE(frame->WriteRect(band, {}, bytes.data(), 0));
    return frame;
}

}  // namespace

TEST(StoreAllocationTest, CreatingFramesAndMasksFailsCleanly)
{
    // A committed N-D frame takes every tile at creation; a mask and a pixel
    // frame build their own stores.
    // Arguments are made before the failure point is armed: only the
    // library's own allocations are to fail.
    const geo::CiVolumeN volume = Box({0, 0, 0}, {40, 30, 3});
    const utl::CPropSet committed = Tiles(16, true);
    const utl::CPropSet none;
    SweepOperatorNew([&](std::int64_t n, EFailure mode) {
        Arm(n, mode);
        auto frame = mem::CDataFrame::Create(volume, kGray16, committed);
        auto mask = img::CMask::Create(geo::CiRect(-5, -5, 40, 33), 7);
        auto pix = img::CPixFrame::Create(geo::CiRect(2, 2, 50, 40), kRgb8, mem::eMemoryDefault, mem::eAlign32, none);
        const bool reached = Disarm();
        if (frame) {
            EXPECT_EQ(frame->GetTileCount(), 3 * 3 * 2);
            EXPECT_EQ(Pixels(*frame, {2}), std::vector<std::uint8_t>(40 * 30 * 2, 0));
        }
        if (mask) {
            EXPECT_EQ(mask->GetValue({39, 32}), 7);
        }
        if (pix) {
            EXPECT_EQ(pix->GetBoundary(0), geo::CiRect(2, 2, 50, 40));
        }
        EXPECT_TRUE(reached || (frame && mask && pix));
        return reached;
    });
    SweepTileAcquires([&](std::int64_t n) {
        ArmTiles(n);
        auto frame = mem::CDataFrame::Create(volume, kGray16, committed);
        const bool reached = DisarmTiles();
        EXPECT_EQ(bool(frame), !reached);
        return reached;
    });
}

TEST(StoreAllocationTest, PastesAndWritesLeaveTheTargetAsItWas)
{
    // Source and target tiles never line up; the paste lands at an odd
    // offset across missing and written tiles, once plain and once adding
    // alpha, and once within one frame.
    const auto run = [](auto arm, auto disarm) {
        auto source = PartlyWritten(kRgb8, 1);
        auto target = PartlyWritten(kRgb8, 2);
        auto alpha = std::make_unique<mem::CDataFrame>(Box({0, 0}, {50, 50}), kRgb8.AddAlpha(1), Tiles(16));
        const auto before = Pixels(*target);
        const auto alphaBefore = Pixels(*alpha);
        const auto patch = Ramp(20 * 13 * 3, 3);
        img::CPixFrame pix(boost::shared_ptr<mem::CDataFrame>(PartlyWritten(kRgb8, 4).release()));
        const auto pixBefore = Pixels(*pix.GetDataFrame());
        const geo::CiVolumeN pasteBox = Box({0, 7}, {33, 29}), alphaBox = Box({-3, 5}, {40, 40});
        const geo::CiVolumeN withinBox = Box({5, 10}, {30, 30});
        const geo::CiVecN pasteAt{21, 9}, alphaAt{11, 3}, withinAt{9, 14};

        arm();
        const bool pasted = mem::Copy(*source, *target, pasteBox, pasteAt, 0);
        const bool converted = mem::Copy(*source, *alpha, alphaBox, alphaAt, 0);
        const bool within = mem::Copy(*target, *target, withinBox, withinAt, 0);
        const bool written = pix.WriteRect(geo::CiRect(30, 30, 50, 43), patch.data(), 0, 0);
        const bool reached = disarm();

        // What each call should have made, computed without failures.
        auto expected = PartlyWritten(kRgb8, 2);
        if (pasted) {
            EXPECT_TRUE(mem::Copy(*source, *expected, Box({0, 7}, {33, 29}), geo::CiVecN{21, 9}, 0));
        }
        if (within) {
            EXPECT_TRUE(mem::Copy(*expected, *expected, Box({5, 10}, {30, 30}), geo::CiVecN{9, 14}, 0));
        }
        EXPECT_EQ(Pixels(*target), Pixels(*expected));
        if (!pasted && !within) {
            EXPECT_EQ(Pixels(*target), before);
        }
        if (!converted) {
            EXPECT_EQ(Pixels(*alpha), alphaBefore);
        }
        if (!written) {
            EXPECT_EQ(Pixels(*pix.GetDataFrame()), pixBefore);
        }
        EXPECT_TRUE(reached || (pasted && converted && within && written));
        return reached;
    };
    SweepOperatorNew([&](std::int64_t n, EFailure mode) { return run([&] { Arm(n, mode); }, Disarm); });
    SweepTileAcquires([&](std::int64_t n) { return run([&] { ArmTiles(n); }, DisarmTiles); });
}

TEST(StoreAllocationTest, CopiesAndReadsFailWithoutTouchingTheirTargets)
{
    SweepOperatorNew([](std::int64_t n, EFailure mode) {
        auto frame = std::make_unique<mem::CDataFrame>(Box({0, 0, 4}, {40, 30, 2}), kGray16, Tiles(16));
        const auto plane = Ramp(40 * 30 * 2, 5);
        EXPECT_TRUE(frame->WriteRect(geo::CiRect(0, 0, 40, 30), {5}, plane.data(), 0));
        mem::CDataFrame assigned(Box({0, 0}, {8, 8}), kRgb8);
        img::CMask mask(geo::CiRect(0, 0, 70, 70), 0);
        EXPECT_TRUE(mask.Rectangle(geo::CiRect(3, 3, 60, 9), 200, img::CMask::eCombineSet));
        std::vector<std::uint8_t> read(20 * 10 * 2, 0xEE);
        std::vector<std::uint8_t> cached(read);
        const geo::CiVecN five{5};
        const geo::CiVolumeN cacheBox = Box({0, 0, 5}, {40, 30, 1});

        Arm(n, mode);
        std::unique_ptr<mem::CDataFrame> copy;
        try {
            copy = std::make_unique<mem::CDataFrame>(*frame);
        } catch (std::bad_alloc const&) {
        }
        bool assignedOk = true;
        try {
            assigned = *frame;
        } catch (std::bad_alloc const&) {
            assignedOk = false;
        }
        std::unique_ptr<img::CMask> maskCopy;
        try {
            maskCopy = std::make_unique<img::CMask>(mask);
        } catch (std::bad_alloc const&) {
        }
        const bool readOk = frame->ReadRect(geo::CiRect(10, 10, 30, 20), five, read.data(), 0);
        auto cache = frame->CreateReadCache(cacheBox, 0);
        const bool cachedOk = cache && cache->ReadRect(geo::CiRect(10, 10, 30, 20), five, cached.data(), 0);
        cache.reset();
        const bool reached = Disarm();

        if (copy) {
            EXPECT_EQ(Pixels(*copy, {5}), plane);
        }
        if (assignedOk) {
            EXPECT_EQ(Pixels(assigned, {5}), plane);
        } else {
            EXPECT_EQ(assigned.GetBoundary(), Box({0, 0}, {8, 8})) << "assignment is all or nothing";
        }
        if (maskCopy) {
            EXPECT_EQ(maskCopy->GetValue({59, 8}), 200);
        }
        const auto expected = [&] {
            std::vector<std::uint8_t> v;
            for (int y = 10; y < 20; ++y)
                v.insert(v.end(), plane.begin() + (y * 40 + 10) * 2, plane.begin() + (y * 40 + 30) * 2);
            return v;
        }();
        EXPECT_EQ(read, readOk ? expected : std::vector<std::uint8_t>(read.size(), 0xEE));
        EXPECT_EQ(cached, cachedOk ? expected : std::vector<std::uint8_t>(cached.size(), 0xEE));
        EXPECT_EQ(Pixels(*frame, {5}), plane);
        EXPECT_EQ(mask.GetValue({59, 8}), 200);
        EXPECT_TRUE(reached || (copy && assignedOk && maskCopy && readOk && cachedOk));
        return reached;
    });
}

TEST(StoreAllocationTest, MaskRectanglesAndGrowingFramesFailAsAWhole)
{
    // Four mask tiles: the rectangle covers the one at the top right wholly
    // (it stays uniform), cuts through the other three, and the one at the
    // top left already holds memory.
    img::CMask mask(geo::CiRect(-7, 0, 1017, 560), 40);
    ASSERT_TRUE(mask.Rectangle(geo::CiRect(100, 100, 300, 200), 90, img::CMask::eCombineSet));
    const geo::CiRect rect(50, 0, 1017, 530);
    std::vector<std::vector<std::uint8_t>> expected;
    for (int mode = 0; mode <= 5; ++mode) {
        img::CMask reference(mask);
        ASSERT_TRUE(reference.Rectangle(rect, static_cast<unsigned char>(30 + mode), mode));
        expected.push_back(Pixels(*reference.GetPixFrame()->GetDataFrame()));
    }
    const auto maskBefore = Pixels(*mask.GetPixFrame()->GetDataFrame());
    const geo::CiVolumeN planes = Box({0, 0, 0}, {30, 20, 2});
    const utl::CPropSet committedProps = Tiles(16, true);

    const auto run = [&](auto arm, auto disarm) {
        bool reached = false;
        for (int mode = 0; mode <= 5; ++mode) {
            img::CMask work(mask);
            arm();
            const bool ok = work.Rectangle(rect, static_cast<unsigned char>(30 + mode), mode);
            reached = disarm() || reached;
            const auto pixels = Pixels(*work.GetPixFrame()->GetDataFrame());
            EXPECT_EQ(pixels, ok ? expected[static_cast<std::size_t>(mode)] : maskBefore) << "mode " << mode;
        }
        const auto committed = mem::CDataFrame::Create(planes, kGray16, committedProps);
        const auto frameBefore = Pixels(*committed, {1});
        arm();
        const bool grown = committed->GrowPlanes(2);
        reached = disarm() || reached;
        EXPECT_EQ(Pixels(*committed, {1}), frameBefore);
        EXPECT_EQ(committed->GetBoundary().Size()[2], grown ? 4 : 2);
        // A fill through both planes takes memory in each: all or nothing.
        const auto tiled = mem::CDataFrame::Create(planes, kGray16, Tiles(16));
        const std::uint16_t value = 4321;
        const auto both = {Pixels(*tiled, {0}), Pixels(*tiled, {1})};
        const geo::CiVolumeN box = Box({3, 3, 0}, {20, 10, 2});
        arm();
        const bool filled = tiled->Fill(box, &value);
        reached = disarm() || reached;
        EXPECT_EQ(Pixels(*tiled, {0}) == *both.begin(), !filled);
        EXPECT_EQ(Pixels(*tiled, {1}) == *(both.begin() + 1), !filled);
        return reached;
    };
    SweepOperatorNew([&](std::int64_t n, EFailure mode) { return run([&] { Arm(n, mode); }, Disarm); });
    SweepTileAcquires([&](std::int64_t n) { return run([&] { ArmTiles(n); }, DisarmTiles); });
}

// Pixel loops ask for a row span per tile row; on the frame and through
// caches, on 2-D frames and on planes of 3-D ones (pictures keep theirs in
// 3-D frames), walking one plane or alternating two, that must not allocate.
TEST(StoreAllocationTest, RowSpansAllocateNothing)
{
    const auto volume = Box({-5, 3, 0}, {700, 90, 3});
    mem::CDataFrame cube(volume, kGray16, Tiles(64));
    mem::CDataFrame flat(Box({-5, 3}, {700, 90}), kRgb8, Tiles(64));
    const geo::CiRect band(-5, 3, 695, 40);
    const auto bytes = Ramp(static_cast<std::size_t>(band.Area()) * 3, 1);
    ASSERT_TRUE(cube.WriteRect(band, {1}, bytes.data(), 0));
    ASSERT_TRUE(flat.WriteRect(band, {}, bytes.data(), 0));
    const auto cubeCache = cube.CreateReadCache(volume, 0);
    const auto flatCache = flat.CreateReadCache(geo::CiVolumeN(), 0);
    auto writeCache = cube.CreateWriteCache(volume, 0);
    ASSERT_TRUE(cubeCache && flatCache && writeCache);
    const geo::CiVecN none, one{1}, two{2};
    std::int64_t spans = 0;
    Arm(1, EFailure::eFromOn);
    for (int y = 3; y < 93; y += 7) {
        for (int x = -5; x < 695; x += 61) {
            std::uint8_t const* p = nullptr;
            std::uint8_t* w = nullptr;
            spans += cube.GetRowSpan({x, y}, none, p) > 0;
            spans += cube.GetRowSpan({x, y}, (x & 1) ? one : two, p) > 0;
            spans += cubeCache->GetRowSpan({x, y}, one, p) > 0;
            spans += cubeCache->GetRowSpan({x, y}, (x & 1) ? none : two, p) > 0;
            spans += flat.GetRowSpan({x, y}, none, p) > 0;
            spans += flatCache->GetRowSpan({x, y}, none, p) > 0;
            if (y < 40)
                spans += writeCache->GetRowSpanForWrite({x, y}, one, w) > 0;
        }
    }
    EXPECT_FALSE(Disarm());
    EXPECT_EQ(spans, 13 * 12 * 6 + 6 * 12);
}

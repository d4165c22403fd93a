// A render takes the tiles of a row when it reaches it and lets go of them
// once its finished rows no longer read them: a write into a row not yet
// reached or already finished goes in place, while a tile a row being
// drawn still reads keeps showing the render what it held.
#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/document/render/render_pool_internal.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/foundation/tile_pool_internal.h"
#include "tests/contracts/document/document_test_util.h"
#include "tests/contracts/foundation/store_test_util.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace doctest;

constexpr int kTile = 64;
constexpr int kWidth = 256;
constexpr int kRows = 512;  // target rows: 8 bands of 64 on one thread
// Target row k shows layer row k + kShift, so layer tile row t is read last
// by target row 64 t + 63 − kShift: tile row 1 by row 64, tile row 2 by
// row 128, the first row of the third band.
constexpr int kShift = 63;
constexpr std::uint8_t kOld = 100;
constexpr std::uint8_t kNew = 200;
constexpr std::uint8_t kUndrawn = 7;
constexpr std::uint8_t kMarker = 50;

// Runs `atMarker` on the render thread that draws the layer row holding
// kMarker, once, holding that thread's band there meanwhile.
class CHoldAtMarker : public img::CDisplayFilter {
public:
    explicit CHoldAtMarker(std::function<void()> atMarker) : m_atMarker(std::move(atMarker)) {}
    void Apply(std::uint8_t* bgr, int count) const override
    {
        if (count > 0 && bgr[0] == kMarker && !m_held.exchange(true))
            m_atMarker();
    }

private:
    std::function<void()> m_atMarker;
    mutable std::atomic<bool> m_held{false};
};

class RenderReleaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        img::detail::SetRenderThreads(1);
        frame = Frame({kWidth, kRows + 2 * kTile}, kGray8, storetest::TileProps(kTile, kTile));
        std::vector<std::uint8_t> old(std::size_t(kWidth) * std::size_t(kRows + 2 * kTile), kOld);
        ASSERT_TRUE(frame->WriteRect(geo::CiRect(0, 0, kWidth, kRows + 2 * kTile), geo::CiVecN(), old.data(), 0));
        layer = doc.Add(img::CStack(frame));
        ASSERT_GT(layer, 0);
        ASSERT_GE(flow.InsertLayer(-1, -3, layer, utl::CIndexN(), -1), 0);
        layers = {layer};
        target = img::CPixFrame::Create(geo::CiRect(0, 0, kWidth, kRows), kBgr8, mem::eMemoryDefault, mem::eAlignNone,
                                        utl::CPropSet());
        ASSERT_TRUE(target);
    }

    void TearDown() override
    {
        img::detail::SetRenderProgressHook({});
        img::detail::SetRenderThreads(0);
    }

    // Renders, calling `atRows` once the first `rows` target rows are drawn.
    // Those are counted on the target, which is cleared to kUndrawn first,
    // not taken from the hook: a render that lets go too early or too late
    // must not also report a shifted count.
    void Render(int rows, std::function<void()> const& atRows)
    {
        int calls = 0;
        img::detail::SetRenderProgressHook([&](int) {
            if (Drawn() == rows) {
                ++calls;
                atRows();
            }
        });
        Play();
        img::detail::SetRenderProgressHook({});
        EXPECT_EQ(calls, 1) << "no band ended at row " << rows;
    }

    // Clears the target to kUndrawn and renders into it.
    void Play()
    {
        const std::vector<std::uint8_t> undrawn(std::size_t(kWidth) * kRows * 3, kUndrawn);
        ASSERT_TRUE(target->WriteRect(geo::CiRect(0, 0, kWidth, kRows), undrawn.data(), 0, 0));
        EXPECT_TRUE(flow.PlayToPixFrame(target, geo::CiRect(0, 0, kWidth, kRows),
                                        geo::CdRect(0, kShift, kWidth, kShift + kRows), 0, layers, img::tRenderHints()));
    }

    // Writes kNew over layer tile row `tileRow`, the whole width: the tile
    // pool's acquisitions it took (1 per tile it had to copy first).
    std::int64_t WriteTileRow(int tileRow)
    {
        const std::vector<std::uint8_t> bytes(std::size_t(kWidth) * kTile, kNew);
        const std::int64_t before = mem::detail::GetTileAcquireCount();
        EXPECT_TRUE(frame->WriteRect(geo::CiRect(0, tileRow * kTile, kWidth, (tileRow + 1) * kTile), geo::CiVecN(),
                                     bytes.data(), 0));
        return mem::detail::GetTileAcquireCount() - before;
    }

    // Rows of the target drawn so far, from the top.
    int Drawn()
    {
        std::vector<std::uint8_t> column(std::size_t(kRows) * 3);
        EXPECT_TRUE(target->ReadRect(geo::CiRect(0, 0, 1, kRows), column.data(), 0, 0));
        int y = 0;
        while (y < kRows && column[std::size_t(y) * 3] != kUndrawn)
            ++y;
        return y;
    }

    // Gray of target row `y` at its first pixel.
    int Shown(int y)
    {
        std::uint8_t pixel[3] = {};
        EXPECT_TRUE(target->ReadRect(geo::CiRect(0, y, 1, y + 1), pixel, 0, 0));
        return pixel[0];
    }

    img::CImg doc;
    img::CDisplProcessFlow flow{doc, false};
    boost::shared_ptr<mem::CDataFrame> frame;
    boost::shared_ptr<img::CPixFrame> target;
    int layer = 0;
    std::vector<int> layers;
};

TEST_F(RenderReleaseTest, AWriteDuringARenderCopiesOnlyTilesRowsStillToBeDrawnRead)
{
    // Tile row t (layer rows 64 t to 64 t + 63) is read by target rows
    // 64 t - kShift to 64 t + 63 - kShift.
    const struct {
        int rows, tileRow;
        std::int64_t copied;
        std::vector<std::pair<int, int>> shown;  // target row, gray
    } cases[] = {
        // Still read by row 128, the next band's first: the render keeps what it held.
        {128, 2, kWidth / kTile, {{128, kOld}}},
        // First read by row 257, not reached: written in place and shown written.
        {64, 5, 0, {{256, kOld}, {257, kNew}, {320, kNew}, {321, kOld}}},
        // Last read by row 64, and by row 0: finished rows no longer pin them.
        {128, 1, 0, {}},
        {64, 0, 0, {}},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.tileRow);
        std::int64_t acquired = -1;
        Render(c.rows, [&] { acquired = WriteTileRow(c.tileRow); });
        EXPECT_EQ(acquired, c.copied);
        for (auto const& [row, gray] : c.shown)
            EXPECT_EQ(Shown(row), gray) << "row " << row;
    }
    Play();
    EXPECT_EQ(Shown(128), kNew) << "the next render shows the write it was kept from";
    EXPECT_EQ(WriteTileRow(1), 0) << "without a render every write goes in place";
}

TEST_F(RenderReleaseTest, AWriteOverARowBeingReadAndOneNotReachedIsShownAsItWasThroughout)
{
    // After the first band, tile row 1 is being read (up to target row 64)
    // and tile row 2 not yet (from row 65): a write over both is shown by
    // neither, or the render would show half of it.
    const std::vector<std::uint8_t> bytes(std::size_t(kWidth) * 2 * kTile, kNew);
    std::int64_t acquired = -1;
    Render(64, [&] {
        const std::int64_t before = mem::detail::GetTileAcquireCount();
        EXPECT_TRUE(frame->WriteRect(geo::CiRect(0, kTile, kWidth, 3 * kTile), geo::CiVecN(), bytes.data(), 0));
        acquired = mem::detail::GetTileAcquireCount() - before;
    });
    EXPECT_EQ(acquired, 2 * kWidth / kTile) << "both rows are copied first";
    EXPECT_EQ(Shown(64), kOld);
    EXPECT_EQ(Shown(65), kOld);
    EXPECT_EQ(Shown(128), kOld);
    Play();
    EXPECT_EQ(Shown(64), kNew);
    EXPECT_EQ(Shown(128), kNew);
    EXPECT_EQ(Shown(129), kOld);
}

}  // namespace

TEST_F(RenderReleaseTest, ATileAnotherViewStillReadsIsNotLetGo)
{
    // A second layer over the same pixels, on the right half only, reading
    // 65 rows further down: it reads tile row 2 last at target row 63 and
    // lets it go after the first band, while the first layer reads it up
    // to row 128.
    const int second = doc.Add(img::CStack(frame));
    ASSERT_GT(second, 0);
    ASSERT_GE(flow.InsertLayer(-1, -3, second, utl::CIndexN(), -1), 0);
    ASSERT_TRUE(flow.SetLayerCanvasPlacement(flow.FindLayer(second), geo::CdVec2(kWidth / 2, -65), geo::CdVec2(1, 1)));
    layers.push_back(second);
    std::int64_t acquired = -1;
    Render(128, [&] { acquired = WriteTileRow(2); });
    EXPECT_EQ(acquired, kWidth / kTile);
    EXPECT_EQ(Shown(128), kOld);
}

TEST_F(RenderReleaseTest, SeveralThreadsLetGoOnlyBelowTheLowestUnfinishedBand)
{
    img::detail::SetRenderThreads(2);  // bands of 32 rows
    // Target row 0 alone reads layer row kShift: the thread drawing the
    // first band stops there while the other draws every later band. Tile
    // row 1 was last read in the third band, but the first still reads it
    // (target rows 1 to 31), so it must be copied before the write.
    const std::vector<std::uint8_t> marker(kWidth, kMarker);
    ASSERT_TRUE(frame->WriteRect(geo::CiRect(0, kShift, kWidth, kShift + 1), geo::CiVecN(), marker.data(), 0));
    std::atomic<bool> advanced{false};
    img::detail::SetRenderProgressHook([&](int) { advanced = true; });
    std::int64_t acquired = -1;
    const auto hold = [&] {
        using namespace std::chrono;
        std::uint8_t last[3] = {kUndrawn};
        for (auto until = steady_clock::now() + seconds(5); last[0] == kUndrawn && steady_clock::now() < until;) {
            std::this_thread::sleep_for(milliseconds(1));
            EXPECT_TRUE(target->ReadRect(geo::CiRect(0, kRows - 1, 1, kRows), last, 0, 0));
        }
        // The last band is drawn; give its thread time to finish it.
        for (auto until = steady_clock::now() + milliseconds(100); !advanced && steady_clock::now() < until;)
            std::this_thread::sleep_for(milliseconds(1));
        acquired = WriteTileRow(1);
    };
    ASSERT_TRUE(flow.SetDisplayFilter(flow.FindLayer(layer), boost::make_shared<CHoldAtMarker>(hold)));
    Play();
    EXPECT_EQ(acquired, kWidth / kTile);
    EXPECT_EQ(Shown(1), kOld);
    EXPECT_EQ(Shown(31), kOld);
    EXPECT_EQ(Shown(0), kMarker);
}

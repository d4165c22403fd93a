// CMosaikScope::Paste of 512 × 512 camera tiles into a transparent mosaic
// layer (its mask kept in step, the write-back on), as a scanner does.
// Each iteration times, back to back, a baseline, the bare mem::Copy of the
// same tile at the same position of a twin frame, and the paste:
//   x_memcpy   paste speed as a multiple of memcpy of the tile's bytes into
//              memory already touched (into existing tiles);
//   x_fresh    paste speed as a multiple of malloc + memset + free of the
//              tile's bytes in fresh pages (first touch);
//   copy_share the bare copy's time as a share of the paste's: the rest is
//              the mask fill, the write-back, clipping and layer lookup.
// range(0): 1 gray16, 2 RGB8; range(1): offset of the tile grid from the
// layer's tile grid (256 and 293 straddle four tiles, 293 at odd bytes).
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/mosaic/mosaic_scope.h"

#include "store_bench_util.h"

#include <boost/make_shared.hpp>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace storebench;

namespace {

constexpr int kTile = 512;
// Pastes cycle over kGrid × kGrid positions, so that the layer, the twin
// and the baseline each write more memory than the caches hold.
constexpr int kGrid = 16;
constexpr int kSide = (kGrid + 1) * kTile;

struct tTimes {
    double base = 0, copy = 0, paste = 0;
};

class CPasteBench {
public:
    explicit CPasteBench(std::int64_t kind)
        : m_info(Info(kind)), m_tileBytes(static_cast<std::size_t>(kTile) * kTile * m_info.Size()),
          m_tile(FilledFrame(kTile, kTile, m_info, 1).release()), m_sourceBytes(Ramp(m_tileBytes, 1)),
          m_sink(m_tileBytes * kGrid * kGrid, 1)
    {
    }

    // A new transparent layer for the mosaic and a new twin frame for the
    // bare copy, both of kSide × kSide. With `freshPages` the memory of the
    // old ones leaves the pool, so that new tiles get pages never touched.
    bool NewLayer(bool freshPages)
    {
        m_mosaic.reset();
        m_twin.reset();
        if (freshPages)
            mem::TrimTilePool(0);
        m_mosaic.reset(img::CreateMosaikImage());
        const auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{kSide, kSide, 1});
        const utl::TUnitValue<geo::CdRect> phys(utl::CUnit(utl::eQuantityLength, 1, -6), geo::CdRect(0, 0, kSide, kSide));
        if (!m_mosaic || !m_mosaic->CreateLayer(40.0, m_info, mem::eMemoryDefault, 2, 95, volume, phys,
                                                utl::CPropSet(), img::eStackPicture, false, false))
            return false;
        m_twin = std::make_unique<mem::CDataFrame>(volume, m_info, Tiles(kTile));
        return true;
    }

    geo::CiVecN Position(int i, int offset) const
    {
        const int k = i % (kGrid * kGrid);
        return geo::CiVecN{(k % kGrid) * kTile + offset, (k / kGrid) * kTile + offset, 0};
    }

    // Times the baseline, the bare copy and the paste at position i.
    template <class B>
    bool Time(B&& baseline, int i, int offset, tTimes& t)
    {
        const geo::CiVecN at = Position(i, offset);
        const auto t0 = tClock::now();
        baseline();
        const auto t1 = tClock::now();
        const bool copied = mem::Copy(*m_tile, *m_twin, m_tile->GetBoundary(), at, 0);
        const auto t2 = tClock::now();
        const bool pasted = m_mosaic->Paste(m_tile, at);
        const auto t3 = tClock::now();
        t.base += Seconds(t0, t1);
        t.copy += Seconds(t1, t2);
        t.paste += Seconds(t2, t3);
        m_lastPaste = Seconds(t2, t3);
        return copied && pasted;
    }

    void CopyToSink(int i)
    {
        std::memcpy(m_sink.data() + static_cast<std::size_t>(i % (kGrid * kGrid)) * m_tileBytes, m_sourceBytes.data(),
                    m_tileBytes);
        benchmark::ClobberMemory();
    }

    void FreshBytes() const
    {
        auto* fresh = static_cast<std::uint8_t*>(std::malloc(m_tileBytes));
        std::memset(fresh, 1, m_tileBytes);
        benchmark::DoNotOptimize(fresh);
        benchmark::ClobberMemory();
        std::free(fresh);
    }

    void Finish(benchmark::State& state, tTimes const& t, char const* counter) const
    {
        state.counters[counter] = t.paste > 0 ? t.base / t.paste : 0.0;
        state.counters["copy_share"] = t.paste > 0 ? t.copy / t.paste : 0.0;
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(m_tileBytes));
        state.SetLabel(KindName(state.range(0)));
    }

    double LastPaste() const { return m_lastPaste; }

private:
    img::CPixelInfo m_info;
    std::size_t m_tileBytes;
    boost::shared_ptr<mem::CDataFrame> m_tile;
    std::vector<std::uint8_t> m_sourceBytes;
    std::vector<std::uint8_t> m_sink;
    std::unique_ptr<img::CMosaikScope> m_mosaic;
    std::unique_ptr<mem::CDataFrame> m_twin;
    double m_lastPaste = 0;
};

// Into tiles (and mask tiles) that already hold pixels.
void BM_PasteIntoExistingTiles(benchmark::State& state)
{
    CPasteBench b(state.range(0));
    const int offset = static_cast<int>(state.range(1));
    if (!b.NewLayer(false)) {
        state.SkipWithError("no layer");
        return;
    }
    tTimes warm;
    for (int i = 0; i < kGrid * kGrid; ++i)
        b.Time([] {}, i, offset, warm);
    tTimes t;
    int i = 0;
    for (auto _ : state) {
        if (!b.Time([&] { b.CopyToSink(i); }, i, offset, t))
            state.SkipWithError("paste failed");
        state.SetIterationTime(b.LastPaste());
        ++i;
    }
    b.Finish(state, t, "x_memcpy");
}

// Into tiles never written before, whose pages are fresh: the layer is
// made anew, and the tile pool emptied, whenever every position was pasted.
void BM_PasteIntoFreshPages(benchmark::State& state)
{
    CPasteBench b(state.range(0));
    const int offset = static_cast<int>(state.range(1));
    tTimes t;
    int i = 0;
    for (auto _ : state) {
        if (i % (kGrid * kGrid) == 0 && !b.NewLayer(true))
            state.SkipWithError("no layer");
        if (!b.Time([&] { b.FreshBytes(); }, i, offset, t))
            state.SkipWithError("paste failed");
        state.SetIterationTime(b.LastPaste());
        ++i;
    }
    b.Finish(state, t, "x_fresh");
}

// The fresh-bytes baseline must get fresh pages each time: with a fixed
// threshold glibc maps every tile-sized block anew instead of recycling its
// heap. Set before main, so before any baseline runs.
[[maybe_unused]] const int kMapTileSizedBlocks = mallopt(M_MMAP_THRESHOLD, 64 * 1024);

BENCHMARK(BM_PasteIntoExistingTiles)->ArgsProduct({{1, 2}, {0, 256, 293}})->ArgNames({"kind", "offset"})->UseManualTime();
BENCHMARK(BM_PasteIntoFreshPages)->ArgsProduct({{1, 2}, {0, 256, 293}})->ArgNames({"kind", "offset"})->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

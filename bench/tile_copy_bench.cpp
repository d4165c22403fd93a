// Pasting 512 × 512 tiles with mem::Copy, as a mosaic acquisition does. Each
// iteration times a baseline and the paste back to back; the counters give
// the paste's speed as a multiple of the baseline's:
//   x_memcpy  memcpy of the tile's bytes into memory already touched;
//   x_fresh   malloc + memset + free of the tile's bytes in fresh pages.
#include "store_bench_util.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

using namespace storebench;

namespace {

constexpr int kTile = 512;
// The target holds kGrid × kGrid tile positions, and the baseline cycles
// over as many tile-sized slots: both sides write more memory than a cache
// holds, as pastes into a gigapixel layer do.
constexpr int kGrid = 16;

struct tPaste {
    img::CPixelInfo info;
    std::size_t tileBytes;
    std::unique_ptr<mem::CDataFrame> source;
    std::vector<std::uint8_t> sourceBytes;  // the same tile, contiguous, for the baseline
    std::vector<std::uint8_t> sink;         // baseline target, pages touched

    explicit tPaste(std::int64_t kind)
        : info(Info(kind)), tileBytes(static_cast<std::size_t>(kTile) * kTile * Info(kind).Size()),
          source(FilledFrame(kTile, kTile, info, 1)), sourceBytes(Ramp(tileBytes, 1)),
          sink(tileBytes * kGrid * kGrid, 1)
    {
    }

    std::uint8_t* SinkSlot(int i) { return sink.data() + static_cast<std::size_t>(i % (kGrid * kGrid)) * tileBytes; }

    geo::CiVecN Position(int i, int offset) const
    {
        const int k = i % (kGrid * kGrid);
        return geo::CiVecN{(k % kGrid) * kTile + offset, (k / kGrid) * kTile + offset};
    }

    // The x_memcpy baseline: the tile's bytes into memory already touched.
    void CopyToSink(int i)
    {
        std::memcpy(SinkSlot(i), sourceBytes.data(), tileBytes);
        benchmark::ClobberMemory();
    }

    bool PasteInto(mem::CDataFrame& target, int i, int offset) const
    {
        return mem::Copy(*source, target, source->GetBoundary(), Position(i, offset), 0);
    }
};

std::unique_ptr<mem::CDataFrame> Target(img::CPixelInfo const& info)
{
    return std::make_unique<mem::CDataFrame>(Square((kGrid + 1) * kTile), info, Tiles(kTile));
}

void Finish(benchmark::State& state, tPaste const& p, tBackToBack const& timer, char const* counter)
{
    state.counters[counter] = timer.Ratio();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(p.tileBytes));
    state.SetLabel(KindName(state.range(0)));
}

// Into tiles that already hold pixels; range(1) = 1 shifts the tiles by half
// a tile so that each paste straddles four target tiles.
void BM_PasteIntoExistingTiles(benchmark::State& state)
{
    tPaste p(state.range(0));
    const int offset = state.range(1) ? kTile / 2 : 0;
    auto target = FilledFrame((kGrid + 1) * kTile, kTile, p.info, 2);
    tBackToBack timer;
    int i = 0;
    for (auto _ : state) {
        timer.Time(state, [&] { p.CopyToSink(i); }, [&] { return p.PasteInto(*target, i, offset); }, "copy failed");
        ++i;
    }
    Finish(state, p, timer, "x_memcpy");
}

// Into new tiles of a store whose memory was used before: when the target
// is full it is deleted and made again, its tiles going through the pool.
void BM_PasteIntoPooledTiles(benchmark::State& state)
{
    tPaste p(state.range(0));
    FilledFrame((kGrid + 1) * kTile, kTile, p.info, 3).reset();  // leaves its tiles in the pool
    auto target = Target(p.info);
    tBackToBack timer;
    int i = 0;
    for (auto _ : state) {
        if (i > 0 && i % (kGrid * kGrid) == 0) {
            target.reset();
            target = Target(p.info);
        }
        timer.Time(state, [&] { p.CopyToSink(i); }, [&] { return p.PasteInto(*target, i, 0); }, "copy failed");
        ++i;
    }
    Finish(state, p, timer, "x_memcpy");
}

// Into new tiles whose pages were never touched: the pool is emptied
// whenever the target is made again.
void BM_PasteIntoFreshPages(benchmark::State& state)
{
    tPaste p(state.range(0));
    mem::TrimTilePool(0);
    auto target = Target(p.info);
    tBackToBack timer;
    int i = 0;
    // The x_fresh baseline: the tile's bytes written into fresh pages.
    const auto freshBytes = [&] {
        auto* fresh = static_cast<std::uint8_t*>(std::malloc(p.tileBytes));
        std::memset(fresh, 1, p.tileBytes);
        benchmark::DoNotOptimize(fresh);
        benchmark::ClobberMemory();
        std::free(fresh);
    };
    for (auto _ : state) {
        if (i > 0 && i % (kGrid * kGrid) == 0) {
            target.reset();
            mem::TrimTilePool(0);
            target = Target(p.info);
        }
        timer.Time(state, freshBytes, [&] { return p.PasteInto(*target, i, 0); }, "copy failed");
        ++i;
    }
    Finish(state, p, timer, "x_fresh");
}

BENCHMARK(BM_PasteIntoExistingTiles)->ArgsProduct({{0, 1, 2}, {0, 1}})->ArgNames({"kind", "straddle"})->UseManualTime();
BENCHMARK(BM_PasteIntoPooledTiles)->DenseRange(0, 2)->ArgName("kind")->UseManualTime();
BENCHMARK(BM_PasteIntoFreshPages)->DenseRange(0, 2)->ArgName("kind")->UseManualTime();

}  // namespace

int main(int argc, char** argv)
{
    // The fresh-bytes baseline must get fresh pages each time: with a fixed
    // threshold glibc maps every tile-sized block anew instead of recycling
    // its heap.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

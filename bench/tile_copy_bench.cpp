// Pasting 512 × 512 camera tiles with mem::Copy, as a mosaic acquisition
// does, in every pixel layout, at aligned and odd offsets and into frames of
// several tile sizes. Each iteration times a baseline and the paste back to
// back; the counters give the paste's speed as a multiple of the baseline's:
//   x_memcpy  memcpy of the target's bytes into memory already touched;
//   x_fresh   malloc + memset + free of the target's bytes in fresh pages.
#include "store_bench_util.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace storebench;

namespace {

constexpr int kTile = 512;  // the camera tile, pasted whole
// Pastes cycle over as many positions as hold this many bytes, and the
// baseline over as many tile-sized slots: both sides write more memory than
// a cache holds, as pastes into a gigapixel layer do.
constexpr std::size_t kCycleBytes = std::size_t(48) << 20;

// Offsets of the paste grid from the tile grid: 0 lies on it, 256 straddles
// tile borders on whole cache lines, 37 straddles them at odd bytes, as a
// stage position does (x = 512·k + 37).
const std::vector<std::int64_t> kOffsets = {0, 37, 256};
const std::vector<std::int64_t> kTargetTiles = {512, 256, 1000};

std::vector<std::int64_t> AllLayouts()
{
    std::vector<std::int64_t> kinds;
    for (int k = 0; k < kLayoutCount; ++k)
        kinds.push_back(k);
    return kinds;
}

struct tPaste {
    img::CPixelInfo info;        // the camera tile's
    img::CPixelInfo targetInfo;  // the layer's: the same or with alpha added
    int targetTile;
    int offset;
    std::size_t targetBytes;  // one paste's bytes in the target
    int grid;                 // positions per side
    std::unique_ptr<mem::CDataFrame> source;
    std::vector<std::uint8_t> sourceBytes;  // as many bytes as the target gets, for the baseline
    std::vector<std::uint8_t> sink;         // baseline target, pages touched

    tPaste(img::CPixelInfo const& from, img::CPixelInfo const& to, int tile, int off)
        : info(from), targetInfo(to), targetTile(tile), offset(off),
          targetBytes(static_cast<std::size_t>(kTile) * kTile * to.Size()),
          grid(static_cast<int>(std::ceil(std::sqrt(std::clamp<double>(double(kCycleBytes) / targetBytes, 16, 256))))),
          source(FilledFrame(kTile, kTile, info, 1)), sourceBytes(Ramp(targetBytes, 1)),
          sink(targetBytes * Positions(), 1)
    {
    }

    int Positions() const { return grid * grid; }
    int TargetSide() const { return (grid + 1) * kTile; }

    std::uint8_t* SinkSlot(int i) { return sink.data() + static_cast<std::size_t>(i % Positions()) * targetBytes; }

    geo::CiVecN Position(int i) const
    {
        const int k = i % Positions();
        return geo::CiVecN{(k % grid) * kTile + offset, (k / grid) * kTile + offset};
    }

    // The x_memcpy baseline: the target's bytes into memory already touched.
    void CopyToSink(int i)
    {
        std::memcpy(SinkSlot(i), sourceBytes.data(), targetBytes);
        benchmark::ClobberMemory();
    }

    bool PasteInto(mem::CDataFrame& target, int i) const
    {
        return mem::Copy(*source, target, source->GetBoundary(), Position(i), 0);
    }

    std::unique_ptr<mem::CDataFrame> EmptyTarget() const
    {
        return std::make_unique<mem::CDataFrame>(Square(TargetSide()), targetInfo, Tiles(targetTile));
    }

    std::unique_ptr<mem::CDataFrame> FilledTarget(int seed) const
    {
        return FilledFrame(TargetSide(), targetTile, targetInfo, seed);
    }
};

void Finish(benchmark::State& state, tPaste const& p, tBackToBack const& timer, char const* counter,
            std::string const& layout)
{
    state.counters[counter] = timer.Ratio();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(p.targetBytes));
    state.SetLabel(layout + " +" + std::to_string(p.offset) + " tile " + std::to_string(p.targetTile));
}

// Pastes into `target` back to back with the memcpy baseline.
void RunAgainstMemcpy(benchmark::State& state, tPaste& p, mem::CDataFrame& target)
{
    tBackToBack timer;
    int i = 0;
    for (auto _ : state) {
        timer.Time(state, [&] { p.CopyToSink(i); }, [&] { return p.PasteInto(target, i); }, "copy failed");
        ++i;
    }
    Finish(state, p, timer, "x_memcpy", KindName(state.range(0)));
}

// Into tiles that already hold pixels. range(0) layout, range(1) offset,
// range(2) the target's tile side.
void BM_PasteIntoExistingTiles(benchmark::State& state)
{
    const img::CPixelInfo info = Info(state.range(0));
    tPaste p(info, info, static_cast<int>(state.range(2)), static_cast<int>(state.range(1)));
    auto target = p.FilledTarget(2);
    RunAgainstMemcpy(state, p, *target);
}

// Into a layer whose pixels carry an added alpha channel (RGB → RGBA), as a
// mosaic keeping alpha instead of a mask does; the baseline copies the
// target's bytes. range(0) the camera's layout (no alpha), range(1) offset,
// range(2) tile side.
void BM_PasteAddingAlpha(benchmark::State& state)
{
    const img::CPixelInfo info = Info(state.range(0));
    tPaste p(info, info.AddAlpha(1), static_cast<int>(state.range(2)), static_cast<int>(state.range(1)));
    auto target = p.FilledTarget(2);
    RunAgainstMemcpy(state, p, *target);
    state.SetLabel(std::string(KindName(state.range(0))) + "+alpha +" + std::to_string(p.offset) + " tile " +
                   std::to_string(p.targetTile));
}

// Into new tiles of a store whose memory was used before: when the target
// is full it is deleted and made again, its tiles going through the pool.
// range(0) layout, range(1) offset.
void BM_PasteIntoPooledTiles(benchmark::State& state)
{
    const img::CPixelInfo info = Info(state.range(0));
    tPaste p(info, info, kTile, static_cast<int>(state.range(1)));
    p.FilledTarget(3).reset();  // leaves its tiles in the pool
    auto target = p.EmptyTarget();
    tBackToBack timer;
    int i = 0;
    for (auto _ : state) {
        if (i > 0 && i % p.Positions() == 0) {
            target.reset();
            target = p.EmptyTarget();
        }
        timer.Time(state, [&] { p.CopyToSink(i); }, [&] { return p.PasteInto(*target, i); }, "copy failed");
        ++i;
    }
    Finish(state, p, timer, "x_memcpy", KindName(state.range(0)));
}

// Into new tiles whose pages were never touched: the pool is emptied
// whenever the target is made again. range(0) layout, range(1) offset.
void BM_PasteIntoFreshPages(benchmark::State& state)
{
    const img::CPixelInfo info = Info(state.range(0));
    tPaste p(info, info, kTile, static_cast<int>(state.range(1)));
    mem::TrimTilePool(0);
    auto target = p.EmptyTarget();
    tBackToBack timer;
    int i = 0;
    // The x_fresh baseline: the target's bytes written into fresh pages.
    const auto freshBytes = [&] {
        auto* fresh = static_cast<std::uint8_t*>(std::malloc(p.targetBytes));
        std::memset(fresh, 1, p.targetBytes);
        benchmark::DoNotOptimize(fresh);
        benchmark::ClobberMemory();
        std::free(fresh);
    };
    for (auto _ : state) {
        if (i > 0 && i % p.Positions() == 0) {
            target.reset();
            mem::TrimTilePool(0);
            target = p.EmptyTarget();
        }
        timer.Time(state, freshBytes, [&] { return p.PasteInto(*target, i); }, "copy failed");
        ++i;
    }
    Finish(state, p, timer, "x_fresh", KindName(state.range(0)));
}

BENCHMARK(BM_PasteIntoExistingTiles)
    ->ArgsProduct({AllLayouts(), kOffsets, kTargetTiles})
    ->ArgNames({"kind", "offset", "tile"})
    ->UseManualTime();
// gray8, gray16, RGB8, RGB16 gaining alpha.
BENCHMARK(BM_PasteAddingAlpha)
    ->ArgsProduct({{0, 1, 2, 5}, {0, 37}, {512, 256}})
    ->ArgNames({"kind", "offset", "tile"})
    ->UseManualTime();
BENCHMARK(BM_PasteIntoPooledTiles)->ArgsProduct({AllLayouts(), {0, 37}})->ArgNames({"kind", "offset"})->UseManualTime();
BENCHMARK(BM_PasteIntoFreshPages)->ArgsProduct({AllLayouts(), {0, 37}})->ArgNames({"kind", "offset"})->UseManualTime();

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

// Resident memory of sparse gigapixel frames: pastes N tiles into a
// 65536 × 65536 frame and compares the growth of the process's resident set
// with N × tile bytes. Counter x_bound: resident growth as a multiple of the
// bound 1.1 × N × tile bytes + 1 MiB (at most 1 passes). Run it as its own
// process: what other programs in the process touched would blur the figure.
#include "imgscope/contracts/document/mask.h"

#include "store_bench_util.h"

#include <unistd.h>

#include <fstream>

using namespace storebench;

namespace {

std::size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

constexpr double kMiB = 1024.0 * 1024.0;

void Report(benchmark::State& state, std::size_t grown, double tileBytes, std::int64_t tiles)
{
    const double bound = 1.1 * static_cast<double>(tiles) * tileBytes + kMiB;
    state.counters["resident_MiB"] = static_cast<double>(grown) / kMiB;
    state.counters["bound_MiB"] = bound / kMiB;
    state.counters["x_bound"] = static_cast<double>(grown) / bound;
}

// range(0): pixel kind; range(1): number of pasted tiles.
void BM_PastedTilesResident(benchmark::State& state)
{
    const img::CPixelInfo info = Info(state.range(0));
    const auto count = static_cast<int>(state.range(1));
    auto source = FilledFrame(512, 512, info, 1);
    for (auto _ : state) {
        mem::TrimTilePool(0);  // memory of earlier runs goes back first
        const std::size_t before = ResidentBytes();
        mem::CDataFrame layer(Square(65536), info, Tiles(512));
        for (int i = 0; i < count; ++i) {
            // Spread over the whole layer, each paste filling its own tile
            // (an odd step visits every one of the 128 × 128 tiles once).
            const int k = static_cast<int>((i * 7919LL) % (128 * 128));
            const int x = (k % 128) * 512;
            const int y = (k / 128) * 512;
            if (!mem::Copy(*source, layer, source->GetBoundary(), geo::CiVecN{x, y}, 0))
                state.SkipWithError("copy failed");
        }
        const std::size_t after = ResidentBytes();
        Report(state, after > before ? after - before : 0, static_cast<double>(layer.GetTileRowSize()) * 512, count);
        state.counters["tiles"] = static_cast<double>(layer.GetTileCount());
    }
    state.SetLabel(KindName(state.range(0)));
}

// A 100000 × 100000 mosaic layer with its transparency mask: ten pasted
// tiles and the mask set to 255 over each.
void BM_GigapixelLayerWithMask(benchmark::State& state)
{
    const img::CPixelInfo info = Info(2);
    auto source = FilledFrame(512, 512, info, 2);
    for (auto _ : state) {
        mem::TrimTilePool(0);
        const std::size_t before = ResidentBytes();
        mem::CDataFrame layer(Square(100000), info, Tiles(512));
        img::CMask mask(geo::CiRect(0, 0, 100000, 100000), 0);
        mask.Rectangle(mask.GetBoundary(), 255, 0);
        mask.Rectangle(mask.GetBoundary(), 0, 0);
        for (int i = 0; i < 10; ++i) {
            const int x = 3000 + i * 9000, y = 90000 - i * 8000;
            mem::Copy(*source, layer, source->GetBoundary(), geo::CiVecN{x, y}, 0);
            mask.Rectangle(geo::CiRect(x, y, x + 512, y + 512), 255, 0);
        }
        const std::size_t after = ResidentBytes();
        // Off-grid pastes touch four tiles each, in the layer and the mask:
        // the bound counts the tile memory both really hold.
        const std::int64_t held = layer.GetAllocatedBytes() + mask.GetPixFrame()->GetDataFrame()->GetAllocatedBytes();
        Report(state, after > before ? after - before : 0, 1.0, held);
        state.counters["layer_MiB"] = static_cast<double>(layer.GetAllocatedBytes()) / kMiB;
        state.counters["mask_MiB"] =
            static_cast<double>(mask.GetPixFrame()->GetDataFrame()->GetAllocatedBytes()) / kMiB;
    }
}

BENCHMARK(BM_PastedTilesResident)->ArgsProduct({{0, 2}, {16, 256}})->ArgNames({"kind", "tiles"})->Iterations(1);
BENCHMARK(BM_GigapixelLayerWithMask)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

// A simulated 40x slide scan: 1000 camera tiles of 512 × 512 RGB8 pasted in
// serpentine order with 10 % overlap into a 100000 × 80000 transparent
// mosaic layer (mask kept in step, write-back on). Counters:
//   x_memcpy        wall time of the scan over memcpy of the same bytes into
//                   memory already touched (at most 2.5 passes);
//   x_memcpy_fresh  the same over memcpy into pages never touched before;
//   x_memcpy_rescan a second scan of the same process, into a new layer
//                   whose tiles come from the pool, over memcpy (touched);
//   copy_share      mem::Copy of the same tiles into a twin frame, as a
//                   share of the scan's time;
//   x_resident      growth of the resident set over (bytes of the layer
//                   and mask tiles the pasted area covers + 16 MiB); at
//                   most 1.15 passes.
// Run it as its own process: memory touched before would blur the figure.
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/mosaic/mosaic_scope.h"

#include "store_bench_util.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <utility>

using namespace storebench;

namespace {

constexpr int kTile = 512;
constexpr int kTiles = 1000;
constexpr int kColumns = 40;  // 40 × 25 fields
constexpr int kStep = 461;    // 10 % overlap
constexpr int kWidth = 100000;
constexpr int kHeight = 80000;
constexpr double kMiB = 1024.0 * 1024.0;

std::size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Field i of the serpentine: rows left to right, then right to left,
// starting at an odd place in the middle of the slide.
geo::CiVec2 Field(int i)
{
    const int row = i / kColumns;
    const int column = row % 2 == 0 ? i % kColumns : kColumns - 1 - i % kColumns;
    return geo::CiVec2(31013 + column * kStep, 20011 + row * kStep);
}

// Bytes of the tiles of `frame` that the pasted fields cover.
double CoveredTileBytes(mem::CDataFrame const& frame)
{
    const geo::CiVec2 tile = frame.GetTileSize();
    std::set<std::pair<int, int>> covered;
    for (int i = 0; i < kTiles; ++i) {
        const geo::CiVec2 at = Field(i);
        for (int ty = at.y / tile.y; ty <= (at.y + kTile - 1) / tile.y; ++ty)
            for (int tx = at.x / tile.x; tx <= (at.x + kTile - 1) / tile.x; ++tx)
                covered.insert({tx, ty});
    }
    return static_cast<double>(covered.size()) * static_cast<double>(frame.GetTileRowSize()) * tile.y;
}

void BM_Scan40x(benchmark::State& state)
{
    const img::CPixelInfo info = Info(2);
    const boost::shared_ptr<mem::CDataFrame> tile(FilledFrame(kTile, kTile, info, 1).release());
    const std::size_t tileBytes = static_cast<std::size_t>(kTile) * kTile * info.Size();
    const std::vector<std::uint8_t> tileCopy = Ramp(tileBytes, 1);
    const auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{kWidth, kHeight, 1});
    const utl::TUnitValue<geo::CdRect> phys(utl::CUnit(utl::eQuantityLength, 1, -6),
                                            geo::CdRect(0, 0, kWidth * 0.25, kHeight * 0.25));
    // One scan into a new layer; its wall time, or a negative number when
    // a step failed.
    const auto scanInto = [&](img::CMosaikScope& mosaic) {
        const auto t0 = tClock::now();
        bool ok = mosaic.CreateLayer(40.0, info, mem::eMemoryDefault, 2, 95, volume, phys, utl::CPropSet(),
                                     img::eStackPicture, false, false);
        for (int i = 0; ok && i < kTiles; ++i) {
            const geo::CiVec2 at = Field(i);
            ok = mosaic.Paste(tile, geo::CiVecN{at.x, at.y, 0});
        }
        return ok ? Seconds(t0, tClock::now()) : -1.0;
    };
    for (auto _ : state) {
        mem::TrimTilePool(0);
        const std::size_t before = ResidentBytes();
        std::unique_ptr<img::CMosaikScope> mosaic(img::CreateMosaikImage());
        const double scan = scanInto(*mosaic);
        const std::size_t grown = ResidentBytes() - std::min(before, ResidentBytes());
        if (scan < 0) {
            state.SkipWithError("scan failed");
            break;
        }
        const auto layer = mosaic->GetActiveDataFrame();
        const img::CDisplProcessFlow flow(mosaic->GetCollection(), false);
        const auto mask = flow.GetTransparencyMask(flow.FindLayer(mosaic->GetActiveLayerID()));
        const double bound = CoveredTileBytes(*layer) + CoveredTileBytes(*mask->GetPixFrame()->GetDataFrame()) + 16 * kMiB;

        // The bare copies of the same tiles into a twin layer, fresh pages too.
        double copy = 0;
        {
            mem::CDataFrame twin(volume, info, Tiles(kTile));
            const auto t1 = tClock::now();
            for (int i = 0; i < kTiles; ++i) {
                const geo::CiVec2 at = Field(i);
                mem::Copy(*tile, twin, tile->GetBoundary(), geo::CiVecN{at.x, at.y, 0}, 0);
            }
            copy = Seconds(t1, tClock::now());
        }

        // memcpy of the same bytes: into 64 tile-sized slots touched before,
        // and into a mapping never touched.
        std::vector<std::uint8_t> sink(tileBytes * 64, 1);
        const auto t2 = tClock::now();
        for (int i = 0; i < kTiles; ++i)
            std::memcpy(sink.data() + (i % 64) * tileBytes, tileCopy.data(), tileBytes);
        benchmark::ClobberMemory();
        const double touched = Seconds(t2, tClock::now());
        void* fresh = mmap(nullptr, tileBytes * kTiles, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        const auto t3 = tClock::now();
        for (int i = 0; i < kTiles; ++i)
            std::memcpy(static_cast<std::uint8_t*>(fresh) + i * tileBytes, tileCopy.data(), tileBytes);
        benchmark::ClobberMemory();
        const double untouched = Seconds(t3, tClock::now());
        munmap(fresh, tileBytes * kTiles);

        // The next scan of a running scanner: the old layer deleted, its
        // tiles (and the twin's) waiting in the pool.
        mosaic->DelCurrentLayers();
        const double rescan = scanInto(*mosaic);

        state.SetIterationTime(scan);
        state.counters["x_memcpy"] = scan / touched;
        state.counters["x_memcpy_fresh"] = scan / untouched;
        state.counters["x_memcpy_rescan"] = rescan / touched;
        state.counters["copy_share"] = copy / scan;
        state.counters["x_resident"] = static_cast<double>(grown) / bound;
        state.counters["resident_MiB"] = static_cast<double>(grown) / kMiB;
        state.counters["bound_MiB"] = bound / kMiB;
    }
}

BENCHMARK(BM_Scan40x)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

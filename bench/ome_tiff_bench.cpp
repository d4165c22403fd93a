// Saving and opening documents as OME-TIFF, against plain file I/O of the
// same bytes in the same iteration. Counters:
//   x_write   SaveDocument (default options: uncompressed, with pyramid)
//             of a 100000 × 80000 RGB8 mosaic layer holding 1000 pasted
//             512 × 512 tiles and its mask, as a multiple of the rate of
//             write() of the layer's tile bytes into a file;
//   x_read    OpenDocument of that file until every tile is in memory, as a
//             multiple of pread() of the same bytes into memory touched
//             before;
//   seconds, file_MiB  saving the same layer with 10 pasted tiles.
// Files go to $TMPDIR (default /tmp); each run writes about 2 GiB.
#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/io/ome_tiff.h"
#include "imgscope/mosaic/mosaic_scope.h"

#include "store_bench_util.h"

#include <boost/make_shared.hpp>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

using namespace storebench;

namespace {

constexpr int kTile = 512;
constexpr int kWidth = 100000;
constexpr int kHeight = 80000;
constexpr double kMiB = 1024.0 * 1024.0;

std::string Scratch(char const* name)
{
    char const* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

// A camera field: a smooth specimen with blobs, and sensor noise.
boost::shared_ptr<mem::CDataFrame> CameraTile(img::CPixelInfo const& info, unsigned seed)
{
    auto tile = boost::make_shared<mem::CDataFrame>(geo::CiVolumeN(geo::CiRect(0, 0, kTile, kTile)), info);
    std::vector<std::uint8_t> bytes(std::size_t(kTile) * kTile * 3);
    std::uint32_t x = seed * 2654435761u + 3;
    for (int y = 0; y < kTile; ++y) {
        for (int c = 0; c < kTile; ++c) {
            const double v = 120 + 60 * std::sin((c + seed * 37) * 0.011) * std::cos((y + seed * 11) * 0.017);
            for (int k = 0; k < 3; ++k) {
                x = x * 1664525u + 1013904223u;
                const int noise = int(x >> 29) - 4;
                bytes[(std::size_t(y) * kTile + std::size_t(c)) * 3 + std::size_t(k)] =
                    std::uint8_t(std::max(0, std::min(255, int(v) + 20 * k + noise)));
            }
        }
    }
    tile->WriteRect(geo::CiRect(0, 0, kTile, kTile), {}, bytes.data(), 0);
    return tile;
}

// A mosaic document with `tiles` pasted fields on the tile grid, in rows
// of 40 from an inner corner of the slide.
struct tScan {
    img::CImg doc;
    std::unique_ptr<img::CMosaikScope> mosaic;
    boost::shared_ptr<mem::CDataFrame> layer;
    std::vector<geo::CiVec2> fields;
};

std::unique_ptr<tScan> Scan(int tiles, int colourSpace, int spread)
{
    auto scan = std::make_unique<tScan>();
    scan->mosaic.reset(img::CreateMosaikImage(&scan->doc));
    const img::CPixelInfo info(utl::eUInt8, 3, colourSpace);
    const utl::TUnitValue<geo::CdRect> phys(utl::CUnit(utl::eQuantityLength, 1, -6),
                                            geo::CdRect(0, 0, kWidth * 0.25, kHeight * 0.25));
    if (!scan->mosaic->CreateLayer(40.0, info, mem::eMemoryDefault, 2, 95,
                                   geo::CiVolumeN::FromPositionSize({0, 0, 0}, {kWidth, kHeight, 1}), phys,
                                   utl::CPropSet(), img::eStackPicture, false, false))
        return nullptr;
    std::vector<boost::shared_ptr<mem::CDataFrame>> cameras;
    for (unsigned i = 0; i < 8; ++i)
        cameras.push_back(CameraTile(info, i));
    for (int i = 0; i < tiles; ++i) {
        const geo::CiVec2 at(kTile * (40 + (i % 40) * spread), kTile * (20 + (i / 40) * spread));
        if (!scan->mosaic->Paste(cameras[std::size_t(i) % cameras.size()], geo::CiVecN{at.x, at.y, 0}))
            return nullptr;
        scan->fields.push_back(at);
    }
    scan->layer = scan->mosaic->GetActiveDataFrame();
    return scan;
}

constexpr std::size_t kTileBytes = std::size_t(kTile) * kTile * 3;

// Times the baseline and the subject as tBackToBack does, each after
// sync(): the kernel throttles a writer by everyone's dirty pages, so
// neither may pay for what the other left to write back.
struct tSettled {
    double base = 0;
    double subject = 0;
    double cpu = 0, sys = 0;

    template <class B, class S>
    void Time(benchmark::State& state, B&& baseline, S&& run, char const* error)
    {
        ::sync();
        const auto t0 = tClock::now();
        baseline();
        const auto t1 = tClock::now();
        ::sync();
        struct rusage before {}, after {};
        getrusage(RUSAGE_THREAD, &before);
        const auto t2 = tClock::now();
        const bool ok = run();
        const auto t3 = tClock::now();
        getrusage(RUSAGE_THREAD, &after);
        cpu += double(after.ru_utime.tv_sec - before.ru_utime.tv_sec) + 1e-6 * double(after.ru_utime.tv_usec - before.ru_utime.tv_usec);
        sys += double(after.ru_stime.tv_sec - before.ru_stime.tv_sec) + 1e-6 * double(after.ru_stime.tv_usec - before.ru_stime.tv_usec);
        if (!ok)
            state.SkipWithError(error);
        base += Seconds(t0, t1);
        subject += Seconds(t2, t3);
        state.SetIterationTime(Seconds(t2, t3));
    }
    double Ratio() const { return subject > 0 ? base / subject : 0.0; }
};

void BM_Save1000Tiles(benchmark::State& state)
{
    const int colourSpace = state.range(0) ? img::eColorSpaceBGR : img::eColorSpaceRGB;
    img::tSaveOptions options;
    options.pyramid = state.range(1) != 0;
    const auto scan = Scan(1000, colourSpace, 1);
    if (!scan) {
        state.SkipWithError("scan failed");
        return;
    }
    const std::string target = Scratch("imgscope_bench_save.ome.tif");
    const std::string plain = Scratch("imgscope_bench_write.bin");
    tSettled t;
    for (auto _ : state) {
        ::unlink(target.c_str());
        ::unlink(plain.c_str());
        t.Time(
            state,
            [&] {
                // The layer's own tile memory, tile by tile.
                const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                for (geo::CiVec2 const& at : scan->fields) {
                    std::uint8_t const* row = nullptr;
                    scan->layer->GetRowSpan(at, {0}, row);
                    if (::write(fd, row, kTileBytes) != ssize_t(kTileBytes))
                        break;
                }
                ::close(fd);
            },
            [&] { return img::SaveDocument(scan->doc, target, options) == img::eFileOk; }, "save failed");
    }
    struct stat st {};
    ::stat(target.c_str(), &st);
    state.counters["x_write"] = t.Ratio();
    state.counters["user_s"] = t.cpu / 3;
    state.counters["sys_s"] = t.sys / 3;
    state.counters["file_MiB"] = double(st.st_size) / kMiB;
    state.SetLabel(std::string(colourSpace == img::eColorSpaceBGR ? "bgr" : "rgb") +
                   (options.pyramid ? " pyramid" : " no pyramid"));
    ::unlink(target.c_str());
    ::unlink(plain.c_str());
}

void BM_Open1000Tiles(benchmark::State& state)
{
    const int colourSpace = state.range(0) ? img::eColorSpaceBGR : img::eColorSpaceRGB;
    const std::string path = Scratch("imgscope_bench_open.ome.tif");
    {
        const auto scan = Scan(1000, colourSpace, 1);
        if (!scan || img::SaveDocument(scan->doc, path) != img::eFileOk) {
            state.SkipWithError("save failed");
            return;
        }
    }
    std::vector<std::uint8_t> sink(kTileBytes * 1000, 1);
    tBackToBack t;
    for (auto _ : state) {
        img::CImg opened;
        t.Time(
            state,
            [&] {
                // The same amount, from the start of the file, in tile-sized reads.
                const int fd = ::open(path.c_str(), O_RDONLY);
                for (std::size_t i = 0; i < 1000; ++i)
                    if (::pread(fd, sink.data() + i * kTileBytes, kTileBytes, off_t(i * kTileBytes)) <= 0)
                        break;
                ::close(fd);
                benchmark::ClobberMemory();
            },
            [&] { return img::OpenDocument(path, opened) == img::eFileOk; }, "open failed");
    }
    state.counters["x_read"] = t.Ratio();
    state.SetLabel(colourSpace == img::eColorSpaceBGR ? "bgr" : "rgb");
    ::unlink(path.c_str());
}

void BM_SaveSparse10Tiles(benchmark::State& state)
{
    const auto scan = Scan(10, img::eColorSpaceRGB, 3);
    if (!scan) {
        state.SkipWithError("scan failed");
        return;
    }
    const std::string target = Scratch("imgscope_bench_sparse.ome.tif");
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = tClock::now();
        if (img::SaveDocument(scan->doc, target) != img::eFileOk) {
            state.SkipWithError("save failed");
            break;
        }
        const double s = Seconds(t0, tClock::now());
        seconds += s;
        state.SetIterationTime(s);
    }
    struct stat st {};
    ::stat(target.c_str(), &st);
    state.counters["seconds"] = seconds / double(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["file_MiB"] = double(st.st_size) / kMiB;
    state.counters["pasted_MiB"] = 10.0 * kTileBytes / kMiB;
    ::unlink(target.c_str());
}

}  // namespace

BENCHMARK(BM_Save1000Tiles)->Args({0, 1})->Args({1, 1})->Args({0, 0})->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Open1000Tiles)->Arg(0)->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSparse10Tiles)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

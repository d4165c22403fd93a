// Reading 1024 × 1024 windows that cross tile borders, as the sample search
// and the renderer do. Counter x_memcpy: the read's speed as a multiple of
// one memcpy of the same number of bytes out of a frame-sized picture, timed
// back to back in each iteration.
#include "store_bench_util.h"

#include <cstring>

using namespace storebench;

namespace {

constexpr int kSide = 4096;
constexpr int kWindow = 1024;

// A frame of two planes whose second plane holds `FilledFrame`'s pixels, as
// pictures and stacks keep theirs (3-D frames).
std::unique_ptr<mem::CDataFrame> FilledPlane(img::CPixelInfo const& info)
{
    const auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{kSide, kSide, 2});
    auto frame = std::make_unique<mem::CDataFrame>(volume, info, Tiles(512));
    const auto flat = FilledFrame(kSide, 512, info, 4);
    const auto box = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0}, geo::CiVecN{kSide, kSide});
    mem::Copy(*flat, *frame, box, geo::CiVecN{0, 0, 1}, 0);
    return frame;
}

// range(0): pixel kind; range(1): 0 written tiles, 1 unwritten (fill) tiles,
// 2 row by row through GetRowSpan as a pixel loop reads, 3 the same through
// a read cache over the window of the second plane of a 3-D frame.
void BM_ReadWindow(benchmark::State& state)
{
    const img::CPixelInfo info = Info(state.range(0));
    const int px = info.Size();
    const std::int64_t mode = state.range(1);
    auto frame = mode == 1   ? std::make_unique<mem::CDataFrame>(Square(kSide), info, Tiles(512))
                 : mode == 3 ? FilledPlane(info)
                             : FilledFrame(kSide, 512, info, 4);
    const geo::CiVecN plane = mode == 3 ? geo::CiVecN{1} : geo::CiVecN();
    const std::size_t bytes = static_cast<std::size_t>(kWindow) * kWindow * px;
    // The baseline reads from a picture as large as the frame, at the window's
    // offset, so that neither side reads from the cache.
    std::vector<std::uint8_t> from = Ramp(static_cast<std::size_t>(kSide) * kSide * px, 5);
    std::vector<std::uint8_t> out(bytes, 1);
    std::vector<std::uint8_t> sink(bytes, 1);
    tBackToBack timer;
    int i = 0;
    for (auto _ : state) {
        // Windows start off the 512 grid, so each one touches 9 to 12 tiles.
        const int x = 100 + (i * 389) % (kSide - kWindow - 200);
        const int y = 77 + (i * 211) % (kSide - kWindow - 200);
        const geo::CiRect window(x, y, x + kWindow, y + kWindow);
        const auto copy = [&] {
            std::memcpy(sink.data(), from.data() + (static_cast<std::size_t>(y) * kSide + x) * px, bytes);
            benchmark::ClobberMemory();
        };
        const auto read = [&] {
            bool ok = true;
            if (mode >= 2) {
                // Made per window, as a caller reading one region does.
                boost::shared_ptr<mem::CReadCache> cache;
                if (mode == 3) {
                    cache = frame->CreateReadCache(geo::CiVolumeN::FromPositionSize(
                                                       geo::CiVecN{x, y, 1}, geo::CiVecN{kWindow, kWindow, 1}),
                                                   0);
                    if (!cache)
                        return false;
                }
                std::uint8_t* dst = out.data();
                for (int row = window.top; row < window.bottom; ++row) {
                    for (int cx = window.left; cx < window.right;) {
                        std::uint8_t const* p = nullptr;
                        const int got = cache ? cache->GetRowSpan({cx, row}, plane, p)
                                              : frame->GetRowSpan({cx, row}, plane, p);
                        if (got <= 0)
                            return false;
                        const int n = std::min(got, window.right - cx);
                        std::memcpy(dst, p, static_cast<std::size_t>(n) * px);
                        dst += static_cast<std::ptrdiff_t>(n) * px;
                        cx += n;
                    }
                }
            } else {
                ok = frame->ReadRect(window, {}, out.data(), 0);
            }
            benchmark::ClobberMemory();
            return ok;
        };
        timer.Time(state, copy, read, "read failed");
        ++i;
    }
    state.counters["x_memcpy"] = timer.Ratio();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
    static char const* const modes[] = {"written", "unwritten", "row spans", "row spans, cache, 3-D"};
    state.SetLabel(std::string(KindName(state.range(0))) + ", " + modes[mode]);
}

BENCHMARK(BM_ReadWindow)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}})->ArgNames({"kind", "mode"})->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

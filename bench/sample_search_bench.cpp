// The sample search over large masks, each run timed back to back with one
// sequential pass that counts the non-zero bytes of the same pixels held in
// one contiguous buffer (the vectorised count, at memory speed). Counters:
//   x_count  the search's time over the count's, for masks where no
//            window qualifies, so every window is decided: FindSamplePos
//            on 10 % sample and FindNoSamplePos on 90 % (16384 × 16384,
//            256 × 256 windows; one pass, or five with centreFirst);
//   x_rate   IsSampleAtPos over a 4096 × 4096 region of sample, with a
//            fraction of 1 so that every pixel is needed: its pixel rate
//            over the count's.
// Args: side of the mask, window side, tile side, centre first (0/1);
// odd windows and offsets, and small tiles, show the slow paths.
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/platform/vector_ops.h"
#include "imgscope/mosaic/sample_search.h"
#include "imgscope/typed/picture.h"

#include "store_bench_util.h"

#include <memory>

using namespace storebench;

namespace {

// A mask of random bytes, `percent` of them sample, and the same bytes in
// one contiguous buffer.
struct tMask {
    img::CImg doc;
    std::unique_ptr<img::CPicture> picture;
    std::vector<std::uint8_t> bytes;
};

std::unique_ptr<tMask> MakeMask(int side, int tile, int percent)
{
    auto mask = std::make_unique<tMask>();
    utl::CPropSet props;
    props.SetValue(mem::ePropTileSize, geo::CiVec3(tile, tile, 1));
    mask->picture.reset(img::CreatePicture(geo::CiRect(0, 0, side, side),
                                           img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray), mem::eMemoryDefault,
                                           mem::eAlign32, props, utl::CPropSet(), utl::CPropSet(), mask->doc));
    if (!mask->picture)
        return nullptr;
    mask->bytes.resize(std::size_t(side) * std::size_t(side));
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
    for (std::uint8_t& b : mask->bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        b = int(state % 100) < percent ? std::uint8_t(1 + (state >> 32) % 255) : 0;
    }
    const auto frame = mask->picture->GetPixFrame();
    for (int y = 0; y < side; y += 256) {
        const int h = std::min(256, side - y);
        frame->WriteRect(geo::CiRect(0, y, side, y + h), mask->bytes.data() + std::size_t(y) * side, side, 0);
    }
    return mask;
}

std::int64_t PlainCount(std::vector<std::uint8_t> const& bytes, std::size_t offset, std::size_t n)
{
    const std::int64_t count = vopCountNonZero8u(bytes.data() + offset, std::int64_t(n));
    benchmark::DoNotOptimize(count);
    return count;
}

void Search(benchmark::State& state, bool wantSample)
{
    const int side = int(state.range(0)), window = int(state.range(1)), tile = int(state.range(2));
    const bool centreFirst = state.range(3) != 0;
    const auto mask = MakeMask(side, tile, wantSample ? 10 : 90);
    if (!mask) {
        state.SkipWithError("no mask");
        return;
    }
    const auto find = wantSample ? img::FindSamplePos : img::FindNoSamplePos;
    const utl::TUnitValue<geo::CdVec2> size(utl::c_pixel, geo::CdVec2(window, window));
    tBackToBack t;
    for (auto _ : state) {
        utl::TUnitValue<geo::CdVec2> position;
        t.Time(state, [&] { PlainCount(mask->bytes, 0, mask->bytes.size()); },
               [&] { return !find(mask->picture.get(), position, size, centreFirst); }, "a window qualified");
    }
    state.counters["x_count"] = t.base > 0 ? t.subject / t.base : 0.0;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(mask->bytes.size()));
}

void BM_FindSamplePosNoneQualifies(benchmark::State& state)
{
    Search(state, true);
}

void BM_FindNoSamplePosNoneQualifies(benchmark::State& state)
{
    Search(state, false);
}

// IsSampleAtPos over a `region` × `region` square from (offset, offset) of
// an all-sample mask: every pixel must be counted.
void BM_IsSampleAtPosEveryPixel(benchmark::State& state)
{
    const int region = int(state.range(0)), offset = int(state.range(1)), tile = int(state.range(2));
    const int side = region + 2 * offset;
    const auto mask = MakeMask(side, tile, 100);
    if (!mask) {
        state.SkipWithError("no mask");
        return;
    }
    // The baseline counts the same rows of the contiguous copy.
    const utl::TUnitValue<geo::CdRect> area(utl::c_pixel, geo::CdRect(offset, offset, offset + region, offset + region));
    tBackToBack t;
    for (auto _ : state) {
        t.Time(state,
               [&] {
                   for (int y = offset; y < offset + region; ++y)
                       PlainCount(mask->bytes, std::size_t(y) * side + offset, std::size_t(region));
               },
               [&] { return img::IsSampleAtPos(mask->picture.get(), area, 1.0); }, "not sample");
    }
    state.counters["x_rate"] = t.Ratio();
    state.SetBytesProcessed(std::int64_t(state.iterations()) * region * region);
}

BENCHMARK(BM_FindSamplePosNoneQualifies)
    ->ArgNames({"side", "window", "tile", "centre"})
    ->Args({16384, 256, 512, 0})
    ->Args({16384, 256, 512, 1})
    ->Args({16384, 255, 512, 1})
    ->Args({16384, 256, 128, 1})
    ->Args({16384, 16, 512, 0})
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_FindNoSamplePosNoneQualifies)
    ->ArgNames({"side", "window", "tile", "centre"})
    ->Args({16384, 256, 512, 0})
    ->Args({16384, 256, 512, 1})
    ->Args({16384, 255, 512, 1})
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_IsSampleAtPosEveryPixel)
    ->ArgNames({"region", "offset", "tile"})
    ->Args({4096, 0, 512})
    ->Args({4096, 13, 512})
    ->Args({4096, 13, 128})
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

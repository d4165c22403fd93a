// Composition of three 4096 × 4096 layers into an RGB8 frame, against memcpy
// of the output bytes measured in the same run; the same scene rendered
// through a layer scope against the direct call; and a viewer's zoomed-out
// view of a sparse gigapixel mosaic layer against the full-resolution rate.
#include "compose_scene.h"

#include <imgscope/imgscope.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace composebench;

double g_memcpyBytesPerSecond = 0.0;
double g_composeBytesPerSecond = 0.0;
std::vector<std::pair<std::string, double>> g_viewPixelsPerSecond;
double g_scopeToDirect = 0.0;

tScene& Scene()
{
    static tScene scene;
    return scene;
}

// The baseline: memcpy of as many bytes as the composed frame holds.
void BM_MemcpyOutputBytes(benchmark::State& state)
{
    std::vector<std::uint8_t> from(std::size_t(kOutputBytes), 1), to(std::size_t(kOutputBytes), 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kOutputBytes);
    state.counters["bytes_per_second"] =
        benchmark::Counter(double(kOutputBytes), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ComposeThreeLayers(benchmark::State& state)
{
    tScene& scene = Scene();
    if (!scene.target) {
        state.SkipWithError("could not make the scene");
        return;
    }
    for (auto _ : state) {
        const bool ok = scene.flow.PlayToPixFrame(scene.target, kRect, geo::CdRect(kRect), 0, scene.layers,
                                                  img::tRenderHints());
        if (!ok) {
            state.SkipWithError("PlayToPixFrame failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kOutputBytes);
    state.counters["megapixels_per_second"] =
        benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes_per_second"] =
        benchmark::Counter(double(kOutputBytes), benchmark::Counter::kIsIterationInvariantRate);
}

// The viewer's zoomed-out view: a mosaic layer whose mask is opaque only
// where 1000 tiles of 512 × 512 were pasted (a 40 × 25 grid with overlap,
// at odd offsets), shown whole in a 2048 × 1536 frame. The headline layer
// is 100000 × 80000 RGB8 in 512-pixel store tiles; the variants hold the
// same pastes in four times the extent, or in 256-pixel store tiles, and
// must cost about the same: the cost follows the output, not the extent.
struct tMosaicView {
    static constexpr int kPaste = 512;
    static const int kViewWidth = 2048;
    static const int kViewHeight = 1536;

    int width, height, storeTile;
    img::CImg doc;
    img::CDisplProcessFlow flow{doc, false};
    std::vector<int> layers;
    boost::shared_ptr<img::CPixFrame> target;

    tMosaicView(int w, int h, int tile) : width(w), height(h), storeTile(tile)
    {
        const img::CPixelInfo rgb(utl::eUInt8, 3, img::eColorSpaceRGB);
        utl::CPropSet tiles;
        tiles.SetValue(mem::ePropTileSize, geo::CiVec3(tile, tile, 1));
        auto data = mem::CDataFrame::Create(geo::CiVolumeN(geo::CiRect(0, 0, w, h)), rgb, tiles);
        auto paste = mem::CDataFrame::Create(geo::CiVolumeN(geo::CiRect(0, 0, kPaste, kPaste)), rgb, utl::CPropSet());
        if (!data || !paste)
            return;
        std::vector<std::uint8_t> row(std::size_t(kPaste) * 3);
        for (int y = 0; y < kPaste; ++y) {
            for (std::size_t i = 0; i < row.size(); ++i)
                row[i] = std::uint8_t(i * 7 + std::size_t(y) * 3);
            paste->WriteRect(geo::CiRect(0, y, kPaste, y + 1), geo::CiVecN(), row.data(), 0);
        }
        const int layer = doc.Add(img::CStack(data));
        const int plane = flow.InsertLayer(-1, -3, layer, utl::CIndexN(), -1);
        auto mask = flow.CreateTransparencyMask(plane, 0);
        if (!mask)
            return;
        // The sample sits where a slide scan finds it: in one region of
        // the slide, here a third of the way in.
        const int x0 = w * 3 / 10 + 11, y0 = h / 4 + 17;
        for (int k = 0; k < 1000; ++k) {
            const int x = x0 + (k % 40) * 486;
            const int y = y0 + (k / 40) * 486;
            if (!mem::Copy(*paste, *data, paste->GetBoundary(), geo::CiVecN{x, y}, 0))
                return;
            mask->Rectangle(geo::CiRect(x, y, x + kPaste, y + kPaste), 255, 0);
        }
        layers = {layer};
        target = img::CPixFrame::Create(geo::CiRect(0, 0, kViewWidth, kViewHeight),
                                        img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR), mem::eMemoryDefault,
                                        mem::eAlignNone, utl::CPropSet());
    }
};

// One view at a time: each holds about a gigabyte.
tMosaicView& MosaicView(int width, int height, int tile)
{
    static std::unique_ptr<tMosaicView> view;
    if (!view || view->width != width || view->height != height || view->storeTile != tile) {
        view.reset();
        view = std::make_unique<tMosaicView>(width, height, tile);
    }
    return *view;
}

void BM_ZoomedOutMosaicView(benchmark::State& state)
{
    tMosaicView& view = MosaicView(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    if (!view.target) {
        state.SkipWithError("could not make the mosaic layer");
        return;
    }
    const geo::CiRect pixels(0, 0, tMosaicView::kViewWidth, tMosaicView::kViewHeight);
    const geo::CdRect canvas(0, 0, view.width, view.height);
    for (auto _ : state) {
        if (!view.flow.PlayToPixFrame(view.target, pixels, canvas, 0, view.layers, img::tRenderHints())) {
            state.SkipWithError("PlayToPixFrame failed");
            return;
        }
    }
    const double pixelCount = double(tMosaicView::kViewWidth) * tMosaicView::kViewHeight;
    state.counters["megapixels_per_second"] =
        benchmark::Counter(pixelCount / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["pixels_per_second"] = benchmark::Counter(pixelCount, benchmark::Counter::kIsIterationInvariantRate);
}

// RenderComplete of a layer scope and the direct PlayToPixFrame of the same
// list, timed alternately within each iteration so that both meet the same
// load; the counter is the scope's time over the direct call's.
void BM_LayerScopeRenderComplete(benchmark::State& state)
{
    tScene& scene = Scene();
    std::unique_ptr<img::CLayerScope> scope(img::CreateLayerScope(scene.doc));
    std::vector<int> listed;
    if (!scene.target || !scope || !scope->GetLayers(listed, ~(0x002 | 0x040)) || listed != scene.layers) {
        state.SkipWithError("the layer scope does not list the scene");
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::duration direct{}, viaScope{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const bool a = scene.flow.PlayToPixFrame(scene.target, kRect, geo::CdRect(kRect), 0, scene.layers,
                                                 img::tRenderHints());
        const auto t1 = Clock::now();
        const bool b = scope->RenderComplete(scene.target, kRect, geo::CdRect(kRect), false, img::eZoomNearest);
        const auto t2 = Clock::now();
        if (!a || !b) {
            state.SkipWithError("rendering failed");
            return;
        }
        direct += t1 - t0;
        viaScope += t2 - t1;
    }
    g_scopeToDirect = double(viaScope.count()) / double(std::max<Clock::rep>(1, direct.count()));
    state.counters["scope_over_direct"] = g_scopeToDirect;
}

// Keeps the rates of the two benchmarks for the closing ratio.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(std::vector<Run> const& runs) override
    {
        for (Run const& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end() || run.error_occurred)
                continue;
            if (run.benchmark_name().find("Memcpy") != std::string::npos)
                g_memcpyBytesPerSecond = it->second.value;
            else if (run.benchmark_name().find("Compose") != std::string::npos)
                g_composeBytesPerSecond = it->second.value;
        }
        for (Run const& run : runs) {
            auto it = run.counters.find("pixels_per_second");
            if (it != run.counters.end() && !run.error_occurred)
                g_viewPixelsPerSecond.emplace_back(run.benchmark_name(), it->second.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(BM_MemcpyOutputBytes)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_ComposeThreeLayers)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZoomedOutMosaicView)
    ->ArgNames({"width", "height", "tile"})
    ->Args({100000, 80000, 512})
    ->Args({200000, 160000, 512})
    ->Args({100000, 80000, 256})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_LayerScopeRenderComplete)->Unit(benchmark::kMillisecond)->MinTime(4.0);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Scene();  // build the layers before any timing
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (g_memcpyBytesPerSecond > 0.0 && g_composeBytesPerSecond > 0.0) {
        const double megapixels = g_composeBytesPerSecond / 3.0 / 1e6;
        std::printf("\ncompose: %.1f megapixels/s = 1/%.1f of memcpy's rate on the output bytes (%.2f GB/s)\n",
                    megapixels, g_memcpyBytesPerSecond / g_composeBytesPerSecond, g_memcpyBytesPerSecond / 1e9);
        for (auto const& [name, rate] : g_viewPixelsPerSecond)
            std::printf("zoomed-out view %s: %.1f megapixels/s = %.2f x the full-resolution render\n",
                        name.c_str(), rate / 1e6, rate / (g_composeBytesPerSecond / 3.0));
    }
    if (g_scopeToDirect > 0.0)
        std::printf("CLayerScope::RenderComplete: %.3f x the time of PlayToPixFrame of the same list\n", g_scopeToDirect);
    return 0;
}

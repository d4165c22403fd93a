// The library used from several threads. Every figure is a ratio of two
// timings taken alternately within each iteration, so both meet the same
// machine:
//   x_threads          full render of the compositor scene on N threads
//                      over the same render on one;
//   paste_with_viewer  pastes per second on the acquisition thread while
//                      another thread renders without pause, over the rate
//                      with no renderer;
//   viewer_with_paste  the renderer's frames per second while the paster
//                      runs, over its rate with no paster;
//   paste_with_spinner pastes per second while another thread only spins
//                      on arithmetic, over the rate alone: what sharing the
//                      cores costs by itself. On a busy machine it falls
//                      well below 1, and paste_with_viewer with it.
//   copies_per_paste   tiles taken from the pool while both run, per paste:
//                      copies of tiles a render was reading.
// The acquisition pastes 512 × 512 camera tiles at an odd offset into a
// mosaic layer (range(1): 1 gray16, 2 RGB8) that is shown whole, zoomed
// out, through a layer scope; range(0) is the renderer's thread count.
// range(2) is the scene: 0 a 12 × 12 field layer pasted over again and
// again, which the paster sweeps about as often as the viewer draws it; 1
// a slide scan, 40 × 25 fields each pasted once per pass, which the viewer
// draws several times while the paster crosses it once.
#include "compose_scene.h"
#include "imgscope/contracts/document/render/render_pool_internal.h"
#include "imgscope/contracts/foundation/tile_pool_internal.h"
#include "store_bench_util.h"

#include <imgscope/imgscope.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using storebench::Seconds;
using storebench::tClock;

// Renders of the compositor scene. range(0): thread count; range(1): 0 for
// the whole scene one to one, 1 for a zoomed-out view at an odd offset.
void BM_RenderOnThreads(benchmark::State& state)
{
    static composebench::tScene scene;
    const int threads = int(state.range(0));
    const bool zoomed = state.range(1) != 0;
    const geo::CiRect pixels = zoomed ? geo::CiRect(3, 5, 2051, 1541) : composebench::kRect;
    const geo::CdRect canvas = zoomed ? geo::CdRect(-7.3, 11.9, 4093.7, 3078.1) : geo::CdRect(composebench::kRect);
    if (!scene.target) {
        state.SkipWithError("could not make the scene");
        return;
    }
    const auto render = [&](int n) {
        img::detail::SetRenderThreads(n);
        const auto t0 = tClock::now();
        const bool ok = scene.flow.PlayToPixFrame(scene.target, pixels, canvas, 0, scene.layers, img::tRenderHints());
        const double s = Seconds(t0, tClock::now());
        return ok ? s : -1.0;
    };
    double one = 0, many = 0;
    for (auto _ : state) {
        const double a = render(1);
        const double b = render(threads);
        if (a < 0 || b < 0) {
            state.SkipWithError("PlayToPixFrame failed");
            break;
        }
        one += a;
        many += b;
        state.SetIterationTime(b);
    }
    img::detail::SetRenderThreads(0);
    state.counters["x_threads"] = many > 0 ? one / many : 0.0;
    state.SetLabel(zoomed ? "zoomed out, odd offset" : "whole, one to one");
}

// A scanner's document: one mosaic layer, pasted over once so that the
// measured pastes go into tiles that hold pixels, and the viewer's scope.
class CAcquisition {
public:
    static constexpr int kTile = 512;
    static constexpr int kOffset = 293;  // off the layer's tile grid, at odd bytes
    static constexpr int kView = 1536;

    CAcquisition(std::int64_t kind, int across, int down)
        : m_tile(storebench::FilledFrame(kTile, kTile, storebench::Info(kind), 3).release()), m_across(across),
          m_down(down), m_width((across + 1) * kTile), m_height((down + 1) * kTile)
    {
        const auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{m_width, m_height, 1});
        const utl::TUnitValue<geo::CdRect> phys(utl::CUnit(utl::eQuantityLength, 1, -6),
                                                geo::CdRect(0, 0, m_width, m_height));
        if (!m_mosaic || !m_mosaic->CreateLayer(20.0, storebench::Info(kind), mem::eMemoryDefault, 2, 95, volume, phys,
                                                utl::CPropSet(), img::eStackPicture, false, false))
            return;
        for (int i = 0; i < m_across * m_down; ++i)
            if (!Paste(i))
                return;
        m_scope.reset(img::CreateLayerScope(m_doc));
        m_target = img::CPixFrame::Create(geo::CiRect(0, 0, kView, kView),
                                          img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR), mem::eMemoryDefault,
                                          mem::eAlignNone, utl::CPropSet());
    }

    bool Ready() const { return m_scope && m_target; }

    bool Paste(int i)
    {
        const int k = i % (m_across * m_down);
        return m_mosaic->Paste(m_tile,
                               geo::CiVecN{(k % m_across) * kTile + kOffset, (k / m_across) * kTile + kOffset, 0});
    }

    bool Render()
    {
        return m_scope->RenderComplete(m_target, geo::CiRect(0, 0, kView, kView),
                                       geo::CdRect(0, 0, m_width, m_height), false, img::eZoomNearest);
    }

private:
    img::CImg m_doc;
    std::unique_ptr<img::CMosaikScope> m_mosaic{img::CreateMosaikImage(&m_doc)};
    boost::shared_ptr<mem::CDataFrame> m_tile;
    const int m_across, m_down;  // fields
    const int m_width, m_height;
    std::unique_ptr<img::CLayerScope> m_scope;
    boost::shared_ptr<img::CPixFrame> m_target;
};

// One loop of pastes or renders, run until told to stop: how many it
// finished and when the last one ended.
struct tLoop {
    std::atomic<bool> stop{false};
    int done = 0;
    double seconds = 0;
    bool failed = false;

    template <class F>
    void Run(F&& step)
    {
        const auto t0 = tClock::now();
        while (!stop.load(std::memory_order_relaxed)) {
            if (!step(done)) {
                failed = true;
                return;
            }
            ++done;
            seconds = Seconds(t0, tClock::now());
        }
    }
    double Rate() const { return seconds > 0 ? done / seconds : 0.0; }
};

constexpr auto kPhase = std::chrono::milliseconds(700);

// Runs `first` (and `second`, when given, on another thread) for one phase.
template <class A, class B>
bool Phase(tLoop& a, A&& first, tLoop* b, B&& second)
{
    std::thread other;
    if (b)
        other = std::thread([&] { b->Run(second); });
    std::thread timer([&] {
        std::this_thread::sleep_for(kPhase);
        a.stop = true;
        if (b)
            b->stop = true;
    });
    a.Run(first);
    timer.join();
    if (other.joinable())
        other.join();
    return !a.failed && !(b && b->failed);
}

void BM_AcquireWhileViewing(benchmark::State& state)
{
    img::detail::SetRenderThreads(int(state.range(0)));
    static std::unique_ptr<CAcquisition> scene;
    static std::int64_t sceneKey = -1;
    const bool scan = state.range(2) != 0;
    if (sceneKey != state.range(1) * 2 + state.range(2)) {
        scene.reset();
        scene = scan ? std::make_unique<CAcquisition>(state.range(1), 40, 25)
                     : std::make_unique<CAcquisition>(state.range(1), 12, 12);
        sceneKey = state.range(1) * 2 + state.range(2);
    }
    if (!scene->Ready()) {
        state.SkipWithError("could not make the mosaic");
        return;
    }
    int next = 0;
    const auto paste = [&](int) { return scene->Paste(next++); };
    const auto render = [&](int) { return scene->Render(); };
    const auto spin = [](int) {
        double x = 0;
        for (int i = 0; i < 100000; ++i)
            x = x * 0.5 + i;
        benchmark::DoNotOptimize(x);
        return true;
    };
    double pasteAlone = 0, pasteShared = 0, renderAlone = 0, renderShared = 0, pasteSpun = 0;
    double copies = 0, pastesShared = 0;  // tiles taken from the pool while both ran, and pastes
    for (auto _ : state) {
        tLoop p1, r1, p2, r2, p3, s3;
        bool ok = Phase(p1, paste, nullptr, paste) && Phase(r1, render, nullptr, render);
        const std::int64_t acquired = mem::detail::GetTileAcquireCount();
        ok = ok && Phase(p2, paste, &r2, render);
        copies += double(mem::detail::GetTileAcquireCount() - acquired);
        pastesShared += p2.done;
        ok = ok && Phase(p3, paste, &s3, spin);
        if (!ok) {
            state.SkipWithError("a paste or render failed");
            break;
        }
        pasteAlone += p1.Rate();
        renderAlone += r1.Rate();
        pasteShared += p2.Rate();
        renderShared += r2.Rate();
        pasteSpun += p3.Rate();
        state.SetIterationTime(4 * std::chrono::duration<double>(kPhase).count());
    }
    img::detail::SetRenderThreads(0);
    state.counters["paste_with_viewer"] = pasteAlone > 0 ? pasteShared / pasteAlone : 0.0;
    state.counters["viewer_with_paste"] = renderAlone > 0 ? renderShared / renderAlone : 0.0;
    state.counters["paste_with_spinner"] = pasteAlone > 0 ? pasteSpun / pasteAlone : 0.0;
    state.counters["pastes_per_s"] = pasteAlone / double(state.iterations());
    // Pastes into tiles that hold pixels take memory only to copy a tile a
    // render is reading.
    state.counters["copies_per_paste"] = pastesShared > 0 ? copies / pastesShared : 0.0;
    state.counters["frames_per_s"] = renderAlone / double(state.iterations());
    state.SetLabel(std::string(storebench::KindName(state.range(1))) + (scan ? " scan" : " revisit"));
}

}  // namespace

BENCHMARK(BM_RenderOnThreads)
    ->ArgNames({"threads", "zoomed"})
    ->ArgsProduct({{2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(3.0);
BENCHMARK(BM_AcquireWhileViewing)
    ->ArgNames({"render_threads", "kind", "scene"})
    ->ArgsProduct({{1, 2}, {1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

BENCHMARK_MAIN();

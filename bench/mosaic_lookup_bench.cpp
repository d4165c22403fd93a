// Lookups of a mosaic with 200 picture layers in 20 magnification groups,
// an overview at the lowest magnification (so near the end of the tree) and
// no label or sample mask (a miss walks every layer). Each figure is printed
// as a ratio to one GetLayers(list, -1) walk over the same tree.
#include "imgscope/mosaic/mosaic_scope.h"
#include "imgscope/typed/picture.h"

#include "scope_bench_util.h"

#include <cstdio>
#include <memory>
#include <vector>

using scopebench::CBenchScope;

namespace {

constexpr int kGroups = 20;
constexpr int kLayersPerGroup = 10;

struct tMosaic {
    img::CImg document;
    std::unique_ptr<img::CMosaikScope> mosaic{img::CreateMosaikImage(&document)};
    CBenchScope scope{document};

    tMosaic()
    {
        const auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{64, 64, 1});
        const utl::TUnitValue<geo::CdRect> phys(utl::CUnit(utl::eQuantityLength, 1, -6), geo::CdRect(0, 0, 64, 64));
        const img::CPixelInfo gray(utl::eUInt8, 1, img::eColorSpaceGray);
        for (int g = 0; g < kGroups; ++g)
            for (int i = 0; i < kLayersPerGroup; ++i)
                mosaic->CreateLayer(2.0 + g, gray, mem::eMemoryDefault, 2, 95, volume, phys, utl::CPropSet(),
                                    img::eStackPicture, false, false);
        mosaic->CreateLayer(1.25, gray, mem::eMemoryDefault, 2, 95, volume, phys, utl::CPropSet(),
                            img::eStackOverview, false, false);
    }
};

tMosaic& Shared()
{
    static tMosaic m;
    return m;
}

void BM_GetLayersWalk(benchmark::State& state)
{
    std::vector<int> layers;
    for (auto _ : state) {
        Shared().scope.GetLayers(layers, -1);
        benchmark::DoNotOptimize(layers.data());
    }
    state.counters["layers"] = static_cast<double>(layers.size());
}

template <class F>
void Run(benchmark::State& state, F&& call)
{
    img::CMosaikScope& mosaic = *Shared().mosaic;
    for (auto _ : state)
        benchmark::DoNotOptimize(call(mosaic));
}

void BM_GetLayerCount(benchmark::State& s) { Run(s, [](auto& m) { return m.GetLayerCount(); }); }
void BM_GetVisibleLayerCount(benchmark::State& s) { Run(s, [](auto& m) { return m.GetVisibleLayerCount(); }); }
void BM_HasOverview(benchmark::State& s) { Run(s, [](auto& m) { return m.HasOverview(); }); }
void BM_HasLabel(benchmark::State& s) { Run(s, [](auto& m) { return m.HasLabel(); }); }
void BM_HasSampleMask(benchmark::State& s) { Run(s, [](auto& m) { return m.HasSampleMask(); }); }
void BM_GetOverview(benchmark::State& s) { Run(s, [](auto& m) { return m.GetOverview().get(); }); }
void BM_GetActivePicture(benchmark::State& s) { Run(s, [](auto& m) { return m.GetActivePicture().get(); }); }

BENCHMARK(BM_GetLayersWalk);
BENCHMARK(BM_GetLayerCount);
BENCHMARK(BM_GetVisibleLayerCount);
BENCHMARK(BM_HasOverview);
BENCHMARK(BM_HasLabel);
BENCHMARK(BM_HasSampleMask);
BENCHMARK(BM_GetOverview);
BENCHMARK(BM_GetActivePicture);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Shared();  // built before any timing
    scopebench::CRatioReporter reporter(scopebench::CRatioReporter::eRealTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("layers %u in %d groups; each call as a ratio to one GetLayers walk:\n",
                Shared().mosaic->GetLayerCount(), kGroups);
    for (char const* name : {"BM_GetLayerCount", "BM_GetVisibleLayerCount", "BM_HasOverview", "BM_HasLabel",
                             "BM_HasSampleMask", "BM_GetOverview", "BM_GetActivePicture"}) {
        if (const double ratio = reporter.Ratio(name, "BM_GetLayersWalk"); ratio > 0.0)
            std::printf("%-26s %7.3f x GetLayers\n", name, ratio);
    }
    benchmark::Shutdown();
    return 0;
}

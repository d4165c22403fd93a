// Cost of the scope's layer listing and frame-range selection, each as a
// ratio to a plain walk over the same data in the same run: listing a tree
// of 2000 layers in 20 groups against walking the tree directly, and
// selecting a 100 × 100 frame range against filling a set with it.
#include "scope_bench_util.h"

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/foundation/data_frame.h"

#include <cstdio>
#include <set>
#include <utility>
#include <vector>

using scopebench::CBenchScope;

namespace {

constexpr int kGroups = 20;
constexpr int kLayersPerGroup = 100;

boost::shared_ptr<mem::CDataFrame> SmallFrame(geo::CiVecN const& extent)
{
    return boost::shared_ptr<mem::CDataFrame>(new mem::CDataFrame(
        geo::CiVolumeN(geo::CiVecN(extent.size(), 0), extent), img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray)));
}

// One document shared by the benchmarks: groups at the root, each holding
// its layers, all visible rasters.
struct Tree {
    img::CImg document;
    CBenchScope scope{document};

    Tree()
    {
        for (int g = 0; g < kGroups; ++g) {
            const int group = scope.CreateGroup(CString(L"g"), -1, 1);
            for (int i = 0; i < kLayersPerGroup; ++i) {
                int id = -1;
                scope.InsertLayer(id, SmallFrame({4, 4}), CString(L"l"), -3, 1, 0);
                img::CDisplProcessFlow(document, false).MoveTo(scope.FindPlaneID(id), group, i);
            }
        }
    }
};

Tree& SharedTree()
{
    static Tree tree;
    return tree;
}

void BM_TreeWalkBaseline(benchmark::State& state)
{
    img::CDisplProcessFlow flow(SharedTree().document, false);
    std::vector<int> layers;
    for (auto _ : state) {
        layers.clear();
        const int root = flow.RootId();
        for (int u = 0, units = flow.GetOpUnitCount(root); u < units; ++u) {
            const int unit = flow.GetOpUnit(root, u);
            for (int c = 0, count = flow.GetOpUnitCount(unit); c < count; ++c)
                layers.push_back(flow.GetStackId(flow.GetOpUnit(unit, c)));
        }
        benchmark::DoNotOptimize(layers.data());
    }
    state.counters["layers"] = static_cast<double>(layers.size());
}
BENCHMARK(BM_TreeWalkBaseline);

void BM_GetLayersAll(benchmark::State& state)
{
    std::vector<int> layers;
    for (auto _ : state) {
        SharedTree().scope.GetLayers(layers, -1);
        benchmark::DoNotOptimize(layers.data());
    }
    state.counters["layers"] = static_cast<double>(layers.size());
}
BENCHMARK(BM_GetLayersAll);

void BM_GetLayersNotHidden(benchmark::State& state)
{
    std::vector<int> layers;
    for (auto _ : state) {
        SharedTree().scope.GetLayers(layers, -67);
        benchmark::DoNotOptimize(layers.data());
    }
}
BENCHMARK(BM_GetLayersNotHidden);

void BM_SetFillBaseline(benchmark::State& state)
{
    for (auto _ : state) {
        std::set<geo::CiVecN, geo::tiVecNLess> frames;
        for (int a = 0; a < 100; ++a)
            for (int b = 0; b < 100; ++b)
                frames.insert(geo::CiVecN{a, b});
        benchmark::DoNotOptimize(frames.size());
    }
}
BENCHMARK(BM_SetFillBaseline);

void BM_SelectFrameRange(benchmark::State& state)
{
    static img::CImg document;
    static CBenchScope scope(document);
    static int layer = [] {
        int id = -1;
        scope.InsertLayer(id, SmallFrame({4, 4, 100, 100}), CString(L"s"), -3, 1, 0);
        return id;
    }();
    const int plane = scope.FindPlaneID(layer);
    for (auto _ : state) {
        scope.ResetFrameSelection(plane);
        benchmark::DoNotOptimize(scope.SelectFrameRange(layer, geo::CiVecN{0, 0}, geo::CiVecN{100, 100}));
    }
}
BENCHMARK(BM_SelectFrameRange);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    scopebench::CRatioReporter reporter(scopebench::CRatioReporter::eRealTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Each figure as a ratio to the baseline of its group.
    using tPair = std::pair<char const*, char const*>;
    for (auto const& [name, baseline] : {tPair{"BM_GetLayersAll", "BM_TreeWalkBaseline"},
                                         tPair{"BM_GetLayersNotHidden", "BM_TreeWalkBaseline"},
                                         tPair{"BM_SelectFrameRange", "BM_SetFillBaseline"}}) {
        if (const double ratio = reporter.Ratio(name, baseline); ratio > 0.0)
            std::printf("%-24s %6.2f x %s\n", name, ratio, baseline);
    }
    benchmark::Shutdown();
    return 0;
}

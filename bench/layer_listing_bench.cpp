// Cost of the scope's layer listing and frame-range selection, each as a
// ratio to a plain walk over the same data in the same run: listing a tree
// of 2000 layers in 20 groups against walking the tree directly, and
// selecting a 100 × 100 frame range against filling a set with it.
#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/scope/base_scope.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kGroups = 20;
constexpr int kLayersPerGroup = 100;

class BenchScope : public img::CBaseScope {
public:
    explicit BenchScope(img::CImg img) : img::CBaseScope(img) {}
    using img::CBaseScope::CreateGroup;
    using img::CBaseScope::FindPlaneID;
    using img::CBaseScope::GetLayers;
    using img::CBaseScope::InsertLayer;
    using img::CBaseScope::MoveLayer;
    using img::CBaseScope::ResetFrameSelection;
    using img::CBaseScope::SelectFrameRange;
};

boost::shared_ptr<mem::CDataFrame> SmallFrame(geo::CiVecN const& extent)
{
    return boost::shared_ptr<mem::CDataFrame>(new mem::CDataFrame(
        geo::CiVolumeN(geo::CiVecN(extent.size(), 0), extent), img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray)));
}

// One document shared by the benchmarks: groups at the root, each holding
// its layers, all visible rasters.
struct Tree {
    img::CImg document;
    BenchScope scope{document};

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
    static BenchScope scope(document);
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

// Prints each figure as a ratio to the baseline of its group.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(std::vector<Run> const& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (Run const& run : runs)
            m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        Ratio("BM_GetLayersAll", "BM_TreeWalkBaseline");
        Ratio("BM_GetLayersNotHidden", "BM_TreeWalkBaseline");
        Ratio("BM_SelectFrameRange", "BM_SetFillBaseline");
    }

private:
    void Ratio(std::string const& name, std::string const& baseline)
    {
        auto it = m_times.find(name);
        auto base = m_times.find(baseline);
        if (it == m_times.end() || base == m_times.end() || base->second <= 0.0)
            return;
        std::printf("%-24s %6.2f x %s\n", name.c_str(), it->second / base->second, baseline.c_str());
    }

    std::map<std::string, double> m_times;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

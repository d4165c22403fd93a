// Whole-image recalibration and layer coordinate conversion through a scope,
// each against a baseline of the same run: one sweep that only reads every
// layer's calibration, and the same conversion done as plain arithmetic.
#include "scope_bench_util.h"

#include <imgscope/imgscope.h>

#include <cstdio>
#include <string>
#include <vector>

using scopebench::CBenchScope;

namespace {

constexpr utl::CUnit kMicron{utl::eQuantityLength, 1, -6};
constexpr utl::CUnit kNano{utl::eQuantityLength, 1, -9};

// A document of `count` calibrated 64 × 64 layers in the tree, half of them
// with a stored placement, and a calibrated canvas.
struct tScene {
    img::CImg doc;
    CBenchScope scope{doc};
    std::vector<int> layers;

    explicit tScene(int count)
    {
        img::CDisplProcessFlow tree(doc, false);
        for (int i = 0; i < count; ++i) {
            auto frame = mem::CDataFrame::Create(geo::CiVolumeN(geo::CiRect(0, 0, 64, 64)),
                                                 img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray),
                                                 utl::CPropSet());
            const int id = doc.Add(img::CStack(frame));
            const int plane = tree.InsertLayer(-1, -3, id, utl::CIndexN(), -1);
            scope.SetPixelCoords(id, utl::TUnitValue<geo::CdVec2>(kMicron, geo::CdVec2(0.5, 0.5)),
                                 geo::CdVec2(i * 32.0, 0));
            if (i % 2 == 0) {
                tree.SetProperty(plane, -1, 2006, mem::CBin(1));
                tree.SetProperty(plane, -1, 2007, mem::CBin(1));
                scope.SetCanvasPlacement(id, geo::CdVec2(i * 32.0, 0), geo::CdVec2(0.5, 0.5));
            }
            layers.push_back(id);
        }
        scope.SetCanvasCoords(utl::TUnitValue<geo::CdVec2>(kMicron, geo::CdVec2(0.5, 0.5)), geo::CdVec2());
    }
};

// Baseline: list the layers and read each one's calibration once.
void BM_ReadEveryCalibration(benchmark::State& state)
{
    tScene scene(int(state.range(0)));
    for (auto _ : state) {
        std::vector<int> layers;
        scene.scope.GetLayers(layers, -1);
        for (int id : layers) {
            utl::TUnitValue<geo::CdVec2> scale;
            geo::CdVec2 origin;
            benchmark::DoNotOptimize(scene.scope.GetPixelCoords(id, scale, origin));
        }
    }
}

// Alternates two calibrations so that every run really rescales.
void BM_SetCalibration(benchmark::State& state)
{
    tScene scene(int(state.range(0)));
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        scene.scope.SetCalibration(
            utl::TUnitValue<geo::CdVec2>(flip ? kNano : kMicron, geo::CdVec2(flip ? 250.0 : 0.5, flip ? 250.0 : 0.5)));
    }
}

// Baseline: the conversion Lcs2Pixel makes, as plain arithmetic.
void BM_PlainLcs2Pixel(benchmark::State& state)
{
    geo::CdVec2 value(1234.5, 678.9);
    const geo::CdVec2 origin(3, 4), scale(0.5, 0.25);
    for (auto _ : state) {
        benchmark::DoNotOptimize(value);
        const double x = utl::Convert(value.x, kNano, kMicron);
        const double y = utl::Convert(value.y, kNano, kMicron);
        geo::CdVec2 pixel((x - origin.x) / scale.x, (y - origin.y) / scale.y);
        benchmark::DoNotOptimize(pixel);
    }
}

void BM_ScopeLcs2Pixel(benchmark::State& state)
{
    tScene scene(1);
    const utl::TUnitValue<geo::CdVec2> value(kNano, geo::CdVec2(1234.5, 678.9));
    for (auto _ : state) {
        geo::CdVec2 pixel;
        benchmark::DoNotOptimize(scene.scope.Lcs2Pixel(scene.layers[0], value, pixel));
        benchmark::DoNotOptimize(pixel);
    }
}

}  // namespace

BENCHMARK(BM_ReadEveryCalibration)->Arg(16)->Arg(256)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_SetCalibration)->Arg(16)->Arg(256)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_PlainLcs2Pixel)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ScopeLcs2Pixel)->Unit(benchmark::kNanosecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    scopebench::CRatioReporter reporter(scopebench::CRatioReporter::eCpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\n");
    for (int n : {16, 256}) {
        const std::string arg = "/" + std::to_string(n);
        std::printf("SetCalibration, %d layers: %.1f x one read sweep of every layer's calibration\n", n,
                    reporter.Ratio("BM_SetCalibration" + arg, "BM_ReadEveryCalibration" + arg));
    }
    std::printf("SetCalibration per layer, 256 vs 16 layers: %.2f x\n",
                reporter.Ratio("BM_SetCalibration/256", "BM_SetCalibration/16") * 16.0 / 256.0);
    std::printf("Lcs2Pixel through a scope: %.1f x the plain arithmetic\n",
                reporter.Ratio("BM_ScopeLcs2Pixel", "BM_PlainLcs2Pixel"));
    return 0;
}

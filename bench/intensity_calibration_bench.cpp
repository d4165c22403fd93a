// CIntensityCalibration::Apply against std::fill writing as many doubles,
// measured in the same run: 8-bit data, 16-bit data with random values
// (the 512 KiB table read all over) and 16-bit data using 12 bits, each
// for a row (the output stays in cache) and for a 4-megapixel frame.
#include "scope_bench_util.h"

#include "imgscope/scope/intensity_calibration.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRow = 4096;
constexpr int kFrame = 2048 * 2048;

template <class T>
std::vector<T> RawValues(std::size_t n, unsigned bits)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<unsigned> pick(0, (1u << bits) - 1);
    std::vector<T> values(n);
    for (T& v : values)
        v = T(pick(random));
    return values;
}

img::CIntensityCalibration Calibration(utl::EType type)
{
    img::CIntensityCalibration calibration(type, utl::CUnit(utl::eQuantityLength, 1, -6));
    for (unsigned i = 0; i < calibration.size(); ++i)
        calibration[int(i)] = 0.5 + 0.25 * i;
    return calibration;
}

void BM_FillDoubles(benchmark::State& state)
{
    std::vector<double> out(std::size_t(state.range(0)));
    double value = 1.0;
    for (auto _ : state) {
        std::fill(out.begin(), out.end(), value);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        value += 1.0;
    }
}

template <class T>
void RunApply(benchmark::State& state, utl::EType type, unsigned bits)
{
    const img::CIntensityCalibration calibration = Calibration(type);
    const std::vector<T> raw = RawValues<T>(std::size_t(state.range(0)), bits);
    std::vector<double> out(raw.size());
    for (auto _ : state) {
        if (!calibration.Apply(raw.data(), raw.data() + raw.size(), out.data())) {
            state.SkipWithError("Apply failed");
            return;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void BM_Apply8Bit(benchmark::State& state) { RunApply<unsigned char>(state, utl::eUInt8, 8); }
void BM_Apply16BitRandom(benchmark::State& state) { RunApply<unsigned short>(state, utl::eUInt16, 16); }
void BM_Apply16BitUsing12(benchmark::State& state) { RunApply<unsigned short>(state, utl::eUInt16, 12); }

}  // namespace

BENCHMARK(BM_FillDoubles)->Arg(kRow)->Arg(kFrame);
BENCHMARK(BM_Apply8Bit)->Arg(kRow)->Arg(kFrame);
BENCHMARK(BM_Apply16BitRandom)->Arg(kRow)->Arg(kFrame);
BENCHMARK(BM_Apply16BitUsing12)->Arg(kRow)->Arg(kFrame);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    scopebench::CRatioReporter reporter(scopebench::CRatioReporter::eCpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\nApply's rate as a fraction of std::fill writing as many doubles:\n");
    for (int n : {kRow, kFrame}) {
        const std::string arg = "/" + std::to_string(n);
        const auto rate = [&](char const* name) { return 1.0 / reporter.Ratio(name + arg, "BM_FillDoubles" + arg); };
        std::printf("%8d values: 8-bit %.2f, 16-bit random %.2f, 16-bit using 12 bits %.2f\n", n,
                    rate("BM_Apply8Bit"), rate("BM_Apply16BitRandom"), rate("BM_Apply16BitUsing12"));
    }
    return 0;
}

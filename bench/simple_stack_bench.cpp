// Filling and reading simple stacks, each figure a ratio to a baseline of
// the same run:
//   x_memcpy   PushBack of 1000 frames with a z value each, as a multiple of
//              the speed of memcpy of the same frame bytes into memory
//              already touched (1 = as fast as memcpy);
//   length     the cost of GetPixFrame(i) / GetFrameProperty(i) at frame
//              9990 of 10000 over their cost at frame 10 of 100, and of
//              PushBack onto 10000 frames over PushBack onto 100 (1 = no
//              dependence on the stack's length).
#include "scope_bench_util.h"
#include "store_bench_util.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/typed/simple_ram_stack.h"
#include "imgscope/typed/simple_stack.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

using namespace storebench;

namespace {

constexpr int kFrames = 1000;
constexpr int kSide = 512;
constexpr int kSources = 4;

// The stacks users fill during acquisition.
enum ECase : int {
    eGray16,         // the plain z series: sparse tiles as large as the plane
    eGray16Offset,   // the stack placed at an odd offset, frames from 128 × 128 tiles
    eGray8,
    eRgb8,
    eGray16Tiled,    // the caller's tiles of 200 × 200: partial tiles at the edges
    eGray16Resident  // the RAM stack
};

char const* CaseName(std::int64_t c)
{
    static char const* const names[] = {"gray16", "gray16_offset", "gray8", "rgb8", "gray16_tiles200", "gray16_ram"};
    return names[c];
}

img::CPixelInfo CaseInfo(std::int64_t c)
{
    return Info(c == eGray8 ? 0 : c == eRgb8 ? 2 : 1);
}

struct tPush {
    std::int64_t kind;
    img::CPixelInfo info;
    std::size_t frameBytes;
    std::vector<boost::shared_ptr<img::CPixFrame>> sources;
    std::vector<std::vector<std::uint8_t>> sourceBytes;  // the same pixels, contiguous
    std::vector<std::uint8_t> sink;                      // baseline target, pages touched

    explicit tPush(std::int64_t c)
        : kind(c), info(CaseInfo(c)), frameBytes(std::size_t(kSide) * kSide * CaseInfo(c).Size()),
          sink(frameBytes * kFrames, 1)
    {
        const int tile = c == eGray16Offset ? 128 : kSide;
        for (int s = 0; s < kSources; ++s) {
            boost::shared_ptr<mem::CDataFrame> frame(FilledFrame(kSide, tile, info, s).release());
            sources.push_back(img::CPixFrame::Create(frame, geo::CiVecN()));
            sourceBytes.push_back(std::vector<std::uint8_t>(frameBytes));
            frame->ReadRect(geo::CiRect(0, 0, kSide, kSide), {}, sourceBytes.back().data(), 0);
        }
    }

    void Baseline()
    {
        for (int i = 0; i < kFrames; ++i)
            std::memcpy(sink.data() + std::size_t(i) * frameBytes, sourceBytes[i % kSources].data(), frameBytes);
        benchmark::ClobberMemory();
    }

    std::unique_ptr<img::CSimpleStack> NewStack(img::CImg doc) const
    {
        const geo::CiRect rect = kind == eGray16Offset ? geo::CiRect(13, 7, 13 + kSide, 7 + kSide)
                                                       : geo::CiRect(0, 0, kSide, kSide);
        const utl::CPropSet none;
        if (kind == eGray16Resident)
            return std::unique_ptr<img::CSimpleStack>(
                img::CreateSimpleRAMStack(rect, 0, info, mem::eAlignNone, none, none, none, doc));
        const mem::EMemoryModel model = kind == eGray16Tiled ? mem::eMemoryTiled : mem::eMemoryDefault;
        const utl::CPropSet tiles = kind == eGray16Tiled ? Tiles(200) : none;
        std::unique_ptr<img::CSimpleStack> stack(
            img::CreateSimpleStack(rect, 0, info, model, mem::eAlignNone, tiles, none, none, doc));
        if (stack)
            stack->SetDimensionType(img::eDimZ);
        return stack;
    }

    bool Push(img::CSimpleStack& stack) const
    {
        bool ok = true;
        for (int i = 0; i < kFrames; ++i)
            ok = stack.PushBack(sources[i % kSources], utl::TUnitValue<double>(utl::CUnit(1, 1, -6), 0.2 * i)) && ok;
        return ok && stack.GetEndIndex() == kFrames;
    }
};

void BM_PushBack(benchmark::State& state)
{
    tPush p(state.range(0));
    {
        // Once untimed: the tile pool maps its memory on first use only.
        const auto warm = p.NewStack(img::CImg());
        if (!warm || !p.Push(*warm)) {
            state.SkipWithError("cannot make the stack");
            return;
        }
    }
    tBackToBack timer;
    for (auto _ : state) {
        state.PauseTiming();
        auto stack = p.NewStack(img::CImg());
        state.ResumeTiming();
        timer.Time(state, [&] { p.Baseline(); }, [&] { return stack && p.Push(*stack); }, "push failed");
        state.PauseTiming();
        stack.reset();
        state.ResumeTiming();
    }
    state.counters["x_memcpy"] = timer.Ratio();
    state.SetBytesProcessed(state.iterations() * kFrames * static_cast<std::int64_t>(p.frameBytes));
    state.SetLabel(CaseName(state.range(0)));
}
BENCHMARK(BM_PushBack)->DenseRange(eGray16, eGray16Resident)->Iterations(3)->UseManualTime()->Unit(
    benchmark::kMillisecond);

// A z series of `frames` small frames with a value each, in a document of
// its own.
struct tSeries {
    img::CImg doc;
    std::unique_ptr<img::CSimpleStack> stack;
    boost::shared_ptr<img::CPixFrame> frame;

    explicit tSeries(int frames)
    {
        const utl::CPropSet none;
        const img::CPixelInfo info = Info(1);
        stack.reset(img::CreateSimpleStack(geo::CiRect(0, 0, 64, 64), 0, info, mem::eMemoryDefault, mem::eAlignNone,
                                           none, none, none, doc));
        stack->SetDimensionType(img::eDimZ);
        frame = img::CPixFrame::Create(geo::CiRect(0, 0, 64, 64), info, mem::eMemoryTiled, mem::eAlignNone, none);
        const std::uint16_t value = 7;
        frame->FillRect(geo::CiRect(0, 0, 64, 64), &value);
        for (int i = 0; i < frames; ++i)
            Push(i);
    }

    bool Push(int i) { return stack->PushBack(frame, utl::TUnitValue<double>(utl::CUnit(1, 1, -6), 0.5 * i)); }
};

// The series the lookups share, kept for the run.
img::CSimpleStack& Series(int frames)
{
    static std::map<int, std::unique_ptr<tSeries>> series;
    auto& entry = series[frames];
    if (!entry)
        entry = std::make_unique<tSeries>(frames);
    return *entry->stack;
}

// range(0): frames in the stack; range(1): the position looked up.
void BM_GetPixFrame(benchmark::State& state)
{
    img::CSimpleStack& stack = Series(static_cast<int>(state.range(0)));
    const int i = static_cast<int>(state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(stack.GetPixFrame(i));
    if (!stack.GetPixFrame(i))
        state.SkipWithError("no frame");
}
BENCHMARK(BM_GetPixFrame)->Args({100, 10})->Args({10000, 9990});

void BM_GetFrameProperty(benchmark::State& state)
{
    img::CSimpleStack const& stack = Series(static_cast<int>(state.range(0)));
    const int i = static_cast<int>(state.range(1));
    utl::TUnitValue<double> value;
    for (auto _ : state)
        benchmark::DoNotOptimize(stack.GetFrameProperty(i, value));
    if (value.value != 0.5 * i)
        state.SkipWithError("wrong value");
}
BENCHMARK(BM_GetFrameProperty)->Args({100, 10})->Args({10000, 9990});

// range(0): frames in the stack at the start; each iteration pushes one
// more, and the fixed iteration count keeps the two lengths apart.
void BM_PushBackOnto(benchmark::State& state)
{
    tSeries series(static_cast<int>(state.range(0)));
    int i = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto t0 = tClock::now();
        const bool pushed = series.Push(i++);
        state.SetIterationTime(Seconds(t0, tClock::now()));
        if (!pushed) {
            state.SkipWithError("push failed");
            break;
        }
    }
}
BENCHMARK(BM_PushBackOnto)->Arg(100)->Arg(10000)->Iterations(300)->UseManualTime();

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    scopebench::CRatioReporter reporter(scopebench::CRatioReporter::eRealTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (char const* name : {"BM_GetPixFrame", "BM_GetFrameProperty"}) {
        const std::string base = name;
        if (const double ratio = reporter.Ratio(base + "/10000/9990", base + "/100/10"); ratio > 0.0)
            std::printf("%-20s %5.2f x at frame 9990 of 10000 against frame 10 of 100\n", name, ratio);
    }
    if (const double ratio = reporter.Ratio("BM_PushBackOnto/10000/iterations:300/manual_time",
                                             "BM_PushBackOnto/100/iterations:300/manual_time");
        ratio > 0.0)
        std::printf("%-20s %5.2f x onto 10000 frames against onto 100\n", "BM_PushBack", ratio);
    benchmark::Shutdown();
    return 0;
}

// Composition of three 4096 × 4096 layers into an RGB8 frame, against memcpy
// of the output bytes measured in the same run.
#include <imgscope/imgscope.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kSide = 4096;
const geo::CiRect kRect(0, 0, kSide, kSide);
constexpr std::int64_t kOutputBytes = std::int64_t(kSide) * kSide * 3;

double g_memcpyBytesPerSecond = 0.0;
double g_composeBytesPerSecond = 0.0;

boost::shared_ptr<mem::CDataFrame> Layer(img::CPixelInfo const& info, int seed)
{
    auto frame = mem::CDataFrame::Create(geo::CiVolumeN(kRect), info, utl::CPropSet());
    if (!frame)
        return frame;
    const int comps = info.GetComponentCount();
    const int bytes = info.GetComponentSize();
    std::vector<std::uint8_t> row(std::size_t(kSide) * std::size_t(info.Size()));
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x)
            for (int e = 0; e < comps; ++e) {
                const unsigned v = unsigned(x * (3 + e) + y * (5 + seed) + e * 977) * (bytes == 2 ? 13u : 1u);
                std::memcpy(&row[std::size_t((x * comps + e) * bytes)], &v, std::size_t(bytes));
            }
        frame->WriteRect(geo::CiRect(0, y, kSide, y + 1), geo::CiVecN(), row.data(), 0);
    }
    return frame;
}

std::vector<utl::CBGR8> Ramp(int entries)
{
    std::vector<utl::CBGR8> lut;
    for (int i = 0; i < entries; ++i) {
        const int v = i * 255 / (entries - 1);
        lut.push_back(utl::CBGR8(std::uint8_t(v), std::uint8_t(255 - v), std::uint8_t(v / 2)));
    }
    return lut;
}

// The document of the measurement, made once.
struct tScene {
    img::CImg doc;
    img::CDisplProcessFlow flow{doc, false};
    std::vector<int> layers;
    boost::shared_ptr<img::CPixFrame> target;

    tScene()
    {
        const int gray16 = doc.Add(img::CStack(Layer(img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray), 1)));
        const int rgb8 = doc.Add(img::CStack(Layer(img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB), 2)));
        const int gray8 = doc.Add(img::CStack(Layer(img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray), 3)));
        layers = {gray16, rgb8, gray8};
        for (int id : layers)
            flow.InsertLayer(-1, -3, id, utl::CIndexN(), -1);

        img::CStack g16 = doc.FindStack(gray16);
        g16.SetDispLimits(utl::TInterval<double>(1000, 50000), -1);
        g16.SetLUT(Ramp(1024), 0);

        const int rgbPlane = flow.FindLayer(rgb8);
        flow.SetProperty(rgbPlane, 10009, mem::CBin(0.6));
        auto rgbMask = flow.CreateTransparencyMask(rgbPlane, 0);
        // Round masks cut tiles, so the mask has real per-pixel content.
        for (int y = 0; y < kSide; y += 64)
            rgbMask->Rectangle(geo::CiRect(0, y, kSide - y / 2, y + 40), 200, 0);

        const int g8Plane = flow.FindLayer(gray8);
        flow.SetProperty(g8Plane, 10009, mem::CBin(0.8));
        doc.FindStack(gray8).SetLUT(Ramp(256), 0);
        auto g8Mask = flow.CreateTransparencyMask(g8Plane, 255);
        for (int x = 0; x < kSide; x += 96)
            g8Mask->Rectangle(geo::CiRect(x, x / 3, x + 48, kSide), 60, 0);

        target = img::CPixFrame::Create(kRect, img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
                                        mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
    }
};

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
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(BM_MemcpyOutputBytes)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_ComposeThreeLayers)->Unit(benchmark::kMillisecond)->MinTime(2.0);

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
    }
    return 0;
}

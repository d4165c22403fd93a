// The sharpness map of CGaussSharpness(0.3, 2) over a large picture, timed
// back to back with a straightforward single-threaded float pipeline that
// computes the same map from the same pixels held in one contiguous buffer:
// whole-picture float buffers for the intensities, the separable Gaussian
// blur along x and then y, the Laplacian, and its square pooled by blocks.
// The baseline's buffers are made once, outside the timing. Counters:
//   x_float   the map's time over the float pipeline's (at most 0.5);
//   mismatch  map pixels that differ from the pipeline's by more than 1.
// Args: side, pixel kind (0 gray8, 1 gray16, 2 RGB8, 3 float), block side,
// tile side.
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/platform/sharpness.h"

#include "store_bench_util.h"

#include <cmath>
#include <cstring>
#include <memory>

using namespace storebench;

namespace {

constexpr double kSigma = 0.3;
constexpr double kMapScale = 1024.0;

img::CPixelInfo KindInfo(std::int64_t kind)
{
    switch (kind) {
    case 0: return img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray);
    case 1: return img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray);
    case 2: return img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB);
    default: return img::CPixelInfo(utl::eFloat, 1, img::eColorSpaceGray);
    }
}

// Tissue-like grey values 0..1: cells with sharp rims on a textured ground.
double Scene(int x, int y)
{
    const double cx = std::fmod(x, 37.0) - 18.5, cy = std::fmod(y, 41.0) - 20.5;
    const double r = std::sqrt(cx * cx + cy * cy);
    const double texture = 0.1 * std::sin(x * 0.31) * std::cos(y * 0.23);
    return r < 14.0 ? 0.35 + texture : 0.75 + texture + ((x * 7 + y * 13) % 17) / 170.0;
}

struct tPicture {
    boost::shared_ptr<img::CPixFrame> frame;
    std::vector<float> intensity;  // the same pixels as grey values of the full scale
    double fullScale = 1.0;
};

std::unique_ptr<tPicture> MakePicture(int side, std::int64_t kind, int tile)
{
    auto p = std::make_unique<tPicture>();
    utl::CPropSet props;
    props.SetValue(mem::ePropTileSize, geo::CiVec3(tile, tile, 1));
    const img::CPixelInfo info = KindInfo(kind);
    p->frame = img::CPixFrame::Create(geo::CiRect(0, 0, side, side), info, mem::eMemoryDefault, mem::eAlign32, props);
    if (!p->frame)
        return nullptr;
    p->fullScale = kind == 0 || kind == 2 ? 255.0 : kind == 1 ? 65535.0 : 1.0;
    p->intensity.resize(std::size_t(side) * side);
    std::vector<std::uint8_t> row(std::size_t(side) * info.Size());
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double v = Scene(x, y);
            std::uint8_t* at = &row[std::size_t(x) * info.Size()];
            float stored = 0;
            if (kind == 0 || kind == 2) {
                const auto b = static_cast<std::uint8_t>(std::lround(v * 255));
                std::memset(at, b, std::size_t(info.Size()));
                stored = b;
            } else if (kind == 1) {
                const auto w = static_cast<std::uint16_t>(std::lround(v * 65535));
                std::memcpy(at, &w, 2);
                stored = w;
            } else {
                const auto f = static_cast<float>(v);
                std::memcpy(at, &f, 4);
                stored = f;
            }
            p->intensity[std::size_t(y) * side + x] = stored;
        }
        p->frame->WriteRowSegment(geo::CiVec2(0, y), side, row.data(), 0);
    }
    return p;
}

// The straightforward pipeline, one whole-picture buffer per stage.
class CFloatPipeline {
public:
    explicit CFloatPipeline(int side) : m_side(side), m_blurX(Size()), m_blurY(Size()), m_laplace(Size())
    {
        const int radius = int(std::ceil(3 * kSigma));
        double total = 0;
        for (int k = -radius; k <= radius; ++k) {
            m_kernel.push_back(std::exp(-0.5 * k * k / (kSigma * kSigma)));
            total += m_kernel.back();
        }
        for (float& w : m_kernel)
            w = float(w / total);
    }

    // Interior loops index directly so that the compiler vectorises them;
    // only the borders clamp.
    void Run(std::vector<float> const& in, double fullScale, int block, std::vector<std::uint8_t>& map)
    {
        const int n = m_side, r = int(m_kernel.size() / 2);
        const auto clampAt = [n](int i) { return i < 0 ? 0 : i >= n ? n - 1 : i; };
        for (int y = 0; y < n; ++y) {
            float const* src = &in[At(y, 0)];
            float* dst = &m_blurX[At(y, 0)];
            for (int x = 0; x < n; ++x) {
                if (x == r && n > 2 * r) {
                    for (; x < n - r; ++x) {
                        float s = 0;
                        for (int k = -r; k <= r; ++k)
                            s += m_kernel[std::size_t(k + r)] * src[x + k];
                        dst[x] = s;
                    }
                    if (x == n)
                        break;
                }
                float s = 0;
                for (int k = -r; k <= r; ++k)
                    s += m_kernel[std::size_t(k + r)] * src[clampAt(x + k)];
                dst[x] = s;
            }
        }
        for (int y = 0; y < n; ++y) {
            float* dst = &m_blurY[At(y, 0)];
            for (int x = 0; x < n; ++x)
                dst[x] = 0;
            for (int k = -r; k <= r; ++k) {
                float const* src = &m_blurX[At(clampAt(y + k), 0)];
                const float w = m_kernel[std::size_t(k + r)];
                for (int x = 0; x < n; ++x)
                    dst[x] += w * src[x];
            }
        }
        for (int y = 0; y < n; ++y) {
            float const* up = &m_blurY[At(clampAt(y - 1), 0)];
            float const* mid = &m_blurY[At(y, 0)];
            float const* down = &m_blurY[At(clampAt(y + 1), 0)];
            float* dst = &m_laplace[At(y, 0)];
            dst[0] = mid[1 % n] + mid[0] + up[0] + down[0] - 4 * mid[0];
            for (int x = 1; x < n - 1; ++x)
                dst[x] = mid[x - 1] + mid[x + 1] + up[x] + down[x] - 4 * mid[x];
            if (n > 1)
                dst[n - 1] = mid[n - 2] + mid[n - 1] + up[n - 1] + down[n - 1] - 4 * mid[n - 1];
        }
        const int blocks = (n + block - 1) / block;
        map.assign(std::size_t(blocks) * blocks, 0);
        std::vector<double> sums(std::size_t(blocks) * blocks, 0.0);
        for (int y = 0; y < n; ++y) {
            float const* row = &m_laplace[At(y, 0)];
            for (int i = 0; i < blocks; ++i) {
                float s = 0;
                for (int x = i * block; x < std::min(n, (i + 1) * block); ++x)
                    s += row[x] * row[x];
                sums[std::size_t(y / block) * blocks + i] += s;
            }
        }
        for (int j = 0; j < blocks; ++j)
            for (int i = 0; i < blocks; ++i) {
                const double w = std::min(block, n - i * block), h = std::min(block, n - j * block);
                const double v = std::round(kMapScale * std::sqrt(sums[std::size_t(j) * blocks + i] / (w * h)) / fullScale);
                map[std::size_t(j) * blocks + i] = static_cast<std::uint8_t>(std::min(v, 255.0));
            }
    }

private:
    std::size_t Size() const { return std::size_t(m_side) * m_side; }
    std::size_t At(int y, int x) const { return std::size_t(y) * m_side + x; }

    int m_side;
    std::vector<float> m_kernel;
    std::vector<float> m_blurX, m_blurY, m_laplace;
};

void BM_SharpnessMap(benchmark::State& state)
{
    const int side = int(state.range(0)), block = int(state.range(2)), tile = int(state.range(3));
    const auto picture = MakePicture(side, state.range(1), tile);
    if (!picture) {
        state.SkipWithError("no picture");
        return;
    }
    CFloatPipeline pipeline(side);
    const img::CGaussSharpness measure(kSigma, 2);
    std::vector<std::uint8_t> expected;
    boost::shared_ptr<img::CPixFrame> map;
    tBackToBack t;
    for (auto _ : state) {
        t.Time(state, [&] { pipeline.Run(picture->intensity, picture->fullScale, block, expected); },
               [&] {
                   map = measure.GetSharpnessMap(picture->frame, block);
                   return bool(map);
               },
               "no map");
    }
    int mismatch = 0;
    if (map) {
        const geo::CiRect b = map->GetBoundary();
        std::vector<std::uint8_t> row(std::size_t(b.Width()));
        for (int y = 0; y < b.Height(); ++y) {
            map->ReadRowSegment(geo::CiVec2(0, y), b.Width(), row.data(), 0);
            for (int x = 0; x < b.Width(); ++x)
                mismatch += std::abs(int(row[std::size_t(x)]) - int(expected[std::size_t(y) * b.Width() + x])) > 1;
        }
    }
    state.counters["x_float"] = t.base > 0 ? t.subject / t.base : 0.0;
    state.counters["mismatch"] = mismatch;
    state.SetLabel(state.range(1) == 0 ? "gray8" : state.range(1) == 1 ? "gray16" : state.range(1) == 2 ? "rgb8" : "float");
}

BENCHMARK(BM_SharpnessMap)
    ->ArgNames({"side", "kind", "block", "tile"})
    ->Args({8192, 0, 64, 512})
    ->Args({8192, 0, 50, 128})
    ->Args({8192, 1, 64, 512})
    ->Args({4096, 2, 64, 512})
    ->Args({4096, 3, 64, 256})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

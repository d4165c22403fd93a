// The Gaussian sharpness measure streams the source once, row by row: each
// row is turned into intensities, smoothed along x, then along y from a
// ring of the last rows, differentiated, squared and added into column
// sums that fold into block values every block row. Every stage is a plain
// loop over one row of floats, so the compiler vectorises it, and the rows
// in flight stay in the cache instead of whole-picture buffers in memory.
#include "imgscope/contracts/platform/sharpness.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace img {

namespace {

constexpr double kMaxSigma = 16.0;
// Map value per unit of RMS response at full scale.
constexpr double kMapScale = 1024.0;

// How the components of a pixel make one intensity.
struct tLayout {
    int pixelBytes = 0;
    int elementBytes = 0;
    int components = 0;            // without alpha
    float weights[3] = {0, 0, 0};  // luminance weights when weighted
    bool weighted = false;
};

template <class T>
T Load(std::uint8_t const* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
float Finite(T v)
{
    if constexpr (std::is_floating_point_v<T>)
        return std::isfinite(v) ? static_cast<float>(v) : 0.0f;
    else
        return static_cast<float>(v);
}

// Intensities of n pixels at `src` into `dst`.
void Gray8ToFloat(std::uint8_t const* src, std::int64_t n, float* dst);
void Colour8ToFloat(std::uint8_t const* src, std::int64_t n, std::int64_t stride, float w0, float w1, float w2,
                    float* dst);

template <class T>
void ToIntensity(std::uint8_t const* src, std::int64_t n, tLayout const& layout, float* dst)
{
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        if (layout.pixelBytes == 1)
            return Gray8ToFloat(src, n, dst);
        if (layout.weighted)
            return Colour8ToFloat(src, n, layout.pixelBytes, layout.weights[0], layout.weights[1], layout.weights[2],
                                  dst);
    }
    if (layout.components == 1) {
        for (std::int64_t i = 0; i < n; ++i)
            dst[i] = Finite(Load<T>(src + i * layout.pixelBytes));
        return;
    }
    for (std::int64_t i = 0; i < n; ++i) {
        std::uint8_t const* p = src + i * layout.pixelBytes;
        float v = 0.0f;
        if (layout.weighted) {
            for (int c = 0; c < 3; ++c)
                v += layout.weights[c] * Finite(Load<T>(p + c * layout.elementBytes));
        } else {
            for (int c = 0; c < layout.components; ++c)
                v += Finite(Load<T>(p + c * layout.elementBytes));
            v /= float(layout.components);
        }
        dst[i] = v;
    }
}

using tConvert = void (*)(std::uint8_t const*, std::int64_t, tLayout const&, float*);

// The converter and the full scale of an element type; null for none.
tConvert Converter(utl::EType type, double& fullScale)
{
    switch (type) {
    case utl::eInt8: fullScale = std::numeric_limits<std::int8_t>::max(); return ToIntensity<std::int8_t>;
    case utl::eUInt8: fullScale = std::numeric_limits<std::uint8_t>::max(); return ToIntensity<std::uint8_t>;
    case utl::eInt16: fullScale = std::numeric_limits<std::int16_t>::max(); return ToIntensity<std::int16_t>;
    case utl::eUInt16: fullScale = std::numeric_limits<std::uint16_t>::max(); return ToIntensity<std::uint16_t>;
    case utl::eInt32: fullScale = std::numeric_limits<std::int32_t>::max(); return ToIntensity<std::int32_t>;
    case utl::eUInt32: fullScale = std::numeric_limits<std::uint32_t>::max(); return ToIntensity<std::uint32_t>;
    case utl::eInt64: fullScale = double(std::numeric_limits<std::int64_t>::max()); return ToIntensity<std::int64_t>;
    case utl::eUInt64: fullScale = double(std::numeric_limits<std::uint64_t>::max()); return ToIntensity<std::uint64_t>;
    case utl::eFloat: fullScale = 1.0; return ToIntensity<float>;
    case utl::eDouble: fullScale = 1.0; return ToIntensity<double>;
    default: return nullptr;
    }
}

tLayout Layout(CPixelInfo const& info)
{
    tLayout layout;
    layout.pixelBytes = info.Size();
    layout.elementBytes = info.GetComponentSize();
    layout.components = std::max(info.GetComponentCount() - info.GetAlphaCount(), 1);
    const EColorSpace space = info.GetColorSpace();
    if (layout.components >= 3 && (space == eColorSpaceRGB || space == eColorSpaceBGR)) {
        const float r = 0.299f, g = 0.587f, b = 0.114f;
        layout.weighted = true;
        layout.weights[0] = space == eColorSpaceRGB ? r : b;
        layout.weights[1] = g;
        layout.weights[2] = space == eColorSpaceRGB ? b : r;
    }
    return layout;
}

// Half of a sampled, normalised Gaussian: [0] is the centre weight.
std::vector<float> GaussianHalf(double sigma)
{
    if (!(sigma > 0.0))
        return {1.0f};
    const int radius = static_cast<int>(std::ceil(3.0 * sigma));
    std::vector<double> w(static_cast<std::size_t>(radius) + 1);
    double total = 0.0;
    for (std::size_t k = 0; k < w.size(); ++k) {
        w[k] = std::exp(-0.5 * double(k * k) / (sigma * sigma));
        total += k == 0 ? w[k] : 2.0 * w[k];
    }
    std::vector<float> half;
    for (double v : w)
        half.push_back(static_cast<float>(v / total));
    return half;
}

// The row kernels: plain loops the compiler vectorises, built a second time
// for processors with AVX2 where the toolchain can pick one at load time.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(_WIN32)
#define IMGSCOPE_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define IMGSCOPE_ROW_KERNEL
#endif

IMGSCOPE_ROW_KERNEL void Gray8ToFloat(std::uint8_t const* src, std::int64_t n, float* dst)
{
    for (std::int64_t i = 0; i < n; ++i)
        dst[i] = src[i];
}

// Luminance of 8-bit pixels of `stride` bytes whose first three bytes are
// weighted by w0, w1, w2. Strides of 3 and 4 get loops of their own, whose
// fixed stride the compiler can vectorise.
IMGSCOPE_ROW_KERNEL void Colour8ToFloat(std::uint8_t const* src, std::int64_t n, std::int64_t stride, float w0, float w1,
                                        float w2, float* dst)
{
    if (stride == 3) {
        for (std::int64_t i = 0; i < n; ++i)
            dst[i] = w0 * src[3 * i] + w1 * src[3 * i + 1] + w2 * src[3 * i + 2];
    } else if (stride == 4) {
        for (std::int64_t i = 0; i < n; ++i)
            dst[i] = w0 * src[4 * i] + w1 * src[4 * i + 1] + w2 * src[4 * i + 2];
    } else {
        for (std::int64_t i = 0; i < n; ++i)
            dst[i] = w0 * src[i * stride] + w1 * src[i * stride + 1] + w2 * src[i * stride + 2];
    }
}

// out[x] = w0 in[x] + w1 (in[x − 1] + in[x + 1]): the three-tap Gaussian of
// small sigmas. `in` is readable from −1 to n.
IMGSCOPE_ROW_KERNEL void Smooth3(float const* in, std::int64_t n, float w0, float w1, float* out)
{
    for (std::int64_t x = 0; x < n; ++x)
        out[x] = w0 * in[x] + w1 * (in[x - 1] + in[x + 1]);
}

// The same over three rows.
IMGSCOPE_ROW_KERNEL void Smooth3Rows(float const* above, float const* centre, float const* below, std::int64_t n,
                                     float w0, float w1, float* out)
{
    for (std::int64_t x = 0; x < n; ++x)
        out[x] = w0 * centre[x] + w1 * (above[x] + below[x]);
}

// out[x] = w0 in[x], then one pass per further pair of taps.
IMGSCOPE_ROW_KERNEL void Scale(float const* in, std::int64_t n, float w, float* out)
{
    for (std::int64_t x = 0; x < n; ++x)
        out[x] = w * in[x];
}

IMGSCOPE_ROW_KERNEL void AddPair(float const* a, float const* b, std::int64_t n, float w, float* out)
{
    for (std::int64_t x = 0; x < n; ++x)
        out[x] += w * (a[x] + b[x]);
}

// Adds the squared Laplacian (order 2) or squared gradient (order 1) of
// `mid`, with its neighbours above and below, to `columns`. `mid` is
// readable from −1 to n.
IMGSCOPE_ROW_KERNEL void AddLaplacian(float const* up, float const* mid, float const* down, std::int64_t n,
                                      float* columns)
{
    for (std::int64_t x = 0; x < n; ++x) {
        const float l = (mid[x - 1] + mid[x + 1]) + (up[x] + down[x]) - 4.0f * mid[x];
        columns[x] += l * l;
    }
}

IMGSCOPE_ROW_KERNEL void AddGradient(float const* up, float const* mid, float const* down, std::int64_t n,
                                     float* columns)
{
    for (std::int64_t x = 0; x < n; ++x) {
        const float gx = 0.5f * (mid[x + 1] - mid[x - 1]);
        const float gy = 0.5f * (down[x] - up[x]);
        columns[x] += gx * gx + gy * gy;
    }
}

// The streaming pipeline over one source frame.
class CGaussPipeline {
public:
    CGaussPipeline(CPixFrame const& source, int order, std::vector<float> kernel, int block)
        : m_source(source), m_order(order), m_kernel(std::move(kernel)), m_radius(int(m_kernel.size()) - 1),
          m_block(block), m_bounds(source.GetBoundary())
    {
        const CPixelInfo& info = source.GetPixelInfo();
        m_convert = Converter(info.GetElementType(), m_fullScale);
        m_layout = Layout(info);
        m_width = m_bounds.Width();
        m_height = m_bounds.Height();
        m_blocksX = (m_width + block - 1) / block;
        m_blocksY = (m_height + block - 1) / block;
    }

    bool Valid() const { return m_convert && m_width > 0 && m_height > 0; }
    geo::CiRect MapRect() const { return geo::CiRect(0, 0, int(m_blocksX), int(m_blocksY)); }

    // Writes the map; false when a source row cannot be read.
    bool Run(CPixFrame& map)
    {
        const auto w = static_cast<std::size_t>(m_width);
        const auto r = static_cast<std::size_t>(m_radius);
        m_input.assign(w + 2 * r, 0.0f);
        m_horizontal.assign((2 * r + 1) * w, 0.0f);
        m_vertical.assign(3 * (w + 2), 0.0f);
        m_columns.assign(w, 0.0f);
        std::vector<std::uint8_t> mapRow(static_cast<std::size_t>(m_blocksX));

        std::int64_t horizontalDone = -1, verticalDone = -1;
        for (std::int64_t y = 0; y < m_height; ++y) {
            const std::int64_t needVertical = std::min(y + 1, m_height - 1);
            for (; verticalDone < needVertical; ++verticalDone) {
                const std::int64_t row = verticalDone + 1;
                for (; horizontalDone < std::min(row + m_radius, m_height - 1); ++horizontalDone)
                    if (!Horizontal(horizontalDone + 1))
                        return false;
                Vertical(row);
            }
            Respond(y);
            const bool lastOfBlock = (y + 1) % m_block == 0 || y + 1 == m_height;
            if (lastOfBlock) {
                const std::int64_t rows = y % m_block + 1;
                FoldBlocks(rows, mapRow.data());
                const geo::CiVec2 at(0, static_cast<int>(y / m_block));
                if (!map.WriteRowSegment(at, static_cast<int>(m_blocksX), mapRow.data(), 0))
                    return false;
            }
        }
        return true;
    }

private:
    float* HorizontalRow(std::int64_t y) { return &m_horizontal[std::size_t(y % (2 * m_radius + 1)) * std::size_t(m_width)]; }
    float* VerticalRow(std::int64_t y) { return &m_vertical[std::size_t(y % 3) * std::size_t(m_width + 2)]; }

    // Intensities of source row y, smoothed along x, into the ring.
    bool Horizontal(std::int64_t y)
    {
        float* in = m_input.data() + m_radius;
        const int sy = m_bounds.top + static_cast<int>(y);
        for (std::int64_t x = 0; x < m_width;) {
            std::uint8_t const* data = nullptr;
            const int n = m_source.GetRowSpan(geo::CiVec2(m_bounds.left + static_cast<int>(x), sy), data);
            if (n <= 0)
                return false;
            const std::int64_t m = std::min<std::int64_t>(n, m_width - x);
            m_convert(data, m, m_layout, in + x);
            x += m;
        }
        for (int k = 1; k <= m_radius; ++k) {
            in[-k] = in[0];
            in[m_width - 1 + k] = in[m_width - 1];
        }
        float* out = HorizontalRow(y);
        if (m_radius == 1) {
            Smooth3(in, m_width, m_kernel[0], m_kernel[1], out);
            return true;
        }
        Scale(in, m_width, m_kernel[0], out);
        for (int k = 1; k <= m_radius; ++k)
            AddPair(in - k, in + k, m_width, m_kernel[std::size_t(k)], out);
        return true;
    }

    // Row y smoothed along y, with one repeated pixel at each end.
    void Vertical(std::int64_t y)
    {
        float* out = VerticalRow(y) + 1;
        const auto at = [&](std::int64_t row) {
            return HorizontalRow(std::clamp<std::int64_t>(row, 0, m_height - 1));
        };
        if (m_radius == 1) {
            Smooth3Rows(at(y - 1), at(y), at(y + 1), m_width, m_kernel[0], m_kernel[1], out);
        } else {
            Scale(at(y), m_width, m_kernel[0], out);
            for (int k = 1; k <= m_radius; ++k)
                AddPair(at(y - k), at(y + k), m_width, m_kernel[std::size_t(k)], out);
        }
        out[-1] = out[0];
        out[m_width] = out[m_width - 1];
    }

    // The squared response of row y, added into the column sums.
    void Respond(std::int64_t y)
    {
        float const* up = VerticalRow(std::max<std::int64_t>(y - 1, 0)) + 1;
        float const* mid = VerticalRow(y) + 1;
        float const* down = VerticalRow(std::min(y + 1, m_height - 1)) + 1;
        if (m_order == 2)
            AddLaplacian(up, mid, down, m_width, m_columns.data());
        else
            AddGradient(up, mid, down, m_width, m_columns.data());
    }

    // One map row from the column sums of the last `rows` rows.
    void FoldBlocks(std::int64_t rows, std::uint8_t* out)
    {
        for (std::int64_t i = 0; i < m_blocksX; ++i) {
            const std::int64_t x0 = i * m_block, x1 = std::min(x0 + m_block, m_width);
            double sum = 0.0;
            for (std::int64_t x = x0; x < x1; ++x)
                sum += m_columns[std::size_t(x)];
            const double rms = std::sqrt(sum / double((x1 - x0) * rows)) / m_fullScale;
            const double value = std::round(kMapScale * rms);
            // NaN (sums that overflowed) reads as no detail.
            out[i] = !(value > 0.0) ? 0 : value >= 255.0 ? 255 : static_cast<std::uint8_t>(value);
        }
        std::fill(m_columns.begin(), m_columns.end(), 0.0f);
    }

    CPixFrame const& m_source;
    int m_order;
    std::vector<float> m_kernel;
    int m_radius;
    std::int64_t m_block;
    geo::CiRect m_bounds;
    tConvert m_convert = nullptr;
    tLayout m_layout;
    double m_fullScale = 1.0;
    std::int64_t m_width = 0, m_height = 0, m_blocksX = 0, m_blocksY = 0;
    std::vector<float> m_input, m_horizontal, m_vertical, m_columns;
};

}  // namespace

CSharpness::~CSharpness() = default;

CGaussSharpness::CGaussSharpness(double sigma, int order) : m_dSigma(sigma), m_nOrder(order) {}

bool CGaussSharpness::IsValid() const
{
    return m_dSigma >= 0.0 && m_dSigma <= kMaxSigma && (m_nOrder == 1 || m_nOrder == 2);
}

boost::shared_ptr<CPixFrame> CGaussSharpness::GetSharpnessMap(boost::shared_ptr<CPixFrame> const& source,
                                                               int blockSize) const
{
    if (!source || blockSize < 1 || !IsValid())
        return {};
    try {
        CGaussPipeline pipeline(*source, m_nOrder, GaussianHalf(m_dSigma), blockSize);
        if (!pipeline.Valid())
            return {};
        boost::shared_ptr<CPixFrame> map = CPixFrame::Create(pipeline.MapRect(), CPixelInfo(utl::eUInt8, 1, eColorSpaceGray),
                                                             mem::eMemoryDefault, mem::eAlign32, utl::CPropSet());
        if (!map || !pipeline.Run(*map))
            return {};
        return map;
    } catch (std::exception const&) {
        return {};
    }
}

}  // namespace img

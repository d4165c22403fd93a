#include "imgscope/contracts/document/compositor_internal.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/stack.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace img {
namespace detail {

namespace {

// ---------------------------------------------------------------- values

// Row kernels stay functions of their own: inlined into the long row loop
// they lose the no-overlap promise of their arguments and run scalar.
#if defined(_MSC_VER)
#define IMGSCOPE_ROW_KERNEL __declspec(noinline)
#else
#define IMGSCOPE_ROW_KERNEL __attribute__((noinline))
#endif

bool IsFinite(geo::CdVec2 const& v) { return std::isfinite(v.x) && std::isfinite(v.y); }
bool IsUsableScale(geo::CdVec2 const& s) { return IsFinite(s) && s.x != 0.0 && s.y != 0.0; }

// A colour as three 16-bit lanes (blue, green, red): the channels of a
// layer add up in lanes without overflow and are clamped once.
using tLanes = std::uint64_t;
constexpr tLanes MakeLanes(unsigned blue, unsigned green, unsigned red)
{
    return tLanes(blue) | tLanes(green) << 16 | tLanes(red) << 32;
}
inline std::uint8_t Clamp8(tLanes lane) { return std::uint8_t(std::min<tLanes>(lane & 0xFFFF, 255)); }

// Default colours of channels without a LUT, as blue, green, red weights.
struct tTint {
    unsigned b, g, r;
};
constexpr tTint kGrey{1, 1, 1};
constexpr tTint kCycle[] = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};

// ---------------------------------------------------------------- geometry

// The frame an entry shows: property 10014 while it names a frame, else the
// entry's active frame, else the stack's first.
utl::CIndexN FrameShown(tEntry const& entry, CStack const& stack)
{
    const std::size_t order = std::size_t(std::max(0, stack.DimCount(0)));
    utl::CIndexN frame;
    if (mem::CBin const* bin = entry.properties.AccessProperty(kActiveFrameProperty)) {
        if (bin->Get(frame) && frame.size() == order && (stack.GetPixFrame(frame) || stack.GetVecGraph(frame)))
            return frame;
    }
    if (entry.hasActiveFrame && (entry.activeFrame.size() == order || entry.activeFrame.empty()))
        return entry.activeFrame;
    return stack.FrameIndexBegin(0);
}

double OpacityOf(tEntry const& entry)
{
    double value = 1.0;
    if (mem::CBin const* bin = entry.properties.AccessProperty(kOpacityProperty))
        bin->GetPlainOrUnit(value);
    if (std::isnan(value))
        return 1.0;
    return std::clamp(value, 0.0, 1.0);
}

// ---------------------------------------------------------------- row access

// Pixel pointers of covered target column k. The indexed form looks up the
// span and offset of each column; the linear form walks a run of columns
// that read consecutive source pixels (or one pixel again and again).
struct tIndexedReader {
    std::uint8_t const* const* pointers;
    int const* spans;
    std::int64_t const* offsets;
    std::uint8_t const* operator()(int k) const { return pointers[spans[k]] + offsets[k]; }
};
struct tLinearReader {
    std::uint8_t const* base;
    int first;
    std::int64_t stride;
    std::uint8_t const* operator()(int k) const { return base + (k - first) * stride; }
};

// Reads one source (a pixel frame or a mask) row by row through the pixel
// store's row spans. The spans of a row follow the tile columns, which are
// the same for every row, so the span and byte offset of each covered
// target column are worked out once and reused; a row whose spans differ
// makes them be worked out again.
class CRowAccess {
public:
    // `columns`: the source x of each covered target column, or INT_MIN
    // where the column lies outside the source (it then reads `outside`).
    void Setup(std::vector<int> const& columns, int pixelBytes, std::uint8_t const* outside)
    {
        m_columns = columns;
        m_pixelBytes = pixelBytes;
        m_outside = outside;
        m_first = INT_MAX;
        m_last = INT_MIN;
        for (int x : columns) {
            if (x == INT_MIN)
                continue;
            m_first = std::min(m_first, x);
            m_last = std::max(m_last, x);
        }
        m_starts.clear();
        m_counts.clear();
        m_span.assign(columns.size(), 0);
        m_offset.assign(columns.size(), 0);
        m_runs.clear();
        m_linear = false;
    }

    bool Empty() const { return m_first > m_last; }

    // Fetches row `y`; false when the store gives no pixels there.
    template <class GetSpan>
    bool Fetch(int y, GetSpan const& getSpan)
    {
        m_pointers.clear();
        m_scratchStarts.clear();
        m_scratchCounts.clear();
        bool same = !m_starts.empty();
        std::size_t k = 0;
        for (int x = m_first; x <= m_last; ++k) {
            std::uint8_t const* data = nullptr;
            const int count = getSpan(geo::CiVec2(x, y), data);
            if (count <= 0 || !data)
                return false;
            if (same && (k >= m_starts.size() || m_starts[k] != x || m_counts[k] != count))
                same = false;
            m_pointers.push_back(data);
            m_scratchStarts.push_back(x);
            m_scratchCounts.push_back(count);
            x = count > m_last - x ? m_last + 1 : x + count;
        }
        if (!same || k != m_starts.size()) {
            m_starts.swap(m_scratchStarts);
            m_counts.swap(m_scratchCounts);
            Layout();
        }
        m_pointers.push_back(m_outside);  // the span of columns outside
        return true;
    }

    // Calls f(reader, k0, k1) over all covered columns of the fetched row.
    template <class F>
    void ForEachRun(F&& f) const
    {
        if (m_linear) {
            for (tRun const& run : m_runs)
                f(tLinearReader{m_pointers[std::size_t(run.span)] + run.offset, run.first, run.stride}, run.first,
                  run.last);
        } else {
            f(tIndexedReader{m_pointers.data(), m_span.data(), m_offset.data()}, 0, int(m_columns.size()));
        }
    }

private:
    struct tRun {
        int first, last;  // columns [first, last)
        int span;
        std::int64_t offset;
        std::int64_t stride;
    };

    void Layout()
    {
        const int outsideSpan = int(m_starts.size());
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            const int x = m_columns[i];
            if (x == INT_MIN) {
                m_span[i] = outsideSpan;
                m_offset[i] = 0;
                continue;
            }
            auto it = std::upper_bound(m_starts.begin(), m_starts.end(), x);
            const std::size_t k = std::size_t(it - m_starts.begin()) - 1;
            m_span[i] = int(k);
            m_offset[i] = std::int64_t(x - m_starts[k]) * m_pixelBytes;
        }
        // Runs of columns that step through one span by a whole pixel or
        // stand still; worth walking linearly when they are long.
        m_runs.clear();
        const int n = int(m_columns.size());
        for (int k = 0; k < n;) {
            tRun run{k, k + 1, m_span[std::size_t(k)], m_offset[std::size_t(k)], 0};
            if (k + 1 < n && m_span[std::size_t(k + 1)] == run.span) {
                const std::int64_t step = m_offset[std::size_t(k + 1)] - run.offset;
                if (step == 0 || step == m_pixelBytes)
                    run.stride = step;
            }
            while (run.last < n && m_span[std::size_t(run.last)] == run.span &&
                   m_offset[std::size_t(run.last)] == run.offset + (run.last - k) * run.stride)
                ++run.last;
            m_runs.push_back(run);
            k = run.last;
        }
        m_linear = m_runs.size() * 8 <= m_columns.size();
    }

    std::vector<int> m_columns;
    int m_pixelBytes = 1;
    std::uint8_t const* m_outside = nullptr;
    int m_first = INT_MAX;
    int m_last = INT_MIN;
    std::vector<int> m_starts, m_counts, m_scratchStarts, m_scratchCounts;
    std::vector<int> m_span;
    std::vector<std::int64_t> m_offset;
    std::vector<tRun> m_runs;
    bool m_linear = false;
    std::vector<std::uint8_t const*> m_pointers;
};

// ---------------------------------------------------------------- colour tables

// Element types read through a table indexed by the raw value.
bool IsTabled(utl::EType type)
{
    return type == utl::eUInt8 || type == utl::eInt8 || type == utl::eUInt16 || type == utl::eInt16;
}

void TypeRange(utl::EType type, double& lo, double& hi)
{
    switch (type) {
    case utl::eInt8: lo = -128.0; hi = 127.0; return;
    case utl::eUInt8: lo = 0.0; hi = 255.0; return;
    case utl::eInt16: lo = -32768.0; hi = 32767.0; return;
    case utl::eUInt16: lo = 0.0; hi = 65535.0; return;
    case utl::eInt32:
        lo = double(std::numeric_limits<std::int32_t>::min());
        hi = double(std::numeric_limits<std::int32_t>::max());
        return;
    case utl::eUInt32: lo = 0.0; hi = double(std::numeric_limits<std::uint32_t>::max()); return;
    case utl::eInt64:
        lo = double(std::numeric_limits<std::int64_t>::min());
        hi = double(std::numeric_limits<std::int64_t>::max());
        return;
    case utl::eUInt64: lo = 0.0; hi = double(std::numeric_limits<std::uint64_t>::max()); return;
    default: lo = 0.0; hi = 1.0; return;  // floating point: 0..1
    }
}

// How one channel's values become colours: limits map onto 0..1, which
// indexes the LUT (display LUT first, then data LUT) or a ramp of the
// channel's default tint.
struct tChannelLook {
    double lo = 0.0;
    double hi = 255.0;
    std::vector<utl::CBGR8> lut;
    tTint tint = kGrey;

    // Position of `value` between the limits, 0..1.
    double Level(double value) const
    {
        if (std::isnan(value))
            return 0.0;
        if (hi == lo)
            return value >= hi ? 1.0 : 0.0;
        return std::clamp((value - lo) / (hi - lo), 0.0, 1.0);
    }
    tLanes Colour(double level) const
    {
        if (!lut.empty()) {
            utl::CBGR8 const& c = lut[std::size_t(std::lround(level * double(lut.size() - 1)))];
            return MakeLanes(c.b, c.g, c.r);
        }
        const unsigned v = unsigned(std::lround(level * 255.0));
        return MakeLanes(v * tint.b, v * tint.g, v * tint.r);
    }
};

// One colour channel read from a component of a pixel source. Its table
// is indexed by the raw value for 1- and 2-byte integers and by the level
// 0..255 for other types; it holds one of three forms, chosen when the
// layer is planned (FinishTables).
struct tChannelTable {
    int component = 0;
    std::vector<tLanes> lanes;           // summed with other channels
    std::vector<std::uint32_t> packed;   // a lone channel: blue | green << 8 | red << 16
    std::vector<std::uint8_t> bytes;     // the channel feeds one output byte only
    int lane = -1;                       // that byte: 0 blue, 1 green, 2 red; -1 never lit
    double lo = 0.0;                     // untabled types: level = (value − lo) × levelScale
    double hi = 0.0;
    double levelScale = 0.0;
};

tChannelTable MakeTable(utl::EType type, int component, tChannelLook const& look)
{
    tChannelTable t;
    t.component = component;
    if (IsTabled(type)) {
        const bool wide = type == utl::eUInt16 || type == utl::eInt16;
        const bool isSigned = type == utl::eInt8 || type == utl::eInt16;
        const int size = wide ? 65536 : 256;
        const int offset = isSigned ? size / 2 : 0;
        t.lanes.resize(std::size_t(size));
        for (int raw = 0; raw < size; ++raw)
            t.lanes[std::size_t(raw)] = look.Colour(look.Level(double(raw - offset)));
    } else {
        t.lanes.resize(256);
        for (int level = 0; level < 256; ++level)
            t.lanes[std::size_t(level)] = look.Colour(level / 255.0);
        t.lo = look.lo;
        t.hi = look.hi;
        t.levelScale = look.hi == look.lo ? 0.0 : 255.0 / (look.hi - look.lo);
    }
    return t;
}

template <class T>
inline T Load(std::uint8_t const* p)
{
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

// Table index of an element.
template <class T>
inline std::size_t TableIndex(tChannelTable const& t, std::uint8_t const* element)
{
    const T v = Load<T>(element);
    if constexpr (sizeof(T) <= 2 && std::is_integral_v<T>) {
        if constexpr (std::is_signed_v<T>)
            return std::size_t(int(v) - int(std::numeric_limits<T>::min()));
        else
            return std::size_t(v);
    } else {
        const double value = double(v);
        if (t.levelScale == 0.0)
            return value >= t.hi ? 255 : 0;
        if (!(value == value))
            return 0;
        return std::size_t(std::clamp((value - t.lo) * t.levelScale + 0.5, 0.0, 255.0));
    }
}

// ---------------------------------------------------------------- layer plans

// How a source turns into colours: one channel looked up straight into
// bytes, channels that each light one output byte of their own, or
// channels summed in lanes and clamped.
enum ESourceMode : int { eModePacked, eModeBytes, eModeSum };

// One pixel frame a layer reads, with the channels taken from it.
struct tSource {
    boost::shared_ptr<CPixFrame> frame;
    utl::EType type = utl::eUInt8;
    int pixelBytes = 1;
    int elementBytes = 1;
    std::vector<tChannelTable> channels;
    ESourceMode mode = eModeSum;
    bool allLanesLit = false;  // eModeBytes: every output byte has a channel
    int alphaComponent = -1;
    double alphaMax = 255.0;
    CRowAccess access;
};

// Chooses the cheapest table form that gives the same colours.
void FinishTables(tSource& s, bool alone)
{
    if (alone && s.channels.size() == 1) {
        tChannelTable& ch = s.channels[0];
        ch.packed.resize(ch.lanes.size());
        for (std::size_t i = 0; i < ch.lanes.size(); ++i) {
            const tLanes c = ch.lanes[i];  // one channel: lanes stay below 256
            ch.packed[i] = std::uint32_t(c & 0xFF) | std::uint32_t((c >> 16) & 0xFF) << 8 |
                           std::uint32_t((c >> 32) & 0xFF) << 16;
        }
        ch.lanes = std::vector<tLanes>();
        s.mode = eModePacked;
        return;
    }
    if (!alone) {
        s.mode = eModeSum;
        return;
    }
    unsigned lit = 0;
    for (tChannelTable& ch : s.channels) {
        tLanes any = 0;
        for (tLanes c : ch.lanes)
            any |= c;
        unsigned mask = 0;
        for (int lane = 0; lane < 3; ++lane)
            if ((any >> (16 * lane)) & 0xFFFF)
                mask |= 1u << lane;
        if ((mask & (mask - 1)) != 0 || (mask & lit) != 0) {
            s.mode = eModeSum;
            return;
        }
        lit |= mask;
        ch.lane = mask == 0 ? -1 : mask == 1 ? 0 : mask == 2 ? 1 : 2;
    }
    for (tChannelTable& ch : s.channels) {
        if (ch.lane >= 0) {
            ch.bytes.resize(ch.lanes.size());
            for (std::size_t i = 0; i < ch.lanes.size(); ++i)
                ch.bytes[i] = std::uint8_t(ch.lanes[i] >> (16 * ch.lane));
        }
        ch.lanes = std::vector<tLanes>();
    }
    s.mode = eModeBytes;
    s.allLanesLit = lit == 7;
}

struct tSegment {
    double x0, y0, x1, y1;  // target coordinates, pixel centres at +0.5
};
struct tEllipse {
    double cx, cy, rx, ry;
};
struct tShape {
    std::vector<tSegment> segments;
    bool isEllipse = false;
    tEllipse ellipse{};
    unsigned b = 255, g = 255, r = 255;
};

struct tLayerPlan {
    bool isVector = false;
    std::vector<tSource> sources;
    boost::shared_ptr<CMask> mask;
    geo::CiRect maskBounds;
    CRowAccess maskAccess;
    int x0 = 0;  // covered target columns [x0, x1)
    int x1 = 0;
    std::vector<int> rowIndex;  // source y per target row of the clip; INT_MIN outside
    unsigned weight = 256;      // opacity × 256
    ELayerFunction function = eFunctionNormal;
    boost::shared_ptr<CDisplayFilter> filter;
    // Vector layers: shapes in target coordinates, and the layer pixel of a
    // target pixel for the mask (layer = a × (target + 0.5) + b).
    std::vector<tShape> shapes;
    double ax = 1.0, bx = 0.0, ay = 1.0, by = 0.0;

    // Blend weight 0..256 of a coverage of 0..255.
    unsigned WeightOf(unsigned coverage) const { return (coverage * weight + 127u) / 255u; }
};

const std::uint8_t kZeroPixel[64] = {};

// ---------------------------------------------------------------- blending

template <int Function>
inline unsigned Combine(unsigned below, unsigned c)
{
    if constexpr (Function == eFunctionAdd)
        return std::min(255u, below + c);
    else if constexpr (Function == eFunctionMultiply)
        return (below * c + 127u) / 255u;
    else if constexpr (Function == eFunctionMax)
        return std::max(below, c);
    else if constexpr (Function == eFunctionMin)
        return std::min(below, c);
    else
        return c;
}

// out = (below × (256 − w) + f × w + 128) / 256 stays below 65536, so the
// loops below run in 16-bit lanes once vectorised; the rows never overlap,
// which __restrict tells the compiler (it vectorises nothing otherwise).
template <int Function>
IMGSCOPE_ROW_KERNEL void BlendConstant(std::uint8_t* __restrict out, std::uint8_t const* __restrict layer, int bytes,
                                       unsigned w)
{
    if (w == 0)
        return;
    if (Function == eFunctionNormal && w == 256) {
        std::memcpy(out, layer, std::size_t(bytes));
        return;
    }
    const unsigned keep = 256 - w;
    for (int i = 0; i < bytes; ++i) {
        const unsigned o = out[i];
        out[i] = std::uint8_t(std::uint16_t(o * keep + Combine<Function>(o, layer[i]) * w + 128u) >> 8);
    }
}

template <int Function>
IMGSCOPE_ROW_KERNEL void BlendWeighted(std::uint8_t* __restrict out, std::uint8_t const* __restrict layer,
                   std::uint16_t const* __restrict weights, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        const unsigned o = out[i];
        const unsigned w = weights[i];
        out[i] = std::uint8_t(std::uint16_t(o * (256u - w) + Combine<Function>(o, layer[i]) * w + 128u) >> 8);
    }
}

// `weights` (null: the constant `weight`) holds one weight per byte.
template <int Function>
void BlendAs(std::uint8_t* out, std::uint8_t const* layer, std::uint16_t const* weights, int bytes, unsigned weight)
{
    if (weights)
        BlendWeighted<Function>(out, layer, weights, bytes);
    else
        BlendConstant<Function>(out, layer, bytes, weight);
}

// Picks the row kernel once per row, so the function is a template
// argument inside the loops.
void Blend(std::uint8_t* out, std::uint8_t const* layer, std::uint16_t const* weights, int count,
           tLayerPlan const& plan)
{
    const int bytes = count * 3;
    switch (plan.function) {
    case eFunctionAdd: return BlendAs<eFunctionAdd>(out, layer, weights, bytes, plan.weight);
    case eFunctionMultiply: return BlendAs<eFunctionMultiply>(out, layer, weights, bytes, plan.weight);
    case eFunctionMax: return BlendAs<eFunctionMax>(out, layer, weights, bytes, plan.weight);
    case eFunctionMin: return BlendAs<eFunctionMin>(out, layer, weights, bytes, plan.weight);
    default: return BlendAs<eFunctionNormal>(out, layer, weights, bytes, plan.weight);
    }
}

void BlendPixel(std::uint8_t* out, unsigned b, unsigned g, unsigned r, unsigned w, ELayerFunction function)
{
    const unsigned c[3] = {b, g, r};
    const unsigned keep = 256 - w;
    for (int i = 0; i < 3; ++i) {
        unsigned f;
        switch (function) {
        case eFunctionAdd: f = Combine<eFunctionAdd>(out[i], c[i]); break;
        case eFunctionMultiply: f = Combine<eFunctionMultiply>(out[i], c[i]); break;
        case eFunctionMax: f = Combine<eFunctionMax>(out[i], c[i]); break;
        case eFunctionMin: f = Combine<eFunctionMin>(out[i], c[i]); break;
        default: f = c[i]; break;
        }
        out[i] = std::uint8_t((out[i] * keep + f * w + 128u) >> 8);
    }
}

// ---------------------------------------------------------------- colouring

// The kernels take a reader (tIndexedReader or tLinearReader) and fill
// covered columns [k0, k1) of a row.
template <class T, class Reader>
void ColourPacked(tSource const& s, Reader const& at, int k0, int k1, std::uint8_t* bgr)
{
    tChannelTable const& ch = s.channels[0];
    std::uint32_t const* table = ch.packed.data();
    const std::int64_t component = std::int64_t(ch.component) * s.elementBytes;
    for (int k = k0; k < k1; ++k) {
        const std::uint32_t c = table[TableIndex<T>(ch, at(k) + component)];
        std::uint8_t* o = bgr + std::int64_t(k) * 3;
        o[0] = std::uint8_t(c);
        o[1] = std::uint8_t(c >> 8);
        o[2] = std::uint8_t(c >> 16);
    }
}

template <class T, class Reader>
void ColourBytes(tSource const& s, Reader const& at, int k0, int k1, std::uint8_t* bgr)
{
    for (tChannelTable const& ch : s.channels) {
        if (ch.lane < 0)
            continue;
        std::uint8_t const* table = ch.bytes.data();
        const std::int64_t component = std::int64_t(ch.component) * s.elementBytes;
        std::uint8_t* o = bgr + ch.lane;
        for (int k = k0; k < k1; ++k)
            o[std::int64_t(k) * 3] = table[TableIndex<T>(ch, at(k) + component)];
    }
}

template <class T, class Reader>
void ColourSum(tSource const& s, Reader const& at, int k0, int k1, tLanes* sum)
{
    for (tChannelTable const& ch : s.channels) {
        tLanes const* table = ch.lanes.data();
        const std::int64_t component = std::int64_t(ch.component) * s.elementBytes;
        for (int k = k0; k < k1; ++k)
            sum[k] += table[TableIndex<T>(ch, at(k) + component)];
    }
}

// Coverage of the source's alpha component, 0..255, into `coverage` (or
// multiplied into it with `combine`).
template <class T, class Reader>
void Coverage(tSource const& s, Reader const& at, int k0, int k1, std::uint8_t* coverage, bool combine)
{
    const std::int64_t component = std::int64_t(s.alphaComponent) * s.elementBytes;
    const double scale = 255.0 / s.alphaMax;
    for (int k = k0; k < k1; ++k) {
        const double v = double(Load<T>(at(k) + component)) * scale;
        const unsigned a = v >= 0.0 ? unsigned(std::min(v + 0.5, 255.0)) : 0u;
        coverage[k] = combine ? std::uint8_t((coverage[k] * a + 127u) / 255u) : std::uint8_t(a);
    }
}

// Runs kernel K<T> over every run of the source's fetched row.
template <template <class, class> class K, class T, class... Args>
void OverRuns(tSource const& s, Args... args)
{
    s.access.ForEachRun(
        [&](auto const& at, int k0, int k1) { K<T, std::decay_t<decltype(at)>>::Run(s, at, k0, k1, args...); });
}

template <class T, class R>
struct KPacked {
    static void Run(tSource const& s, R const& at, int k0, int k1, std::uint8_t* bgr)
    {
        ColourPacked<T>(s, at, k0, k1, bgr);
    }
};
template <class T, class R>
struct KBytes {
    static void Run(tSource const& s, R const& at, int k0, int k1, std::uint8_t* bgr)
    {
        ColourBytes<T>(s, at, k0, k1, bgr);
    }
};
template <class T, class R>
struct KSum {
    static void Run(tSource const& s, R const& at, int k0, int k1, tLanes* sum) { ColourSum<T>(s, at, k0, k1, sum); }
};
template <class T, class R>
struct KCoverage {
    static void Run(tSource const& s, R const& at, int k0, int k1, std::uint8_t* coverage, bool combine)
    {
        Coverage<T>(s, at, k0, k1, coverage, combine);
    }
};

// Chooses the element type once per source and row.
template <template <class, class> class K, class... Args>
void ByType(tSource const& s, Args... args)
{
    switch (s.type) {
    case utl::eInt8: OverRuns<K, std::int8_t>(s, args...); return;
    case utl::eUInt8: OverRuns<K, std::uint8_t>(s, args...); return;
    case utl::eInt16: OverRuns<K, std::int16_t>(s, args...); return;
    case utl::eUInt16: OverRuns<K, std::uint16_t>(s, args...); return;
    case utl::eInt32: OverRuns<K, std::int32_t>(s, args...); return;
    case utl::eUInt32: OverRuns<K, std::uint32_t>(s, args...); return;
    case utl::eInt64: OverRuns<K, std::int64_t>(s, args...); return;
    case utl::eUInt64: OverRuns<K, std::uint64_t>(s, args...); return;
    case utl::eFloat: OverRuns<K, float>(s, args...); return;
    case utl::eDouble: OverRuns<K, double>(s, args...); return;
    default: return;
    }
}

// ---------------------------------------------------------------- vector shapes

void PlotSpan(std::uint8_t* out, int left, int from, int to, int clipLeft, int clipRight, tShape const& shape,
              tLayerPlan const& plan, int row)
{
    from = std::max(from, clipLeft);
    to = std::min(to, clipRight - 1);
    for (int i = from; i <= to; ++i) {
        unsigned w = plan.weight;
        if (plan.mask) {
            const int lx = int(std::floor(plan.ax * (i + 0.5) + plan.bx));
            const int ly = int(std::floor(plan.ay * (row + 0.5) + plan.by));
            const int m = plan.mask->GetValue(geo::CiVec2(lx, ly));
            w = plan.WeightOf(m < 0 ? 0u : unsigned(m));
        }
        BlendPixel(out + std::int64_t(i - left) * 3, shape.b, shape.g, shape.r, w, plan.function);
    }
}

// The pixels of row `row` that a segment touches: along its major axis one
// pixel per column (or row), centres sampled at +0.5.
void SegmentRow(tSegment const& s, int row, int& from, int& to)
{
    from = 1;
    to = 0;
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double minY = std::min(s.y0, s.y1), maxY = std::max(s.y0, s.y1);
    if (std::fabs(dx) >= std::fabs(dy)) {
        const double minX = std::min(s.x0, s.x1), maxX = std::max(s.x0, s.x1);
        const double firstCol = std::floor(minX), lastCol = std::floor(maxX);
        if (row < std::floor(minY) || row > std::floor(maxY))
            return;
        const auto rowOf = [&](double col) {
            const double u = std::clamp(col + 0.5, minX, maxX);
            const double v = dx == 0.0 ? s.y0 : s.y0 + (u - s.x0) * dy / dx;
            return std::floor(v);
        };
        double lo = firstCol, hi = lastCol;
        if (dy != 0.0) {
            // Columns whose sample falls in [row, row + 1), widened by one.
            const double ua = s.x0 + (row - s.y0) * dx / dy;
            const double ub = s.x0 + (row + 1 - s.y0) * dx / dy;
            lo = std::max(lo, std::floor(std::min(ua, ub)) - 1.0);
            hi = std::min(hi, std::floor(std::max(ua, ub)) + 1.0);
        }
        while (lo <= hi && rowOf(lo) != row)
            lo += 1.0;
        while (hi >= lo && rowOf(hi) != row)
            hi -= 1.0;
        if (lo > hi || lo < INT_MIN / 2 || hi > INT_MAX / 2)
            return;
        from = int(lo);
        to = int(hi);
    } else {
        if (row < std::floor(minY) || row > std::floor(maxY))
            return;
        const double v = std::clamp(row + 0.5, minY, maxY);
        const double u = s.x0 + (v - s.y0) * dx / dy;
        if (!(u > INT_MIN / 2 && u < INT_MAX / 2))
            return;
        from = to = int(std::floor(u));
    }
}

void DrawShapesRow(tLayerPlan const& plan, int row, std::uint8_t* out, int clipLeft, int clipRight)
{
    for (tShape const& shape : plan.shapes) {
        if (!shape.isEllipse) {
            for (tSegment const& seg : shape.segments) {
                int from, to;
                SegmentRow(seg, row, from, to);
                if (from <= to)
                    PlotSpan(out, clipLeft, from, to, clipLeft, clipRight, shape, plan, row);
            }
            continue;
        }
        // Outline of an ellipse within the band [row, row + 1): on each side
        // the columns between the half-widths at the band's far and near y.
        tEllipse const& e = shape.ellipse;
        const double top = row, bottom = row + 1.0;
        if (bottom < e.cy - e.ry || top > e.cy + e.ry)
            continue;
        const auto halfWidth = [&](double v) {
            const double t = (v - e.cy) / e.ry;
            return t * t >= 1.0 ? 0.0 : e.rx * std::sqrt(1.0 - t * t);
        };
        const double wMax = halfWidth(std::clamp(e.cy, top, bottom));
        const double far = std::fabs(top - e.cy) > std::fabs(bottom - e.cy) ? top : bottom;
        const double wMin = halfWidth(far);
        const double limits[4] = {e.cx + wMin, e.cx + wMax, e.cx - wMax, e.cx - wMin};
        bool finite = true;
        for (double l : limits)
            finite = finite && l > INT_MIN / 2 && l < INT_MAX / 2;
        if (!finite)
            continue;
        const int rightFrom = int(std::floor(limits[0])), rightTo = int(std::floor(limits[1]));
        const int leftFrom = int(std::floor(limits[2])), leftTo = int(std::floor(limits[3]));
        PlotSpan(out, clipLeft, leftFrom, std::min(leftTo, rightFrom - 1), clipLeft, clipRight, shape, plan, row);
        PlotSpan(out, clipLeft, std::max(rightFrom, leftFrom), rightTo, clipLeft, clipRight, shape, plan, row);
    }
}

// ---------------------------------------------------------------- planning

struct tView {
    // Target pixel centre u → calibrated canvas coordinate: X = u × k + c.
    double kx, cx, ky, cy;
    geo::CiRect clip;
};

std::vector<int> ColumnsOf(tView const& view, double ox, double sx, int boundLeft, int boundRight, int& x0, int& x1)
{
    // layer x = (X − origin) / scale with X = (i + 0.5) × k + c.
    std::vector<int> all;
    x0 = INT_MAX;
    x1 = INT_MIN;
    for (int i = view.clip.left; i < view.clip.right; ++i) {
        const double lx = std::floor(((i + 0.5) * view.kx + view.cx - ox) / sx);
        const bool inside = lx >= boundLeft && lx < boundRight;
        if (inside) {
            x0 = std::min(x0, i);
            x1 = std::max(x1, i + 1);
        }
        all.push_back(inside ? int(lx) : INT_MIN);
    }
    if (x0 >= x1)
        return {};
    return std::vector<int>(all.begin() + (x0 - view.clip.left), all.begin() + (x1 - view.clip.left));
}

std::vector<int> RowsOf(tView const& view, double oy, double sy, int boundTop, int boundBottom)
{
    std::vector<int> rows;
    rows.reserve(std::size_t(view.clip.Height()));
    for (int j = view.clip.top; j < view.clip.bottom; ++j) {
        const double ly = std::floor(((j + 0.5) * view.ky + view.cy - oy) / sy);
        rows.push_back(ly >= boundTop && ly < boundBottom ? int(ly) : INT_MIN);
    }
    return rows;
}

tChannelLook LookOf(CStack const& stack, tEntry const& entry, int channel, utl::EType type, tTint tint)
{
    tChannelLook look;
    TypeRange(type, look.lo, look.hi);
    utl::TInterval<double> limits;
    if ((stack.GetDispLimits(limits, channel) || stack.GetDispLimits(limits, -1)) && std::isfinite(limits.lower) &&
        std::isfinite(limits.upper)) {
        look.lo = limits.lower;
        look.hi = limits.upper;
    }
    auto it = entry.channels.find(channel);
    if (entry.useLut != 0 && it != entry.channels.end() && it->second.hasLut && !it->second.lut.empty())
        look.lut = it->second.lut;
    else if (!stack.GetLUT(look.lut, channel))
        look.lut.clear();
    look.tint = tint;
    return look;
}

bool ChannelVisible(tEntry const& entry, int channel)
{
    auto it = entry.channels.find(channel);
    return it == entry.channels.end() || it->second.visible;
}

// Builds the sources of a raster layer; false when it shows nothing (no
// visible channel, no frame). Hidden channels of a shown layer are black.
bool PlanRaster(tEntry const& entry, CStack const& stack, tLayerPlan& plan, geo::CiRect& bounds)
{
    const utl::CIndexN frame = FrameShown(entry, stack);
    const std::vector<int> channels = ChannelsOf(stack);
    std::vector<int> visible;
    for (int c : channels)
        if (ChannelVisible(entry, c))
            visible.push_back(c);
    if (visible.empty())
        return false;

    const int channelDim = stack.GetChannelDim();
    bool first = true;
    const auto addSource = [&](boost::shared_ptr<CPixFrame> const& pix) -> tSource* {
        if (!pix)
            return nullptr;
        CPixelInfo const& info = pix->GetPixelInfo();
        if (!info.IsValid())
            return nullptr;
        const geo::CiRect b = pix->GetBoundary(0);
        bounds = first ? b : geo::Intersection(bounds, b);
        first = false;
        tSource s;
        s.frame = pix;
        s.type = info.GetElementType();
        s.pixelBytes = info.Size();
        s.elementBytes = info.GetComponentSize();
        if (info.HasAlpha()) {
            s.alphaComponent = info.GetComponentCount() - info.GetAlphaCount();
            double lo = 0.0;
            TypeRange(s.type, lo, s.alphaMax);
            if (!(s.alphaMax > 0.0))
                s.alphaMax = 1.0;
        }
        plan.sources.push_back(std::move(s));
        return &plan.sources.back();
    };

    if (channelDim >= 0 && std::size_t(channelDim) < frame.size()) {
        // One frame per channel along the channel dimension; each shows
        // its first component in the channel's colour.
        for (std::size_t k = 0; k < visible.size(); ++k) {
            utl::CIndexN index = frame;
            index[std::size_t(channelDim)] = visible[k];
            tSource* s = addSource(stack.GetPixFrame(index));
            if (!s)
                continue;
            const std::size_t ordinal =
                std::size_t(std::find(channels.begin(), channels.end(), visible[k]) - channels.begin());
            const tTint tint = channels.size() == 1 ? kGrey : kCycle[ordinal % 7];
            s->channels.push_back(MakeTable(s->type, 0, LookOf(stack, entry, visible[k], s->type, tint)));
        }
    } else {
        tSource* s = addSource(stack.GetPixFrame(frame));
        if (s) {
            CPixelInfo const& info = s->frame->GetPixelInfo();
            const int colours = info.GetComponentCount() - info.GetAlphaCount();
            for (int c : visible) {
                if (c < 0 || c >= colours)
                    continue;
                tTint tint = kGrey;
                if (colours > 1) {
                    if (info.GetColorSpace() == eColorSpaceBGR && colours == 3)
                        tint = kCycle[2 - c];  // blue, green, red
                    else
                        tint = kCycle[std::size_t(c) % 7];  // red, green, blue, …
                }
                s->channels.push_back(MakeTable(s->type, c, LookOf(stack, entry, c, s->type, tint)));
            }
        }
    }
    // A source whose shown channels are all alpha or out of range still
    // covers what lies below, in black.
    return !plan.sources.empty() && !bounds.IsEmpty();
}

void PlanVector(CStack const& stack, tEntry const& entry, tView const& view, double ox, double sx, double oy,
                double sy, tLayerPlan& plan)
{
    const boost::shared_ptr<CVecGraph> graphic = stack.GetVecGraph(FrameShown(entry, stack));
    if (!graphic)
        return;
    // Layer pixel p (centre p + 0.5) → target u: u = ((p + 0.5) × s + o − c) / k.
    const auto tx = [&](double p) { return ((p + 0.5) * sx + ox - view.cx) / view.kx; };
    const auto ty = [&](double p) { return ((p + 0.5) * sy + oy - view.cy) / view.ky; };
    for (CVecGraph::tShape const& in : graphic->Shapes()) {
        tShape shape;
        shape.b = in.blue;
        shape.g = in.green;
        shape.r = in.red;
        geo::CdRect r = in.bounds;
        const double x0 = tx(r.left), y0 = ty(r.top), x1 = tx(r.right), y1 = ty(r.bottom);
        if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1)))
            continue;
        switch (in.kind) {
        case CVecGraph::eLine:
            shape.segments.push_back({x0, y0, x1, y1});
            break;
        case CVecGraph::eEllipse:
            if (x0 != x1 && y0 != y1) {
                shape.isEllipse = true;
                shape.ellipse = {(x0 + x1) / 2, (y0 + y1) / 2, std::fabs(x1 - x0) / 2, std::fabs(y1 - y0) / 2};
                break;
            }
            [[fallthrough]];  // a flat ellipse is a line
        default:
            shape.segments.push_back({x0, y0, x1, y0});
            shape.segments.push_back({x1, y0, x1, y1});
            shape.segments.push_back({x1, y1, x0, y1});
            shape.segments.push_back({x0, y1, x0, y0});
            break;
        }
        plan.shapes.push_back(std::move(shape));
    }
    plan.isVector = !plan.shapes.empty();
    plan.ax = view.kx / sx;
    plan.bx = (view.cx - ox) / sx;
    plan.ay = view.ky / sy;
    plan.by = (view.cy - oy) / sy;
}

// The layers of `layerIds` that are drawn, with the opacity of their group:
// entries that are visible and not hidden, in visible groups, and in a
// singular group only its topmost shown member.
struct tDrawn {
    int layerId;
    tEntry const* entry;
    double groupOpacity;
};

bool Shown(tEntry const& entry) { return entry.visible && !entry.hidden; }

std::vector<tDrawn> DrawnLayers(tFlowState const& state, std::vector<int> const& layerIds)
{
    std::vector<tDrawn> drawn;
    for (int layerId : layerIds) {
        tEntry const* entry = state.FindLayerEntry(state.PlaneOf(layerId));
        if (!entry || !Shown(*entry))
            continue;
        double groupOpacity = 1.0;
        tEntry const* parent = state.Find(entry->parent);
        if (parent && parent->id != state.rootId) {
            if (!Shown(*parent))
                continue;
            if (parent->singular) {
                int top = -1;
                for (int child : parent->children) {
                    tEntry const* member = state.Find(child);
                    if (member && Shown(*member))
                        top = child;
                }
                if (top != entry->id)
                    continue;
            }
            groupOpacity = OpacityOf(*parent);
        }
        drawn.push_back({layerId, entry, groupOpacity});
    }
    return drawn;
}

}  // namespace

// ---------------------------------------------------------------- geometry

namespace {

// A stack's calibration with a unit per axis: dimensions 6 and 7 when both
// are calibrated (x and y may differ), else the single-unit form.
bool Calibration(CStack const& stack, geo::CdVec2& origin, geo::CdVec2& scale, utl::CUnit2& units)
{
    geo::CdVec2 o, s;
    utl::CUnit2 u;
    if (!stack.GetDimOriginScale(eDimX, o.x, s.x, u.x) || !stack.GetDimOriginScale(eDimY, o.y, s.y, u.y)) {
        utl::CUnit unit;
        if (!stack.GetOriginScale(o, s, unit))
            return false;
        u = utl::CUnit2(unit, unit);
    }
    if (!IsFinite(o) || !IsUsableScale(s))
        return false;
    origin = o;
    scale = s;
    units = u;
    return true;
}

}  // namespace

bool LayerToCanvas(tFlow const& flow, int layerId, tCanvas const& canvas, geo::CdVec2& origin, geo::CdVec2& scale)
{
    if (!flow.document)
        return false;
    const CStack stack = flow.document->FindStack(layerId);
    if (!stack.IsValid())
        return false;
    if (tEntry const* entry = flow.state->FindLayerEntry(flow.state->PlaneOf(layerId))) {
        if (entry->hasPlacement) {
            origin = entry->placementOrigin;
            scale = entry->placementScale;
            return true;
        }
    }
    geo::CdVec2 o, s;
    utl::CUnit2 units;
    if (canvas.calibrated && Calibration(stack, o, s, units) && units.x.Compatible(canvas.units.x) &&
        units.y.Compatible(canvas.units.y)) {
        const geo::CdVec2 so(utl::Convert(o.x, units.x, canvas.units.x), utl::Convert(o.y, units.y, canvas.units.y));
        const geo::CdVec2 ss(utl::Convert(s.x, units.x, canvas.units.x), utl::Convert(s.y, units.y, canvas.units.y));
        if (IsFinite(so) && IsUsableScale(ss)) {
            origin = so;
            scale = ss;
            return true;
        }
    }
    // One layer pixel per canvas pixel.
    origin = canvas.calibrated ? canvas.origin : geo::CdVec2(0.0, 0.0);
    scale = canvas.calibrated ? canvas.scale : geo::CdVec2(1.0, 1.0);
    return true;
}

bool FitCanvas(tFlow const& flow, std::vector<int> const& layerIds, tCanvas& canvas)
{
    if (!flow.document)
        return false;
    tCanvas work = canvas;
    if (!work.calibrated) {
        // The unit of the first calibrated layer, at the finest pixel size
        // among the layers in that unit, so that no layer loses detail.
        bool found = false;
        utl::CUnit unit = utl::c_pixel;
        geo::CdVec2 finest(1.0, 1.0);
        for (int layerId : layerIds) {
            const CStack stack = flow.document->FindStack(layerId);
            geo::CdVec2 o, s;
            utl::CUnit2 u;
            if (!stack.IsValid() || !Calibration(stack, o, s, u) || !u.y.Compatible(u.x))
                continue;
            const double sy = utl::Convert(s.y, u.y, u.x);
            if (!found) {
                found = true;
                unit = u.x;
                finest = geo::CdVec2(std::fabs(s.x), std::fabs(sy));
                continue;
            }
            if (!u.x.Compatible(unit))
                continue;
            finest.x = std::min(finest.x, std::fabs(utl::Convert(s.x, u.x, unit)));
            finest.y = std::min(finest.y, std::fabs(utl::Convert(sy, u.x, unit)));
        }
        if (!IsUsableScale(finest))
            return false;
        work.calibrated = true;
        work.origin = geo::CdVec2(0.0, 0.0);
        work.scale = finest;
        work.units = utl::CUnit2(unit, unit);
    }
    if (!(work.scale.x > 0.0 && work.scale.y > 0.0))
        return false;

    bool any = false;
    geo::CdRect extent;
    for (int layerId : layerIds) {
        geo::CdVec2 o, s;
        if (!LayerToCanvas(flow, layerId, work, o, s))
            continue;
        const geo::CiRect b = flow.document->FindStack(layerId).GetBoundary();
        if (b.IsEmpty())
            continue;
        geo::CdRect r(b.left * s.x + o.x, b.top * s.y + o.y, b.right * s.x + o.x, b.bottom * s.y + o.y);
        r.Normalize();
        if (!(std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.right) && std::isfinite(r.bottom)))
            continue;
        if (!any) {
            extent = r;
            any = true;
        } else {
            extent = geo::CdRect(std::min(extent.left, r.left), std::min(extent.top, r.top),
                                 std::max(extent.right, r.right), std::max(extent.bottom, r.bottom));
        }
    }
    if (!any)
        return false;
    // Round up, forgiving the last bits that a division leaves.
    const double w = std::ceil(extent.Width() / work.scale.x - 1e-9);
    const double h = std::ceil(extent.Height() / work.scale.y - 1e-9);
    if (!(w >= 0.0 && h >= 0.0 && w <= double(1 << 30) && h <= double(1 << 30)))
        return false;
    work.origin = geo::CdVec2(extent.left, extent.top);
    work.pixelRect = geo::CiRect(0, 0, std::max(1, int(w)), std::max(1, int(h)));
    work.rectangle = extent;
    work.hasRectangle = true;
    canvas = work;
    return true;
}

// ---------------------------------------------------------------- composing

bool Compose(tFlow const& flow, boost::shared_ptr<CPixFrame> const& target, geo::CiRect const& pixelRect,
             geo::CdRect const& canvasRect, std::vector<int> const& layerIds, tRenderHints const& hints)
{
    if (!target)
        return false;
    CPixelInfo const& targetInfo = target->GetPixelInfo();
    if (targetInfo.GetElementType() != utl::eUInt8 || targetInfo.GetComponentCount() != 3 || targetInfo.HasAlpha())
        return false;
    if (pixelRect.IsEmpty() || !(canvasRect.Width() > 0.0) || !(canvasRect.Height() > 0.0) ||
        !std::isfinite(canvasRect.left) || !std::isfinite(canvasRect.top) || !std::isfinite(canvasRect.right) ||
        !std::isfinite(canvasRect.bottom))
        return false;
    const geo::CiRect clip = geo::Intersection(pixelRect, target->GetBoundary(0));
    if (clip.IsEmpty())
        return false;

    tFlowState const& state = *flow.state;
    tCanvas const& canvas = state.canvas;

    // Target pixel centre u → canvas pixel → calibrated canvas coordinate.
    tView view;
    view.clip = clip;
    // In doubles: the extent of a rectangle spanning the int range overflows int.
    const double px = canvasRect.Width() / (double(pixelRect.right) - double(pixelRect.left));
    const double py = canvasRect.Height() / (double(pixelRect.bottom) - double(pixelRect.top));
    const double qx = canvasRect.left - pixelRect.left * px;
    const double qy = canvasRect.top - pixelRect.top * py;
    const double csx = canvas.calibrated ? canvas.scale.x : 1.0;
    const double csy = canvas.calibrated ? canvas.scale.y : 1.0;
    const double cox = canvas.calibrated ? canvas.origin.x : 0.0;
    const double coy = canvas.calibrated ? canvas.origin.y : 0.0;
    view.kx = px * csx;
    view.cx = qx * csx + cox;
    view.ky = py * csy;
    view.cy = qy * csy + coy;

    const int width = clip.Width();
    const std::size_t rowPixels = static_cast<std::size_t>(width);

    // Plans: per layer the tables, the column and row maps and its state,
    // made once so that the row loop looks nothing up.
    std::vector<tLayerPlan> plans;
    if (flow.document) {
        for (tDrawn const& d : DrawnLayers(state, layerIds)) {
            const CStack stack = flow.document->FindStack(d.layerId);
            if (!stack.IsValid())
                continue;
            geo::CdVec2 o, s;
            if (!LayerToCanvas(flow, d.layerId, canvas, o, s))
                continue;
            tLayerPlan plan;
            plan.weight = unsigned(std::lround(OpacityOf(*d.entry) * d.groupOpacity * 256.0));
            if (!hints.ignoreMasks && d.entry->mask) {
                plan.mask = d.entry->mask;
                plan.maskBounds = plan.mask->GetBoundary();
            }
            const std::vector<int> channels = ChannelsOf(stack);
            for (int c : channels) {
                if (ChannelVisible(*d.entry, c)) {
                    auto it = d.entry->channels.find(c);
                    plan.function = it == d.entry->channels.end() ? eFunctionNormal : it->second.function;
                    break;
                }
            }
            plan.filter = d.entry->filter;

            if (stack.GetLayerType() == eLayerTypeVector) {
                PlanVector(stack, *d.entry, view, o.x, s.x, o.y, s.y, plan);
                if (!plan.isVector)
                    continue;
            } else {
                geo::CiRect bounds;
                if (!PlanRaster(*d.entry, stack, plan, bounds))
                    continue;
                for (tSource& src : plan.sources)
                    FinishTables(src, plan.sources.size() == 1);
                const std::vector<int> columns = ColumnsOf(view, o.x, s.x, bounds.left, bounds.right, plan.x0, plan.x1);
                if (columns.empty())
                    continue;
                plan.rowIndex = RowsOf(view, o.y, s.y, bounds.top, bounds.bottom);
                for (tSource& src : plan.sources)
                    src.access.Setup(columns, src.pixelBytes, kZeroPixel);
                if (plan.mask) {
                    std::vector<int> maskColumns = columns;
                    for (int& x : maskColumns)
                        if (x < plan.maskBounds.left || x >= plan.maskBounds.right)
                            x = INT_MIN;
                    plan.maskAccess.Setup(maskColumns, 1, kZeroPixel);
                }
            }
            plans.push_back(std::move(plan));
        }
    }
    // Background: canvas pixels inside the canvas's pixel rectangle take the
    // background colour, those outside the border colour. Both kinds of
    // row are made once and copied.
    const bool hasCanvasRect = !canvas.pixelRect.IsEmpty();
    std::vector<std::uint8_t> insideRow(rowPixels * 3), borderRow(rowPixels * 3);
    for (int i = 0; i < width; ++i) {
        const double c = (clip.left + i + 0.5) * px + qx;
        const bool inside = !hasCanvasRect || (c >= canvas.pixelRect.left && c < canvas.pixelRect.right);
        CCanvasColor const& colour = inside ? canvas.background : canvas.border;
        for (int k = 0; k < 3; ++k) {
            insideRow[std::size_t(3 * i + k)] = colour[k];
            borderRow[std::size_t(3 * i + k)] = canvas.border[k];
        }
    }

    std::vector<std::uint8_t> out(rowPixels * 3);
    std::vector<std::uint8_t> layerRow(rowPixels * 3);
    std::vector<std::uint8_t> coverage(rowPixels);
    std::vector<std::uint16_t> weights(rowPixels * 3);
    std::vector<tLanes> sum(rowPixels);
    const bool rgbOrder = targetInfo.GetColorSpace() == eColorSpaceRGB;

    for (int j = clip.top; j < clip.bottom; ++j) {
        const std::size_t rowK = std::size_t(j - clip.top);
        std::uint8_t* o = out.data();
        if (hints.skipBackground) {
            if (!target->ReadRowSegment(geo::CiVec2(clip.left, j), width, o, 0))
                return false;
            if (rgbOrder)
                for (int i = 0; i < width; ++i)
                    std::swap(o[3 * i], o[3 * i + 2]);
        } else {
            const double c = (j + 0.5) * py + qy;
            const bool insideY = !hasCanvasRect || (c >= canvas.pixelRect.top && c < canvas.pixelRect.bottom);
            std::memcpy(o, insideY ? insideRow.data() : borderRow.data(), rowPixels * 3);
        }

        for (tLayerPlan& plan : plans) {
            if (plan.isVector) {
                DrawShapesRow(plan, j, o, clip.left, clip.right);
                continue;
            }
            const int y = plan.rowIndex[rowK];
            if (y == INT_MIN)
                continue;
            const int count = plan.x1 - plan.x0;
            bool partial = false;  // coverage holds per-pixel values
            if (plan.mask) {
                if (y < plan.maskBounds.top || y >= plan.maskBounds.bottom || plan.maskAccess.Empty())
                    continue;  // wholly transparent here
                const CMask& mask = *plan.mask;
                if (!plan.maskAccess.Fetch(y, [&](geo::CiVec2 p, std::uint8_t const*& data) {
                        return mask.GetRowSpan(p, data);
                    }))
                    continue;
                std::uint8_t* cov = coverage.data();
                plan.maskAccess.ForEachRun([cov](auto const& at, int k0, int k1) {
                    for (int k = k0; k < k1; ++k)
                        cov[k] = *at(k);
                });
                partial = true;
            }
            bool fetched = true;
            for (tSource& src : plan.sources) {
                CPixFrame const& frame = *src.frame;
                fetched = fetched && src.access.Fetch(y, [&](geo::CiVec2 p, std::uint8_t const*& data) {
                    return frame.GetRowSpan(p, data);
                });
            }
            if (!fetched)
                continue;

            std::uint8_t* row = layerRow.data();
            tSource const& first = plan.sources[0];
            if (plan.sources.size() == 1 && first.mode == eModePacked) {
                ByType<KPacked>(first, row);
            } else if (plan.sources.size() == 1 && first.mode == eModeBytes) {
                if (!first.allLanesLit)
                    std::memset(row, 0, std::size_t(count) * 3);
                ByType<KBytes>(first, row);
            } else {
                std::fill(sum.begin(), sum.begin() + count, tLanes(0));
                for (tSource const& src : plan.sources)
                    ByType<KSum>(src, sum.data());
                for (int k = 0; k < count; ++k) {
                    row[3 * k] = Clamp8(sum[std::size_t(k)]);
                    row[3 * k + 1] = Clamp8(sum[std::size_t(k)] >> 16);
                    row[3 * k + 2] = Clamp8(sum[std::size_t(k)] >> 32);
                }
            }
            for (tSource const& src : plan.sources) {
                if (src.alphaComponent >= 0) {
                    ByType<KCoverage>(src, coverage.data(), partial);
                    partial = true;
                }
            }
            if (plan.filter)
                plan.filter->Apply(row, count);

            std::uint8_t* dest = o + std::int64_t(plan.x0 - clip.left) * 3;
            if (partial) {
                std::uint16_t* w = weights.data();
                for (int k = 0; k < count; ++k) {
                    const std::uint16_t v = std::uint16_t(plan.WeightOf(coverage[std::size_t(k)]));
                    w[3 * k] = v;
                    w[3 * k + 1] = v;
                    w[3 * k + 2] = v;
                }
                Blend(dest, row, w, count, plan);
            } else {
                Blend(dest, row, nullptr, count, plan);
            }
        }

        if (rgbOrder)
            for (int i = 0; i < width; ++i)
                std::swap(o[3 * i], o[3 * i + 2]);
        if (!target->WriteRowSegment(geo::CiVec2(clip.left, j), width, o, 0))
            return false;
    }
    return true;
}

}  // namespace detail
}  // namespace img

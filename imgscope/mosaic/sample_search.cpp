// Sample search over a mask. The windows of a search are tried in a fixed
// order, and the answer is the first that qualifies; re-reading every
// window would read each pixel four times (windows overlap by half) and
// again in each centre-first pass. Instead the mask is counted once per
// cell between consecutive window edges, rows are summed into running
// column counts, and a window's count is the difference of two of them.
#include "imgscope/mosaic/sample_search.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/platform/vector_ops.h"
#include "imgscope/scope/scope_guard_internal.h"
#include "imgscope/typed/picture.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

namespace img {

namespace {

constexpr int kCentreFirstPasses = 5;
// Counts shared between the centre-first passes are kept per cell. Past
// this many cells, or when cells hold fewer pixels on average than the
// second bound, each pass counts its own area instead.
constexpr std::int64_t kMaxSharedCells = std::int64_t(1) << 22;
constexpr std::int64_t kMinSharedCellPixels = 16;
// Column counters are bytes, folded into the cells every so many rows.
constexpr std::int64_t kFoldRows = 255;
// Masks wider than this many tiles are read without remembering tiles.
constexpr std::int64_t kMaxRememberedTiles = std::int64_t(1) << 16;
// Columns counted at once: their counters stay in the cache.
constexpr std::int64_t kChunkColumns = std::int64_t(1) << 15;

// Pixels of `size` bytes among `n` at `p` that are not all zero.
std::int64_t CountSample(std::uint8_t const* p, std::int64_t n, int size)
{
    if (size == 1)
        return vopCountNonZero8u(p, n);
    std::int64_t count = 0;
    for (std::int64_t i = 0; i < n; ++i, p += size) {
        std::uint8_t any = 0;
        for (int b = 0; b < size; ++b)
            any |= p[b];
        count += any != 0;
    }
    return count;
}

// The mask's pixels, read in place, a block of rows of one tile at a time:
// asking the store for every row costs more than counting it. A read cache
// over the searched region keeps those tiles where they are meanwhile, so
// the first pixel of a tile that holds memory, once found, stays valid.
class CMaskRows {
public:
    CMaskRows(CPixFrame const& frame, geo::CiRect const& region)
        : m_frame(frame), m_cache(frame.CreateReadCache(region, 0)), m_size(frame.GetPixelInfo().Size()),
          m_left(frame.GetBoundary().left), m_top(frame.GetBoundary().top)
    {
        const boost::shared_ptr<mem::CDataFrame> data = frame.GetDataFrame();
        const geo::CiVec2 tile = data->GetTileSize();
        m_tileWidth = std::max(tile.x, 1);
        m_tileHeight = std::max(tile.y, 1);
        m_rowBytes = data->GetTileRowSize();
        const std::int64_t columns = (std::int64_t(frame.GetBoundary().Width()) + m_tileWidth - 1) / m_tileWidth;
        if (columns <= kMaxRememberedTiles)
            m_origins.resize(static_cast<std::size_t>(columns));
    }

    int PixelSize() const { return m_size; }

    // Calls f(data, stride, x, n, rows) for blocks covering rows [y0, y1)
    // and columns [x0, x1), each inside one tile: row r of a block starts
    // at data + r × stride, and a stride of 0 means every row reads alike
    // (a tile without memory). Stops when f returns false. Throws when a
    // row cannot be read, which only a frame changed under the search can
    // cause.
    template <class F>
    void ForBlocks(std::int64_t y0, std::int64_t y1, std::int64_t x0, std::int64_t x1, F&& f) const
    {
        for (std::int64_t y = y0; y < y1;) {
            const std::int64_t tileRow = (y - m_top) / m_tileHeight, tileTop = m_top + tileRow * m_tileHeight;
            const std::int64_t rows = std::min(y1, tileTop + m_tileHeight) - y;
            for (std::int64_t x = x0; x < x1;) {
                const auto tileColumn = static_cast<std::size_t>((x - m_left) / m_tileWidth);
                const std::int64_t tileLeft = m_left + std::int64_t(tileColumn) * m_tileWidth;
                tOrigin* origin = tileColumn < m_origins.size() ? &m_origins[tileColumn] : nullptr;
                if (origin && origin->tileRow == tileRow) {
                    const std::int64_t n = std::min(tileLeft + m_tileWidth, x1) - x;
                    if (!f(origin->data + (y - tileTop) * m_rowBytes + (x - tileLeft) * m_size, m_rowBytes, x, n, rows))
                        return;
                    x += n;
                    continue;
                }
                std::uint8_t const* first = nullptr;
                const std::int64_t n = std::min<std::int64_t>(Span(x, y, first), x1 - x);
                std::int64_t stride = 0;
                if (rows > 1) {
                    std::uint8_t const* second = nullptr;
                    Span(x, y + 1, second);
                    stride = second - first;
                    if (stride != 0 && stride != m_rowBytes) {
                        // Not one block of memory: row by row.
                        for (std::int64_t r = 0; r < rows; ++r) {
                            std::uint8_t const* row = nullptr;
                            Span(x, y + r, row);
                            if (!f(row, 0, x, n, 1))
                                return;
                        }
                        x += n;
                        continue;
                    }
                    if (stride != 0 && origin)
                        *origin = {tileRow, first - (y - tileTop) * m_rowBytes - (x - tileLeft) * m_size};
                }
                if (!f(first, stride, x, n, rows))
                    return;
                x += n;
            }
            y += rows;
        }
    }

    // Adds 1 to counters[x − x0] for each pixel of rows [y0, y1) and
    // columns [x0, x1) that is no sample (counters wrap past 255).
    void CountZeros(std::int64_t y0, std::int64_t y1, std::int64_t x0, std::int64_t x1, std::uint8_t* counters) const
    {
        ForBlocks(y0, y1, x0, x1, [&](std::uint8_t const* data, std::int64_t stride, std::int64_t x, std::int64_t n,
                                      std::int64_t rows) {
            std::uint8_t* c = counters + (x - x0);
            for (std::int64_t r = 0; r < rows; ++r, data += stride) {
                if (m_size == 1) {
                    vopCountZeros8u(data, c, n);
                    continue;
                }
                for (std::int64_t i = 0; i < n; ++i)
                    c[i] = static_cast<std::uint8_t>(c[i] + (CountSample(data + i * m_size, 1, m_size) == 0));
            }
            return true;
        });
    }

private:
    std::int64_t Span(std::int64_t x, std::int64_t y, std::uint8_t const*& data) const
    {
        const int n = m_frame.GetRowSpan(geo::CiVec2(static_cast<int>(x), static_cast<int>(y)), data);
        if (n <= 0)
            throw std::runtime_error("sample mask: row not readable");
        return n;
    }

    // The first pixel of the tile of a tile column last seen holding memory.
    struct tOrigin {
        std::int64_t tileRow = -1;
        std::uint8_t const* data = nullptr;
    };

    CPixFrame const& m_frame;
    boost::shared_ptr<mem::CReadCache> m_cache;
    int m_size;
    std::int64_t m_left, m_top;
    std::int64_t m_tileWidth = 1;
    std::int64_t m_tileHeight = 1;
    mutable std::vector<tOrigin> m_origins;
    std::int64_t m_rowBytes = 0;
};

// Window positions along one axis: start + i × step for i < count, each
// covering `length` pixels. Windows begin strictly before hi − length.
struct tAxis {
    std::int64_t start = 0;
    std::int64_t step = 1;
    std::int64_t length = 1;
    std::int64_t count = 0;

    std::int64_t At(std::int64_t i) const { return start + i * step; }
};

tAxis WindowAxis(std::int64_t lo, std::int64_t hi, std::int64_t length, std::int64_t step)
{
    tAxis axis{lo, step, length, 0};
    const std::int64_t room = hi - length - lo;
    if (room > 0)
        axis.count = (room - 1) / step + 1;
    return axis;
}

// Every window edge of the axes, sorted, without repeats.
std::vector<std::int64_t> Edges(std::vector<tAxis> const& axes)
{
    std::vector<std::int64_t> edges;
    for (tAxis const& a : axes)
        for (std::int64_t i = 0; i < a.count; ++i) {
            edges.push_back(a.At(i));
            edges.push_back(a.At(i) + a.length);
        }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    return edges;
}

// Where each window of `a` begins and ends among `edges`.
void EdgeIndices(tAxis const& a, std::vector<std::int64_t> const& edges, std::vector<std::size_t>& starts,
                 std::vector<std::size_t>& ends)
{
    starts.resize(static_cast<std::size_t>(a.count));
    ends.resize(static_cast<std::size_t>(a.count));
    std::size_t s = 0, e = 0;
    for (std::int64_t i = 0; i < a.count; ++i) {
        while (edges[s] < a.At(i))
            ++s;
        while (edges[e] < a.At(i) + a.length)
            ++e;
        starts[static_cast<std::size_t>(i)] = s;
        ends[static_cast<std::size_t>(i)] = e;
    }
}

// Sample counts of the cells between consecutive column edges and
// consecutive row edges, one band of cells (a row-edge interval) at a time.
// When kept, each cell is counted once for every pass that asks for it.
class CCells {
public:
    CCells(CMaskRows const& rows, std::vector<std::int64_t> cols, std::vector<std::int64_t> rowEdges, bool keep)
        : m_rows(rows), m_cols(std::move(cols)), m_rowEdges(std::move(rowEdges))
    {
        if (keep) {
            m_stride = m_cols.size() - 1;
            m_kept.assign(m_stride * (m_rowEdges.size() - 1), 0);
            m_known.assign(m_kept.size(), 0);
        }
    }

    std::vector<std::int64_t> const& Cols() const { return m_cols; }
    std::vector<std::int64_t> const& RowEdges() const { return m_rowEdges; }

    // The counts of cells [first, last) of band v into out[0 .. last − first).
    void Band(std::size_t v, std::size_t first, std::size_t last, std::uint64_t* out)
    {
        std::fill(out, out + (last - first), 0);
        if (m_stride == 0) {
            Count(v, first, last, out);
            return;
        }
        std::uint32_t* kept = m_kept.data() + v * m_stride;
        std::uint8_t* known = m_known.data() + v * m_stride;
        for (std::size_t u = first; u < last;) {
            if (known[u]) {
                ++u;
                continue;
            }
            std::size_t end = u;
            while (end < last && !known[end])
                ++end;
            Count(v, u, end, out + (u - first));
            for (std::size_t k = u; k < end; ++k) {
                kept[k] = static_cast<std::uint32_t>(out[k - first]);
                known[k] = 1;
            }
            u = end;
        }
        for (std::size_t u = first; u < last; ++u)
            out[u - first] = kept[u];
    }

private:
    // Counts cells [first, last) of band v from the pixels, adding to out.
    // Zeros are tallied per column in byte counters, a chunk of columns at
    // a time, and folded into the cells every kFoldRows rows.
    void Count(std::size_t v, std::size_t first, std::size_t last, std::uint64_t* out)
    {
        const std::int64_t x0 = m_cols[first], x1 = m_cols[last];
        const std::int64_t y0 = m_rowEdges[v], y1 = m_rowEdges[v + 1];
        for (std::int64_t c0 = x0; c0 < x1; c0 += kChunkColumns) {
            const std::int64_t c1 = std::min(x1, c0 + kChunkColumns);
            m_counters.assign(static_cast<std::size_t>(c1 - c0), 0);
            for (std::int64_t y = y0; y < y1; y += kFoldRows) {
                const std::int64_t rows = std::min<std::int64_t>(kFoldRows, y1 - y);
                m_rows.CountZeros(y, y + rows, c0, c1, m_counters.data());
                Fold(c0, c1, rows, first, last, out);
            }
        }
    }

    // Moves the counters of columns [c0, c1) over `rows` rows into the
    // cells they belong to, and clears them. Counters are summed by eights
    // first, so a cell costs one addition per eight columns.
    void Fold(std::int64_t c0, std::int64_t c1, std::int64_t rows, std::size_t first, std::size_t last,
              std::uint64_t* out)
    {
        m_groups.resize(static_cast<std::size_t>((c1 - c0) / 8));
        vopSumGroups8u(m_counters.data(), std::int64_t(m_groups.size()), m_groups.data());
        std::size_t u = static_cast<std::size_t>(std::upper_bound(m_cols.begin() + std::ptrdiff_t(first),
                                                                  m_cols.begin() + std::ptrdiff_t(last), c0) -
                                                 m_cols.begin()) - 1;
        for (; u < last && m_cols[u] < c1; ++u) {
            const std::int64_t lo = std::max(m_cols[u], c0) - c0, hi = std::min(m_cols[u + 1], c1) - c0;
            out[u - first] += static_cast<std::uint64_t>(rows * (hi - lo) - Zeros(lo, hi));
        }
        std::memset(m_counters.data(), 0, m_counters.size());
    }

    // The counters of columns [lo, hi) from c0, added up.
    std::int64_t Zeros(std::int64_t lo, std::int64_t hi) const
    {
        std::uint8_t const* c = m_counters.data();
        std::int64_t sum = 0, x = lo;
        for (; x < hi && (x & 7) != 0; ++x)
            sum += c[x];
        for (; x + 8 <= hi; x += 8)
            sum += m_groups[static_cast<std::size_t>(x >> 3)];
        for (; x < hi; ++x)
            sum += c[x];
        return sum;
    }

    CMaskRows const& m_rows;
    std::vector<std::int64_t> m_cols;
    std::vector<std::int64_t> m_rowEdges;
    std::size_t m_stride = 0;  // 0: nothing kept
    std::vector<std::uint32_t> m_kept;
    std::vector<std::uint8_t> m_known;
    std::vector<std::uint8_t> m_counters;
    std::vector<std::uint16_t> m_groups;
};

enum class EWant { eSample, eNoSample };

struct tWindowTest {
    EWant want;
    std::int64_t quarter;

    bool operator()(std::uint64_t count) const
    {
        const auto n = static_cast<std::int64_t>(count);
        return want == EWant::eSample ? n > quarter : n < quarter;
    }
};

// One pass in scan order: window rows top to bottom, windows left to right.
// Running column counts cover the rows from the first window row's top to
// the current band; each window row keeps a copy of them from its own top,
// and is decided once the bands reach its bottom. True with `hit` at the
// first window that passes `test`.
bool ScanPass(tAxis const& ax, tAxis const& ay, CCells& cells, tWindowTest test, geo::CiVec2& hit)
{
    if (ax.count == 0 || ay.count == 0)
        return false;
    std::vector<std::size_t> a, b, c, d;
    EdgeIndices(ax, cells.Cols(), a, b);
    EdgeIndices(ay, cells.RowEdges(), c, d);
    const std::size_t first = a.front(), last = b.back();
    const std::size_t width = last - first;

    std::vector<std::uint64_t> band(width), running(width + 1, 0);
    // Window rows overlap by about half, so at most a few are open at once;
    // their copies are recycled.
    std::deque<std::vector<std::uint64_t>> open, spare;
    std::size_t opened = 0, decided = 0;
    const auto rows = static_cast<std::size_t>(ay.count);
    for (std::size_t v = c.front(); decided < rows; ++v) {
        for (; opened < rows && c[opened] == v; ++opened) {
            if (spare.empty())
                spare.emplace_back();
            open.push_back(std::move(spare.front()));
            spare.pop_front();
            open.back() = running;
        }
        cells.Band(v, first, last, band.data());
        std::uint64_t sum = 0;
        for (std::size_t u = 0; u < width; ++u) {
            sum += band[u];
            running[u + 1] += sum;
        }
        for (; decided < rows && d[decided] == v + 1; ++decided) {
            std::vector<std::uint64_t> const& top = open.front();
            for (std::size_t i = 0; i < a.size(); ++i) {
                const std::size_t l = a[i] - first, r = b[i] - first;
                if (test((running[r] - running[l]) - (top[r] - top[l]))) {
                    hit = geo::CiVec2(static_cast<int>(ax.At(std::int64_t(i))),
                                      static_cast<int>(ay.At(std::int64_t(decided))));
                    return true;
                }
            }
            spare.push_back(std::move(open.front()));
            open.pop_front();
        }
    }
    return false;
}

// Whether the passes should share their counts: there is more than one, the
// cells fit the budget, hold enough pixels each, and fit 32 bits.
bool ShareCells(std::size_t passes, std::vector<std::int64_t> const& cols, std::vector<std::int64_t> const& rows)
{
    if (passes < 2 || cols.size() < 2 || rows.size() < 2)
        return false;
    const auto cells = std::int64_t(cols.size() - 1) * std::int64_t(rows.size() - 1);
    const std::int64_t pixels = (cols.back() - cols.front()) * (rows.back() - rows.front());
    std::int64_t widest = 0, tallest = 0;
    for (std::size_t i = 1; i < cols.size(); ++i)
        widest = std::max(widest, cols[i] - cols[i - 1]);
    for (std::size_t i = 1; i < rows.size(); ++i)
        tallest = std::max(tallest, rows[i] - rows[i - 1]);
    return cells <= kMaxSharedCells && cells * kMinSharedCellPixels <= pixels &&
           widest * tallest <= std::int64_t(UINT32_MAX);
}

// Tries the areas in order with a w × h window; true with the window found
// first in the first area that has one.
bool SearchAreas(CPixFrame const& frame, std::vector<geo::CiRect> const& areas, std::int64_t w, std::int64_t h,
                 EWant want, geo::CiRect& found)
{
    const std::int64_t sx = std::max<std::int64_t>(w / 2, 1), sy = std::max<std::int64_t>(h / 2, 1);
    const tWindowTest test{want, (w * h) / 4};
    std::vector<tAxis> xs, ys;
    for (geo::CiRect const& area : areas) {
        xs.push_back(WindowAxis(area.left, area.right, w, sx));
        ys.push_back(WindowAxis(area.top, area.bottom, h, sy));
    }
    std::vector<std::int64_t> cols = Edges(xs), rows = Edges(ys);
    if (cols.empty() || rows.empty())
        return false;
    const geo::CiRect region(static_cast<int>(cols.front()), static_cast<int>(rows.front()),
                             static_cast<int>(cols.back()), static_cast<int>(rows.back()));
    const CMaskRows mask(frame, region);

    geo::CiVec2 hit;
    bool ok = false;
    if (ShareCells(areas.size(), cols, rows)) {
        CCells shared(mask, std::move(cols), std::move(rows), true);
        for (std::size_t p = 0; p < areas.size() && !ok; ++p)
            ok = ScanPass(xs[p], ys[p], shared, test, hit);
    } else {
        for (std::size_t p = 0; p < areas.size() && !ok; ++p) {
            CCells own(mask, Edges({xs[p]}), Edges({ys[p]}), false);
            ok = ScanPass(xs[p], ys[p], own, test, hit);
        }
    }
    if (ok)
        found = geo::CiRect(hit.x, hit.y, static_cast<int>(hit.x + w), static_cast<int>(hit.y + h));
    return ok;
}

bool FindWindow(CPicture const* mask, utl::TUnitValue<geo::CdVec2>& position,
                utl::TUnitValue<geo::CdVec2> const& windowSize, bool centreFirst, EWant want)
{
    if (!mask)
        return false;
    return Guarded(false, [&] {
        if (!mask->GetCollection().IsValid())
            return false;
        const geo::CiRect bounds = mask->GetBoundary();
        geo::CdRect pixels;
        const utl::TUnitValue<geo::CdRect> window(windowSize.unit,
                                                  geo::CdRect(0.0, 0.0, windowSize.value.x, windowSize.value.y));
        if (!mask->Lcs2Pixel(window, pixels))
            return false;
        geo::CiRect w(geo::CdRect(0.0, 0.0, pixels.Width(), pixels.Height()));
        w.Normalize();
        const std::int64_t width = std::max(w.Width(), 1), height = std::max(w.Height(), 1);
        const boost::shared_ptr<CPixFrame> frame = mask->GetPixFrame();
        if (!frame)
            return false;

        // Pass k of n searches the mask shrunk by k / n of its size, the
        // smallest area first.
        const int passes = centreFirst ? kCentreFirstPasses : 1;
        std::vector<geo::CiRect> areas;
        for (int k = passes - 1; k >= 0; --k) {
            const double f = double(k) / passes;
            geo::CiRect area = bounds;
            area.Inflate(geo::CiVec2(-static_cast<int>(static_cast<std::int64_t>(bounds.Width() * f) / 2),
                                     -static_cast<int>(static_cast<std::int64_t>(bounds.Height() * f) / 2)));
            areas.push_back(area);
        }
        geo::CiRect found;
        if (!SearchAreas(*frame, areas, width, height, want, found))
            return false;
        const geo::CdVec2 centre(double((std::int64_t(found.left) + found.right) / 2),
                                 double((std::int64_t(found.top) + found.bottom) / 2));
        utl::TUnitValue<geo::CdVec2> result;
        if (!mask->Pixel2Lcs(centre, result))
            return false;
        position = result;
        return true;
    });
}

}  // namespace

bool IsSampleAtPos(CPicture const* mask, utl::TUnitValue<geo::CdRect> area, double fraction)
{
    if (!mask)
        return true;
    return Guarded(false, [&] {
        if (!mask->GetCollection().IsValid())
            return true;
        geo::CdRect pixels;
        if (!mask->Lcs2Pixel(area, pixels))
            return false;
        geo::CiRect region(pixels);
        region.NormalizeRect();
        region = geo::Intersection(region, mask->GetBoundary());
        if (region.IsEmpty())
            return false;
        const std::int64_t w = region.Width(), h = region.Height();
        // Truncated, then between 1 and the whole region; a NaN fraction
        // fails both comparisons and needs one pixel.
        const double wanted = double(w) * fraction * double(h);
        const std::int64_t needed = !(wanted >= 1.0) ? 1 : wanted >= double(w * h) ? w * h : std::int64_t(wanted);
        const boost::shared_ptr<CPixFrame> frame = mask->GetPixFrame();
        if (!frame)
            return false;

        const CMaskRows rows(*frame, region);
        std::int64_t count = 0;
        rows.ForBlocks(region.top, region.bottom, region.left, region.right,
                       [&](std::uint8_t const* data, std::int64_t stride, std::int64_t, std::int64_t n,
                           std::int64_t blockRows) {
                           if (stride == n * rows.PixelSize()) {
                               // Whole tile rows without padding: one run.
                               count += CountSample(data, n * blockRows, rows.PixelSize());
                               return count < needed;
                           }
                           for (std::int64_t r = 0; r < blockRows && count < needed; ++r, data += stride)
                               count += CountSample(data, n, rows.PixelSize());
                           return count < needed;
                       });
        return count >= needed;
    });
}

bool FindSamplePos(CPicture const* mask, utl::TUnitValue<geo::CdVec2>& position,
                   utl::TUnitValue<geo::CdVec2> const& windowSize, bool centreFirst)
{
    return FindWindow(mask, position, windowSize, centreFirst, EWant::eSample);
}

bool FindNoSamplePos(CPicture const* mask, utl::TUnitValue<geo::CdVec2>& position,
                     utl::TUnitValue<geo::CdVec2> const& windowSize, bool centreFirst)
{
    return FindWindow(mask, position, windowSize, centreFirst, EWant::eNoSample);
}

}  // namespace img

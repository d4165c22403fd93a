// Row access of the compositor: the pixels of one source row, fetched
// through the pixel store's row spans. Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow_internal.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace img {
namespace detail {
namespace render {

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
        m_sampled.clear();
        for (int x : columns) {
            if (x == INT_MIN)
                continue;
            m_first = std::min(m_first, x);
            m_last = std::max(m_last, x);
            m_sampled.push_back(x);
        }
        std::sort(m_sampled.begin(), m_sampled.end());
        m_sampled.erase(std::unique(m_sampled.begin(), m_sampled.end()), m_sampled.end());
        m_starts.clear();
        m_counts.clear();
        m_span.assign(columns.size(), 0);
        m_offset.assign(columns.size(), 0);
        m_runs.clear();
        m_linear = false;
    }

    bool Empty() const { return m_first > m_last; }

    // Fetches row `y`; false when the store gives no pixels there. Only
    // spans holding a sampled column are asked for: zoomed out, the columns
    // skip whole tiles, and the cost follows the output, not the extent.
    template <class GetSpan>
    bool Fetch(int y, GetSpan const& getSpan)
    {
        m_pointers.clear();
        m_scratchStarts.clear();
        m_scratchCounts.clear();
        bool same = !m_starts.empty();
        std::size_t k = 0;
        for (auto next = m_sampled.begin(); next != m_sampled.end(); ++k) {
            const int x = *next;
            std::uint8_t const* data = nullptr;
            const int count = getSpan(geo::CiVec2(x, y), data);
            if (count <= 0 || !data)
                return false;
            if (same && (k >= m_starts.size() || m_starts[k] != x || m_counts[k] != count))
                same = false;
            m_pointers.push_back(data);
            m_scratchStarts.push_back(x);
            m_scratchCounts.push_back(count);
            const std::int64_t end = std::int64_t(x) + count;
            next = end > m_last ? m_sampled.end()
                                : std::lower_bound(next + 1, m_sampled.end(), int(end));
        }
        if (!same || k != m_starts.size()) {
            m_starts.swap(m_scratchStarts);
            m_counts.swap(m_scratchCounts);
            Layout();
        }
        m_pointers.push_back(m_outside);  // the span of columns outside
        return true;
    }

    // Calls f(reader, k0, k1) over the covered columns [lo, hi) of the
    // fetched row, all of them by default.
    template <class F>
    void ForEachRun(F&& f, int lo = 0, int hi = INT_MAX) const
    {
        hi = std::min(hi, int(m_columns.size()));
        if (m_linear) {
            for (tRun const& run : m_runs) {
                const int k0 = std::max(run.first, lo), k1 = std::min(run.last, hi);
                if (k0 < k1)
                    f(tLinearReader{m_pointers[std::size_t(run.span)] + run.offset, run.first, run.stride}, k0, k1);
            }
        } else if (lo < hi) {
            f(tIndexedReader{m_pointers.data(), m_span.data(), m_offset.data()}, lo, hi);
        }
    }

    // The first byte of each column in [lo, hi) into out[lo, hi): the
    // coverage of a mask row. Runs along a mask row are plain copies.
    void CopyBytes(std::uint8_t* out, int lo, int hi) const
    {
        ForEachRun(
            [&](auto const& at, int k0, int k1) {
                using Reader = std::decay_t<decltype(at)>;
                if constexpr (std::is_same_v<Reader, tLinearReader>) {
                    if (at.stride == 1) {
                        std::memcpy(out + k0, at(k0), std::size_t(k1 - k0));
                        return;
                    }
                    if (at.stride == 0) {
                        std::memset(out + k0, *at(k0), std::size_t(k1 - k0));
                        return;
                    }
                }
                for (int k = k0; k < k1; ++k)
                    out[k] = *at(k);
            },
            lo, hi);
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
    std::vector<int> m_sampled;  // the distinct source columns, ascending
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

}  // namespace render
}  // namespace detail
}  // namespace img

#include "imgscope/contracts/foundation/tile_view_internal.h"

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/tile_store_internal.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <utility>

namespace mem {

namespace {

// Distinct tile indices of `values` (INT_MIN and values outside [lo, hi)
// left out), ascending.
std::vector<int> TileIndices(std::vector<int> const& values, std::int64_t lo, std::int64_t hi, int side)
{
    std::vector<int> tiles;
    tiles.reserve(values.size());
    int last = INT_MIN;
    for (int v : values) {
        if (v == INT_MIN || v < lo || v >= hi)
            continue;
        const int t = static_cast<int>((std::int64_t(v) - lo) / side);
        if (t != last)
            tiles.push_back(t);
        last = t;
    }
    std::sort(tiles.begin(), tiles.end());
    tiles.erase(std::unique(tiles.begin(), tiles.end()), tiles.end());
    return tiles;
}

}  // namespace

std::shared_ptr<CTileView const> CTileView::Open(CDataFrame const& frame, geo::CiVecN const& plane,
                                                 std::vector<int> const& columns, std::vector<int> const& rows)
{
    // Declared before the lock: should anything below throw, the lock goes
    // first and then the view, which takes it again to close.
    std::shared_ptr<CTileView> view(new CTileView);
    CTileView& v = *view;
    v.m_pStore = frame.StorePtr();
    CTileStore& s = *v.m_pStore;
    v.m_x0 = s.m_x0;
    v.m_y0 = s.m_y0;
    v.m_right = std::int64_t(s.m_x0) + s.m_width;
    v.m_bottom = std::int64_t(s.m_y0) + s.m_height;
    v.m_tileW = s.m_tileW;
    v.m_tileH = s.m_tileH;
    v.m_px = s.m_px;
    v.m_fill = s.FillValue();
    v.m_columns = TileIndices(columns, s.m_x0, v.m_right, s.m_tileW);
    v.m_rows = TileIndices(rows, s.m_y0, v.m_bottom, s.m_tileH);
    const std::size_t count = v.m_rows.size();
    v.m_tiles.resize(count);
    v.m_pinnedRow.assign(count, 0);
    // Each sampled tile row's first and last entry of `rows`: the row is
    // pinned before the first is read and let go once the last is.
    v.m_firstUse.assign(count, ~std::size_t(0));
    v.m_lastUse.assign(count, 0);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const int y = rows[k];
        if (y == INT_MIN || y < v.m_y0 || y >= v.m_bottom)
            continue;
        const std::size_t r = v.RowOf(y);
        v.m_firstUse[r] = std::min(v.m_firstUse[r], k);
        v.m_lastUse[r] = k;
    }
    const auto order = [&](std::vector<std::size_t> const& use) {
        std::vector<std::uint32_t> o(count);
        for (std::size_t r = 0; r < count; ++r)
            o[r] = static_cast<std::uint32_t>(r);
        std::stable_sort(o.begin(), o.end(), [&](std::uint32_t a, std::uint32_t b) { return use[a] < use[b]; });
        return o;
    };
    v.m_pinOrder = order(v.m_firstUse);
    v.m_releaseOrder = order(v.m_lastUse);
    v.m_extentTop.assign(count + 1, INT_MAX);
    v.m_extentBottom.assign(count + 1, INT_MIN);
    for (std::size_t k = 0; k < count; ++k) {
        const std::int64_t top = v.m_y0 + std::int64_t(v.m_rows[v.m_pinOrder[k]]) * v.m_tileH;
        const std::int64_t bottom = std::min<std::int64_t>({top + v.m_tileH, v.m_bottom, INT_MAX});
        v.m_extentTop[k + 1] = std::min<int>(v.m_extentTop[k], static_cast<int>(top));
        v.m_extentBottom[k + 1] = std::max<int>(v.m_extentBottom[k], static_cast<int>(bottom));
    }

    const tStoreLock lock = LockStore(s);
    geo::CiVecN const* key = s.ResolvePlane(plane);
    if (!key)
        return view;
    v.m_valid = true;
    v.m_key = *key;
    tPlane* p = s.FindPlane(*key);
    // Nothing to show now, and nothing later either (the view pins nothing):
    // a render shows the plane as it was when it began.
    if (!p || p->count == 0 || v.m_columns.empty() || count == 0)
        return view;
    v.m_epoch = s.OpenView(view.get());
    return view;
}

CTileView::~CTileView()
{
    if (m_epoch == 0)
        return;
    const tStoreLock lock = LockStore(*m_pStore);
    m_pStore->CloseView(m_epoch);
}

std::size_t CTileView::RowOf(int y) const
{
    const int ty = static_cast<int>((std::int64_t(y) - m_y0) / m_tileH);
    return std::size_t(std::lower_bound(m_rows.begin(), m_rows.end(), ty) - m_rows.begin());
}

void CTileView::Extent(std::size_t end, int& top, int& bottom) const
{
    const auto k = std::size_t(std::partition_point(m_pinOrder.begin(), m_pinOrder.end(),
                                                    [&](std::uint32_t r) { return m_firstUse[r] < end; }) -
                               m_pinOrder.begin());
    top = m_extentTop[k];
    bottom = m_extentBottom[k];
}

void CTileView::Pin(std::size_t end, int top, int bottom) const
{
    if (m_epoch == 0)
        return;
    const tStoreLock lock = LockStore(*m_pStore);
    for (; m_pinned < m_pinOrder.size() && m_firstUse[m_pinOrder[m_pinned]] < end; ++m_pinned)
        PinRow(m_pinOrder[m_pinned]);
    if (top >= bottom || bottom <= m_y0 || top >= m_bottom)
        return;
    for (std::size_t r = RowOf(std::max(top, m_y0)); r < m_rows.size(); ++r) {
        if (m_y0 + std::int64_t(m_rows[r]) * m_tileH >= bottom)
            break;
        PinRow(r);
    }
}

void CTileView::PinRow(std::size_t r) const
{
    if (m_pinnedRow[r])
        return;
    CTileStore& s = *m_pStore;
    tPlane* p = s.FindPlane(m_key);
    if (p && p->count > 0) {
        const int ty = m_rows[r];
        // The row's memory first, then the marks: running out of memory
        // leaves the row unpinned and every tile unmarked.
        std::vector<std::pair<tTileSlot*, int>> slots;
        for (std::size_t i = 0; i < m_columns.size();) {
            const int tx = m_columns[i];
            tTileSlot* slot = s.FindSlot(*p, tx, ty);
            if (!slot) {
                // No chunk here: none of its columns has a tile.
                const int chunk = tx >> kChunkShift;
                while (i < m_columns.size() && (m_columns[i] >> kChunkShift) == chunk)
                    ++i;
                continue;
            }
            ++i;
            if (slot->Exists())
                slots.push_back({slot, tx});
        }
        std::vector<tViewTile>& row = m_tiles[r];
        row.reserve(slots.size());
        for (auto const& [slot, tx] : slots) {
            std::int64_t stride = 0;
            std::uint8_t const* base = s.RowBase(slot, stride);
            if (slot->data)
                slot->viewedAt = std::max(slot->viewedAt, m_epoch);
            row.push_back({tx, stride, base});
        }
    }
    m_pinnedRow[r] = 1;
}

void CTileView::BeforeWrite(geo::CiVecN const& key, int ty0, int ty1) const
{
    if (m_epoch == 0 || m_pinned == m_pinOrder.size() || !(key == m_key))
        return;
    const auto first = std::size_t(std::lower_bound(m_rows.begin(), m_rows.end(), ty0) - m_rows.begin());
    std::size_t last = first;
    bool some = false, all = true;
    for (; last < m_rows.size() && m_rows[last] <= ty1; ++last) {
        some = some || m_pinnedRow[last];
        all = all && m_pinnedRow[last];
    }
    if (!some || all)
        return;
    for (std::size_t r = first; r < last; ++r)
        PinRow(r);
}

void CTileView::BeforeDrop(geo::CiVecN const& key) const
{
    if (m_epoch == 0 || !(key == m_key))
        return;
    for (std::size_t r = 0; r < m_rows.size(); ++r)
        PinRow(r);
}

void CTileView::Release(std::size_t finished) const
{
    if (m_epoch == 0)
        return;
    const tStoreLock lock = LockStore(*m_pStore);
    if (m_released == m_releaseOrder.size() || m_lastUse[m_releaseOrder[m_released]] >= finished)
        return;
    CTileStore& s = *m_pStore;
    tPlane* p = s.FindPlane(m_key);
    for (; m_released < m_releaseOrder.size(); ++m_released) {
        const std::uint32_t r = m_releaseOrder[m_released];
        if (m_lastUse[r] >= finished)
            break;
        if (p) {  // else the plane is gone, and its blocks retired
            for (tViewTile const& t : m_tiles[r]) {
                if (t.stride == 0)
                    continue;
                if (tTileSlot* slot = s.FindSlot(*p, t.tx, m_rows[r]))
                    s.Unshow(*slot, t.base, m_epoch);
            }
        }
        // Read no more: a tall zoomed-out render keeps only its live rows.
        std::vector<tViewTile>().swap(m_tiles[r]);
    }
}

CTileView::tCursor CTileView::Row(int y) const
{
    tCursor cursor;
    if (!m_valid || y < m_y0 || y >= m_bottom)
        return cursor;
    const int ty = static_cast<int>((std::int64_t(y) - m_y0) / m_tileH);
    cursor.top = static_cast<int>(m_y0 + std::int64_t(ty) * m_tileH);
    auto it = std::lower_bound(m_rows.begin(), m_rows.end(), ty);
    if (it == m_rows.end() || *it != ty)
        return cursor;
    std::vector<tViewTile> const& row = m_tiles[std::size_t(it - m_rows.begin())];
    cursor.at = row.data();
    cursor.end = row.data() + row.size();
    return cursor;
}

int CTileView::Span(tCursor& cursor, geo::CiVec2 point, std::uint8_t const*& data) const
{
    if (!m_valid || point.x < m_x0 || point.y < m_y0 || point.x >= m_right || point.y >= m_bottom)
        return 0;
    const std::int64_t dx = std::int64_t(point.x) - m_x0;
    const int tx = static_cast<int>(dx / m_tileW);
    const int lx = static_cast<int>(dx - std::int64_t(tx) * m_tileW);
    const int ly = point.y - cursor.top;
    assert(ly >= 0 && ly < m_tileH);
    const int count = static_cast<int>(std::min<std::int64_t>(m_tileW - lx, m_right - point.x));
    while (cursor.at != cursor.end && cursor.at->tx < tx)
        ++cursor.at;
    if (cursor.at != cursor.end && cursor.at->tx == tx) {
        if (cursor.at->stride != 0) {
            data = cursor.at->base + ly * cursor.at->stride + std::int64_t(lx) * m_px;
            return count;
        }
        data = cursor.at->base;
    } else {
        data = m_fill;
    }
    return std::min(count, kUniformRowPixels);
}

bool CTileView::RowHasTiles(int y) const
{
    const tCursor cursor = Row(y);
    return cursor.at != cursor.end;
}

}  // namespace mem

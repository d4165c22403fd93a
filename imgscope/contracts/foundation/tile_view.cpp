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

bool Has(std::vector<int> const& sorted, int value)
{
    return std::binary_search(sorted.begin(), sorted.end(), value);
}

}  // namespace

std::shared_ptr<CTileView const> CTileView::Open(CDataFrame const& frame, geo::CiVecN const& plane,
                                                 std::vector<int> const& columns, std::vector<int> const& rows)
{
    // Declared before the lock: should anything below throw, the lock goes
    // first and then the view, which takes it again to close.
    std::shared_ptr<CTileView> view(new CTileView);
    view->m_pStore = frame.StorePtr();
    CTileStore& s = *view->m_pStore;
    view->m_x0 = s.m_x0;
    view->m_y0 = s.m_y0;
    view->m_right = std::int64_t(s.m_x0) + s.m_width;
    view->m_bottom = std::int64_t(s.m_y0) + s.m_height;
    view->m_tileW = s.m_tileW;
    view->m_tileH = s.m_tileH;
    view->m_px = s.m_px;
    view->m_fill = s.FillValue();
    const std::vector<int> tileColumns = TileIndices(columns, s.m_x0, view->m_right, s.m_tileW);
    view->m_rows = TileIndices(rows, s.m_y0, view->m_bottom, s.m_tileH);
    view->m_rowStart.assign(view->m_rows.size() + 1, 0);
    // Each sampled tile row's last entry of `rows`: the row is let go once
    // the entries up to it are finished (Release).
    view->m_lastUse.assign(view->m_rows.size(), 0);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const int y = rows[k];
        if (y == INT_MIN || y < view->m_y0 || y >= view->m_bottom)
            continue;
        const int ty = static_cast<int>((std::int64_t(y) - view->m_y0) / view->m_tileH);
        const auto r = std::lower_bound(view->m_rows.begin(), view->m_rows.end(), ty) - view->m_rows.begin();
        view->m_lastUse[std::size_t(r)] = k;
    }
    view->m_releaseOrder.resize(view->m_rows.size());
    for (std::size_t r = 0; r < view->m_rows.size(); ++r)
        view->m_releaseOrder[r] = static_cast<std::uint32_t>(r);
    std::stable_sort(view->m_releaseOrder.begin(), view->m_releaseOrder.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return view->m_lastUse[a] < view->m_lastUse[b]; });

    const tStoreLock lock = LockStore(s);
    geo::CiVecN const* key = s.ResolvePlane(plane);
    if (!key)
        return view;
    view->m_valid = true;
    view->m_key = *key;
    tPlane* p = s.FindPlane(*key);
    if (!p || p->count == 0 || tileColumns.empty() || view->m_rows.empty())
        return view;

    // Slots of the sampled tiles that exist, by row index: looked up one by
    // one when there are few sampled tiles, else found by walking the
    // chunks (a zoomed-out view of a sparse mosaic samples many tiles, of
    // which few exist).
    std::vector<std::pair<std::size_t, std::pair<tTileSlot*, int>>> found;
    const std::size_t sampled = tileColumns.size() * view->m_rows.size();
    const std::size_t stored = p->chunks.size() * std::size_t(kChunkSide * kChunkSide);
    if (sampled <= stored) {
        for (std::size_t r = 0; r < view->m_rows.size(); ++r)
            for (int tx : tileColumns)
                if (tTileSlot* slot = s.FindSlot(*p, tx, view->m_rows[r]); slot && slot->Exists())
                    found.push_back({r, {slot, tx}});
    } else {
        const int minX = tileColumns.front(), maxX = tileColumns.back();
        const int minY = view->m_rows.front(), maxY = view->m_rows.back();
        for (auto& [ci, chunk] : p->chunks) {
            const int cx = static_cast<int>(ci % s.m_chunksX) << kChunkShift;
            const int cy = static_cast<int>(ci / s.m_chunksX) << kChunkShift;
            if (cx > maxX || cx + kChunkSide <= minX || cy > maxY || cy + kChunkSide <= minY)
                continue;
            for (int i = 0; i < kChunkSide * kChunkSide; ++i) {
                tTileSlot& slot = chunk->slots[i];
                const int tx = cx + (i & (kChunkSide - 1));
                const int ty = cy + (i >> kChunkShift);
                if (!slot.Exists() || !Has(tileColumns, tx) || !Has(view->m_rows, ty))
                    continue;
                const auto r = std::size_t(std::lower_bound(view->m_rows.begin(), view->m_rows.end(), ty) -
                                           view->m_rows.begin());
                found.push_back({r, {&slot, tx}});
            }
        }
        std::sort(found.begin(), found.end(), [](auto const& a, auto const& b) {
            return a.first != b.first ? a.first < b.first : a.second.second < b.second.second;
        });
    }

    view->m_epoch = s.OpenView();
    view->m_tiles.reserve(found.size());
    for (auto const& [r, item] : found) {
        tTileSlot* slot = item.first;
        std::int64_t stride = 0;
        std::uint8_t const* base = s.RowBase(slot, stride);
        if (slot->data)
            slot->viewedAt = view->m_epoch;
        view->m_tiles.push_back({item.second, stride, base});
        ++view->m_rowStart[r + 1];
    }
    for (std::size_t r = 1; r < view->m_rowStart.size(); ++r)
        view->m_rowStart[r] += view->m_rowStart[r - 1];
    return view;
}

CTileView::~CTileView()
{
    if (m_epoch == 0)
        return;
    const tStoreLock lock = LockStore(*m_pStore);
    m_pStore->CloseView(m_epoch);
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
        if (!p)
            continue;  // the plane is gone, and its blocks retired
        for (std::uint32_t i = m_rowStart[r]; i < m_rowStart[r + 1]; ++i) {
            tViewTile const& t = m_tiles[i];
            if (t.stride == 0)
                continue;
            if (tTileSlot* slot = s.FindSlot(*p, t.tx, m_rows[r]))
                s.Unshow(*slot, t.base, m_epoch);
        }
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
    const std::size_t r = std::size_t(it - m_rows.begin());
    cursor.at = m_tiles.data() + m_rowStart[r];
    cursor.end = m_tiles.data() + m_rowStart[r + 1];
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

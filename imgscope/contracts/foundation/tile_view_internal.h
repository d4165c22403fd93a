// Views: what a render reads of one plane, taken at one moment and read
// without the frame's lock. Not installed.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace mem {

class CDataFrame;
class CTileStore;

// One tile of a view: its first row and the stride (0 for a uniform tile,
// which shows one row throughout).
struct tViewTile {
    int tx;
    std::int64_t stride;
    std::uint8_t const* base;
};

// The tiles of one plane at the columns and rows a render samples, as they
// were when the view was opened. The store keeps every block a live view
// shows unchanged (writes go to fresh memory), so a view reads without the
// lock and sees each tile either wholly before or wholly after any write.
// Immutable once made: any number of threads may read one view at once.
class CTileView {
public:
    // A walk along one tile row of the view: Span moves it forward, so the
    // points asked for along a row must not go back.
    struct tCursor {
        tViewTile const* at = nullptr;
        tViewTile const* end = nullptr;
        int top = 0;  // frame y of the tile row
    };

    // A view of `plane` (full plane coordinates, as CPixFrame keeps them) at
    // source x `columns` and source y `rows`, each in any order; INT_MIN and
    // values outside the frame are ignored. Throws std::bad_alloc.
    static std::shared_ptr<CTileView const> Open(CDataFrame const& frame, geo::CiVecN const& plane,
                                                 std::vector<int> const& columns, std::vector<int> const& rows);
    ~CTileView();
    CTileView(CTileView const&) = delete;
    CTileView& operator=(CTileView const&) = delete;

    // The walk along the tile row holding source row `y`.
    tCursor Row(int y) const;
    // As CDataFrame::GetRowSpan, at a point of the cursor's tile row whose
    // column the view samples: the pixels readable from `point` to the end
    // of its tile, 0 outside the frame or the plane.
    int Span(tCursor& cursor, geo::CiVec2 point, std::uint8_t const*& data) const;
    // Whether the tile row holding `y` has any tile (with memory or uniform)
    // at the sampled columns; without one every sampled pixel there is the
    // fill value.
    bool RowHasTiles(int y) const;

    // Entries [0, finished) of the `rows` the view was opened with are read
    // no more: the tiles that no later entry samples are let go, and writes
    // into them no longer copy them first. Later calls with a smaller
    // `finished` do nothing; any thread may call it, also while others read.
    void Release(std::size_t finished) const;

private:
    CTileView() = default;

    std::shared_ptr<CTileStore> m_pStore;  // keeps the blocks' owner alive
    std::uint64_t m_epoch = 0;             // 0: no view was opened
    bool m_valid = false;                  // the plane exists
    int m_x0 = 0, m_y0 = 0;
    std::int64_t m_right = 0, m_bottom = 0;
    int m_tileW = 1, m_tileH = 1;
    int m_px = 1;
    std::uint8_t const* m_fill = nullptr;
    std::vector<int> m_rows;               // sampled tile rows, ascending
    std::vector<std::uint32_t> m_rowStart; // tiles of row i: [m_rowStart[i], m_rowStart[i + 1])
    std::vector<tViewTile> m_tiles;        // per row by tile column
    geo::CiVecN m_key;                     // the plane in the store
    // Rows in the order they are let go: by the last entry of `rows` that
    // samples them, which m_lastUse holds per row.
    std::vector<std::uint32_t> m_releaseOrder;
    std::vector<std::size_t> m_lastUse;
    mutable std::size_t m_released = 0;    // of m_releaseOrder; under the store's lock
};

}  // namespace mem

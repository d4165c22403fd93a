// Views: what a render reads of one plane, taken tile row by tile row as
// the render reaches them and read without the frame's lock. Not installed.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/library/export.h"

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

// The tiles of one plane at the columns and rows a render samples, read
// without the frame's lock. A tile row is taken (pinned) when the render is
// about to read it, not when the view opens, so that writes into rows the
// render has not reached yet go in place: the render then shows them as
// written. The store keeps every block a pinned row shows unchanged
// (writes go to fresh memory), so each tile is seen wholly before or wholly
// after any write; and a write over several tile rows of which the view has
// pinned some has the view pin the others first, so the view shows the
// whole write or none of it. Exported for tests, not installed.
class IMGSCOPE_API CTileView {
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
    // values outside the frame are ignored. Nothing is pinned yet. Throws
    // std::bad_alloc.
    static std::shared_ptr<CTileView const> Open(CDataFrame const& frame, geo::CiVecN const& plane,
                                                 std::vector<int> const& columns, std::vector<int> const& rows);
    ~CTileView();
    CTileView(CTileView const&) = delete;
    CTileView& operator=(CTileView const&) = delete;

    // The source rows [top, bottom) of the tile rows that entries
    // [0, end) of `rows` sample; empty (top >= bottom) when none.
    void Extent(std::size_t end, int& top, int& bottom) const;
    // Pins the tile rows entries [0, end) of `rows` sample, and those over
    // source rows [top, bottom): a thread reads a row only after a Pin that
    // covers it. Any thread may call it, also while others read.
    void Pin(std::size_t end, int top, int bottom) const;

    // The walk along the tile row holding source row `y` (pinned).
    tCursor Row(int y) const;
    // As CDataFrame::GetRowSpan, at a point of the cursor's tile row whose
    // column the view samples: the pixels readable from `point` to the end
    // of its tile, 0 outside the frame or the plane.
    int Span(tCursor& cursor, geo::CiVec2 point, std::uint8_t const*& data) const;
    // Whether the tile row holding `y` (pinned) has any tile (with memory or
    // uniform) at the sampled columns; without one every sampled pixel
    // there is the fill value.
    bool RowHasTiles(int y) const;

    // Entries [0, finished) of the `rows` the view was opened with are read
    // no more: the tiles that no later entry samples are let go, and writes
    // into them no longer copy them first. Later calls with a smaller
    // `finished` do nothing; any thread may call it, also while others read.
    void Release(std::size_t finished) const;

    // For the store, its lock held: a write is about to change tile rows
    // [ty0, ty1] of plane `key`. When the view has pinned some of them and
    // not others, it pins the others as they are now. Throws
    // std::bad_alloc (some rows maybe pinned, which costs copies only):
    // the write must then not go on.
    void BeforeWrite(geo::CiVecN const& key, int ty0, int ty1) const;
    // For the store, its lock held: plane `key` is about to go; every row
    // not pinned yet is pinned as it is now. Throws std::bad_alloc.
    void BeforeDrop(geo::CiVecN const& key) const;

private:
    CTileView() = default;
    // Store lock held. Throws std::bad_alloc, the row then not pinned.
    void PinRow(std::size_t r) const;
    std::size_t RowOf(int y) const;

    std::shared_ptr<CTileStore> m_pStore;  // keeps the blocks' owner alive
    std::uint64_t m_epoch = 0;             // 0: the view pins nothing (the plane was empty)
    bool m_valid = false;                  // the plane exists
    int m_x0 = 0, m_y0 = 0;
    std::int64_t m_right = 0, m_bottom = 0;
    int m_tileW = 1, m_tileH = 1;
    int m_px = 1;
    std::uint8_t const* m_fill = nullptr;
    geo::CiVecN m_key;                     // the plane in the store
    std::vector<int> m_columns;            // sampled tile columns, ascending
    std::vector<int> m_rows;               // sampled tile rows, ascending
    // The tiles of each row by tile column, those that exist when it is
    // pinned; written once, under the store's lock, before any thread
    // reads them, and emptied when the row is released.
    mutable std::vector<std::vector<tViewTile>> m_tiles;
    mutable std::vector<std::uint8_t> m_pinnedRow;  // under the store's lock
    // Rows in the order they are pinned (by the first entry of `rows` that
    // samples them) and let go (by the last).
    std::vector<std::uint32_t> m_pinOrder, m_releaseOrder;
    std::vector<std::size_t> m_firstUse, m_lastUse;  // per row
    // Source rows [m_extentTop[k], m_extentBottom[k]) of the first k rows of
    // m_pinOrder.
    std::vector<int> m_extentTop, m_extentBottom;
    mutable std::size_t m_pinned = 0;      // of m_pinOrder; under the store's lock
    mutable std::size_t m_released = 0;    // of m_releaseOrder; under the store's lock
};

}  // namespace mem

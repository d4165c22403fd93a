// The tiles of a data frame: iteration over existing tiles, per-tile flag
// counters, garbage collection and handles to one tile's bytes.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/memory_model.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>

namespace mem {

class CDataFrame;

// One tile's bytes. Lock pins the tile (tile flag eTileFlagLocked) and gives
// its first byte; rows follow each other at GetRowSize() bytes. A uniform
// tile (one value throughout, kept without memory) is given memory on its
// first Lock. Every Lock needs one Unlock; a handle that dies unlocks what
// it still holds. The handle keeps the content it was made on alive.
class IMGSCOPE_API ITileData {
public:
    virtual ~ITileData() = default;

    // Null when the tile no longer exists or memory runs out.
    virtual void* Lock() = 0;
    // Releases one Lock; does nothing when none is held.
    virtual void Unlock() = 0;

    // Tile position in the tile grid (x, y, then plane coordinates).
    virtual geo::CiVecN GetPosition() const = 0;
    // Width and height in pixels (a full tile, also at the frame's edge).
    virtual geo::CiVec2 GetSize() const = 0;
    virtual std::int64_t GetRowSize() const = 0;
    virtual std::int64_t GetByteSize() const = 0;
};

// The tile grid of a tiled data frame. Tile positions are grid indices:
// tile (i, j) covers pixels from boundary position + (i, j) × tile size, the
// further components are plane coordinates. Owned by its data frame and
// always addressing that frame's current content.
//
// The `dim` arguments choose the walk order as geo::CiVolumeN::begin(dim)
// does over the grid: dimension dim slowest; 0 gives lexicographic order.
// The `level` arguments name a resolution level; only level 0 exists.
class IMGSCOPE_API CTileDistributor {
public:
    CTileDistributor(CTileDistributor const&) = delete;
    CTileDistributor& operator=(CTileDistributor const&) = delete;
    ~CTileDistributor();

    // All tile positions, existing or not.
    geo::CiVolumeN GetGrid() const;
    // The first existing tile in walk order; GetEnd(dim) when none exists.
    geo::CiVecN GetBegin(int dim) const;
    // One past the grid in walk order: geo::CiVolumeN::end(dim) of the grid.
    geo::CiVecN GetEnd(int dim) const;
    // The first existing tile after `from` in walk order into `next`; false
    // at the end (`next` then untouched). The walk calls throw std::bad_alloc
    // when their position lists cannot be had, rather than end a walk early.
    bool GetNextExisting(geo::CiVecN const& from, geo::CiVecN& next, int dim) const;
    // True for tiles holding memory and uniform tiles.
    bool Exists(geo::CiVecN const& position) const;

    // The tile's handle; empty when the tile does not exist.
    boost::shared_ptr<ITileData> GetTile(geo::CiVecN const& position) const;
    // The tile's handle, making the tile (filled with the fill value) when
    // it does not exist; empty outside the grid or when memory runs out.
    boost::shared_ptr<ITileData> ProvideTile(geo::CiVecN const& position);

    // Per-tile counters (ETileFlag). False for a missing tile, an unknown
    // flag, another level or a negative amount. Counters never go below 0.
    bool IncrementFlag(geo::CiVecN const& position, int level, int flag, int amount);
    bool DecrementFlag(geo::CiVecN const& position, int level, int flag, int amount);
    // The counter, or -1 for a missing tile or an unknown flag.
    int GetFlag(geo::CiVecN const& position, int level, int flag) const;

    // Frees unlocked tiles that hold one value throughout: those of the
    // fill value disappear, others become uniform tiles. Their memory goes
    // back to the pool. The number of tiles whose memory was freed.
    std::int64_t GarbageCollection();
    // Frees one tile; its pixels read as the fill value again. False when it
    // is missing or locked.
    bool ReleaseTile(geo::CiVecN const& position);

    geo::CiVec2 GetTileSize() const;
    std::int64_t GetTileRowSize() const;
    std::int64_t GetTileByteSize() const;
    // Existing tiles, uniform ones included.
    std::int64_t GetTileCount() const;

private:
    friend class CDataFrame;
    explicit CTileDistributor(CDataFrame& frame);
    CDataFrame* m_pFrame;
    struct tWalk;  // existing tiles sorted in one walk order
    mutable std::unique_ptr<tWalk> m_pWalk;
};

}  // namespace mem

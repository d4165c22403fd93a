// The content of a data frame: geometry, pixel type and the tiles of every
// plane. Shared by the frame, its caches and tile handles.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace mem {

class CTileView;

// One tile. Without data it is missing (reads as the fill value, uniform
// 0) or uniform (reads as uniform row `uniform`).
struct tTileSlot {
    std::uint8_t* data = nullptr;
    std::uint32_t uniform = 0;
    std::int32_t modified = 0;  // tile flag 1
    std::int32_t locked = 0;    // tile flag 2 as raised by callers
    std::int32_t pins = 0;      // caches and locked handles; part of flag 2
    // The newest view that showed `data`; 0 when none did (see CTileView).
    std::uint64_t viewedAt = 0;

    bool Exists() const { return data != nullptr || uniform != 0; }
    bool Pinned() const { return pins > 0 || locked > 0; }
};

// Uniform rows are at most this many pixels; longer runs repeat them.
constexpr int kUniformRowPixels = 1024;

// Tiles are kept in square chunks, made when a tile in them is first
// needed, so a gigapixel plane with a few written tiles costs a few chunks.
constexpr int kChunkShift = 4;
constexpr int kChunkSide = 1 << kChunkShift;

struct tChunk {
    tTileSlot slots[kChunkSide * kChunkSide];
    int count = 0;  // existing tiles
};

struct tPlane {
    std::unordered_map<std::int64_t, std::unique_ptr<tChunk>> chunks;
    std::int64_t count = 0;  // existing tiles
    // The chunk found last: pixel loops walk along a row, so the next
    // lookup mostly hits the same chunk. Chunks live as long as the plane.
    mutable std::int64_t lastIndex = -1;
    mutable tChunk* lastChunk = nullptr;
    // Existing tiles in row order, rebuilt when the store's generation moves.
    mutable std::vector<geo::CiVec2> sorted;
    mutable std::uint64_t sortedGeneration = ~std::uint64_t(0);
};

// A tile rectangle in frame coordinates plus its slot.
struct tTileRef {
    tTileSlot* slot = nullptr;
    int tx = 0;
    int ty = 0;
};

class CTileStore {
public:
    // Validates and sets up; throws std::invalid_argument or std::bad_alloc.
    CTileStore(geo::CiVolumeN const& volume, img::CPixelInfo const& info, utl::CPropSet const& props);
    // Deep copy; throws std::bad_alloc.
    CTileStore(CTileStore const& other);
    CTileStore& operator=(CTileStore const&) = delete;
    ~CTileStore();

    // ---- geometry -------------------------------------------------------
    geo::CiVolumeN m_boundary;
    int m_dims = 0;
    int m_x0 = 0, m_y0 = 0, m_width = 0, m_height = 0;
    geo::CiVolumeN m_planes;  // plane dimensions only
    img::CPixelInfo m_info;
    int m_px = 0;

    EMemoryModel m_model = eMemoryTiled;
    EAlign m_align = eAlignNone;
    int m_growDim = -1;
    int m_budget = 95;
    bool m_commit = false;
    utl::CPropSet m_props;

    int m_tileW = 1, m_tileH = 1;
    int m_tilesX = 0, m_tilesY = 0;
    std::int64_t m_rowBytes = 0;   // stride of a tile row
    std::int64_t m_tileBytes = 0;  // m_rowBytes × m_tileH
    int m_chunksX = 0;

    const std::uint64_t m_id;        // unique in the process
    std::uint64_t m_generation = 0;  // moves when tiles appear or vanish
    std::uint64_t m_modifications = 0;
    std::int64_t m_tileCount = 0;
    std::int64_t m_allocated = 0;

    // ---- planes ---------------------------------------------------------
    // Full plane coordinates for a caller's plane argument (empty: the
    // first plane); null when outside. Points into `plane` or the store.
    geo::CiVecN const* ResolvePlane(geo::CiVecN const& plane) const;
    tPlane* FindPlane(geo::CiVecN const& key) const;
    tPlane& ProvidePlane(geo::CiVecN const& key);

    // ---- tiles ----------------------------------------------------------
    tTileSlot* FindSlot(tPlane const& plane, int tx, int ty) const;
    tTileSlot& ProvideSlot(tPlane& plane, int tx, int ty);
    // A new empty chunk at `index` of `plane` (which has none there yet).
    // Throws std::bad_alloc with the plane unchanged.
    tChunk& AddChunk(tPlane& plane, std::int64_t index);
    // Tile (tx, ty) clipped to the frame, in frame coordinates.
    geo::CiRect TileRect(int tx, int ty) const;
    // Readies the slot for a write: gives it memory (keeping its pixels:
    // fill or uniform value), or memory of its own when a live view shows
    // its current block (copy on write). Pixels are written only outside
    // `keep` (frame coordinates, the part the caller is about to
    // overwrite). A replaced block is retired at once; with `replaced` it
    // is also handed back, so that a write that fails later can Restore it.
    // False when memory runs out, the slot then unchanged.
    bool Materialize(tPlane& plane, tTileSlot& slot, int tx, int ty, geo::CiRect const& keep,
                     std::uint8_t** replaced = nullptr);
    // Undoes a Materialize that replaced `replaced`: the new block goes, the
    // old one is back in the slot and no longer retired.
    void Restore(tTileSlot& slot, std::uint8_t* replaced);
    // Frees the slot's memory; the tile becomes missing or `uniform`. A
    // block a live view shows is retired instead; retiring needs room in the
    // retired list (ReserveRetired), else this throws std::bad_alloc before
    // anything changed.
    void Drop(tPlane& plane, tTileSlot& slot, int tx, int ty, std::uint32_t uniform);
    // First byte of the row the slot shows at tile row 0 and the stride
    // (0 for missing and uniform tiles, which show one shared row).
    std::uint8_t const* RowBase(tTileSlot const* slot, std::int64_t& stride) const;

    // ---- uniform rows ---------------------------------------------------
    // Id of the row of `pixel` (0 is the fill value), made when new; 0xFFFFFFFF
    // when the table is full.
    std::uint32_t UniformId(std::uint8_t const* pixel);
    std::uint8_t const* UniformRow(std::uint32_t id) const { return m_uniformRows[id].get(); }
    // The fill value's row; set once, so readable without the lock.
    std::uint8_t const* FillValue() const { return m_fillRow; }

    // ---- whole-store operations ----------------------------------------
    // Gives every tile of every plane memory (CommitAll), or of the planes of
    // `planeBox` only (plane dimensions); throws std::bad_alloc, before
    // taking any, when they would not fit the budget.
    void CommitAll();
    void CommitPlanes(geo::CiVolumeN const& planeBox);
    // Frees every tile; with `discard` their pages go back to the system.
    void Clear(bool discard = false);
    // Calls f(key, plane) for every plane that holds tiles.
    template <class F>
    void ForEachPlane(F&& f)
    {
        for (auto& entry : m_planeMap)
            f(entry.first, entry.second);
    }
    std::map<geo::CiVecN, tPlane>& Planes() { return m_planeMap; }
    std::map<geo::CiVecN, tPlane> const& Planes() const { return m_planeMap; }

    // Existing tiles of a plane in row order.
    std::vector<geo::CiVec2> const& SortedTiles(tPlane const& plane) const;

    // Ready-made 2-D helpers used by frames, caches and pixel frames.
    bool ReadRect(geo::CiRect const& rect, geo::CiVecN const& key, std::uint8_t* buffer,
                  std::int64_t rowBytes) const;
    bool WriteRect(geo::CiRect const& rect, geo::CiVecN const& key, std::uint8_t const* buffer,
                   std::int64_t rowBytes);
    bool FillRect(geo::CiRect const& rect, geo::CiVecN const& key, std::uint8_t const* pixel);
    // FillRect over several planes, all or none: false when memory runs
    // out, every plane then as it was.
    bool FillPlanes(geo::CiRect const& rect, geo::CiVecN const* keys, std::size_t count, std::uint8_t const* pixel);
    // Rewrites `rect` of plane `key` of a one-byte-pixel store in place:
    // `row(data, count, v)` rewrites a run of pixels, `one(old, v)` gives
    // the new value of one, and tiles without memory that keep their value
    // or are covered whole stay without memory. False when memory runs out,
    // the frame then unchanged.
    bool ModifyBytes(geo::CiRect const& rect, geo::CiVecN const& key, unsigned char v,
                     void (*row)(std::uint8_t*, int, unsigned char), unsigned char (*one)(unsigned char, unsigned char));
    int RowSpan(geo::CiVec2 point, geo::CiVecN const& key, std::uint8_t const*& data) const;
    int RowSpanForWrite(geo::CiVec2 point, geo::CiVecN const& key, std::uint8_t*& data);
    // True when every pixel of the slot inside the frame equals `pixel`.
    bool SlotIsUniform(tTileSlot const& slot, int tx, int ty, std::uint8_t const* pixel) const;

    // Tiles per side of the walk chunks, for callers that visit a rectangle.
    int TileX(int x) const { return static_cast<int>((static_cast<std::int64_t>(x) - m_x0) / m_tileW); }
    int TileY(int y) const { return static_cast<int>((static_cast<std::int64_t>(y) - m_y0) / m_tileH); }

    // Calls f(slot) for every existing tile of `rect` (frame coordinates,
    // inside the frame) in plane `key`; looks up, never allocates.
    template <class F>
    void ForEachTile(geo::CiRect const& rect, geo::CiVecN const& key, F&& f)
    {
        tPlane* plane = rect.IsEmpty() ? nullptr : FindPlane(key);
        if (!plane || plane->count == 0)
            return;
        const int tx0 = TileX(rect.left), tx1 = TileX(rect.right - 1);
        const int ty0 = TileY(rect.top), ty1 = TileY(rect.bottom - 1);
        for (int ty = ty0; ty <= ty1; ++ty)
            for (int tx = tx0; tx <= tx1; ++tx)
                if (tTileSlot* slot = FindSlot(*plane, tx, ty); slot && slot->Exists())
                    f(*slot);
    }
    // Raises the pin count of every existing tile in `rect` of plane `key`
    // and appends those slots to `pinned`.
    void PinRect(geo::CiRect const& rect, geo::CiVecN const& key, std::vector<tTileSlot*>& pinned);
    // Frees the tiles of every plane outside m_planes (with `discard` their
    // pages go back to the system); false (nothing freed) when one of them
    // is pinned.
    bool DropPlanesOutside(bool discard = false);
    // Whether a plane outside m_planes holds a pinned tile.
    bool PinnedOutside() const;

    // ---- threads ----------------------------------------------------------
    // Held by every call on the content: frames, caches, tile handles,
    // distributors, pixel frames, masks and Copy take it at their entry
    // points, and everything above expects it held. Lookup caches (last
    // plane, last chunk, sorted tile lists) live under it too.
    std::mutex& Mutex() const { return m_mutex; }

    // ---- views ------------------------------------------------------------
    // A view (CTileView) shows tiles as they were when it was opened and is
    // read without the lock. A write never changes a block that a live view
    // shows: Materialize moves the tile to fresh memory first, and the old
    // block is retired until no view that may show it is left.
    std::uint64_t OpenView(CTileView const* view);
    void CloseView(std::uint64_t epoch);
    // A write is about to change tile rows [ty0, ty1] of plane `key`: every
    // live view that has pinned some of those rows pins the rest as they
    // are, so that it shows all of the write or none of it.
    void ViewsBeforeWrite(geo::CiVecN const& key, int ty0, int ty1) const;
    // The epoch the next view to open would get, less one: a block retired
    // now may be shown by views up to this one.
    std::uint64_t NewestView() const { return m_viewEpoch; }
    // Whether a live view may show the slot's block.
    bool Shown(tTileSlot const& slot) const { return slot.viewedAt >= m_oldestView; }
    // The view of `epoch` reads `block` in this slot no more: when no other
    // live view may show the block, writes into it stop copying it first.
    void Unshow(tTileSlot& slot, std::uint8_t const* block, std::uint64_t epoch);
    // Room for `count` more retired blocks, so that retiring them cannot
    // fail; throws std::bad_alloc.
    void ReserveRetired(std::size_t count);
    // Frees retired blocks that no live view shows and no pin may reach;
    // callers that end pins call it.
    void SweepRetired();

private:
    // A block taken out of a slot while a view showed it. `slot` and
    // `plane` are null once the plane is gone.
    struct tRetired {
        std::uint8_t* block;
        std::uint64_t epoch;  // the newest view when it was retired
        tTileSlot const* slot;
        tPlane const* plane;
    };
    void Retire(tPlane const& plane, tTileSlot const& slot, std::uint8_t* block);

    std::map<geo::CiVecN, tPlane> m_planeMap;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_uniformRows;  // each m_tileW pixels
    std::uint8_t const* m_fillRow = nullptr;                     // m_uniformRows[0]
    std::map<std::string, std::uint32_t> m_uniformIds;
    mutable geo::CiVecN m_lastKey;
    mutable tPlane* m_lastPlane = nullptr;

    mutable std::mutex m_mutex;
    std::map<std::uint64_t, CTileView const*> m_views;  // the live views by epoch
    std::uint64_t m_viewEpoch = 0;
    std::uint64_t m_oldestView = ~std::uint64_t(0);  // none: no slot counts as shown
    std::vector<tRetired> m_retired;

    bool OutsidePlanes(geo::CiVecN const& key) const;
    // Copies the tile's bytes from `from` to `to` except the part of `keep`
    // (frame coordinates) that a write is about to cover.
    void CopyOutside(std::uint8_t* to, std::uint8_t const* from, int tx, int ty, geo::CiRect const& keep) const;
    void SetUpGeometry(geo::CiVolumeN const& volume, utl::CPropSet const& props);
    // Writes the uniform row `row` over `area` (tile-local pixels) of a
    // tile's memory; with `stream`, around the cache (fence afterwards).
    void FillRows(std::uint8_t* data, geo::CiRect const& area, std::uint8_t const* row, bool stream);
    // Whether tiles are large enough that filling a new one goes around
    // the cache.
    bool StreamsFill() const;
};

// Walks the planes of `box` (plane dimensions only; no dimensions: the one
// plane of a 2-D frame) and calls f(key) for each.
template <class F>
void ForEachPlaneKey(geo::CiVolumeN const& planeBox, F&& f)
{
    if (planeBox.GetDimension() == 0) {
        f(geo::CiVecN());
        return;
    }
    if (planeBox.Volume() == 0)
        return;
    for (auto it = planeBox.begin(0), end = planeBox.end(0); it != end; ++it)
        f(*it);
}

// Checked size arithmetic used at entry points.
bool MulOverflows(std::int64_t a, std::int64_t b, std::int64_t& out);

// The lock of one store for the length of a call.
using tStoreLock = std::unique_lock<std::mutex>;
inline tStoreLock LockStore(CTileStore const& store)
{
    return tStoreLock(store.Mutex());
}

// The locks of two stores, taken in the order of their ids so that two
// copies running the other way round cannot deadlock; one lock when both
// are the same store.
class CStorePairLock {
public:
    CStorePairLock(CTileStore const& a, CTileStore const& b);
    CStorePairLock(CStorePairLock const&) = delete;
    CStorePairLock& operator=(CStorePairLock const&) = delete;

private:
    tStoreLock m_first;
    tStoreLock m_second;
};

}  // namespace mem

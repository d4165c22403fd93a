// Tiled N-dimensional pixel store: data frames, read and write caches, Copy
// and the process-wide pool of tile memory.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/memory_model.h"
#include "imgscope/contracts/foundation/pixel_info.h"
#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/foundation/tile_distributor.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace mem {

class CReadCache;
class CWriteCache;
class CTileStore;  // internal

// Creation properties read by the data-frame constructor. Absent
// properties take the default given here; a property of another type than
// the one named is refused with std::invalid_argument.
enum ECreationProperty : int {
    // geo::CiVec3: tile width and height in pixels and tile depth in planes
    // (must be 1). Default 512 × 512 × 1, and never more than the frame's
    // extent. Ignored by the resident model.
    ePropTileSize = 20002,
    // int, an EMemoryModel. Default eMemoryTiled.
    ePropMemoryModel = 20004,
    // int, an EAlign: tile rows start on multiples of 2^value bytes
    // (0..12). Default eAlignNone, which still keeps rows of whole pixels.
    ePropAlign = 20015,
    // int: the dimension GrowPlanes extends (2 .. dimension count − 1).
    // Default: the last dimension.
    ePropGrowDimension = 20016,
    // int, percent of physical memory (1..100): a new tile is refused once
    // the tiles of all frames in the process would pass this share, so a
    // runaway acquisition fails cleanly instead of being killed. Default 95.
    ePropMemoryBudget = 20017,
    // void*: points at GetElementInfo().Size() bytes, the value unwritten
    // pixels read as. Copied during construction. Default all-zero bytes.
    ePropFillValue = 20027,
    // bool: allocate every tile at construction (filled with the fill
    // value), so that later writes cannot fail for memory. Default false.
    ePropCommitAtCreation = 20030,
};

// Limits checked at construction.
constexpr int kMaxExtent = 1 << 30;            // pixels along x or y
constexpr int kMaxTileExtent = 1 << 16;        // pixels of a tile side
constexpr std::int64_t kMaxTileBytes = std::int64_t(1) << 30;
constexpr int kDefaultTileExtent = 512;

// The dimensions of a data frame beyond x and y, through which its planes
// are addressed.
class IMGSCOPE_API CPlaneAssortment {
public:
    CPlaneAssortment() = default;
    explicit CPlaneAssortment(geo::CiVolumeN const& boundary) : m_boundary(boundary) {}

    // Positions and sizes of the plane dimensions; no dimensions for a
    // 2-D frame.
    geo::CiVolumeN const& GetBoundary() const { return m_boundary; }
    int GetDimension() const { return m_boundary.GetDimension(); }
    // Number of planes; 1 for a 2-D frame, 0 when a plane dimension is empty.
    std::int64_t GetPlaneCount() const
    {
        return m_boundary.GetDimension() == 0 ? 1 : m_boundary.Volume();
    }
    bool Contains(geo::CiVecN const& plane) const;

private:
    geo::CiVolumeN m_boundary;
};

// An N-dimensional block of pixels: x and y first, further dimensions form
// the plane assortment. Pixels live in 2-D tiles per plane that are
// allocated on first write; unwritten pixels read as the fill value.
//
// Plane arguments (`plane`) hold the coordinates of the plane dimensions;
// an empty vector means the first plane. Row-span calls hand out pointers
// that stay valid until the next write, GarbageCollection, assignment, Swap
// or destruction of the frame, unless a cache pins the tile.
//
// Threads: every call holds the frame's lock, so one frame may be used
// from several threads; the tile pool frames share is thread-safe. Pointers
// from row-span calls are not guarded: use them only while no other thread
// writes into the frame. A cache (CReadCache, CWriteCache) serves one
// thread at a time.
class IMGSCOPE_API CDataFrame {
public:
    // Throws std::invalid_argument for a negative or oversized extent, an
    // invalid pixel description, a bad creation property or byte counts past
    // 64 bits, and std::bad_alloc when committed tiles cannot be had.
    CDataFrame(geo::CiVolumeN const& volume, img::CPixelInfo const& info,
               utl::CPropSet const& creationProps);
    CDataFrame(geo::CiVolumeN const& volume, img::CPixelInfo const& info);
    // The same without exceptions: empty on failure.
    static boost::shared_ptr<CDataFrame> Create(geo::CiVolumeN const& volume, img::CPixelInfo const& info,
                                                utl::CPropSet const& creationProps) noexcept;

    // Deep copies. Assignment keeps this object (holders of it see the new
    // content) and leaves it unchanged when it throws std::bad_alloc.
    CDataFrame(CDataFrame const& other);
    CDataFrame& operator=(CDataFrame const& other);
    CDataFrame(CDataFrame&& other) noexcept;
    CDataFrame& operator=(CDataFrame&& other) noexcept;
    ~CDataFrame();

    // Exchanges the whole content (extent, pixel type, properties, tiles)
    // with `other`. Caches and tile handles follow the content they were
    // made on.
    void Swap(CDataFrame& other) noexcept;

    int GetDimension() const;
    // The extent at resolution level `level`; only level 0 exists, other
    // levels give an empty volume.
    geo::CiVolumeN GetBoundary(int level = 0) const;
    img::CPixelInfo const& GetElementInfo() const;
    CPlaneAssortment GetPlaneAssortment() const;
    EMemoryModel GetMemoryModel() const;
    EAlign GetAlign() const;
    // The creation properties in effect, defaults filled in; 20027 is not
    // kept (its pointer would dangle), see GetFillValue.
    utl::CPropSet const& GetCreationProperties() const;
    // GetElementInfo().Size() bytes.
    void const* GetFillValue() const;

    // Tile width and height in pixels (the plane size for the resident model).
    geo::CiVec2 GetTileSize() const;
    // Bytes from one tile row to the next, alignment included.
    std::int64_t GetTileRowSize() const;
    // Tiles, uniform tiles included, and the bytes of tile memory they hold.
    std::int64_t GetTileCount() const;
    std::int64_t GetAllocatedBytes() const;
    // Counts every write call and Sync; lets holders see that pixels changed.
    std::uint64_t GetModificationCount() const;

    // Null for the resident model, which keeps each plane as one block.
    CTileDistributor* GetTileDistributor();
    CTileDistributor const* GetTileDistributor() const;

    // Caches over `volume`, clipped to the frame. A volume without
    // dimensions means the whole frame; missing trailing dimensions span
    // the frame. Empty for more dimensions than the frame, a negative size
    // or lack of memory. `flags` is reserved.
    boost::shared_ptr<CReadCache> CreateReadCache(geo::CiVolumeN const& volume, int flags) const;
    boost::shared_ptr<CWriteCache> CreateWriteCache(geo::CiVolumeN const& volume, int flags);

    // Rectangle reads and writes within one plane. `rowBytes` is the
    // buffer's stride in bytes (0: rect width × pixel size). False, with
    // buffer or frame unchanged, when the rectangle is empty or not wholly
    // inside, the plane does not exist, the stride is too small, or memory
    // runs out.
    bool ReadRect(geo::CiRect const& rect, geo::CiVecN const& plane, void* buffer,
                  std::int64_t rowBytes) const;
    bool WriteRect(geo::CiRect const& rect, geo::CiVecN const& plane, void const* buffer,
                   std::int64_t rowBytes);
    // Sets every pixel of `box` (clipped to the frame) to `pixel`
    // (GetElementInfo().Size() bytes). Tiles it covers wholly become uniform
    // and cost no tile memory. False when nothing of the box lies inside.
    bool Fill(geo::CiVolumeN const& box, void const* pixel);

    // Fast row access for pixel loops: `data` points at pixel `point` and the
    // result is the number of pixels readable from there along x without
    // crossing a tile (at least 1), or 0 when the point lies outside
    // (`data` then untouched). Unwritten and uniform tiles yield a shared
    // row of their value: never write through it.
    int GetRowSpan(geo::CiVec2 point, geo::CiVecN const& plane, std::uint8_t const*& data) const;
    // The same for writing; makes the tile when needed. 0 also when memory
    // runs out. The caller counts as having written the span.
    int GetRowSpanForWrite(geo::CiVec2 point, geo::CiVecN const& plane, std::uint8_t*& data);

    // Adds `count` planes along the grow dimension (ePropGrowDimension):
    // at the end for count > 0, before the start for count < 0. New planes
    // read as the fill value. False for a 2-D frame or an overflowing extent.
    bool GrowPlanes(int count);
    // Sets the plane-assortment extent (same number of dimensions); tiles of
    // planes that fall outside are freed. False for another dimension count
    // or a negative size.
    bool SetPlaneBoundary(geo::CiVolumeN const& planes);

    // Internal: the content behind this frame.
    CTileStore& Store() const { return *m_pStore; }
    std::shared_ptr<CTileStore> const& StorePtr() const { return m_pStore; }
    // Internal: the tile distributor, also of a resident frame.
    CTileDistributor& Distributor() const { return m_distributor; }

private:
    std::shared_ptr<CTileStore> m_pStore;
    mutable CTileDistributor m_distributor{*this};  // stays with this object
};

// Keeps the tiles that exist in a region of a frame allocated (tile flag
// eTileFlagLocked) and offers fast reads there. Holds the content it was made
// on alive, so it stays valid after the frame is swapped, assigned or deleted.
class IMGSCOPE_API CReadCache {
public:
    ~CReadCache();
    CReadCache(CReadCache const&) = delete;
    CReadCache& operator=(CReadCache const&) = delete;

    // The region, clipped to the frame.
    geo::CiVolumeN const& GetVolume() const;
    // As CDataFrame::GetRowSpan, for points inside the region only.
    int GetRowSpan(geo::CiVec2 point, geo::CiVecN const& plane, std::uint8_t const*& data) const;
    // As CDataFrame::ReadRect, for rectangles inside the region only.
    bool ReadRect(geo::CiRect const& rect, geo::CiVecN const& plane, void* buffer, std::int64_t rowBytes) const;

private:
    friend class CDataFrame;
    struct tImpl;
    explicit CReadCache(std::unique_ptr<tImpl> impl);
    std::unique_ptr<tImpl> m_pImpl;
};

// Write access to a region. Writes land in the tiles at once; Sync publishes
// them: it counts a modification (eTileFlagModified) on every tile of the box
// and raises the frame's modification count. Tiles made through the cache
// stay locked while it lives.
class IMGSCOPE_API CWriteCache {
public:
    ~CWriteCache();
    CWriteCache(CWriteCache const&) = delete;
    CWriteCache& operator=(CWriteCache const&) = delete;

    geo::CiVolumeN const& GetVolume() const;
    // As CDataFrame::GetRowSpanForWrite, for points inside the region only.
    int GetRowSpanForWrite(geo::CiVec2 point, geo::CiVecN const& plane, std::uint8_t*& data);
    bool WriteRect(geo::CiRect const& rect, geo::CiVecN const& plane, void const* buffer, std::int64_t rowBytes);
    // `box` is clipped to the region; false when nothing of it lies inside
    // or its dimension count exceeds the frame's.
    bool Sync(geo::CiVolumeN const& box);

private:
    friend class CDataFrame;
    struct tImpl;
    explicit CWriteCache(std::unique_ptr<tImpl> impl);
    std::unique_ptr<tImpl> m_pImpl;
};

// Copies `sourceBox` of `source` into `target` with the box's first
// position landing on `targetPosition`. Missing trailing components of the
// box or the position take the frame's first position, and the box's size 1.
// Dimensions 0 and 1 map to x and y, further dimensions by index (a source
// dimension the target lacks must have size 1). The region is clipped to
// both frames. The pixel types must agree, except that the target may carry
// extra alpha components (they are set to opaque). False, target unchanged,
// for other types, a negative size, nothing left after clipping, too many
// components, or lack of memory. `flags` is reserved.
IMGSCOPE_API bool Copy(CDataFrame const& source, CDataFrame& target, geo::CiVolumeN const& sourceBox,
                       geo::CiVecN const& targetPosition, int flags);

// The process-wide pool of tile memory. Freed tiles stay mapped here and are
// handed to new tiles of the same byte size, because touching fresh pages
// costs far more than copying into mapped ones.
struct tTilePoolStats {
    std::size_t liveBytes = 0;    // held by tiles of existing frames
    std::size_t pooledBytes = 0;  // freed tiles kept for reuse
    std::size_t mappedBytes = 0;  // address space reserved in all
};
IMGSCOPE_API tTilePoolStats GetTilePoolStats();
// Returns pooled memory beyond `keepBytes` to the system.
IMGSCOPE_API void TrimTilePool(std::size_t keepBytes);

}  // namespace mem

// Pixel frames: 2-D views of one plane of a data frame, and the tile
// distributor that walks a pixel frame's tiles.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/memory_model.h"
#include "imgscope/contracts/foundation/pixel_info.h"
#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/foundation/tile_distributor.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>

namespace img {

class CTileDistributor;

// One plane of a data frame seen as a picture. Coordinates are those of the
// data frame (the boundary may start anywhere). Several pixel frames may
// view one data frame; each holds it alive.
//
// Buffers of the row and rectangle calls hold pixels of GetPixelInfo(),
// packed, in the machine's byte order: a 1-byte element type reads the
// first byte of the buffer, so writing one 8-bit pixel from `&intValue`
// takes the low byte on little-endian machines. `flags` are reserved and
// ignored (callers pass 0 or -1).
class IMGSCOPE_API CPixFrame {
public:
    // A view of plane `plane` (plane-assortment coordinates; empty means the
    // first plane). Throws std::invalid_argument for a null frame or a plane
    // outside the frame.
    CPixFrame(boost::shared_ptr<mem::CDataFrame> frame, geo::CiVecN const& plane = geo::CiVecN());
    ~CPixFrame();
    // Copies share the data frame.
    CPixFrame(CPixFrame const&);
    CPixFrame& operator=(CPixFrame const&);

    // A new 2-D data frame of `rect` and a view of it. The memory model and
    // alignment go in as creation properties 20004 and 20015 unless `props`
    // holds them. Empty for bad arguments or lack of memory.
    static boost::shared_ptr<CPixFrame> Create(geo::CiRect const& rect, CPixelInfo const& info,
                                               mem::EMemoryModel model, mem::EAlign align,
                                               utl::CPropSet const& props);
    // A view without exceptions; empty where the constructor throws.
    static boost::shared_ptr<CPixFrame> Create(boost::shared_ptr<mem::CDataFrame> frame,
                                               geo::CiVecN const& plane);

    boost::shared_ptr<mem::CDataFrame> GetDataFrame() const;
    // Full plane coordinates of the viewed plane.
    geo::CiVecN const& GetPlane() const;
    // The plane's rectangle at resolution level `level` (only 0; an empty
    // rectangle otherwise).
    geo::CiRect GetBoundary(int level = 0) const;
    CPixelInfo const& GetPixelInfo() const;

    // `count` pixels from `point` along x. False (buffer or frame unchanged)
    // unless the whole segment lies inside and count > 0.
    bool ReadRowSegment(geo::CiVec2 point, int count, void* buffer, int flags) const;
    bool WriteRowSegment(geo::CiVec2 point, int count, void const* buffer, int flags);
    // A rectangle wholly inside the boundary. `bufferWidth` is the buffer's
    // row length in pixels (at least the rectangle's width; 0 or less means
    // exactly the width). False otherwise.
    bool ReadRect(geo::CiRect const& rect, void* buffer, int bufferWidth, int flags) const;
    bool WriteRect(geo::CiRect const& rect, void const* buffer, int bufferWidth, int flags);
    // Sets `rect` (clipped) to `pixel`; false when nothing of it lies inside.
    bool FillRect(geo::CiRect const& rect, void const* pixel);

    // Row pointers for pixel loops, as mem::CDataFrame::GetRowSpan: the
    // pixels readable from `point` up to the end of its tile, 0 outside.
    // Unwritten tiles yield a shared row of the fill value.
    int GetRowSpan(geo::CiVec2 point, std::uint8_t const*& data) const;
    int GetRowSpanForWrite(geo::CiVec2 point, std::uint8_t*& data);

    // Caches over `rect` of this plane (see mem::CDataFrame). Their calls
    // take the plane explicitly: pass GetPlane() (an empty vector means the
    // data frame's first plane).
    boost::shared_ptr<mem::CReadCache> CreateReadCache(geo::CiRect const& rect, int flags) const;
    boost::shared_ptr<mem::CWriteCache> CreateWriteCache(geo::CiRect const& rect, int flags);

    // The tiles of this plane; never empty for a valid frame (a resident
    // frame shows one tile per plane).
    boost::shared_ptr<CTileDistributor> GetTileDistributor() const;

private:
    boost::shared_ptr<mem::CDataFrame> m_pFrame;
    geo::CiVecN m_plane;  // full plane coordinates
};

// The tiles of one plane of a pixel frame. Tile positions are grid indices
// (x, y); iteration visits existing tiles row by row (y slowest), and end()
// sits at (0, tile rows).
class IMGSCOPE_API CTileDistributor {
public:
    class IMGSCOPE_API const_iterator {
    public:
        const_iterator() = default;
        geo::CiVec2 const& operator*() const { return m_pos; }
        geo::CiVec2 const* operator->() const { return &m_pos; }
        // The current tile's handle (empty at the end).
        boost::shared_ptr<mem::ITileData> const& GetTile() const { return m_pTile; }
        const_iterator& operator++();
        bool operator==(const_iterator const& o) const { return m_pos == o.m_pos; }
        bool operator!=(const_iterator const& o) const { return !(m_pos == o.m_pos); }

    private:
        friend class CTileDistributor;
        CTileDistributor const* m_pOwner = nullptr;
        geo::CiVec2 m_pos;
        boost::shared_ptr<mem::ITileData> m_pTile;
    };

    CTileDistributor(boost::shared_ptr<mem::CDataFrame> frame, geo::CiVecN const& plane);

    const_iterator begin() const;
    const_iterator end() const;

    // Tile width and height in pixels.
    geo::CiVec2 GetTileSize() const;
    // Bytes per tile row, alignment included.
    std::int64_t GetTileRowSize() const;
    // Tiles along x and y.
    geo::CiVec2 GetTileCount() const;
    // Pixels a tile covers, clipped to the plane; empty outside the grid.
    geo::CiRect GetTileRect(geo::CiVec2 tile) const;

    // Empty when the tile does not exist.
    boost::shared_ptr<mem::ITileData> GetTile(geo::CiVec2 tile) const;
    // Makes the tile when missing; empty outside the grid or without memory.
    boost::shared_ptr<mem::ITileData> ProvideTile(geo::CiVec2 tile) const;
    // The next existing tile after `from` in row order; false at the end.
    bool GetNextExisting(geo::CiVec2 from, geo::CiVec2& next) const;

private:
    boost::shared_ptr<mem::CDataFrame> m_pFrame;
    geo::CiVecN m_plane;
};

}  // namespace img

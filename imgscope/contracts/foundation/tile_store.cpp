#include "imgscope/contracts/foundation/tile_store_internal.h"

#include "imgscope/contracts/foundation/row_copy_internal.h"
#include "imgscope/contracts/foundation/tile_pool_internal.h"
#include "imgscope/contracts/foundation/tile_view_internal.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace mem {

namespace {

// Distinct uniform values a store keeps; beyond that tiles get memory.
constexpr std::size_t kMaxUniformRows = 256;

constexpr int kDefaultBudgetPercent = 95;

template <class T>
bool ReadProp(utl::CPropSet const& props, int id, T& out)
{
    mem::CBin const* bin = props.AccessProperty(id);
    if (!bin)
        return false;
    if (!bin->Get(out))
        throw std::invalid_argument("data frame: creation property of the wrong type");
    return true;
}

std::int64_t AlignUp(std::int64_t value, int shift)
{
    const std::int64_t unit = std::int64_t(1) << shift;
    return (value + unit - 1) / unit * unit;
}

bool AllBytesZero(std::uint8_t const* p, int n)
{
    for (int i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

std::uint64_t NextStoreId()
{
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

bool MulOverflows(std::int64_t a, std::int64_t b, std::int64_t& out)
{
    return __builtin_mul_overflow(a, b, &out);
}

// Copies `w` pixels of a uniform value from `row` (a uniform row of
// `rowPixels` pixels) to `dst`; with `stream`, around the cache.
static inline void CopyUniform(std::uint8_t* dst, std::uint8_t const* row, int rowPixels, int w, int px,
                               bool stream = false)
{
    while (w > 0) {
        const int n = std::min(w, rowPixels);
        if (stream)
            detail::StreamRow(dst, row, static_cast<std::size_t>(n) * px);
        else
            std::memcpy(dst, row, static_cast<std::size_t>(n) * px);
        dst += static_cast<std::ptrdiff_t>(n) * px;
        w -= n;
    }
}

CTileStore::CTileStore(geo::CiVolumeN const& volume, img::CPixelInfo const& info, utl::CPropSet const& props)
    : m_info(info), m_id(NextStoreId())
{
    if (!info.IsValid() || info.Size() <= 0)
        throw std::invalid_argument("data frame: invalid pixel description");
    m_px = info.Size();
    SetUpGeometry(volume, props);
    if (m_commit) {
        try {
            CommitAll();
        } catch (...) {
            Clear(true);
            throw;
        }
    }
}

void CTileStore::SetUpGeometry(geo::CiVolumeN const& volume, utl::CPropSet const& props)
{
    m_dims = volume.GetDimension();
    geo::CiVecN const& pos = volume.Position();
    geo::CiVecN const& size = volume.Size();
    for (int i = 0; i < m_dims; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (size[k] < 0)
            throw std::invalid_argument("data frame: negative extent");
        if (std::int64_t(pos[k]) + size[k] > std::numeric_limits<int>::max())
            throw std::invalid_argument("data frame: extent past the coordinate range");
    }
    m_boundary = volume;
    m_x0 = m_dims > 0 ? pos[0] : 0;
    m_width = m_dims > 0 ? size[0] : 0;
    m_y0 = m_dims > 1 ? pos[1] : 0;
    m_height = m_dims > 1 ? size[1] : 0;
    if (m_width > kMaxExtent || m_height > kMaxExtent)
        throw std::invalid_argument("data frame: extent past the limit");

    std::int64_t planeCount = 1;
    if (m_dims > 2) {
        geo::CiVecN ppos, psize;
        for (int i = 2; i < m_dims; ++i) {
            ppos.Append(pos[static_cast<std::size_t>(i)]);
            psize.Append(size[static_cast<std::size_t>(i)]);
            if (MulOverflows(planeCount, size[static_cast<std::size_t>(i)], planeCount))
                throw std::invalid_argument("data frame: too many planes");
        }
        m_planes = geo::CiVolumeN::FromPositionSize(ppos, psize);
    }
    std::int64_t bytes = 0;
    if (MulOverflows(std::int64_t(m_width) * m_height, m_px, bytes) || MulOverflows(bytes, planeCount, bytes))
        throw std::invalid_argument("data frame: byte count past 64 bits");
    const bool empty = m_width == 0 || m_height == 0 || planeCount == 0;

    // Creation properties: the caller's set as given, defaults added.
    m_props = props;
    m_props.DeleteProperty(ePropFillValue);

    int model = eMemoryTiled;
    if (ReadProp(props, ePropMemoryModel, model) && model == eMemoryDefault)
        model = eMemoryTiled;
    if (model != eMemoryTiled && model != eMemoryResident && model != eMemoryTiledSparse)
        throw std::invalid_argument("data frame: unknown memory model");
    m_model = static_cast<EMemoryModel>(model);
    if (!props.PropertyExists(ePropMemoryModel))
        m_props.SetValue(ePropMemoryModel, model);

    int align = eAlignNone;
    ReadProp(props, ePropAlign, align);
    if (align < 0 || align > 12)
        throw std::invalid_argument("data frame: alignment out of range");
    m_align = static_cast<EAlign>(align);
    if (!props.PropertyExists(ePropAlign))
        m_props.SetValue(ePropAlign, align);

    m_growDim = m_dims - 1;
    int grow = m_growDim;
    if (ReadProp(props, ePropGrowDimension, grow) && grow >= 2 && grow < m_dims)
        m_growDim = grow;
    if (!props.PropertyExists(ePropGrowDimension))
        m_props.SetValue(ePropGrowDimension, m_growDim);

    m_budget = kDefaultBudgetPercent;
    if (ReadProp(props, ePropMemoryBudget, m_budget))
        m_budget = std::clamp(m_budget, 1, 100);
    if (!props.PropertyExists(ePropMemoryBudget))
        m_props.SetValue(ePropMemoryBudget, m_budget);

    m_commit = false;
    ReadProp(props, ePropCommitAtCreation, m_commit);
    if (!props.PropertyExists(ePropCommitAtCreation))
        m_props.SetValue(ePropCommitAtCreation, m_commit);
    if (m_model == eMemoryResident)
        m_commit = true;

    // Tile size.
    geo::CiVec3 tile(kDefaultTileExtent, kDefaultTileExtent, 1);
    const bool tileGiven = ReadProp(props, ePropTileSize, tile);
    if (!tileGiven)
        m_props.SetValue(ePropTileSize, tile);
    if (m_model == eMemoryResident) {
        tile = geo::CiVec3(std::max(m_width, 1), std::max(m_height, 1), 1);
    } else if (!empty) {
        if (tile.x <= 0 || tile.y <= 0 || tile.z != 1)
            throw std::invalid_argument("data frame: tile size must be positive and one plane deep");
        // A tile never reaches past the frame: larger ones only waste memory.
        tile.x = std::min(tile.x, m_width);
        tile.y = std::min(tile.y, m_height);
        if (tile.x > kMaxTileExtent || tile.y > kMaxTileExtent)
            throw std::invalid_argument("data frame: tile side past the limit");
    } else {
        // An empty frame holds no tile: its tile size is only made usable.
        tile.x = std::clamp(tile.x, 1, std::clamp(m_width, 1, kMaxTileExtent));
        tile.y = std::clamp(tile.y, 1, std::clamp(m_height, 1, kMaxTileExtent));
    }
    m_tileW = tile.x;
    m_tileH = tile.y;
    m_rowBytes = AlignUp(std::int64_t(m_tileW) * m_px, static_cast<int>(m_align));
    if (MulOverflows(m_rowBytes, m_tileH, m_tileBytes))
        throw std::invalid_argument("data frame: tile byte count past 64 bits");
    if (m_model != eMemoryResident && m_tileBytes > kMaxTileBytes) {
        if (!empty)
            throw std::invalid_argument("data frame: tile past the byte limit");
        m_tileH = static_cast<int>(std::max<std::int64_t>(1, kMaxTileBytes / m_rowBytes));
        m_tileBytes = m_rowBytes * m_tileH;
    }
    m_tilesX = m_width == 0 ? 0 : static_cast<int>((std::int64_t(m_width) + m_tileW - 1) / m_tileW);
    m_tilesY = m_height == 0 ? 0 : static_cast<int>((std::int64_t(m_height) + m_tileH - 1) / m_tileH);
    m_chunksX = (m_tilesX + kChunkSide - 1) / kChunkSide;

    // Fill value: copied now, the caller frees its buffer right after.
    std::vector<std::uint8_t> fill(static_cast<std::size_t>(m_px), 0);
    void* fillPtr = nullptr;
    if (ReadProp(props, ePropFillValue, fillPtr)) {
        if (!fillPtr)
            throw std::invalid_argument("data frame: null fill value");
        std::memcpy(fill.data(), fillPtr, fill.size());
    }
    m_uniformRows.clear();
    m_uniformIds.clear();
    if (UniformId(fill.data()) != 0)
        throw std::logic_error("data frame: fill row");
    m_fillRow = m_uniformRows[0].get();
}

CTileStore::CTileStore(CTileStore const& other)
    : m_boundary(other.m_boundary), m_dims(other.m_dims), m_x0(other.m_x0), m_y0(other.m_y0),
      m_width(other.m_width), m_height(other.m_height), m_planes(other.m_planes), m_info(other.m_info),
      m_px(other.m_px), m_model(other.m_model), m_align(other.m_align), m_growDim(other.m_growDim),
      m_budget(other.m_budget), m_commit(other.m_commit), m_props(other.m_props), m_tileW(other.m_tileW),
      m_tileH(other.m_tileH), m_tilesX(other.m_tilesX), m_tilesY(other.m_tilesY), m_rowBytes(other.m_rowBytes),
      m_tileBytes(other.m_tileBytes), m_chunksX(other.m_chunksX), m_id(NextStoreId()),
      m_modifications(other.m_modifications),
      m_uniformIds(other.m_uniformIds)
{
    const std::size_t rowLen = static_cast<std::size_t>(std::min(m_tileW, kUniformRowPixels)) * m_px;
    m_uniformRows.reserve(other.m_uniformRows.size());
    for (auto const& row : other.m_uniformRows) {
        // Owned before the vector takes it: the vector cannot fail after the
        // reserve, and the row is freed if its allocation is the last to fail.
        std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[rowLen]);
        std::memcpy(copy.get(), row.get(), rowLen);
        m_uniformRows.push_back(std::move(copy));
    }
    m_fillRow = m_uniformRows[0].get();
    try {
        for (auto const& [key, src] : other.m_planeMap) {
            tPlane& dst = m_planeMap[key];
            for (auto const& [ci, chunk] : src.chunks) {
                // In the map before any tile is copied into it, so that Clear
                // gives back the tiles of a copy that fails halfway.
                tChunk* copy = &AddChunk(dst, ci);
                for (int i = 0; i < kChunkSide * kChunkSide; ++i) {
                    tTileSlot const& s = chunk->slots[i];
                    tTileSlot& d = copy->slots[i];
                    d.uniform = s.uniform;
                    d.modified = s.modified;
                    if (s.data) {
                        auto block = detail::CTilePool::Instance().Acquire(static_cast<std::size_t>(m_tileBytes),
                                                                           m_budget);
                        if (!block.data)
                            throw std::bad_alloc();
                        std::memcpy(block.data, s.data, static_cast<std::size_t>(m_tileBytes));
                        d.data = block.data;
                        m_allocated += m_tileBytes;
                    }
                    if (d.Exists()) {
                        ++dst.count;
                        ++m_tileCount;
                    }
                }
            }
        }
    } catch (...) {
        Clear(true);
        throw;
    }
}

CTileStore::~CTileStore()
{
    Clear();
    // Views hold the store, so none is left to show a retired block.
    for (tRetired const& r : m_retired)
        detail::CTilePool::Instance().Release(r.block, static_cast<std::size_t>(m_tileBytes));
}

void CTileStore::Clear(bool discard)
{
    auto& pool = detail::CTilePool::Instance();
    for (auto& [key, plane] : m_planeMap)
        for (auto& [ci, chunk] : plane.chunks)
            for (auto& slot : chunk->slots)
                if (slot.data)
                    pool.Release(slot.data, static_cast<std::size_t>(m_tileBytes), discard);
    m_planeMap.clear();
    for (tRetired& r : m_retired) {
        r.plane = nullptr;
        r.slot = nullptr;
    }
    m_lastPlane = nullptr;
    m_tileCount = 0;
    m_allocated = 0;
    ++m_generation;
}

void CTileStore::CommitAll()
{
    CommitPlanes(m_planes);
}

void CTileStore::CommitPlanes(geo::CiVolumeN const& planeBox)
{
    // All or nothing, and nothing taken for planes that cannot fit: filling
    // tiles only to give them back would leave their pages resident.
    std::int64_t planes = planeBox.GetDimension() == 0 ? 1 : planeBox.Volume();
    std::int64_t missing = 0;
    if (MulOverflows(planes, std::int64_t(m_tilesX) * m_tilesY, missing))
        throw std::bad_alloc();
    for (auto const& [key, plane] : m_planeMap) {
        if (planeBox.GetDimension() > 0 && !planeBox.Contains(key))
            continue;
        for (auto const& [ci, chunk] : plane.chunks)
            for (auto const& slot : chunk->slots)
                missing -= slot.data != nullptr;
    }
    if (!detail::CTilePool::Instance().Fits(missing, static_cast<std::size_t>(m_tileBytes), m_budget))
        throw std::bad_alloc();
    ForEachPlaneKey(planeBox, [&](geo::CiVecN const& key) {
        tPlane& plane = ProvidePlane(key);
        for (int ty = 0; ty < m_tilesY; ++ty)
            for (int tx = 0; tx < m_tilesX; ++tx)
                if (!Materialize(plane, ProvideSlot(plane, tx, ty), tx, ty, geo::CiRect()))
                    throw std::bad_alloc();
    });
}

geo::CiVecN const* CTileStore::ResolvePlane(geo::CiVecN const& plane) const
{
    // A pointer, not a copy: row reads of N-D frames call this per span, and
    // a copied key would cost an allocation each time.
    static const geo::CiVecN kNoPlane;
    if (m_width == 0 || m_height == 0)
        return nullptr;
    if (m_planes.GetDimension() == 0)
        return plane.empty() ? &kNoPlane : nullptr;
    // The first plane exists unless some plane extent is 0.
    if (plane.empty())
        return m_planes.Contains(m_planes.Position()) ? &m_planes.Position() : nullptr;
    return m_planes.Contains(plane) ? &plane : nullptr;
}

tPlane* CTileStore::FindPlane(geo::CiVecN const& key) const
{
    if (m_lastPlane && m_lastKey == key)
        return m_lastPlane;
    auto it = m_planeMap.find(key);
    if (it == m_planeMap.end())
        return nullptr;
    tPlane* found = const_cast<tPlane*>(&it->second);
    try {
        m_lastKey = key;
        m_lastPlane = found;
    } catch (std::bad_alloc const&) {
        m_lastPlane = nullptr;  // only the lookup cache is lost
    }
    return found;
}

tPlane& CTileStore::ProvidePlane(geo::CiVecN const& key)
{
    if (tPlane* p = FindPlane(key))
        return *p;
    tPlane& p = m_planeMap[key];
    m_lastKey = key;
    m_lastPlane = &p;
    return p;
}

tTileSlot* CTileStore::FindSlot(tPlane const& plane, int tx, int ty) const
{
    const std::int64_t ci = std::int64_t(ty >> kChunkShift) * m_chunksX + (tx >> kChunkShift);
    tChunk* chunk = nullptr;
    if (ci == plane.lastIndex) {
        chunk = plane.lastChunk;
    } else {
        auto it = plane.chunks.find(ci);
        if (it == plane.chunks.end())
            return nullptr;
        chunk = it->second.get();
        plane.lastIndex = ci;
        plane.lastChunk = chunk;
    }
    return &chunk->slots[((ty & (kChunkSide - 1)) << kChunkShift) | (tx & (kChunkSide - 1))];
}

tChunk& CTileStore::AddChunk(tPlane& plane, std::int64_t index)
{
    // The chunk is made before its map entry: an entry whose chunk could not
    // be had would be a null chunk that every later walk trips over.
    auto made = std::make_unique<tChunk>();
    auto& entry = plane.chunks.try_emplace(index).first->second;
    entry = std::move(made);
    return *entry;
}

tTileSlot& CTileStore::ProvideSlot(tPlane& plane, int tx, int ty)
{
    if (tTileSlot* slot = FindSlot(plane, tx, ty))
        return *slot;
    const std::int64_t ci = std::int64_t(ty >> kChunkShift) * m_chunksX + (tx >> kChunkShift);
    tChunk* chunk = &AddChunk(plane, ci);
    plane.lastIndex = ci;
    plane.lastChunk = chunk;
    return chunk->slots[((ty & (kChunkSide - 1)) << kChunkShift) | (tx & (kChunkSide - 1))];
}

geo::CiRect CTileStore::TileRect(int tx, int ty) const
{
    const int left = m_x0 + tx * m_tileW;
    const int top = m_y0 + ty * m_tileH;
    const int right = static_cast<int>(std::min<std::int64_t>(std::int64_t(left) + m_tileW, std::int64_t(m_x0) + m_width));
    const int bottom =
        static_cast<int>(std::min<std::int64_t>(std::int64_t(top) + m_tileH, std::int64_t(m_y0) + m_height));
    return {left, top, right, bottom};
}

void CTileStore::CopyOutside(std::uint8_t* to, std::uint8_t const* from, int tx, int ty, geo::CiRect const& keep) const
{
    const geo::CiRect tile = TileRect(tx, ty);
    geo::CiRect k = geo::Intersection(keep, tile);
    if (k == tile)
        return;  // the write covers the whole tile
    if (k.IsEmpty()) {
        std::memcpy(to, from, static_cast<std::size_t>(m_tileBytes));
        return;
    }
    k.Offset(geo::CiVec2(-(m_x0 + tx * m_tileW), -(m_y0 + ty * m_tileH)));
    const auto rows = [&](int y0, int y1) {
        if (y1 > y0)
            std::memcpy(to + y0 * m_rowBytes, from + y0 * m_rowBytes, static_cast<std::size_t>((y1 - y0) * m_rowBytes));
    };
    rows(0, k.top);
    rows(k.bottom, m_tileH);
    const std::size_t left = static_cast<std::size_t>(k.left) * m_px;
    const std::int64_t right = std::int64_t(k.right) * m_px;
    for (int y = k.top; y < k.bottom; ++y) {
        std::memcpy(to + y * m_rowBytes, from + y * m_rowBytes, left);
        std::memcpy(to + y * m_rowBytes + right, from + y * m_rowBytes + right,
                    static_cast<std::size_t>(m_rowBytes - right));
    }
}

void CTileStore::FillRows(std::uint8_t* data, geo::CiRect const& area, std::uint8_t const* row, bool stream)
{
    // `area` in tile-local pixels.
    const int rowPixels = std::min(m_tileW, kUniformRowPixels);
    const std::size_t px = static_cast<std::size_t>(m_px);
    if (stream && detail::kCacheLine % px == 0 && static_cast<std::size_t>(rowPixels) * px >= detail::kMinFillRowBytes) {
        detail::StreamFillRows(data + area.top * m_rowBytes + std::int64_t(area.left) * m_px, m_rowBytes,
                               static_cast<std::size_t>(area.Height()), static_cast<std::size_t>(area.Width()) * px,
                               row, px);
        return;
    }
    for (int y = area.top; y < area.bottom; ++y)
        CopyUniform(data + y * m_rowBytes + std::int64_t(area.left) * m_px, row, rowPixels, area.Width(), m_px, stream);
}

bool CTileStore::StreamsFill() const
{
    return m_tileBytes >= static_cast<std::int64_t>(detail::kStreamBytes);
}

bool CTileStore::Materialize(tPlane& plane, tTileSlot& slot, int tx, int ty, geo::CiRect const& keep,
                             std::uint8_t** replaced)
{
    if (slot.data && !Shown(slot))
        return true;
    if (slot.data) {
        // A view reads this block without the lock: the write goes to a copy.
        ReserveRetired(1);
        auto block = detail::CTilePool::Instance().Acquire(static_cast<std::size_t>(m_tileBytes), m_budget);
        if (!block.data)
            return false;
        CopyOutside(block.data, slot.data, tx, ty, keep);
        std::uint8_t* old = slot.data;
        Retire(plane, slot, old);
        slot.data = block.data;
        slot.viewedAt = 0;
        if (replaced)
            *replaced = old;
        return true;
    }
    auto block = detail::CTilePool::Instance().Acquire(static_cast<std::size_t>(m_tileBytes), m_budget);
    if (!block.data)
        return false;
    std::uint8_t const* row = UniformRow(slot.uniform);
    const bool fill = !(block.zeroed && AllBytesZero(row, m_px));
    if (block.zeroed && StreamsFill()) {
        // Fresh pages: map the rows about to be written in one call rather
        // than taking a fault on each page of them.
        const geo::CiRect tile = TileRect(tx, ty);
        geo::CiRect rows = fill ? tile : geo::Intersection(keep, tile);
        if (!rows.IsEmpty())
            detail::CTilePool::Prefault(block.data + std::int64_t(rows.top - tile.top) * m_rowBytes,
                                        static_cast<std::size_t>(std::int64_t(rows.Height()) * m_rowBytes));
    }
    if (fill) {
        // Pixels outside `keep` show the tile's old value; `keep` itself is
        // about to be overwritten, so a whole-tile write fills nothing. The
        // memory of an edge tile past the frame is never read: not filled.
        const geo::CiRect tile = TileRect(tx, ty);
        geo::CiRect k = geo::Intersection(keep, tile);
        const int w = tile.Width();
        const int h = tile.Height();
        // A pooled block is long out of the cache: ordinary stores would
        // first read every line of it back.
        const bool stream = StreamsFill();
        if (k.IsEmpty()) {
            FillRows(block.data, geo::CiRect(0, 0, w, h), row, stream);
        } else {
            k.Offset(geo::CiVec2(-tile.left, -tile.top));
            FillRows(block.data, geo::CiRect(0, 0, w, k.top), row, stream);
            FillRows(block.data, geo::CiRect(0, k.bottom, w, h), row, stream);
            FillRows(block.data, geo::CiRect(0, k.top, k.left, k.bottom), row, stream);
            FillRows(block.data, geo::CiRect(k.right, k.top, w, k.bottom), row, stream);
        }
        if (stream)
            detail::StreamFence();
    }
    if (!slot.Exists()) {
        ++plane.count;
        ++m_tileCount;
        ++m_generation;
    }
    slot.data = block.data;
    slot.uniform = 0;
    slot.viewedAt = 0;
    m_allocated += m_tileBytes;
    return true;
}

void CTileStore::Restore(tTileSlot& slot, std::uint8_t* replaced)
{
    // Retired last, and nothing swept meanwhile: the lock was held.
    for (auto it = m_retired.rbegin(); it != m_retired.rend(); ++it) {
        if (it->block == replaced) {
            m_retired.erase(std::next(it).base());
            break;
        }
    }
    detail::CTilePool::Instance().Release(slot.data, static_cast<std::size_t>(m_tileBytes));
    slot.data = replaced;
    slot.viewedAt = m_viewEpoch;
}

void CTileStore::Drop(tPlane& plane, tTileSlot& slot, int tx, int ty, std::uint32_t uniform)
{
    (void)tx;
    (void)ty;
    const bool existed = slot.Exists();
    if (slot.data) {
        if (Shown(slot)) {
            ReserveRetired(1);
            Retire(plane, slot, slot.data);
        } else {
            detail::CTilePool::Instance().Release(slot.data, static_cast<std::size_t>(m_tileBytes));
        }
        slot.data = nullptr;
        slot.viewedAt = 0;
        m_allocated -= m_tileBytes;
    }
    slot.uniform = uniform;
    if (existed != slot.Exists()) {
        const int d = existed ? -1 : 1;
        plane.count += d;
        m_tileCount += d;
        ++m_generation;
    }
    if (!slot.Exists()) {
        slot.modified = 0;
        slot.locked = 0;
    }
}

std::uint8_t const* CTileStore::RowBase(tTileSlot const* slot, std::int64_t& stride) const
{
    if (slot && slot->data) {
        stride = m_rowBytes;
        return slot->data;
    }
    stride = 0;
    return UniformRow(slot ? slot->uniform : 0);
}

std::uint32_t CTileStore::UniformId(std::uint8_t const* pixel)
{
    std::string key(reinterpret_cast<char const*>(pixel), static_cast<std::size_t>(m_px));
    auto it = m_uniformIds.find(key);
    if (it != m_uniformIds.end())
        return it->second;
    if (m_uniformRows.size() >= kMaxUniformRows)
        return 0xFFFFFFFFu;
    const int rowPixels = std::min(m_tileW, kUniformRowPixels);
    std::unique_ptr<std::uint8_t[]> row(new std::uint8_t[static_cast<std::size_t>(rowPixels) * m_px]);
    for (int i = 0; i < rowPixels; ++i)
        std::memcpy(row.get() + static_cast<std::size_t>(i) * m_px, pixel, static_cast<std::size_t>(m_px));
    const auto id = static_cast<std::uint32_t>(m_uniformRows.size());
    m_uniformRows.push_back(std::move(row));
    m_uniformIds.emplace(std::move(key), id);
    return id;
}

std::vector<geo::CiVec2> const& CTileStore::SortedTiles(tPlane const& plane) const
{
    if (plane.sortedGeneration != m_generation) {
        plane.sorted.clear();
        plane.sorted.reserve(static_cast<std::size_t>(plane.count));
        for (auto const& [ci, chunk] : plane.chunks) {
            const int cx = static_cast<int>(ci % m_chunksX) << kChunkShift;
            const int cy = static_cast<int>(ci / m_chunksX) << kChunkShift;
            for (int i = 0; i < kChunkSide * kChunkSide; ++i)
                if (chunk->slots[i].Exists())
                    plane.sorted.emplace_back(cx + (i & (kChunkSide - 1)), cy + (i >> kChunkShift));
        }
        std::sort(plane.sorted.begin(), plane.sorted.end(), [](geo::CiVec2 const& a, geo::CiVec2 const& b) {
            return a.y != b.y ? a.y < b.y : a.x < b.x;
        });
        plane.sortedGeneration = m_generation;
    }
    return plane.sorted;
}

bool CTileStore::SlotIsUniform(tTileSlot const& slot, int tx, int ty, std::uint8_t const* pixel) const
{
    const geo::CiRect r = TileRect(tx, ty);
    const int w = r.Width();
    const int h = r.Height();
    const std::size_t px = static_cast<std::size_t>(m_px);
    if (!slot.data)
        return std::memcmp(UniformRow(slot.uniform), pixel, px) == 0;
    // Compared in place, without a pattern row to allocate: the first pixel
    // is `pixel`, each pixel of the first row equals the one before it (one
    // overlapping compare), and every row equals the first.
    std::uint8_t const* first = slot.data;
    const std::size_t rowLen = static_cast<std::size_t>(w) * px;
    if (std::memcmp(first, pixel, px) != 0 || std::memcmp(first + px, first, rowLen - px) != 0)
        return false;
    for (int y = 1; y < h; ++y)
        if (std::memcmp(first + y * m_rowBytes, first, rowLen) != 0)
            return false;
    return true;
}

// ---- 2-D reads and writes ----------------------------------------------------

bool CTileStore::ReadRect(geo::CiRect const& rect, geo::CiVecN const& key, std::uint8_t* buffer,
                          std::int64_t rowBytes) const
{
    tPlane const* plane = FindPlane(key);
    const int rowPixels = std::min(m_tileW, kUniformRowPixels);
    const int tx0 = TileX(rect.left), tx1 = TileX(rect.right - 1);
    const int ty0 = TileY(rect.top), ty1 = TileY(rect.bottom - 1);
    for (int ty = ty0; ty <= ty1; ++ty) {
        for (int tx = tx0; tx <= tx1; ++tx) {
            const geo::CiRect piece = geo::Intersection(TileRect(tx, ty), rect);
            tTileSlot const* slot = plane ? FindSlot(*plane, tx, ty) : nullptr;
            std::int64_t stride = 0;
            std::uint8_t const* base = RowBase(slot, stride);
            const int lx = piece.left - (m_x0 + tx * m_tileW);
            const int ly = piece.top - (m_y0 + ty * m_tileH);
            const std::size_t n = static_cast<std::size_t>(piece.Width()) * m_px;
            std::uint8_t* dst = buffer + (piece.top - rect.top) * rowBytes + std::int64_t(piece.left - rect.left) * m_px;
            if (stride) {
                std::uint8_t const* src = base + ly * stride + std::int64_t(lx) * m_px;
                for (int y = piece.top; y < piece.bottom; ++y, dst += rowBytes, src += stride)
                    std::memcpy(dst, src, n);
            } else {
                for (int y = piece.top; y < piece.bottom; ++y, dst += rowBytes)
                    CopyUniform(dst, base, rowPixels, piece.Width(), m_px);
            }
        }
    }
    return true;
}

namespace {

// A tile a write is about to change, remembered so that a write that runs
// out of memory halfway can give back what it took.
struct tPrepared {
    tTileSlot* slot;
    int tx, ty;
    std::uint32_t uniform;   // the slot's value before
    bool made;               // memory was taken for this write
    bool toUniform;          // the write covers it wholly: it becomes uniform row `toId`
    std::uint8_t* replaced;  // the block a view showed, moved aside for this write
    std::uint32_t toId = 0;
};

// Gives back the memory a write took before it failed, so that the frame is
// left as it was.
void Rollback(CTileStore& store, tPlane& plane, std::vector<tPrepared> const& prepared)
{
    for (auto const& p : prepared) {
        if (p.made)
            store.Drop(plane, *p.slot, p.tx, p.ty, p.uniform);
        else if (p.replaced)
            store.Restore(*p.slot, p.replaced);
    }
}

// A prepared tile the write covers wholly gives up its memory for its
// uniform row.
void MakeUniform(CTileStore& store, tPlane& plane, tPrepared const& p)
{
    store.Drop(plane, *p.slot, p.tx, p.ty, p.toId);
    if (p.slot->Exists())
        ++p.slot->modified;
}

// Gives the slot memory for a write of `piece` and remembers it; false when
// memory runs out. `prepared` has room reserved, so remembering never throws.
bool PrepareTile(CTileStore& store, tPlane& plane, tTileSlot& slot, int tx, int ty, geo::CiRect const& piece,
                 std::vector<tPrepared>& prepared)
{
    const bool made = !slot.data;
    const std::uint32_t before = slot.uniform;
    std::uint8_t* replaced = nullptr;
    if (!store.Materialize(plane, slot, tx, ty, piece, &replaced))
        return false;
    prepared.push_back({&slot, tx, ty, before, made, false, replaced});
    return true;
}

// Walks the tiles of `rect` row by row and hands each to
// `take(slot, tx, ty, tile, piece)`, which remembers in `prepared` the tiles
// the write will change (PrepareTile) and returns false when memory runs
// out. Then, or when bookkeeping throws, what the walk took is given back
// and `prepared` emptied, so the frame is left as it was.
template <class Take>
bool PrepareRect(CTileStore& store, geo::CiVecN const& key, tPlane& plane, geo::CiRect const& rect,
                 std::vector<tPrepared>& prepared, Take&& take)
{
    const int tx0 = store.TileX(rect.left), tx1 = store.TileX(rect.right - 1);
    const int ty0 = store.TileY(rect.top), ty1 = store.TileY(rect.bottom - 1);
    store.ViewsBeforeWrite(key, ty0, ty1);
    prepared.reserve(static_cast<std::size_t>(tx1 - tx0 + 1) * static_cast<std::size_t>(ty1 - ty0 + 1));
    try {
        for (int ty = ty0; ty <= ty1; ++ty) {
            for (int tx = tx0; tx <= tx1; ++tx) {
                const geo::CiRect tile = store.TileRect(tx, ty);
                if (!take(store.ProvideSlot(plane, tx, ty), tx, ty, tile, geo::Intersection(tile, rect))) {
                    Rollback(store, plane, prepared);
                    prepared.clear();
                    return false;
                }
            }
        }
    } catch (...) {
        Rollback(store, plane, prepared);
        prepared.clear();
        throw;
    }
    return true;
}

}  // namespace

bool CTileStore::WriteRect(geo::CiRect const& rect, geo::CiVecN const& key, std::uint8_t const* buffer,
                           std::int64_t rowBytes)
{
    tPlane& plane = ProvidePlane(key);
    std::vector<tPrepared> prepared;
    // Take all memory first, so that a failure leaves the frame as it was.
    const bool taken = PrepareRect(*this, key, plane, rect, prepared, [&](tTileSlot& slot, int tx, int ty,
                                                                     geo::CiRect const&, geo::CiRect const& piece) {
        if (!slot.data && m_model == eMemoryTiledSparse && !slot.Exists()) {
            // Sparse frames keep tiles that would hold only the fill value
            // unmade.
            std::uint8_t const* fill = FillValue();
            for (int y = piece.top; y < piece.bottom; ++y) {
                std::uint8_t const* src = buffer + (y - rect.top) * rowBytes + std::int64_t(piece.left - rect.left) * m_px;
                for (int x = 0; x < piece.Width(); ++x)
                    if (std::memcmp(src + std::int64_t(x) * m_px, fill, static_cast<std::size_t>(m_px)) != 0)
                        return PrepareTile(*this, plane, slot, tx, ty, piece, prepared);
            }
            return true;
        }
        return PrepareTile(*this, plane, slot, tx, ty, piece, prepared);
    });
    if (!taken)
        return false;
    const bool stream = static_cast<std::size_t>(rect.Area()) * static_cast<std::size_t>(m_px) >= detail::kStreamBytes;
    for (auto const& p : prepared) {
        const geo::CiRect piece = geo::Intersection(TileRect(p.tx, p.ty), rect);
        const int lx = piece.left - (m_x0 + p.tx * m_tileW);
        const int ly = piece.top - (m_y0 + p.ty * m_tileH);
        const std::size_t n = static_cast<std::size_t>(piece.Width()) * m_px;
        std::uint8_t* dst = p.slot->data + ly * m_rowBytes + std::int64_t(lx) * m_px;
        std::uint8_t const* src = buffer + (piece.top - rect.top) * rowBytes + std::int64_t(piece.left - rect.left) * m_px;
        if (stream && std::int64_t(n) == m_rowBytes) {
            // Whole tile rows without padding: one run of lines.
            detail::StreamPackedRows(dst, src, rowBytes, n, static_cast<std::size_t>(piece.Height()));
            ++p.slot->modified;
            continue;
        }
        for (int y = piece.top; y < piece.bottom; ++y, dst += m_rowBytes, src += rowBytes) {
            if (stream)
                detail::StreamRow(dst, src, n);
            else
                std::memcpy(dst, src, n);
        }
        ++p.slot->modified;
    }
    if (stream)
        detail::StreamFence();
    ++m_modifications;
    return true;
}

bool CTileStore::FillRect(geo::CiRect const& rect, geo::CiVecN const& key, std::uint8_t const* pixel)
{
    return FillPlanes(rect, &key, 1, pixel);
}

bool CTileStore::FillPlanes(geo::CiRect const& rect, geo::CiVecN const* keys, std::size_t count,
                            std::uint8_t const* pixel)
{
    const std::uint32_t id = UniformId(pixel);
    std::vector<std::uint8_t> pattern;
    std::uint8_t const* row = nullptr;
    const int rowPixels = std::min(m_tileW, kUniformRowPixels);
    if (id != 0xFFFFFFFFu) {
        row = UniformRow(id);
    } else {
        pattern.resize(static_cast<std::size_t>(rowPixels) * m_px);
        for (int i = 0; i < rowPixels; ++i)
            std::memcpy(pattern.data() + static_cast<std::size_t>(i) * m_px, pixel, static_cast<std::size_t>(m_px));
        row = pattern.data();
    }
    // Every plane's memory is taken before any pixel changes, so that a
    // fill over several planes that runs out of memory leaves them all as
    // they were.
    struct tPlaneFill {
        tPlane* plane;
        std::vector<tPrepared> prepared;
    };
    std::vector<tPlaneFill> fills;
    const auto rollback = [&] {
        for (tPlaneFill& f : fills)
            Rollback(*this, *f.plane, f.prepared);
    };
    std::size_t shown = 0;  // blocks made uniform that a view shows: they are retired
    try {
        fills.reserve(count);
        for (std::size_t k = 0; k < count; ++k) {
            geo::CiVecN const& key = keys[k];
            tPlane& plane = ProvidePlane(key);
            fills.push_back({&plane, {}});
            std::vector<tPrepared>& prepared = fills.back().prepared;
            const bool taken = PrepareRect(*this, key, plane, rect, prepared, [&](tTileSlot& slot, int tx, int ty,
                                                                             geo::CiRect const& tile,
                                                                             geo::CiRect const& piece) {
                // A locked tile keeps its memory: it is written in place.
                if (piece == tile && id != 0xFFFFFFFFu && !slot.Pinned()) {
                    prepared.push_back({&slot, tx, ty, slot.uniform, false, true, nullptr, id});
                    shown += slot.data && Shown(slot);
                    return true;  // no memory needed
                }
                if (!slot.data && slot.uniform == id)
                    return true;  // already shows the value
                return PrepareTile(*this, plane, slot, tx, ty, piece, prepared);
            });
            if (!taken) {
                rollback();
                return false;
            }
        }
        ReserveRetired(shown);
    } catch (...) {
        rollback();
        throw;
    }
    // Large fills, and pieces of tiles just taken from the pool, go around
    // the cache, as large writes do.
    const bool large = static_cast<std::size_t>(rect.Area()) * static_cast<std::size_t>(m_px) >= detail::kStreamBytes;
    bool streamed = false;
    for (tPlaneFill const& f : fills) {
        for (auto const& p : f.prepared) {
            const geo::CiRect tile = TileRect(p.tx, p.ty);
            const geo::CiRect piece = geo::Intersection(tile, rect);
            if (p.toUniform) {
                MakeUniform(*this, *f.plane, p);
                continue;
            }
            geo::CiRect local = piece;
            local.Offset(geo::CiVec2(-(m_x0 + p.tx * m_tileW), -(m_y0 + p.ty * m_tileH)));
            const bool stream = large || (p.made && StreamsFill());
            FillRows(p.slot->data, local, row, stream);
            streamed = streamed || stream;
            ++p.slot->modified;
        }
    }
    if (streamed)
        detail::StreamFence();
    ++m_modifications;
    return true;
}

bool CTileStore::ModifyBytes(geo::CiRect const& rect, geo::CiVecN const& key, unsigned char v,
                             void (*row)(std::uint8_t*, int, unsigned char),
                             unsigned char (*one)(unsigned char, unsigned char))
{
    if (m_px != 1)
        throw std::logic_error("tile store: byte rewrite of wider pixels");
    tPlane& plane = ProvidePlane(key);
    std::vector<tPrepared> prepared;
    const bool taken = PrepareRect(*this, key, plane, rect, prepared, [&](tTileSlot& slot, int tx, int ty,
                                                                     geo::CiRect const& tile, geo::CiRect const& piece) {
        if (!slot.data) {
            const unsigned char old = *UniformRow(slot.uniform);
            const unsigned char result = one(old, v);
            if (result == old)
                return true;
            if (piece == tile && !slot.Pinned()) {
                // 256 byte values at most: the id always fits the table.
                prepared.push_back({&slot, tx, ty, slot.uniform, false, true, nullptr, UniformId(&result)});
                return true;
            }
        }
        // Every pixel is read: nothing is left out of the copy a view needs.
        return PrepareTile(*this, plane, slot, tx, ty, geo::CiRect(), prepared);
    });
    if (!taken)
        return false;
    for (auto const& p : prepared) {
        if (p.toUniform) {
            MakeUniform(*this, plane, p);
            continue;
        }
        const geo::CiRect tile = TileRect(p.tx, p.ty);
        const geo::CiRect piece = geo::Intersection(tile, rect);
        std::uint8_t* at = p.slot->data + std::int64_t(piece.top - tile.top) * m_rowBytes + (piece.left - tile.left);
        for (int y = piece.top; y < piece.bottom; ++y, at += m_rowBytes)
            row(at, piece.Width(), v);
        ++p.slot->modified;
    }
    ++m_modifications;
    return true;
}

int CTileStore::RowSpan(geo::CiVec2 point, geo::CiVecN const& key, std::uint8_t const*& data) const
{
    if (point.x < m_x0 || point.y < m_y0 || std::int64_t(point.x) >= std::int64_t(m_x0) + m_width ||
        std::int64_t(point.y) >= std::int64_t(m_y0) + m_height)
        return 0;
    const int tx = TileX(point.x), ty = TileY(point.y);
    const int lx = point.x - (m_x0 + tx * m_tileW);
    const int ly = point.y - (m_y0 + ty * m_tileH);
    int count = static_cast<int>(std::min<std::int64_t>(m_tileW - lx, std::int64_t(m_x0) + m_width - point.x));
    tPlane const* plane = FindPlane(key);
    tTileSlot const* slot = plane ? FindSlot(*plane, tx, ty) : nullptr;
    if (slot && slot->data) {
        data = slot->data + ly * m_rowBytes + std::int64_t(lx) * m_px;
        return count;
    }
    data = UniformRow(slot ? slot->uniform : 0);
    return std::min(count, kUniformRowPixels);
}

int CTileStore::RowSpanForWrite(geo::CiVec2 point, geo::CiVecN const& key, std::uint8_t*& data)
{
    if (point.x < m_x0 || point.y < m_y0 || std::int64_t(point.x) >= std::int64_t(m_x0) + m_width ||
        std::int64_t(point.y) >= std::int64_t(m_y0) + m_height)
        return 0;
    const int tx = TileX(point.x), ty = TileY(point.y);
    tPlane& plane = ProvidePlane(key);
    tTileSlot& slot = ProvideSlot(plane, tx, ty);
    if (!Materialize(plane, slot, tx, ty, geo::CiRect()))
        return 0;
    const int lx = point.x - (m_x0 + tx * m_tileW);
    const int ly = point.y - (m_y0 + ty * m_tileH);
    ++slot.modified;
    ++m_modifications;
    data = slot.data + ly * m_rowBytes + std::int64_t(lx) * m_px;
    return static_cast<int>(std::min<std::int64_t>(m_tileW - lx, std::int64_t(m_x0) + m_width - point.x));
}

}  // namespace mem

namespace mem {

void CTileStore::PinRect(geo::CiRect const& rect, geo::CiVecN const& key, std::vector<tTileSlot*>& pinned)
{
    ForEachTile(rect, key, [&](tTileSlot& slot) {
        pinned.push_back(&slot);  // may throw; pin only once recorded
        ++slot.pins;
    });
}

bool CTileStore::OutsidePlanes(geo::CiVecN const& key) const
{
    return m_width == 0 || m_height == 0 || (m_planes.GetDimension() > 0 && !m_planes.Contains(key));
}

bool CTileStore::PinnedOutside() const
{
    for (auto const& [key, plane] : m_planeMap) {
        if (!OutsidePlanes(key))
            continue;
        for (auto const& [ci, chunk] : plane.chunks)
            for (auto const& slot : chunk->slots)
                if (slot.pins > 0)
                    return true;
    }
    return false;
}

bool CTileStore::DropPlanesOutside(bool discard)
{
    if (PinnedOutside())
        return false;
    // A render part-way through a plane shows the rest as it was. Blocks
    // that views show outlive their plane: room for them first, so that
    // nothing is freed when it cannot be had.
    std::size_t shown = 0;
    try {
        for (auto const& [key, plane] : m_planeMap)
            if (OutsidePlanes(key))
                for (auto const& [epoch, view] : m_views)
                    view->BeforeDrop(key);
    } catch (std::bad_alloc const&) {
        return false;
    }
    for (auto const& [key, plane] : m_planeMap)
        if (OutsidePlanes(key))
            for (auto const& [ci, chunk] : plane.chunks)
                for (auto const& slot : chunk->slots)
                    shown += slot.data && Shown(slot);
    try {
        ReserveRetired(shown);
    } catch (std::bad_alloc const&) {
        return false;
    }
    auto& pool = detail::CTilePool::Instance();
    for (auto it = m_planeMap.begin(); it != m_planeMap.end();) {
        if (!OutsidePlanes(it->first)) {
            ++it;
            continue;
        }

        for (auto& [ci, chunk] : it->second.chunks)
            for (auto& slot : chunk->slots)
                if (slot.data) {
                    if (Shown(slot))
                        Retire(it->second, slot, slot.data);
                    else
                        pool.Release(slot.data, static_cast<std::size_t>(m_tileBytes), discard);
                    m_allocated -= m_tileBytes;
                }
        for (tRetired& r : m_retired) {
            if (r.plane == &it->second) {
                r.plane = nullptr;
                r.slot = nullptr;
            }
        }
        m_tileCount -= it->second.count;
        it = m_planeMap.erase(it);
    }
    m_lastPlane = nullptr;
    ++m_generation;
    return true;
}

// ---- views and retired blocks ------------------------------------------------

std::uint64_t CTileStore::OpenView(CTileView const* view)
{
    const std::uint64_t epoch = m_viewEpoch + 1;
    m_views.emplace(epoch, view);  // may throw: then no view was opened
    m_viewEpoch = epoch;
    m_oldestView = m_views.begin()->first;
    return epoch;
}

void CTileStore::CloseView(std::uint64_t epoch)
{
    m_views.erase(epoch);
    m_oldestView = m_views.empty() ? ~std::uint64_t(0) : m_views.begin()->first;
    SweepRetired();
}

void CTileStore::ViewsBeforeWrite(geo::CiVecN const& key, int ty0, int ty1) const
{
    for (auto const& [epoch, view] : m_views)
        view->BeforeWrite(key, ty0, ty1);
}

void CTileStore::Unshow(tTileSlot& slot, std::uint8_t const* block, std::uint64_t epoch)
{
    // Views that may show a block are those up to its viewedAt. When that is
    // this view and no older one lives, this view was the only one. Any other
    // case stays shown: safe, at the price of a copy.
    if (slot.data == block && slot.viewedAt == epoch && epoch == m_oldestView)
        slot.viewedAt = 0;
}

void CTileStore::ReserveRetired(std::size_t count)
{
    const std::size_t need = m_retired.size() + count;
    if (need > m_retired.capacity())
        m_retired.reserve(std::max(need, 2 * m_retired.capacity()));
}

void CTileStore::Retire(tPlane const& plane, tTileSlot const& slot, std::uint8_t* block)
{
    // Room was reserved by the caller: this never reallocates.
    m_retired.push_back({block, m_viewEpoch, &slot, &plane});
}

void CTileStore::SweepRetired()
{
    if (m_retired.empty())
        return;
    auto& pool = detail::CTilePool::Instance();
    // A pinned slot's old block may still be read or written through a
    // pointer its pin handed out, so it waits for the pins to go as well.
    const auto done = [&](tRetired const& r) {
        if (r.epoch >= m_oldestView || (r.slot && r.slot->pins > 0))
            return false;
        pool.Release(r.block, static_cast<std::size_t>(m_tileBytes));
        return true;
    };
    m_retired.erase(std::remove_if(m_retired.begin(), m_retired.end(), done), m_retired.end());
}

CStorePairLock::CStorePairLock(CTileStore const& a, CTileStore const& b)
{
    CTileStore const& first = a.m_id <= b.m_id ? a : b;
    CTileStore const& second = a.m_id <= b.m_id ? b : a;
    m_first = LockStore(first);
    if (&second != &first)
        m_second = LockStore(second);
}

}  // namespace mem

#include "imgscope/contracts/foundation/data_frame.h"

#include "imgscope/contracts/foundation/tile_distributor.h"
#include "imgscope/contracts/foundation/tile_pool_internal.h"
#include "imgscope/contracts/foundation/tile_store_internal.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <unordered_set>

namespace mem {

namespace {

// Moved-from frames share this store: it has no pixels, so every read and
// write on it fails cleanly.
std::shared_ptr<CTileStore> const& EmptyStore()
{
    static const std::shared_ptr<CTileStore> store =
        std::make_shared<CTileStore>(geo::CiVolumeN(), img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray),
                                     utl::CPropSet());
    return store;
}

// A caller's box over a frame: no dimensions means the whole frame, missing
// trailing dimensions span the frame; clipped to the boundary. False for
// more dimensions than the frame or a negative size.
bool NormalizeBox(CTileStore const& s, geo::CiVolumeN const& volume, geo::CiVolumeN& box)
{
    const int n = volume.GetDimension();
    if (n > s.m_dims)
        return false;
    geo::CiVecN pos = s.m_boundary.Position();
    geo::CiVecN size = s.m_boundary.Size();
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (volume.Size()[k] < 0)
            return false;
        pos[k] = volume.Position()[k];
        size[k] = volume.Size()[k];
    }
    // Intersect by hand: sizes near the int range must not wrap.
    for (int i = 0; i < s.m_dims; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const std::int64_t lo = std::max<std::int64_t>(pos[k], s.m_boundary.Position()[k]);
        const std::int64_t hi = std::min<std::int64_t>(std::int64_t(pos[k]) + size[k],
                                                       std::int64_t(s.m_boundary.Position()[k]) + s.m_boundary.Size()[k]);
        pos[k] = static_cast<int>(lo);
        size[k] = hi > lo ? static_cast<int>(hi - lo) : 0;
    }
    box = geo::CiVolumeN::FromPositionSize(pos, size);
    return true;
}

geo::CiVolumeN PlanePart(geo::CiVolumeN const& box)
{
    if (box.GetDimension() <= 2)
        return geo::CiVolumeN();
    geo::CiVecN pos, size;
    for (int i = 2; i < box.GetDimension(); ++i) {
        pos.Append(box.Position()[static_cast<std::size_t>(i)]);
        size.Append(box.Size()[static_cast<std::size_t>(i)]);
    }
    return geo::CiVolumeN::FromPositionSize(pos, size);
}

bool RectInsideFrame(CTileStore const& s, geo::CiRect const& rect)
{
    return !rect.IsEmpty() && rect.left >= s.m_x0 && rect.top >= s.m_y0 &&
           std::int64_t(rect.right) <= std::int64_t(s.m_x0) + s.m_width &&
           std::int64_t(rect.bottom) <= std::int64_t(s.m_y0) + s.m_height;
}

bool BoxHasPixels(geo::CiVolumeN const& box)
{
    return box.GetDimension() >= 2 && box.Volume() > 0;
}

// The region of a cache, with what every row access asks of it worked out
// once: its x-y rectangle and whether it holds pixels at all.
struct tCacheRegion {
    geo::CiVolumeN box;
    geo::CiRect rect;
    bool pixels = false;

    // False for a volume NormalizeBox refuses.
    bool Set(CTileStore const& s, geo::CiVolumeN const& volume)
    {
        if (!NormalizeBox(s, volume, box))
            return false;
        pixels = BoxHasPixels(box);
        rect = box.Reduce();
        return true;
    }

    // The plane's key in the store when the region covers `r` of `plane`,
    // else null.
    geo::CiVecN const* Holds(CTileStore const& s, geo::CiRect const& r, geo::CiVecN const& plane) const
    {
        geo::CiVecN const* key = s.ResolvePlane(plane);
        if (!key || !pixels)
            return nullptr;
        if (r.left < rect.left || r.top < rect.top || r.right > rect.right || r.bottom > rect.bottom || r.IsEmpty())
            return nullptr;
        // Dimensions past x and y, compared in place: this runs per row span.
        const int n = box.GetDimension();
        for (int i = 2; i < n; ++i) {
            const auto k = static_cast<std::size_t>(i);
            const std::int64_t v = (*key)[k - 2];
            if (v < box.Position()[k] || v >= std::int64_t(box.Position()[k]) + box.Size()[k])
                return nullptr;
        }
        return key;
    }
};

// Runs `body`; running out of memory for bookkeeping (plane lists, lookup
// tables) becomes the call's failure result, as running out of tile memory
// does.
template <class R, class F>
R OrWhenOutOfMemory(R failure, F&& body)
{
    try {
        return body();
    } catch (std::bad_alloc const&) {
        return failure;
    }
}

// A deep copy of `other`, taken under its lock.
std::shared_ptr<CTileStore> CopyOf(CTileStore const& other)
{
    const tStoreLock lock = LockStore(other);
    return std::make_shared<CTileStore>(other);
}

}  // namespace

bool CPlaneAssortment::Contains(geo::CiVecN const& plane) const
{
    if (m_boundary.GetDimension() == 0)
        return plane.empty();
    return m_boundary.Contains(plane);
}

// ---- CDataFrame --------------------------------------------------------------

CDataFrame::CDataFrame(geo::CiVolumeN const& volume, img::CPixelInfo const& info, utl::CPropSet const& creationProps)
    : m_pStore(std::make_shared<CTileStore>(volume, info, creationProps))
{
}

CDataFrame::CDataFrame(geo::CiVolumeN const& volume, img::CPixelInfo const& info)
    : CDataFrame(volume, info, utl::CPropSet())
{
}

boost::shared_ptr<CDataFrame> CDataFrame::Create(geo::CiVolumeN const& volume, img::CPixelInfo const& info,
                                                 utl::CPropSet const& creationProps) noexcept
{
    try {
        return boost::shared_ptr<CDataFrame>(new CDataFrame(volume, info, creationProps));
    } catch (std::exception const&) {
        return {};
    }
}

CDataFrame::CDataFrame(CDataFrame const& other)
    : m_pStore(CopyOf(*other.m_pStore))
{
}

CDataFrame& CDataFrame::operator=(CDataFrame const& other)
{
    if (this != &other) {
        // The copy is complete before anything here changes; caches on the
        // old content keep it alive until they go.
        auto copy = CopyOf(*other.m_pStore);
        m_pStore = std::move(copy);
    }
    return *this;
}

CDataFrame::CDataFrame(CDataFrame&& other) noexcept
    : m_pStore(std::move(other.m_pStore))
{
    other.m_pStore = EmptyStore();
}

CDataFrame& CDataFrame::operator=(CDataFrame&& other) noexcept
{
    if (this != &other) {
        m_pStore = std::move(other.m_pStore);
        other.m_pStore = EmptyStore();
    }
    return *this;
}

CDataFrame::~CDataFrame() = default;

void CDataFrame::Swap(CDataFrame& other) noexcept
{
    m_pStore.swap(other.m_pStore);
}

int CDataFrame::GetDimension() const
{
    return m_pStore->m_dims;
}

geo::CiVolumeN CDataFrame::GetBoundary(int level) const
{
    if (level != 0)
        return geo::CiVolumeN();
    const tStoreLock lock = LockStore(*m_pStore);
    return m_pStore->m_boundary;
}

img::CPixelInfo const& CDataFrame::GetElementInfo() const
{
    return m_pStore->m_info;
}

CPlaneAssortment CDataFrame::GetPlaneAssortment() const
{
    const tStoreLock lock = LockStore(*m_pStore);
    return CPlaneAssortment(m_pStore->m_planes);
}

EMemoryModel CDataFrame::GetMemoryModel() const
{
    return m_pStore->m_model;
}

EAlign CDataFrame::GetAlign() const
{
    return m_pStore->m_align;
}

utl::CPropSet const& CDataFrame::GetCreationProperties() const
{
    return m_pStore->m_props;
}

void const* CDataFrame::GetFillValue() const
{
    return m_pStore->FillValue();
}

geo::CiVec2 CDataFrame::GetTileSize() const
{
    return {m_pStore->m_tileW, m_pStore->m_tileH};
}

std::int64_t CDataFrame::GetTileRowSize() const
{
    return m_pStore->m_rowBytes;
}

std::int64_t CDataFrame::GetTileCount() const
{
    const tStoreLock lock = LockStore(*m_pStore);
    return m_pStore->m_tileCount;
}

std::int64_t CDataFrame::GetAllocatedBytes() const
{
    const tStoreLock lock = LockStore(*m_pStore);
    return m_pStore->m_allocated;
}

std::uint64_t CDataFrame::GetModificationCount() const
{
    const tStoreLock lock = LockStore(*m_pStore);
    return m_pStore->m_modifications;
}

CTileDistributor* CDataFrame::GetTileDistributor()
{
    return m_pStore->m_model == eMemoryResident ? nullptr : &m_distributor;
}

CTileDistributor const* CDataFrame::GetTileDistributor() const
{
    return m_pStore->m_model == eMemoryResident ? nullptr : &m_distributor;
}

bool CDataFrame::ReadRect(geo::CiRect const& rect, geo::CiVecN const& plane, void* buffer,
                          std::int64_t rowBytes) const
{
    CTileStore const& s = *m_pStore;
    const tStoreLock lock = LockStore(s);
    geo::CiVecN const* key = s.ResolvePlane(plane);
    const std::int64_t need = std::int64_t(rect.Width()) * s.m_px;
    if (!buffer || !RectInsideFrame(s, rect) || !key || rowBytes < 0 || (rowBytes != 0 && rowBytes < need))
        return false;
    return s.ReadRect(rect, *key, static_cast<std::uint8_t*>(buffer), rowBytes == 0 ? need : rowBytes);
}

bool CDataFrame::WriteRect(geo::CiRect const& rect, geo::CiVecN const& plane, void const* buffer,
                           std::int64_t rowBytes)
{
    CTileStore& s = *m_pStore;
    const tStoreLock lock = LockStore(s);
    geo::CiVecN const* key = s.ResolvePlane(plane);
    const std::int64_t need = std::int64_t(rect.Width()) * s.m_px;
    if (!buffer || !RectInsideFrame(s, rect) || !key || rowBytes < 0 || (rowBytes != 0 && rowBytes < need))
        return false;
    return OrWhenOutOfMemory(false, [&] {
        return s.WriteRect(rect, *key, static_cast<std::uint8_t const*>(buffer), rowBytes == 0 ? need : rowBytes);
    });
}

bool CDataFrame::Fill(geo::CiVolumeN const& box, void const* pixel)
{
    CTileStore& s = *m_pStore;
    const tStoreLock lock = LockStore(s);
    return OrWhenOutOfMemory(false, [&] {
        geo::CiVolumeN b;
        if (!pixel || !NormalizeBox(s, box, b) || !BoxHasPixels(b))
            return false;
        std::vector<geo::CiVecN> keys;
        ForEachPlaneKey(PlanePart(b), [&](geo::CiVecN const& key) { keys.push_back(key); });
        return s.FillPlanes(b.Reduce(), keys.data(), keys.size(), static_cast<std::uint8_t const*>(pixel));
    });
}

int CDataFrame::GetRowSpan(geo::CiVec2 point, geo::CiVecN const& plane, std::uint8_t const*& data) const
{
    const tStoreLock lock = LockStore(*m_pStore);
    geo::CiVecN const* key = m_pStore->ResolvePlane(plane);
    return key ? m_pStore->RowSpan(point, *key, data) : 0;
}

int CDataFrame::GetRowSpanForWrite(geo::CiVec2 point, geo::CiVecN const& plane, std::uint8_t*& data)
{
    const tStoreLock lock = LockStore(*m_pStore);
    geo::CiVecN const* key = m_pStore->ResolvePlane(plane);
    if (!key)
        return 0;
    return OrWhenOutOfMemory(0, [&] { return m_pStore->RowSpanForWrite(point, *key, data); });
}

bool CDataFrame::SetPlaneBoundary(geo::CiVolumeN const& planes)
{
    CTileStore& s = *m_pStore;
    const tStoreLock lock = LockStore(s);
    const int n = planes.GetDimension();
    if (n == 0 || n != s.m_dims - 2)
        return false;
    std::int64_t count = 1;
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (planes.Size()[k] < 0 || std::int64_t(planes.Position()[k]) + planes.Size()[k] > std::numeric_limits<int>::max())
            return false;
        if (MulOverflows(count, planes.Size()[k], count))
            return false;
    }
    std::int64_t bytes = 0;
    if (MulOverflows(std::int64_t(s.m_width) * s.m_height, s.m_px, bytes) || MulOverflows(bytes, count, bytes))
        return false;

    geo::CiVolumeN boundary;
    geo::CiVolumeN other;  // the new planes; after the swap below, the old ones
    try {
        geo::CiVecN pos = s.m_boundary.Position();
        geo::CiVecN size = s.m_boundary.Size();
        for (int i = 0; i < n; ++i) {
            pos[static_cast<std::size_t>(i + 2)] = planes.Position()[static_cast<std::size_t>(i)];
            size[static_cast<std::size_t>(i + 2)] = planes.Size()[static_cast<std::size_t>(i)];
        }
        boundary = geo::CiVolumeN::FromPositionSize(pos, size);
        other = planes;
    } catch (std::bad_alloc const&) {
        return false;
    }
    // Planes that go are freed only once the new ones have all they need,
    // so a refusal at any step leaves every old plane as it was.
    std::swap(s.m_planes, other);
    if (s.PinnedOutside()) {
        std::swap(s.m_planes, other);
        return false;
    }
    if (s.m_commit) {
        try {
            s.CommitAll();
        } catch (std::bad_alloc const&) {
            std::swap(s.m_planes, other);
            s.DropPlanesOutside(true);  // what the new planes took
            return false;
        }
    }
    s.DropPlanesOutside();
    s.m_boundary = std::move(boundary);
    ++s.m_modifications;
    return true;
}

bool CDataFrame::GrowPlanes(int count)
{
    CTileStore& s = *m_pStore;
    const tStoreLock lock = LockStore(s);
    if (s.m_dims < 3)
        return false;
    if (count == 0)
        return true;
    return OrWhenOutOfMemory(false, [&] {
        geo::CiVecN pos = s.m_planes.Position();
        geo::CiVecN size = s.m_planes.Size();
        const auto d = static_cast<std::size_t>(s.m_growDim - 2);
        const std::int64_t added = count > 0 ? count : -std::int64_t(count);
        const std::int64_t grown = std::int64_t(size[d]) + added;
        const std::int64_t start = count > 0 ? pos[d] : std::int64_t(pos[d]) + count;
        if (grown > std::numeric_limits<int>::max() || start < std::numeric_limits<int>::min() ||
            start + grown > std::numeric_limits<int>::max())
            return false;
        std::int64_t planeCount = 1;
        std::int64_t bytes = 0;
        for (std::size_t k = 0; k < size.size(); ++k)
            if (MulOverflows(planeCount, k == d ? grown : size[k], planeCount))
                return false;
        if (MulOverflows(std::int64_t(s.m_width) * s.m_height, s.m_px, bytes) || MulOverflows(bytes, planeCount, bytes))
            return false;

        // Growing drops no plane, so unlike SetPlaneBoundary this touches only
        // the new planes: a series pushed frame by frame must not pay for its
        // length on every push.
        geo::CiVecN newPos = pos;
        geo::CiVecN newSize = size;
        newPos[d] = count > 0 ? pos[d] + size[d] : static_cast<int>(start);
        newSize[d] = static_cast<int>(added);
        pos[d] = static_cast<int>(start);
        size[d] = static_cast<int>(grown);
        const geo::CiVolumeN newPlanes = geo::CiVolumeN::FromPositionSize(newPos, newSize);
        // Swapped in and, on a refusal, back: nothing below allocates.
        geo::CiVolumeN planes = geo::CiVolumeN::FromPositionSize(pos, size);
        geo::CiVolumeN boundary = s.m_boundary;
        boundary.SetPosition(static_cast<int>(d) + 2, pos[d]);
        boundary.SetSize(static_cast<int>(d) + 2, size[d]);
        std::swap(s.m_planes, planes);
        std::swap(s.m_boundary, boundary);
        if (s.m_commit) {
            try {
                s.CommitPlanes(newPlanes);
            } catch (std::bad_alloc const&) {
                std::swap(s.m_planes, planes);
                std::swap(s.m_boundary, boundary);
                s.DropPlanesOutside(true);  // what the new planes took
                return false;
            }
        }
        ++s.m_modifications;
        return true;
    });
}

// ---- caches ------------------------------------------------------------------

struct CReadCache::tImpl {
    std::shared_ptr<CTileStore> store;
    tCacheRegion region;
    std::vector<tTileSlot*> pinned;

    ~tImpl()
    {
        const tStoreLock lock = LockStore(*store);
        for (tTileSlot* slot : pinned)
            --slot->pins;
        store->SweepRetired();
    }

    geo::CiVecN const* Holds(geo::CiRect const& rect, geo::CiVecN const& plane) const
    {
        return region.Holds(*store, rect, plane);
    }
};

CReadCache::CReadCache(std::unique_ptr<tImpl> impl) : m_pImpl(std::move(impl)) {}

CReadCache::~CReadCache() = default;

geo::CiVolumeN const& CReadCache::GetVolume() const
{
    return m_pImpl->region.box;
}

int CReadCache::GetRowSpan(geo::CiVec2 point, geo::CiVecN const& plane, std::uint8_t const*& data) const
{
    const tStoreLock lock = LockStore(*m_pImpl->store);
    geo::CiVecN const* key = m_pImpl->Holds(geo::CiRect(point.x, point.y, point.x + 1, point.y + 1), plane);
    if (!key)
        return 0;
    std::uint8_t const* p = nullptr;
    const int n = m_pImpl->store->RowSpan(point, *key, p);
    if (n <= 0)
        return 0;
    data = p;
    return std::min(n, m_pImpl->region.rect.right - point.x);
}

bool CReadCache::ReadRect(geo::CiRect const& rect, geo::CiVecN const& plane, void* buffer, std::int64_t rowBytes) const
{
    const tStoreLock lock = LockStore(*m_pImpl->store);
    geo::CiVecN const* key = m_pImpl->Holds(rect, plane);
    const std::int64_t need = std::int64_t(rect.Width()) * m_pImpl->store->m_px;
    if (!buffer || !key || rowBytes < 0 || (rowBytes != 0 && rowBytes < need))
        return false;
    return m_pImpl->store->ReadRect(rect, *key, static_cast<std::uint8_t*>(buffer), rowBytes == 0 ? need : rowBytes);
}

boost::shared_ptr<CReadCache> CDataFrame::CreateReadCache(geo::CiVolumeN const& volume, int flags) const
{
    (void)flags;
    try {
        // Made before the lock is taken: on every way out the lock goes
        // first, then the record, which takes it again to drop its pins.
        auto impl = std::make_unique<CReadCache::tImpl>();
        impl->store = m_pStore;
        {
            const tStoreLock lock = LockStore(*m_pStore);
            if (!impl->region.Set(*m_pStore, volume))
                return {};
            if (impl->region.pixels) {
                CTileStore& s = *m_pStore;
                ForEachPlaneKey(PlanePart(impl->region.box),
                                [&](geo::CiVecN const& key) { s.PinRect(impl->region.rect, key, impl->pinned); });
            }
        }
        return boost::shared_ptr<CReadCache>(new CReadCache(std::move(impl)));
    } catch (std::bad_alloc const&) {
        return {};
    }
}

struct CWriteCache::tImpl {
    std::shared_ptr<CTileStore> store;
    tCacheRegion region;
    std::unordered_set<tTileSlot*> pinned;  // each held once

    ~tImpl()
    {
        const tStoreLock lock = LockStore(*store);
        for (tTileSlot* slot : pinned)
            --slot->pins;
        store->SweepRetired();
    }

    geo::CiVecN const* Holds(geo::CiRect const& rect, geo::CiVecN const& plane) const
    {
        return region.Holds(*store, rect, plane);
    }

    // Pins the existing tiles of `rect` this cache does not hold yet. Tiles
    // it holds cost a lookup and no allocation: row writes come here per span.
    void Pin(geo::CiRect const& rect, geo::CiVecN const& key)
    {
        store->ForEachTile(rect, key, [&](tTileSlot& slot) {
            if (pinned.count(&slot) == 0) {
                pinned.insert(&slot);  // may throw; pin only once recorded
                ++slot.pins;
            }
        });
    }
};

CWriteCache::CWriteCache(std::unique_ptr<tImpl> impl) : m_pImpl(std::move(impl)) {}

CWriteCache::~CWriteCache() = default;

geo::CiVolumeN const& CWriteCache::GetVolume() const
{
    return m_pImpl->region.box;
}

int CWriteCache::GetRowSpanForWrite(geo::CiVec2 point, geo::CiVecN const& plane, std::uint8_t*& data)
{
    const tStoreLock lock = LockStore(*m_pImpl->store);
    const geo::CiRect one(point.x, point.y, point.x + 1, point.y + 1);
    geo::CiVecN const* key = m_pImpl->Holds(one, plane);
    if (!key)
        return 0;
    try {
        std::uint8_t* p = nullptr;
        const int n = m_pImpl->store->RowSpanForWrite(point, *key, p);
        if (n <= 0)
            return 0;
        m_pImpl->Pin(one, *key);
        data = p;
        return std::min(n, m_pImpl->region.rect.right - point.x);
    } catch (std::bad_alloc const&) {
        return 0;
    }
}

bool CWriteCache::WriteRect(geo::CiRect const& rect, geo::CiVecN const& plane, void const* buffer, std::int64_t rowBytes)
{
    const tStoreLock lock = LockStore(*m_pImpl->store);
    geo::CiVecN const* key = m_pImpl->Holds(rect, plane);
    const std::int64_t need = std::int64_t(rect.Width()) * m_pImpl->store->m_px;
    if (!buffer || !key || rowBytes < 0 || (rowBytes != 0 && rowBytes < need))
        return false;
    try {
        if (!m_pImpl->store->WriteRect(rect, *key, static_cast<std::uint8_t const*>(buffer),
                                       rowBytes == 0 ? need : rowBytes))
            return false;
        m_pImpl->Pin(rect, *key);
        return true;
    } catch (std::bad_alloc const&) {
        return false;
    }
}

bool CWriteCache::Sync(geo::CiVolumeN const& box)
{
    CTileStore& s = *m_pImpl->store;
    const tStoreLock lock = LockStore(s);
    return OrWhenOutOfMemory(false, [&] {
        geo::CiVolumeN b;
        if (!NormalizeBox(s, box, b) || !m_pImpl->region.pixels)
            return false;
        b = geo::Intersection(b, m_pImpl->region.box);
        if (!BoxHasPixels(b))
            return false;
        const geo::CiRect rect = b.Reduce();
        ForEachPlaneKey(PlanePart(b), [&](geo::CiVecN const& key) {
            s.ForEachTile(rect, key, [](tTileSlot& slot) { ++slot.modified; });
        });
        ++s.m_modifications;
        return true;
    });
}

boost::shared_ptr<CWriteCache> CDataFrame::CreateWriteCache(geo::CiVolumeN const& volume, int flags)
{
    (void)flags;
    try {
        // As CreateReadCache: the record outlives the lock on every way out.
        auto impl = std::make_unique<CWriteCache::tImpl>();
        impl->store = m_pStore;
        {
            const tStoreLock lock = LockStore(*m_pStore);
            if (!impl->region.Set(*m_pStore, volume))
                return {};
            if (impl->region.pixels)
                ForEachPlaneKey(PlanePart(impl->region.box),
                                [&](geo::CiVecN const& key) { impl->Pin(impl->region.rect, key); });
        }
        return boost::shared_ptr<CWriteCache>(new CWriteCache(std::move(impl)));
    } catch (std::bad_alloc const&) {
        return {};
    }
}

}  // namespace mem

#include "imgscope/contracts/foundation/tile_distributor.h"

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/tile_store_internal.h"

#include <algorithm>
#include <new>

namespace mem {

namespace {

// A handle to one tile of one content. It finds its slot again on every
// call, so a tile that was freed meanwhile gives null instead of a stale
// pointer; the slot it has locked cannot be freed.
class CTileHandle final : public ITileData {
public:
    CTileHandle(std::shared_ptr<CTileStore> store, geo::CiVecN key, int tx, int ty)
        : m_pStore(std::move(store)), m_key(std::move(key)), m_tx(tx), m_ty(ty)
    {
    }

    ~CTileHandle() override
    {
        if (!m_pLocked)
            return;
        const tStoreLock lock = LockStore(*m_pStore);
        m_pLocked->pins -= m_held;
        m_pStore->SweepRetired();
    }

    void* Lock() override
    {
        CTileStore& s = *m_pStore;
        const tStoreLock lock = LockStore(s);
        tPlane* plane = s.FindPlane(m_key);
        tTileSlot* slot = plane ? s.FindSlot(*plane, m_tx, m_ty) : nullptr;
        if (!slot || !slot->Exists())
            return nullptr;
        try {
            if (!s.Materialize(*plane, *slot, m_tx, m_ty, geo::CiRect()))
                return nullptr;
        } catch (std::bad_alloc const&) {
            return nullptr;
        }
        ++slot->pins;
        ++m_held;
        m_pLocked = slot;
        // The caller gets write access: count it as a change.
        ++slot->modified;
        ++s.m_modifications;
        return slot->data;
    }

    void Unlock() override
    {
        if (m_held == 0)
            return;
        const tStoreLock lock = LockStore(*m_pStore);
        --m_held;
        --m_pLocked->pins;
        if (m_held == 0)
            m_pLocked = nullptr;
        m_pStore->SweepRetired();
    }

    geo::CiVecN GetPosition() const override
    {
        geo::CiVecN p{m_tx, m_ty};
        p.Append(m_key);
        return p;
    }
    geo::CiVec2 GetSize() const override { return {m_pStore->m_tileW, m_pStore->m_tileH}; }
    std::int64_t GetRowSize() const override { return m_pStore->m_rowBytes; }
    std::int64_t GetByteSize() const override { return m_pStore->m_tileBytes; }

private:
    std::shared_ptr<CTileStore> m_pStore;
    geo::CiVecN m_key;
    int m_tx;
    int m_ty;
    int m_held = 0;
    tTileSlot* m_pLocked = nullptr;  // pinned while m_held > 0
};

// Splits a grid position into plane key and tile indices; false outside.
bool SplitPosition(CTileStore const& s, geo::CiVecN const& pos, geo::CiVecN& key, int& tx, int& ty)
{
    const int dims = std::max(s.m_dims, 2);
    if (pos.GetDimension() != dims || pos[0] < 0 || pos[0] >= s.m_tilesX || pos[1] < 0 || pos[1] >= s.m_tilesY)
        return false;
    geo::CiVecN k;
    for (int i = 2; i < dims; ++i)
        k.Append(pos[static_cast<std::size_t>(i)]);
    if (s.m_planes.GetDimension() > 0 && !s.m_planes.Contains(k))
        return false;
    key = std::move(k);
    tx = pos[0];
    ty = pos[1];
    return true;
}

// Orders grid positions as geo::CiVolumeN::begin(dim) walks them.
struct tWalkLess {
    int first;
    bool operator()(geo::CiVecN const& a, geo::CiVecN const& b) const
    {
        const int n = a.GetDimension();
        for (int k = 0; k < n; ++k) {
            const auto d = static_cast<std::size_t>((first + k) % n);
            if (a[d] != b[d])
                return a[d] < b[d];
        }
        return false;
    }
};

}  // namespace

struct CTileDistributor::tWalk {
    std::uint64_t store = 0;  // id of the content the list was made for
    std::uint64_t generation = 0;
    int first = -1;
    std::vector<geo::CiVecN> tiles;
};

CTileDistributor::CTileDistributor(CDataFrame& frame) : m_pFrame(&frame) {}

CTileDistributor::~CTileDistributor() = default;

namespace {

// The tile grid of `s`; the caller holds its lock.
geo::CiVolumeN GridOf(CTileStore const& s)
{
    geo::CiVecN pos{0, 0};
    geo::CiVecN size{s.m_tilesX, s.m_tilesY};
    if (s.m_dims > 2) {
        pos.Append(s.m_planes.Position());
        size.Append(s.m_planes.Size());
    }
    return geo::CiVolumeN::FromPositionSize(pos, size);
}

bool ExistsIn(CTileStore const& s, geo::CiVecN const& position)
{
    geo::CiVecN key;
    int tx = 0, ty = 0;
    if (!SplitPosition(s, position, key, tx, ty))
        return false;
    tPlane const* plane = s.FindPlane(key);
    tTileSlot const* slot = plane ? s.FindSlot(*plane, tx, ty) : nullptr;
    return slot && slot->Exists();
}

}  // namespace

geo::CiVolumeN CTileDistributor::GetGrid() const
{
    CTileStore const& s = m_pFrame->Store();
    const tStoreLock lock = LockStore(s);
    return GridOf(s);
}

geo::CiVecN CTileDistributor::GetEnd(int dim) const
{
    return *GetGrid().end(dim);
}

geo::CiVecN CTileDistributor::GetBegin(int dim) const
{
    geo::CiVecN next;
    const geo::CiVolumeN grid = GetGrid();
    if (grid.IsEmpty())
        return *grid.end(dim);
    // The first grid position itself may exist.
    const geo::CiVecN first = *grid.begin(dim);
    if (Exists(first))
        return first;
    if (GetNextExisting(first, next, dim))
        return next;
    return *grid.end(dim);
}

bool CTileDistributor::GetNextExisting(geo::CiVecN const& from, geo::CiVecN& next, int dim) const
{
    CTileStore& s = m_pFrame->Store();
    const tStoreLock lock = LockStore(s);
    const geo::CiVolumeN grid = GridOf(s);
    const int n = grid.GetDimension();
    if (from.GetDimension() != n || s.m_tileCount == 0)
        return false;
    const int first = ((dim % n) + n) % n;
    if (!m_pWalk || m_pWalk->store != s.m_id || m_pWalk->generation != s.m_generation || m_pWalk->first != first) {
        auto walk = std::make_unique<tWalk>();
        walk->store = s.m_id;
        walk->generation = s.m_generation;
        walk->first = first;
        walk->tiles.reserve(static_cast<std::size_t>(s.m_tileCount));
        for (auto const& [key, plane] : s.Planes()) {
            for (geo::CiVec2 const& t : s.SortedTiles(plane)) {
                geo::CiVecN p{t.x, t.y};
                p.Append(key);
                walk->tiles.push_back(std::move(p));
            }
        }
        std::sort(walk->tiles.begin(), walk->tiles.end(), tWalkLess{first});
        m_pWalk = std::move(walk);
    }
    auto const& tiles = m_pWalk->tiles;
    auto it = std::upper_bound(tiles.begin(), tiles.end(), from, tWalkLess{first});
    if (it == tiles.end())
        return false;
    next = *it;
    return true;
}

bool CTileDistributor::Exists(geo::CiVecN const& position) const
{
    CTileStore const& s = m_pFrame->Store();
    const tStoreLock lock = LockStore(s);
    return ExistsIn(s, position);
}

boost::shared_ptr<ITileData> CTileDistributor::GetTile(geo::CiVecN const& position) const
{
    CTileStore const& s = m_pFrame->Store();
    geo::CiVecN key;
    int tx = 0, ty = 0;
    {
        const tStoreLock lock = LockStore(s);
        if (!ExistsIn(s, position))
            return {};
        SplitPosition(s, position, key, tx, ty);
    }
    try {
        // The handle shares the frame's content, not the frame.
        return boost::shared_ptr<ITileData>(new CTileHandle(m_pFrame->StorePtr(), key, tx, ty));
    } catch (std::bad_alloc const&) {
        return {};
    }
}

boost::shared_ptr<ITileData> CTileDistributor::ProvideTile(geo::CiVecN const& position)
{
    CTileStore& s = m_pFrame->Store();
    geo::CiVecN key;
    int tx = 0, ty = 0;
    try {
        {
            const tStoreLock lock = LockStore(s);
            if (!SplitPosition(s, position, key, tx, ty))
                return {};
            tPlane& plane = s.ProvidePlane(key);
            tTileSlot& slot = s.ProvideSlot(plane, tx, ty);
            if (!slot.Exists() && !s.Materialize(plane, slot, tx, ty, geo::CiRect()))
                return {};
        }
        return boost::shared_ptr<ITileData>(new CTileHandle(m_pFrame->StorePtr(), key, tx, ty));
    } catch (std::bad_alloc const&) {
        return {};
    }
}

namespace {

tTileSlot* FindExisting(CTileStore& s, geo::CiVecN const& position, int level, tPlane** planeOut = nullptr)
{
    geo::CiVecN key;
    int tx = 0, ty = 0;
    if (level != 0 || !SplitPosition(s, position, key, tx, ty))
        return nullptr;
    tPlane* plane = s.FindPlane(key);
    tTileSlot* slot = plane ? s.FindSlot(*plane, tx, ty) : nullptr;
    if (!slot || !slot->Exists())
        return nullptr;
    if (planeOut)
        *planeOut = plane;
    return slot;
}

}  // namespace

bool CTileDistributor::IncrementFlag(geo::CiVecN const& position, int level, int flag, int amount)
{
    const tStoreLock lock = LockStore(m_pFrame->Store());
    tTileSlot* slot = FindExisting(m_pFrame->Store(), position, level);
    if (!slot || amount < 0 || (flag != eTileFlagModified && flag != eTileFlagLocked))
        return false;
    std::int32_t& counter = flag == eTileFlagModified ? slot->modified : slot->locked;
    counter = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t(counter) + amount, INT32_MAX));
    return true;
}

bool CTileDistributor::DecrementFlag(geo::CiVecN const& position, int level, int flag, int amount)
{
    const tStoreLock lock = LockStore(m_pFrame->Store());
    tTileSlot* slot = FindExisting(m_pFrame->Store(), position, level);
    if (!slot || amount < 0 || (flag != eTileFlagModified && flag != eTileFlagLocked))
        return false;
    // Locks held by caches and tile handles are not in `locked`, so a
    // decrement can never free a tile someone still reads.
    std::int32_t& counter = flag == eTileFlagModified ? slot->modified : slot->locked;
    counter = std::max(0, counter - amount);
    return true;
}

int CTileDistributor::GetFlag(geo::CiVecN const& position, int level, int flag) const
{
    const tStoreLock lock = LockStore(m_pFrame->Store());
    tTileSlot const* slot = FindExisting(m_pFrame->Store(), position, level);
    if (!slot)
        return -1;
    if (flag == eTileFlagModified)
        return slot->modified;
    if (flag == eTileFlagLocked)
        return static_cast<int>(std::min<std::int64_t>(std::int64_t(slot->locked) + slot->pins, INT32_MAX));
    return -1;
}

std::int64_t CTileDistributor::GarbageCollection()
{
    CTileStore& s = m_pFrame->Store();
    const tStoreLock lock = LockStore(s);
    if (s.m_model == eMemoryResident)
        return 0;
    std::int64_t freed = 0;
    for (auto& [key, plane] : s.Planes()) {
        for (auto& [ci, chunk] : plane.chunks) {
            const int cx = static_cast<int>(ci % s.m_chunksX) << kChunkShift;
            const int cy = static_cast<int>(ci / s.m_chunksX) << kChunkShift;
            for (int i = 0; i < kChunkSide * kChunkSide; ++i) {
                tTileSlot& slot = chunk->slots[i];
                if (!slot.data || slot.Pinned())
                    continue;
                const int tx = cx + (i & (kChunkSide - 1));
                const int ty = cy + (i >> kChunkShift);
                // One value throughout the visible part: keep only the value.
                std::uint8_t const* first = slot.data;
                if (!s.SlotIsUniform(slot, tx, ty, first))
                    continue;
                std::uint32_t id = 0;
                try {
                    id = s.UniformId(first);
                } catch (std::bad_alloc const&) {
                    continue;
                }
                if (id == 0xFFFFFFFFu)
                    continue;
                const std::int32_t modified = slot.modified;
                try {
                    s.Drop(plane, slot, tx, ty, id);
                } catch (std::bad_alloc const&) {
                    continue;  // a view shows it and there is no room to retire it
                }
                if (slot.Exists())
                    slot.modified = modified;
                ++freed;
            }
        }
    }
    return freed;
}

bool CTileDistributor::ReleaseTile(geo::CiVecN const& position)
{
    CTileStore& s = m_pFrame->Store();
    const tStoreLock lock = LockStore(s);
    tPlane* plane = nullptr;
    tTileSlot* slot = FindExisting(s, position, 0, &plane);
    if (!slot || slot->Pinned() || s.m_model == eMemoryResident)
        return false;
    try {
        s.Drop(*plane, *slot, position[0], position[1], 0);
    } catch (std::bad_alloc const&) {
        return false;
    }
    ++s.m_modifications;
    return true;
}

geo::CiVec2 CTileDistributor::GetTileSize() const
{
    return m_pFrame->GetTileSize();
}

std::int64_t CTileDistributor::GetTileRowSize() const
{
    return m_pFrame->Store().m_rowBytes;
}

std::int64_t CTileDistributor::GetTileByteSize() const
{
    return m_pFrame->Store().m_tileBytes;
}

std::int64_t CTileDistributor::GetTileCount() const
{
    const tStoreLock lock = LockStore(m_pFrame->Store());
    return m_pFrame->Store().m_tileCount;
}

}  // namespace mem

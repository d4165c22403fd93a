#include "imgscope/contracts/document/mask.h"

#include "imgscope/contracts/foundation/tile_store_internal.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

namespace img {

namespace {

boost::shared_ptr<CPixFrame> MakeMaskFrame(geo::CiRect const& extent, unsigned char value)
{
    const geo::CiRect r = extent;
    if (r.IsEmpty())  // inverted ones included: they are never flipped
        throw std::invalid_argument("mask: empty extent");
    utl::CPropSet props;
    unsigned char fill = value;
    props.SetValue(mem::ePropFillValue, static_cast<void*>(&fill));
    props.SetValue(mem::ePropMemoryModel, static_cast<int>(mem::eMemoryTiled));
    boost::shared_ptr<mem::CDataFrame> frame(
        new mem::CDataFrame(geo::CiVolumeN(r), CPixelInfo(utl::eUInt8, 1, eColorSpaceGray), props));
    return boost::shared_ptr<CPixFrame>(new CPixFrame(frame));
}

// The combine modes as one byte operation each.
template <int Mode>
inline unsigned char Combine(unsigned char m, unsigned char v)
{
    if constexpr (Mode == CMask::eCombineSet)
        return v;
    else if constexpr (Mode == CMask::eCombineMax)
        return std::max(m, v);
    else if constexpr (Mode == CMask::eCombineMin)
        return std::min(m, v);
    else if constexpr (Mode == CMask::eCombineAdd)
        return static_cast<unsigned char>(std::min(255, m + v));
    else if constexpr (Mode == CMask::eCombineSubtract)
        return static_cast<unsigned char>(std::max(0, m - v));
    else
        return static_cast<unsigned char>(255 - m);
}

template <int Mode>
void CombineRow(std::uint8_t* row, int count, unsigned char v)
{
    for (int i = 0; i < count; ++i)
        row[i] = Combine<Mode>(row[i], v);
}

using tCombineRow = void (*)(std::uint8_t*, int, unsigned char);
using tCombineOne = unsigned char (*)(unsigned char, unsigned char);

struct tPrepared {
    mem::tTileSlot* slot;
    int tx, ty;
    std::uint32_t before;
    bool made;
    bool uniform;            // whole tile without memory: becomes uniform row `id`
    std::uint32_t id;
    std::uint8_t* replaced;  // the block a view showed, moved aside for this change
};

// Applies one combine mode to `rect` (inside the mask) of the store.
// Whole tiles without memory stay without memory; the rest is combined in
// place, row segment by row segment.
bool CombineRect(mem::CTileStore& s, geo::CiRect const& rect, unsigned char v, tCombineRow rowOp,
                 tCombineOne oneOp)
{
    mem::tPlane& plane = s.ProvidePlane(geo::CiVecN());
    const int tx0 = s.TileX(rect.left), tx1 = s.TileX(rect.right - 1);
    const int ty0 = s.TileY(rect.top), ty1 = s.TileY(rect.bottom - 1);
    s.ViewsBeforeWrite(geo::CiVecN(), ty0, ty1);
    std::vector<tPrepared> prepared;
    auto rollback = [&] {
        for (auto const& p : prepared) {
            if (p.made)
                s.Drop(plane, *p.slot, p.tx, p.ty, p.before);
            else if (p.replaced)
                s.Restore(*p.slot, p.replaced);
        }
    };
    try {
        for (int ty = ty0; ty <= ty1; ++ty) {
            for (int tx = tx0; tx <= tx1; ++tx) {
                const geo::CiRect tile = s.TileRect(tx, ty);
                const geo::CiRect piece = geo::Intersection(tile, rect);
                mem::tTileSlot& slot = s.ProvideSlot(plane, tx, ty);
                if (!slot.data) {
                    const unsigned char old = *s.UniformRow(slot.uniform);
                    const unsigned char result = oneOp(old, v);
                    if (result == old)
                        continue;
                    if (piece == tile && !slot.Pinned()) {
                        // 256 byte values at most: the id always fits the table.
                        prepared.push_back({&slot, tx, ty, slot.uniform, false, true, s.UniformId(&result), nullptr});
                        continue;
                    }
                }
                const bool made = !slot.data;
                const std::uint32_t before = slot.uniform;
                std::uint8_t* replaced = nullptr;
                if (!s.Materialize(plane, slot, tx, ty, geo::CiRect(), &replaced)) {
                    rollback();
                    return false;
                }
                try {
                    prepared.push_back({&slot, tx, ty, before, made, false, 0, replaced});
                } catch (...) {
                    if (made)
                        s.Drop(plane, slot, tx, ty, before);
                    else if (replaced)
                        s.Restore(slot, replaced);
                    throw;
                }
            }
        }
    } catch (...) {
        rollback();
        throw;
    }
    for (auto const& p : prepared) {
        if (p.uniform) {
            s.Drop(plane, *p.slot, p.tx, p.ty, p.id);
            if (p.slot->Exists())
                ++p.slot->modified;
            continue;
        }
        const geo::CiRect tile = s.TileRect(p.tx, p.ty);
        const geo::CiRect piece = geo::Intersection(tile, rect);
        std::uint8_t* row = p.slot->data + std::int64_t(piece.top - tile.top) * s.m_rowBytes + (piece.left - tile.left);
        for (int y = piece.top; y < piece.bottom; ++y, row += s.m_rowBytes)
            rowOp(row, piece.Width(), v);
        ++p.slot->modified;
    }
    ++s.m_modifications;
    return true;
}

}  // namespace

CMask::CMask(geo::CiRect const& extent, unsigned char value) : m_pFrame(MakeMaskFrame(extent, value)), m_initial(value)
{
}

boost::shared_ptr<CMask> CMask::Create(geo::CiRect const& extent, unsigned char value)
{
    try {
        return boost::shared_ptr<CMask>(new CMask(extent, value));
    } catch (std::exception const&) {
        return {};
    }
}

CMask::CMask(CMask const& other)
    : m_pFrame(new CPixFrame(boost::shared_ptr<mem::CDataFrame>(new mem::CDataFrame(*other.m_pFrame->GetDataFrame())))),
      m_initial(other.m_initial)
{
}

CMask& CMask::operator=(CMask const& other)
{
    if (this != &other) {
        CMask copy(other);
        m_pFrame = copy.m_pFrame;
        m_initial = copy.m_initial;
    }
    return *this;
}

CMask::~CMask() = default;

geo::CiRect CMask::GetBoundary() const
{
    return m_pFrame->GetBoundary(0);
}

unsigned char CMask::GetInitialValue() const
{
    return m_initial;
}

bool CMask::Rectangle(geo::CiRect rect, unsigned char value, int combineMode)
{
    // An inverted rectangle is empty (Intersection finds nothing in it).
    const geo::CiRect r = geo::Intersection(rect, GetBoundary());
    if (r.IsEmpty())
        return false;
    mem::CTileStore& s = m_pFrame->GetDataFrame()->Store();
    const mem::tStoreLock lock = mem::LockStore(s);
    try {
        switch (combineMode) {
        case eCombineSet:
            return s.FillRect(r, geo::CiVecN(), &value);
        case eCombineMax:
            return CombineRect(s, r, value, &CombineRow<eCombineMax>, &Combine<eCombineMax>);
        case eCombineMin:
            return CombineRect(s, r, value, &CombineRow<eCombineMin>, &Combine<eCombineMin>);
        case eCombineAdd:
            return CombineRect(s, r, value, &CombineRow<eCombineAdd>, &Combine<eCombineAdd>);
        case eCombineSubtract:
            return CombineRect(s, r, value, &CombineRow<eCombineSubtract>, &Combine<eCombineSubtract>);
        case eCombineInvert:
            return CombineRect(s, r, value, &CombineRow<eCombineInvert>, &Combine<eCombineInvert>);
        default:
            return false;
        }
    } catch (std::bad_alloc const&) {
        return false;
    }
}

int CMask::GetValue(geo::CiVec2 point) const
{
    // Copied out under the frame's lock: a row pointer could be written
    // by another thread while we read through it.
    unsigned char value = 0;
    if (!m_pFrame->ReadRowSegment(point, 1, &value, 0))
        return -1;
    return value;
}

bool CMask::ReadRowSegment(geo::CiVec2 point, int count, unsigned char* buffer) const
{
    return m_pFrame->ReadRowSegment(point, count, buffer, 0);
}

int CMask::GetRowSpan(geo::CiVec2 point, std::uint8_t const*& data) const
{
    return m_pFrame->GetRowSpan(point, data);
}

boost::shared_ptr<CPixFrame> CMask::GetPixFrame() const
{
    return m_pFrame;
}

}  // namespace img

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
            return s.ModifyBytes(r, geo::CiVecN(), value, &CombineRow<eCombineMax>, &Combine<eCombineMax>);
        case eCombineMin:
            return s.ModifyBytes(r, geo::CiVecN(), value, &CombineRow<eCombineMin>, &Combine<eCombineMin>);
        case eCombineAdd:
            return s.ModifyBytes(r, geo::CiVecN(), value, &CombineRow<eCombineAdd>, &Combine<eCombineAdd>);
        case eCombineSubtract:
            return s.ModifyBytes(r, geo::CiVecN(), value, &CombineRow<eCombineSubtract>, &Combine<eCombineSubtract>);
        case eCombineInvert:
            return s.ModifyBytes(r, geo::CiVecN(), value, &CombineRow<eCombineInvert>, &Combine<eCombineInvert>);
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

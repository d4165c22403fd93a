// CStack: properties at stack, frame and dimension level, blobs,
// calibration, channels, display limits and data LUTs.
#include "imgscope/contracts/document/stack.h"

#include "imgscope/contracts/document/stack_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>

namespace img {

namespace {

using detail::tAxisCalibration;
using detail::tFrameKey;
using detail::tStack;

// Longest data LUT: one entry per value of a 16-bit channel.
constexpr std::size_t kMaxLutEntries = 65536;

// The stored calibrations of the x and y axes; false, with both untouched,
// unless both are there.
bool XYCalibration(tStack const& stack, tAxisCalibration& x, tAxisCalibration& y)
{
    auto ix = stack.calibration.find(eDimX);
    auto iy = stack.calibration.find(eDimY);
    if (ix == stack.calibration.end() || iy == stack.calibration.end())
        return false;
    x = ix->second;
    y = iy->second;
    return true;
}

// Copies the value stored under `key` to `out`; false, with `out`
// untouched, when there is none.
template <class Map, class T>
bool CopyFound(Map const& map, typename Map::key_type const& key, T& out)
{
    auto it = map.find(key);
    if (it == map.end())
        return false;
    out = it->second;
    return true;
}

// The channels of a stack as a run of numbers: positions along the channel
// dimension when it has one, else the colour components of the pixel type
// (alpha components are no channels of their own).
struct tChannelRange {
    int first = 0;
    int count = 0;
    bool Contains(int channel) const
    {
        return channel >= first && std::int64_t(channel) < std::int64_t(first) + count;
    }
};

tChannelRange ChannelsOf(tStack const& stack)
{
    tChannelRange range;
    if (stack.type != eLayerTypeImage)
        return range;
    mem::CDataFrame const& frame = *stack.dataFrames.at(0).frame;
    if (stack.channelDim >= 0) {
        const geo::CiVolumeN planes = detail::PlanesOf(frame);
        const std::vector<int> dims = detail::StackDimsOf(planes, stack.keepUnitDims);
        if (stack.channelDim < static_cast<int>(dims.size())) {
            const auto d = static_cast<std::size_t>(dims[static_cast<std::size_t>(stack.channelDim)]);
            range.first = planes.Position()[d];
            range.count = planes.Size()[d];
            return range;
        }
    }
    CPixelInfo const& info = frame.GetElementInfo();
    range.count = info.GetComponentCount() - info.GetAlphaCount();
    return range;
}

// The value range of an element type: what display limits are before any
// are set. Floating-point data is taken as normalised to 0..1.
utl::TInterval<double> TypeRange(utl::EType type)
{
    switch (type) {
    case utl::eInt8: return {-128.0, 127.0};
    case utl::eUInt8: return {0.0, 255.0};
    case utl::eInt16: return {-32768.0, 32767.0};
    case utl::eUInt16: return {0.0, 65535.0};
    case utl::eInt32: return {double(std::numeric_limits<std::int32_t>::min()), double(std::numeric_limits<std::int32_t>::max())};
    case utl::eUInt32: return {0.0, double(std::numeric_limits<std::uint32_t>::max())};
    case utl::eInt64: return {double(std::numeric_limits<std::int64_t>::min()), double(std::numeric_limits<std::int64_t>::max())};
    case utl::eUInt64: return {0.0, double(std::numeric_limits<std::uint64_t>::max())};
    default: return {0.0, 1.0};
    }
}

bool ValidDim(CStack const& stack, int dim)
{
    return dim >= 0 && dim <= stack.DimCount(0);
}

}  // namespace

// ---- Stack and frame properties ------------------------------------------

bool CStack::SetProperty(int id, mem::CBin const& value)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || !m_stack->properties.SetProperty(id, value))
        return false;
    m_stack->Notify(eChangeProperties);
    return true;
}

bool CStack::PropertyExists(int id) const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack && m_stack->properties.PropertyExists(id);
}

bool CStack::GetProperty(int id, mem::CBin& value) const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack && m_stack->properties.GetProperty(id, value);
}

bool CStack::DeleteProperty(int id)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || !m_stack->properties.DeleteProperty(id))
        return false;
    m_stack->Notify(eChangeProperties);
    return true;
}

utl::CPropSet CStack::GetPropset() const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack ? m_stack->properties : utl::CPropSet();
}

bool CStack::SetProperty(utl::CIndexN const& index, int id, mem::CBin const& value)
{
    const auto guard = detail::Changing(m_stack.get());
    if (index.empty())
        return SetProperty(id, value);
    tFrameKey key;
    if (!m_stack || value.IsEmpty() || !detail::FrameKeyOf(*m_stack, index, key))
        return false;
    if (!m_stack->frameProperties[key].SetProperty(id, value))
        return false;
    m_stack->Notify(eChangeProperties);
    return true;
}

bool CStack::PropertyExists(utl::CIndexN const& index, int id) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (index.empty())
        return PropertyExists(id);
    tFrameKey key;
    if (!m_stack || !detail::FrameKeyOf(*m_stack, index, key))
        return false;
    auto it = m_stack->frameProperties.find(key);
    return it != m_stack->frameProperties.end() && it->second.PropertyExists(id);
}

bool CStack::GetProperty(utl::CIndexN const& index, int id, mem::CBin& value) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (index.empty())
        return GetProperty(id, value);
    tFrameKey key;
    if (!m_stack || !detail::FrameKeyOf(*m_stack, index, key))
        return false;
    auto it = m_stack->frameProperties.find(key);
    return it != m_stack->frameProperties.end() && it->second.GetProperty(id, value);
}

bool CStack::GetProperties(utl::CIndexN const& index, utl::CPropSet& props) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack)
        return false;
    if (index.empty()) {
        props = m_stack->properties;
        return true;
    }
    tFrameKey key;
    if (!detail::FrameKeyOf(*m_stack, index, key))
        return false;
    auto it = m_stack->frameProperties.find(key);
    props = it == m_stack->frameProperties.end() ? utl::CPropSet() : it->second;
    return true;
}

std::vector<utl::CIndexN> CStack::GetFramePropertyIndices() const
{
    std::vector<utl::CIndexN> indices;
    if (!m_stack)
        return indices;
    for (auto const& entry : m_stack->frameProperties)
        if (!entry.second.empty())
            indices.emplace_back(entry.first);
    return indices;
}

// ---- Dimension properties ----------------------------------------------

bool CStack::SetDimProperty(int dim, int id, mem::CBin const& value)
{
    const auto guard = detail::Changing(m_stack.get());
    return SetDimProperty(dim, -1, id, value);
}

bool CStack::SetDimProperty(int dim, int channel, int id, mem::CBin const& value)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || channel < -1 || value.IsEmpty() || !ValidDim(*this, dim))
        return false;
    utl::CPropSet& set = channel == -1 ? m_stack->dimProperties[dim] : m_stack->channelDimProperties[{dim, channel}];
    if (!set.SetProperty(id, value))
        return false;
    m_stack->Notify(eChangeProperties);
    return true;
}

bool CStack::GetDimProperty(int dim, int id, mem::CBin& value) const
{
    const auto guard = detail::Reading(m_stack.get());
    return GetDimProperty(dim, -1, id, value);
}

bool CStack::GetDimProperty(int dim, int channel, int id, mem::CBin& value) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack || channel < -1 || !ValidDim(*this, dim))
        return false;
    if (channel == -1) {
        auto it = m_stack->dimProperties.find(dim);
        return it != m_stack->dimProperties.end() && it->second.GetProperty(id, value);
    }
    auto it = m_stack->channelDimProperties.find({dim, channel});
    return it != m_stack->channelDimProperties.end() && it->second.GetProperty(id, value);
}

bool CStack::DimPropertyExists(int dim, int id) const
{
    const auto guard = detail::Reading(m_stack.get());
    return DimPropertyExists(dim, -1, id);
}

bool CStack::DimPropertyExists(int dim, int channel, int id) const
{
    const auto guard = detail::Reading(m_stack.get());
    mem::CBin ignored;
    return GetDimProperty(dim, channel, id, ignored);
}

bool CStack::DelDimProperty(int dim, int channel, int id)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || channel < -1 || !ValidDim(*this, dim))
        return false;
    bool deleted = false;
    if (channel == -1) {
        auto it = m_stack->dimProperties.find(dim);
        if (it != m_stack->dimProperties.end())
            deleted = it->second.DeleteProperty(id);
        // The whole dimension: its per-channel values go too.
        auto& perChannel = m_stack->channelDimProperties;
        for (auto c = perChannel.lower_bound({dim, -1}); c != perChannel.end() && c->first.first == dim; ++c)
            deleted = c->second.DeleteProperty(id) || deleted;
    } else {
        auto it = m_stack->channelDimProperties.find({dim, channel});
        if (it != m_stack->channelDimProperties.end())
            deleted = it->second.DeleteProperty(id);
    }
    if (deleted)
        m_stack->Notify(eChangeProperties);
    return deleted;
}

std::vector<std::pair<int, int>> CStack::GetDimPropertyKeys() const
{
    std::vector<std::pair<int, int>> keys;
    if (!m_stack)
        return keys;
    for (auto const& entry : m_stack->dimProperties)
        if (!entry.second.empty())
            keys.emplace_back(entry.first, -1);
    for (auto const& entry : m_stack->channelDimProperties)
        if (!entry.second.empty())
            keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool CStack::GetDimProperties(int dim, int channel, utl::CPropSet& props) const
{
    if (!m_stack)
        return false;
    utl::CPropSet const* found = nullptr;
    if (channel == -1) {
        auto it = m_stack->dimProperties.find(dim);
        found = it == m_stack->dimProperties.end() ? nullptr : &it->second;
    } else {
        auto it = m_stack->channelDimProperties.find({dim, channel});
        found = it == m_stack->channelDimProperties.end() ? nullptr : &it->second;
    }
    if (!found || found->empty())
        return false;
    props = *found;
    return true;
}

// ---- Blobs ------------------------------------------------------------

bool CStack::SetBlob(mem::CBin const& value, int blob)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || value.IsEmpty())
        return false;
    m_stack->blobs[blob] = value;
    m_stack->Notify(eChangeProperties);
    return true;
}

bool CStack::GetBlob(mem::CBin& value, int blob) const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack && CopyFound(m_stack->blobs, blob, value);
}

bool CStack::DelBlob(int blob)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || m_stack->blobs.erase(blob) == 0)
        return false;
    m_stack->Notify(eChangeProperties);
    return true;
}

std::vector<int> CStack::GetBlobIDs() const
{
    std::vector<int> ids;
    if (m_stack)
        for (auto const& entry : m_stack->blobs)
            ids.push_back(entry.first);
    return ids;
}

// ---- Calibration ------------------------------------------------------

bool CStack::GetOriginScale(geo::CdVec2& origin, geo::CdVec2& scale, utl::CUnit& unit) const
{
    const auto guard = detail::Reading(m_stack.get());
    tAxisCalibration x, y;
    if (!m_stack || !XYCalibration(*m_stack, x, y))
        return false;
    // The numbers of each axis as stored: a caller that needs y in its own
    // unit reads dimension 7 for it.
    origin = geo::CdVec2(x.origin, y.origin);
    scale = geo::CdVec2(x.scale, y.scale);
    unit = x.unit;
    return true;
}

bool CStack::SetOriginScale(geo::CdVec2 const& origin, geo::CdVec2 const& scale, utl::CUnit const& unit)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack)
        return false;
    m_stack->calibration[eDimX] = tAxisCalibration{origin.x, scale.x, unit};
    m_stack->calibration[eDimY] = tAxisCalibration{origin.y, scale.y, unit};
    m_stack->Notify(eChangeProperties);
    return true;
}

bool CStack::SetScale(utl::TUnitValue<geo::CdVec2> const& scale)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack)
        return false;
    for (int axis = 0; axis < 2; ++axis) {
        const int dim = axis == 0 ? eDimX : eDimY;
        double origin = 0.0;
        auto it = m_stack->calibration.find(dim);
        if (it != m_stack->calibration.end()) {
            // Keep the origin where it is physically.
            origin = it->second.unit.Compatible(scale.unit)
                         ? utl::Convert(it->second.origin, it->second.unit, scale.unit)
                         : it->second.origin;
        }
        m_stack->calibration[dim] = tAxisCalibration{origin, scale.value[axis], scale.unit};
    }
    m_stack->Notify(eChangeProperties);
    return true;
}

bool CStack::GetDimOriginScale(EPhysDim dim, double& origin, double& scale, utl::CUnit& unit) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack || dim <= eDimNone)
        return false;
    auto it = m_stack->calibration.find(dim);
    if (it == m_stack->calibration.end())
        return false;
    origin = it->second.origin;
    scale = it->second.scale;
    unit = it->second.unit;
    return true;
}

bool CStack::SetDimOriginScale(EPhysDim dim, double origin, double scale, utl::CUnit const& unit)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || dim <= eDimNone)
        return false;
    m_stack->calibration[dim] = tAxisCalibration{origin, scale, unit};
    m_stack->Notify(eChangeProperties);
    return true;
}

std::vector<int> CStack::GetCalibratedDims() const
{
    std::vector<int> dims;
    if (m_stack)
        for (auto const& entry : m_stack->calibration)
            dims.push_back(entry.first);
    return dims;
}

bool CStack::GetBoundaryRWC(utl::TUnitValue<geo::CdRect>& rect) const
{
    const auto guard = detail::Reading(m_stack.get());
    tAxisCalibration cx, cy;
    if (!m_stack || !XYCalibration(*m_stack, cx, cy))
        return false;
    // One rectangle carries one unit: bring y into x's unit where it can be.
    if (cy.unit != cx.unit && cy.unit.Compatible(cx.unit)) {
        cy.origin = utl::Convert(cy.origin, cy.unit, cx.unit);
        cy.scale = utl::Convert(cy.scale, cy.unit, cx.unit);
    }
    const geo::CiRect b = GetBoundary();
    geo::CdRect r(b.left * cx.scale + cx.origin, b.top * cy.scale + cy.origin, b.right * cx.scale + cx.origin,
                  b.bottom * cy.scale + cy.origin);
    r.Normalize();
    rect = utl::TUnitValue<geo::CdRect>(cx.unit, r);
    return true;
}

bool CStack::SetBoundaryRWC(utl::TUnitValue<geo::CdRect> const& rect)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack)
        return false;
    const geo::CiRect b = GetBoundary();
    geo::CdRect r = rect.value;
    r.Normalize();
    if (b.IsEmpty() || r.IsEmpty() || !std::isfinite(r.left) || !std::isfinite(r.top) || !std::isfinite(r.right) ||
        !std::isfinite(r.bottom))
        return false;
    const double sx = r.Width() / b.Width();
    const double sy = r.Height() / b.Height();
    if (!std::isfinite(sx) || !std::isfinite(sy))
        return false;  // edges so far apart that the width overflows
    return SetOriginScale(geo::CdVec2(r.left - b.left * sx, r.top - b.top * sy), geo::CdVec2(sx, sy), rect.unit);
}

bool CStack::GetXYFixed() const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack && m_stack->xyFixed;
}

void CStack::SetXYFixed(bool fixed)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || m_stack->xyFixed == fixed)
        return;
    m_stack->xyFixed = fixed;
    m_stack->Notify(eChangeProperties);
}

// ---- Display limits and data LUTs ---------------------------------------

bool CStack::GetDispLimits(utl::TInterval<double>& limits, int channel) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeImage)
        return false;
    const tChannelRange channels = ChannelsOf(*m_stack);
    if (channel != -1 && !channels.Contains(channel))
        return false;
    if (channel != -1 && CopyFound(m_stack->channelLimits, channel, limits))
        return true;
    limits = m_stack->hasLimits ? m_stack->limits : TypeRange(GetPixelInfo(0).GetElementType());
    return true;
}

bool CStack::SetDispLimits(utl::TInterval<double> const& limits, int channel)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeImage)
        return false;
    if (!std::isfinite(limits.lower) || !std::isfinite(limits.upper) || limits.IsEmpty())
        return false;
    if (channel == -1) {
        m_stack->limits = limits;
        m_stack->hasLimits = true;
        m_stack->channelLimits.clear();
    } else {
        if (!ChannelsOf(*m_stack).Contains(channel))
            return false;
        m_stack->channelLimits[channel] = limits;
    }
    m_stack->Notify(eChangeProperties);
    return true;
}

bool CStack::GetLUT(std::vector<utl::CBGR8>& lut, int channel) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack)
        return false;
    if (channel != -1) {
        auto it = m_stack->channelLuts.find(channel);
        if (it != m_stack->channelLuts.end()) {
            if (!it->second)
                return false;
            lut = *it->second;
            return true;
        }
        if (!ChannelsOf(*m_stack).Contains(channel))
            return false;
    }
    if (!m_stack->lut)
        return false;
    lut = *m_stack->lut;
    return true;
}

bool CStack::SetLUT(std::vector<utl::CBGR8> const& lut, int channel)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || lut.empty() || lut.size() > kMaxLutEntries)
        return false;
    const tChannelRange channels = ChannelsOf(*m_stack);
    if (channels.count <= 0 || (channel != -1 && !channels.Contains(channel)))
        return false;
    if (channel == -1) {
        // Kept once, not per channel: a channel dimension may be long.
        m_stack->lut = lut;
        m_stack->channelLuts.clear();
    } else {
        m_stack->channelLuts[channel] = lut;
    }
    m_stack->Notify(eChangeProperties);
    return true;
}

bool CStack::RemoveLUT(int channel)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack)
        return false;
    if (channel == -1) {
        bool any = m_stack->lut.has_value();
        for (auto const& entry : m_stack->channelLuts)
            any = any || entry.second.has_value();
        m_stack->lut.reset();
        m_stack->channelLuts.clear();
        if (any)
            m_stack->Notify(eChangeProperties);
        return any;
    }
    std::vector<utl::CBGR8> current;
    if (!GetLUT(current, channel))
        return false;
    auto& own = m_stack->channelLuts;
    if (m_stack->lut) {
        own[channel].reset();  // the channel opts out of the common LUT
        // Once no channel uses the common LUT, it is gone, as removing the
        // LUTs channel by channel means.
        const tChannelRange channels = ChannelsOf(*m_stack);
        std::int64_t overridden = 0;
        for (auto it = own.lower_bound(channels.first); it != own.end() && channels.Contains(it->first); ++it)
            ++overridden;
        if (overridden >= channels.count) {
            m_stack->lut.reset();
            for (auto it = own.begin(); it != own.end();)
                it = it->second ? std::next(it) : own.erase(it);
        }
    } else {
        own.erase(channel);
    }
    m_stack->Notify(eChangeProperties);
    return true;
}

// ---- Channels -----------------------------------------------------------

int CStack::FirstChannel() const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack)
        return -1;
    const tChannelRange channels = ChannelsOf(*m_stack);
    return channels.count > 0 ? channels.first : -1;
}

int CStack::NextChannel(int channel) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack)
        return -1;
    const tChannelRange channels = ChannelsOf(*m_stack);
    if (!channels.Contains(channel) || channel == std::numeric_limits<int>::max() || !channels.Contains(channel + 1))
        return -1;
    return channel + 1;
}

bool CStack::GetChannelName(CString& name, int channel) const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack && CopyFound(m_stack->channelNames, channel, name);
}

bool CStack::SetChannelName(CString const& name, int channel)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || !ChannelsOf(*m_stack).Contains(channel))
        return false;
    m_stack->channelNames[channel] = name;
    m_stack->Notify(eChangeProperties);
    return true;
}

void CStack::SetChannelDim(int dim)
{
    const auto guard = detail::Changing(m_stack.get());
    // Dimensions are named 0 … DimCount(0) here as for dimension properties;
    // HasChannelDim tells whether the one chosen indexes frames.
    if (!m_stack || dim < -1 || dim > DimCount(0) || dim == m_stack->channelDim)
        return;
    m_stack->channelDim = dim;
    m_stack->Notify(eChangeProperties);
}

int CStack::GetChannelDim() const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack ? m_stack->channelDim : -1;
}

bool CStack::HasChannelDim(int sample) const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack && m_stack->channelDim >= 0 && m_stack->channelDim < DimCount(sample);
}

}  // namespace img

// CMosaikScope: properties of named layers and of the document, and the
// methods that address the active layer.
#include "imgscope/mosaic/mosaic_scope.h"

#include "imgscope/mosaic/mosaic_ids_internal.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

namespace img {

namespace {

// The frame property holding a frame's position along a dimension of
// `type`; -1 for types without one.
int DimensionValueId(EPhysDim type)
{
    switch (type) {
    case eDimZ: return kPropZValue;
    case eDimTime: return kPropTimeValue;
    case eDimLambda: return kPropLambdaValue;
    case eDimChannel: return kPropChannelDimValue;
    default: return -1;
    }
}

}  // namespace

int CMosaikScope::NamedLayer(int layer) const
{
    return layer == -1 ? m_nActiveLayerId : layer;
}

// ---------------------------------------------------------------- named layers

bool CMosaikScope::GetLayerProperties(int layer, utl::CPropSet& props) const
{
    const int id = NamedLayer(layer);
    return id >= 0 && GetProperties(id, geo::CiVecN(), props);
}

bool CMosaikScope::SetLayerProperties(int layer, utl::CPropSet const& props)
{
    const int id = NamedLayer(layer);
    return id >= 0 && SetProperties(id, geo::CiVecN(), props);
}

bool CMosaikScope::SetLayerProperty(int layer, int id, mem::CBin const& value)
{
    const int target = NamedLayer(layer);
    return target >= 0 && SetProperty(target, geo::CiVecN(), id, value);
}

bool CMosaikScope::GetAcqProperties(int layer, utl::CPropSet& props)
{
    const int id = NamedLayer(layer);
    return id >= 0 && GetDeviceProperties(id, geo::CiVecN(), props);
}

bool CMosaikScope::SetAcqProperties(int layer, utl::CPropSet& props)
{
    const int id = NamedLayer(layer);
    return id >= 0 && SetDeviceProperties(id, geo::CiVecN(), props);
}

// ---------------------------------------------------------------- the document

bool CMosaikScope::GetImageProperties(utl::CPropSet& props) const
{
    return CBaseScope::GetProperties(props);
}

bool CMosaikScope::SetImageProperties(utl::CPropSet const& props)
{
    return CBaseScope::SetProperties(props);
}

bool CMosaikScope::SetImageProperty(int id, mem::CBin const& value)
{
    return CBaseScope::SetProperty(id, value);
}

bool CMosaikScope::GetDynamicImageProperties(std::vector<boost::shared_ptr<utl::CPropSet>>& sets) const
{
    sets = GetDynPropStorage(GetCollection());
    return true;
}

bool CMosaikScope::SetDynamicImageProperties(std::vector<boost::shared_ptr<utl::CPropSet>> const& sets)
{
    return Guarded(false, [&] { return SetDynPropStorage(GetCollection(), sets); });
}

// ---------------------------------------------------------------- the active layer

bool CMosaikScope::SetChannelColor(int channel, utl::CRGB8 color)
{
    return CBaseScope::SetChannelColor(m_nActiveLayerId, channel, utl::CBGR8(color));
}

bool CMosaikScope::SetChannelName(int channel, CString const& name)
{
    return CBaseScope::SetChannelName(m_nActiveLayerId, channel, name);
}

bool CMosaikScope::GetDimensionStepping(int dim, utl::TUnitValue<double>& first,
                                        utl::TUnitValue<double>& second) const
{
    return CBaseScope::GetDimensionStepping(m_nActiveLayerId, dim, first, second);
}

bool CMosaikScope::ActivateFrame(geo::CiVecN const& index)
{
    return CBaseScope::ActivateFrame(m_nActiveLayerId, index);
}

geo::CiRect CMosaikScope::GetBoundary()
{
    geo::CiRect rect;
    CBaseScope::GetBoundary(m_nActiveLayerId, rect);
    return rect;
}

boost::shared_ptr<mem::CDataFrame> CMosaikScope::GetActiveDataFrame() const
{
    return GetDataFrame(m_nActiveLayerId);
}

bool CMosaikScope::GetPixelCoords(utl::TUnitValue<geo::CdVec2>& scale, geo::CdVec2& origin) const
{
    return CBaseScope::GetPixelCoords(m_nActiveLayerId, scale, origin);
}

bool CMosaikScope::Lcs2Pixel(utl::TUnitValue<geo::CdVec2> const& value, geo::CdVec2& pixel) const
{
    return CBaseScope::Lcs2Pixel(m_nActiveLayerId, value, pixel);
}

bool CMosaikScope::Lcs2Pixel(utl::TUnitValue<geo::CdRect> const& value, geo::CdRect& pixel) const
{
    return CBaseScope::Lcs2Pixel(m_nActiveLayerId, value, pixel);
}

bool CMosaikScope::SetDimensionType(int dim, EPhysDim type, int valueID)
{
    if (type == eDimChannel) {
        Guarded(false, [&] {
            // An invalid stack ignores the call, so it needs no check.
            GetCollection().FindStack(m_nActiveLayerId).SetChannelDim(dim);
            return true;
        });
    }
    return CBaseScope::SetDimensionType(m_nActiveLayerId, dim, type, valueID);
}

bool CMosaikScope::SetDimensionStepping(int dim, utl::TUnitValue<double> const& first,
                                        utl::TUnitValue<double> const& second)
{
    const bool found = Guarded(false, [&] {
        CStack stack = GetCollection().FindStack(m_nActiveLayerId);
        if (!stack.IsValid())
            return false;
        // A stepping replaces per-channel values: the value ID goes first.
        stack.DelDimProperty(dim, -1, kPropDimValueId);
        return true;
    });
    return found && CBaseScope::SetDimensionStepping(m_nActiveLayerId, dim, first, second);
}

bool CMosaikScope::SetDimensionValue(geo::CiVecN const& index, EPhysDim type, utl::TUnitValue<double> const& value)
{
    return CBaseScope::SetProperty(m_nActiveLayerId, index, DimensionValueId(type), mem::CBin(value));
}

bool CMosaikScope::GetDimensionValue(geo::CiVecN const& index, EPhysDim type, utl::TUnitValue<double>& value) const
{
    const int id = DimensionValueId(type);
    if (!CBaseScope::PropertyExists(m_nActiveLayerId, index, id))
        return false;
    // Present but unreadable as a number still answers, with 0.0.
    value = Guarded(utl::TUnitValue<double>(), [&] {
        utl::TUnitValue<double> read;
        mem::CBin bin;
        if (GetCollection().FindStack(m_nActiveLayerId).GetProperty(utl::CIndexN(index), id, bin))
            bin.GetUnitValueOrPlain(read);
        return read;
    });
    return true;
}

}  // namespace img

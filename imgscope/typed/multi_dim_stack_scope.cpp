#include "imgscope/typed/multi_dim_stack_scope.h"

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"
#include "imgscope/typed/stack_family_internal.h"

namespace img {

CMultiDimStackScope::CMultiDimStackScope(CImg img, int layerId) : CStackScope(img, layerId) {}

CMultiDimStackScope::CMultiDimStackScope(CImg img, geo::CiVolumeN const& volume, CPixelInfo const& pixelInfo,
                                         mem::EMemoryModel memoryModel, mem::EAlign align,
                                         utl::CPropSet const& props)
    : CStackScope(img, volume, pixelInfo, memoryModel, align, props)
{
}

CMultiDimStackScope::CMultiDimStackScope(CImg img, boost::shared_ptr<mem::CDataFrame> frame)
    : CStackScope(img, frame)
{
}

CMultiDimStackScope::~CMultiDimStackScope() = default;

bool CMultiDimStackScope::HasChannelDim() const
{
    return Guarded(false, [&] {
        // A tree made now sees what other scopes changed since this scope's
        // own tree was built.
        const CDisplProcessFlow fresh(GetCollection(), false);
        return fresh.GetStack(FindPlaneID(GetLayerID())).HasChannelDim(0);
    });
}

bool CMultiDimStackScope::SetChannelDim(int dim)
{
    Guarded(false, [&] {
        GetCollection().FindStack(GetLayerID()).SetChannelDim(dim);
        return true;
    });
    return true;
}

int CMultiDimStackScope::GetChannelDim() const
{
    return Guarded(-1, [&] { return GetCollection().FindStack(GetLayerID()).GetChannelDim(); });
}

bool CMultiDimStackScope::SetDimensionType(int dim, EPhysDim type)
{
    return CBaseScope::SetDimensionType(GetLayerID(), dim, type, -1);
}

geo::CiVecN CMultiDimStackScope::GetEndIndex() const
{
    return Guarded(geo::CiVecN(), [&] {
        const boost::shared_ptr<mem::CDataFrame> frame = CStackScope::GetDataFrame(0);
        if (!frame)
            return geo::CiVecN();
        return *frame->GetPlaneAssortment().GetBoundary().end(0);
    });
}

bool CMultiDimStackScope::SetDimensionValue(geo::CiVecN const& index, EPhysDim type,
                                            utl::TUnitValue<double> const& value)
{
    return SetFrameProperty(index, FrameValuePropertyId(type, true), mem::CBin(value));
}

bool CMultiDimStackScope::GetDimensionValue(geo::CiVecN const& index, EPhysDim type,
                                            utl::TUnitValue<double>& value) const
{
    const int id = FrameValuePropertyId(type, true);
    if (!FramePropertyExists(index, id))
        return false;
    return Guarded(false, [&] {
        ReadFrameValue(GetCollection().FindStack(GetLayerID()), index, id, value);
        return true;
    });
}

CMultiDimStackScope* CreateMultiDimStackScope(CImg img, int layerId)
{
    return new CMultiDimStackScope(img, layerId);
}

CMultiDimStackScope* InsertMultiDimStackScope(CImg img, geo::CiVolumeN const& volume, CPixelInfo const& pixelInfo,
                                              mem::EMemoryModel memoryModel, mem::EAlign align,
                                              utl::CPropSet const& props)
{
    return new CMultiDimStackScope(img, volume, pixelInfo, memoryModel, align, props);
}

}  // namespace img

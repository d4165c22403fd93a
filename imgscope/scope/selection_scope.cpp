#include "imgscope/scope/selection_scope.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/scope/scope_factory_internal.h"

namespace img {

// Builds selection scopes for the factories, which alone may call the
// constructor.
struct tSelectionScopeFactory {
    static CSelectionScope* New(CImg const& img)
    {
        return NewScopeOrNull([&] { return new CSelectionScope(img, -1, geo::CiVecN(), geo::CiVecN()); });
    }
};

CSelectionScope* CreateSelectionScope(CImg& img) { return tSelectionScopeFactory::New(img); }

CSelectionScope const* CreateSelectionScope(CImg const& img) { return tSelectionScopeFactory::New(img); }

CSelectionScope::CSelectionScope(CImg img, int, geo::CiVecN const&, geo::CiVecN const&) : CBaseScope(img) {}

CSelectionScope::~CSelectionScope() = default;

int CSelectionScope::GetSelectedLayer(ELayerType type) const
{
    int layer = -1;
    bool maskActive = false;
    return CBaseScope::GetSelectedLayer(type, layer, maskActive) ? layer : -1;
}

bool CSelectionScope::GetSelectedLayer(ELayerType type, int& layer, bool& maskActive) const
{
    return CBaseScope::GetSelectedLayer(type, layer, maskActive);
}

bool CSelectionScope::InvalidateRect(geo::CiRect const& rect)
{
    const int layer = GetSelectedLayer(eLayerTypeImage);
    return layer != -1 && CBaseScope::InvalidateRect(layer, rect);
}

boost::shared_ptr<CPixFrame> CSelectionScope::GetPixFrame(geo::CiVecN const& index)
{
    const int layer = GetSelectedLayer(eLayerTypeImage);
    return layer == -1 ? boost::shared_ptr<CPixFrame>() : CBaseScope::GetPixFrame(layer, index);
}

boost::shared_ptr<CPixFrame> CSelectionScope::GetPixFrame(geo::CiVecN const& index) const
{
    const int layer = GetSelectedLayer(eLayerTypeImage);
    return layer == -1 ? boost::shared_ptr<CPixFrame>() : CBaseScope::GetPixFrame(layer, index);
}

boost::shared_ptr<mem::CDataFrame> CSelectionScope::GetDataFrame(int n)
{
    const int layer = GetSelectedLayer(eLayerTypeImage);
    return layer == -1 ? boost::shared_ptr<mem::CDataFrame>() : CBaseScope::GetDataFrame(layer, n);
}

boost::shared_ptr<mem::CDataFrame> CSelectionScope::GetDataFrame(int n) const
{
    const int layer = GetSelectedLayer(eLayerTypeImage);
    return layer == -1 ? boost::shared_ptr<mem::CDataFrame>() : CBaseScope::GetDataFrame(layer, n);
}

bool CSelectionScope::SwapDataFrame(boost::shared_ptr<mem::CDataFrame> frame, int n)
{
    const int layer = GetSelectedLayer(eLayerTypeImage);
    return layer != -1 && CBaseScope::SwapDataFrame(layer, n, frame);
}

boost::shared_ptr<CMask> CSelectionScope::GetTranspMask()
{
    const int layer = GetSelectedLayer(eLayerTypeImage);
    return layer == -1 ? boost::shared_ptr<CMask>() : CBaseScope::GetTranspMask(layer);
}

boost::shared_ptr<CMask> CSelectionScope::GetTranspMask() const
{
    const int layer = GetSelectedLayer(eLayerTypeImage);
    return layer == -1 ? boost::shared_ptr<CMask>() : CBaseScope::GetTranspMask(layer);
}

boost::shared_ptr<CMask> CSelectionScope::GetSelectionMask() const { return CBaseScope::GetSelectionMask(); }

bool CSelectionScope::GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const
{
    return CBaseScope::GetFrameSelection(plane, frames);
}

bool CSelectionScope::GetSelectedChannels(int plane, std::set<int>& channels) const
{
    return CBaseScope::GetSelectedChannels(plane, channels);
}

bool CSelectionScope::IsChannelSelected(int plane, int channel, bool& selected) const
{
    return CBaseScope::IsChannelSelected(plane, channel, selected);
}

}  // namespace img

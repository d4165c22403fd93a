#include "imgscope/typed/layer_scope.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/scope/scope_factory_internal.h"
#include "imgscope/scope/selection_scope.h"

#include <memory>

namespace img {

// Builds layer scopes for the factories, which alone may call the constructor.
struct tLayerScopeFactory {
    static CLayerScope* New(CImg const& img)
    {
        return NewScopeOrNull([&] { return new CLayerScope(img, 0, geo::CiVecN(), geo::CiVecN()); });
    }
};

CLayerScope::CLayerScope(CImg img, int, geo::CiVecN const&, geo::CiVecN const&) : CBaseScope(img) {}

CLayerScope::~CLayerScope() = default;

CLayerScope* CreateLayerScope(CImg img) { return tLayerScopeFactory::New(img); }

bool TestLayerScope(CImg img)
{
    std::unique_ptr<CLayerScope> scope(tLayerScopeFactory::New(img));
    return scope != nullptr;
}

CSurface::CSurface(CImg img) : CBaseScope(img) {}

CSurface::~CSurface() = default;

// ---------------------------------------------------------------------------
// Every member passes its arguments on, in order, to the scope core.

bool CLayerScope::GetLayerName(int layer, CString& name) const { return CBaseScope::GetLayerName(layer, name); }
bool CLayerScope::SetLayerName(int layer, CString const& name) { return CBaseScope::SetLayerName(layer, name); }

bool CLayerScope::InsertLayer(int& layer, boost::shared_ptr<mem::CDataFrame> frame, CString const& name, int position,
                              int flags, int options)
{
    return CBaseScope::InsertLayer(layer, frame, name, position, flags, options);
}

bool CLayerScope::InsertLayerMasked(int& layer, boost::shared_ptr<mem::CDataFrame> frame, CString const& name,
                                    int position, int flags, int options)
{
    return CBaseScope::InsertLayerMasked(layer, frame, name, position, flags, options);
}

bool CLayerScope::InsertLayer(int& layer, boost::shared_ptr<CVecGraph> graphic, CString const& name, int position,
                              int flags, int options)
{
    return CBaseScope::InsertLayer(layer, graphic, name, position, flags, options);
}

bool CLayerScope::DelLayer(int layer) { return CBaseScope::DelLayer(layer); }
bool CLayerScope::HideLayer(int layer) { return CBaseScope::HideLayer(layer); }
bool CLayerScope::UnhideLayer(int layer, int position, int unused)
{
    return CBaseScope::UnhideLayer(layer, position, unused);
}
bool CLayerScope::IsLayerHidden(int layer, bool& hidden) const { return CBaseScope::IsLayerHidden(layer, hidden); }
bool CLayerScope::MoveLayer(int layer, int target, EGroupAffinity affinity)
{
    return CBaseScope::MoveLayer(layer, target, affinity);
}
bool CLayerScope::AppendToGroup(int layer, int group) { return CBaseScope::AppendToGroup(layer, group); }
bool CLayerScope::PrependToGroup(int layer, int group) { return CBaseScope::PrependToGroup(layer, group); }
bool CLayerScope::SetLayerVisible(int layer, bool visible) { return CBaseScope::SetLayerVisible(layer, visible); }
bool CLayerScope::IsLayerVisible(int layer, bool& visible) const { return CBaseScope::IsLayerVisible(layer, visible); }
bool CLayerScope::GetLayerFlags(int layer, int& flags) const { return CBaseScope::GetLayerFlags(layer, flags); }
bool CLayerScope::SetSelectedLayer(int layer, bool maskActive)
{
    return CBaseScope::SetSelectedLayer(layer, maskActive);
}
bool CLayerScope::GetSelectedLayer(ELayerType type, int& layer, bool& maskActive) const
{
    return CBaseScope::GetSelectedLayer(type, layer, maskActive);
}
bool CLayerScope::GetLayers(std::vector<int>& layers, int mask) const { return CBaseScope::GetLayers(layers, mask); }
bool CLayerScope::GetGroups(std::vector<int>& units) const { return CBaseScope::GetGroups(units); }
bool CLayerScope::GetGroupMembers(int unit, std::vector<int>& layers) const
{
    return CBaseScope::GetGroupMembers(unit, layers);
}
bool CLayerScope::GetGroupOf(int layer, int& group) const { return CBaseScope::GetGroupOf(layer, group); }
bool CLayerScope::IsOutsideGroup(int plane, bool& result) const { return CBaseScope::IsOutsideGroup(plane, result); }
int CLayerScope::CreateGroup(CString const& name, int before, int groupFlags)
{
    return CBaseScope::CreateGroup(name, before, groupFlags);
}
bool CLayerScope::GetGroupName(int group, CString& name) const { return CBaseScope::GetGroupName(group, name); }
bool CLayerScope::SetGroupName(int group, CString const& name) { return CBaseScope::SetGroupName(group, name); }
bool CLayerScope::SetGroupSingular(int group, bool singular) { return CBaseScope::SetGroupSingular(group, singular); }
bool CLayerScope::LockGroup(int group, bool lock) { return CBaseScope::LockGroup(group, lock); }
bool CLayerScope::IsGroupLocked(int group, bool& locked) const { return CBaseScope::IsGroupLocked(group, locked); }
bool CLayerScope::IsGroupSinglular(int group, bool& singular) const
{
    return CBaseScope::IsGroupSingular(group, singular);
}

bool CLayerScope::GetCanvasPlacement(int layer, geo::CdVec2& origin, geo::CdVec2& scale) const
{
    return CBaseScope::GetCanvasPlacement(layer, origin, scale);
}
bool CLayerScope::SetCanvasPlacement(int layer, geo::CdVec2 const& origin, geo::CdVec2 const& scale)
{
    return CBaseScope::SetCanvasPlacement(layer, origin, scale);
}
bool CLayerScope::GetPixelCoordsRect(int layer, utl::TUnitValue<geo::CdRect>& rect) const
{
    return CBaseScope::GetPixelCoordsRect(layer, rect);
}
bool CLayerScope::SetPixelCoordsRect(int layer, utl::TUnitValue<geo::CdRect> const& rect)
{
    return CBaseScope::SetPixelCoordsRect(layer, rect);
}

bool CLayerScope::SelectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to)
{
    return CBaseScope::SelectFrameRange(layer, from, to);
}
bool CLayerScope::UnselectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to)
{
    return CBaseScope::UnselectFrameRange(layer, from, to);
}
bool CLayerScope::SelectFrame(int layer, geo::CiVecN const& index) { return CBaseScope::SelectFrame(layer, index); }
bool CLayerScope::UnselectFrame(int layer, geo::CiVecN const& index)
{
    return CBaseScope::UnselectFrame(layer, index);
}
bool CLayerScope::ResetFrameSelection(int plane) { return CBaseScope::ResetFrameSelection(plane); }
bool CLayerScope::GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const
{
    return CBaseScope::GetFrameSelection(plane, frames);
}
bool CLayerScope::SetChannelVisible(int layer, int channel, bool visible)
{
    return CBaseScope::SetChannelVisible(layer, channel, visible);
}
bool CLayerScope::IsChannelVisible(int layer, int channel, bool& visible) const
{
    return CBaseScope::IsChannelVisible(layer, channel, visible);
}
int CLayerScope::GetFirstChannel(int layer) const { return CBaseScope::GetFirstChannel(layer); }
int CLayerScope::GetNextChannel(int layer, int channel) const { return CBaseScope::GetNextChannel(layer, channel); }
std::set<int> CLayerScope::GetChannelIDs(int layer) { return CBaseScope::GetChannelIDs(layer); }
bool CLayerScope::SelectChannel(int plane, int channel) { return CBaseScope::SelectChannel(plane, channel); }
bool CLayerScope::UnselectChannel(int plane, int channel) { return CBaseScope::UnselectChannel(plane, channel); }
bool CLayerScope::GetSelectedChannels(int plane, std::set<int>& channels) const
{
    return CBaseScope::GetSelectedChannels(plane, channels);
}
bool CLayerScope::IsChannelSelected(int plane, int channel, bool& selected) const
{
    return CBaseScope::IsChannelSelected(plane, channel, selected);
}
bool CLayerScope::SetOpacity(int layer, double const& opacity) { return CBaseScope::SetOpacity(layer, opacity); }
bool CLayerScope::GetOpacity(int layer, double& opacity) const { return CBaseScope::GetOpacity(layer, opacity); }
bool CLayerScope::SetFunction(int layer, int channel, ELayerFunction function)
{
    return CBaseScope::SetFunction(layer, channel, function);
}
bool CLayerScope::GetFunction(int layer, int channel, ELayerFunction& function) const
{
    return CBaseScope::GetFunction(layer, channel, function);
}
boost::shared_ptr<CMask> CLayerScope::CreateTranspMask(int layer, unsigned char value)
{
    return CBaseScope::CreateTranspMask(layer, value);
}
boost::shared_ptr<CMask> CLayerScope::GetTranspMask(int layer) { return CBaseScope::GetTranspMask(layer); }
boost::shared_ptr<CMask> CLayerScope::GetTranspMask(int layer) const { return CBaseScope::GetTranspMask(layer); }
bool CLayerScope::DelTranspMask(int layer) { return CBaseScope::DelTranspMask(layer); }

boost::shared_ptr<CPixFrame> CLayerScope::GetPixFrame(int layer, geo::CiVecN const& index)
{
    return CBaseScope::GetPixFrame(layer, index);
}
boost::shared_ptr<CPixFrame> CLayerScope::GetPixFrame(int layer, geo::CiVecN const& index) const
{
    return CBaseScope::GetPixFrame(layer, index);
}
boost::shared_ptr<mem::CDataFrame> CLayerScope::GetDataFrame(int layer, int n)
{
    return CBaseScope::GetDataFrame(layer, n);
}
boost::shared_ptr<mem::CDataFrame> CLayerScope::GetDataFrame(int layer, int n) const
{
    return CBaseScope::GetDataFrame(layer, n);
}
boost::shared_ptr<CVecGraph> CLayerScope::GetVecFrame(int layer) { return CBaseScope::GetVecFrame(layer); }
boost::shared_ptr<CVecGraph> CLayerScope::GetVecFrame(int layer) const { return CBaseScope::GetVecFrame(layer); }
bool CLayerScope::SetVecFrame(int layer, boost::shared_ptr<CVecGraph> graphic)
{
    return CBaseScope::SetVecFrame(layer, graphic);
}
bool CLayerScope::ActivateFrame(int layer, geo::CiVecN const& index) { return CBaseScope::ActivateFrame(layer, index); }
bool CLayerScope::GetActiveFrame(int layer, geo::CiVecN& index) const
{
    return CBaseScope::GetActiveFrame(layer, index);
}

bool CLayerScope::RenderComplete(boost::shared_ptr<CPixFrame> frame, geo::CiRect const& pixelRect,
                                 geo::CdRect const& rect, bool unused, EZoomMode zoom) const
{
    return CBaseScope::RenderComplete(frame, pixelRect, rect, unused, zoom);
}
bool CLayerScope::RenderLowerStack(int layer, boost::shared_ptr<CPixFrame> frame, geo::CiRect const& pixelRect,
                                   geo::CdRect const& rect, EZoomMode zoom) const
{
    return CBaseScope::RenderLowerStack(layer, frame, pixelRect, rect, zoom);
}
bool CLayerScope::RenderHigherStack(int layer, boost::shared_ptr<CPixFrame> lower,
                                    boost::shared_ptr<CPixFrame> higher, geo::CiRect const& pixelRect,
                                    geo::CdRect const& rect, bool unused, EZoomMode zoom) const
{
    return CBaseScope::RenderHigherStack(layer, lower, higher, pixelRect, rect, unused, zoom);
}
bool CLayerScope::RenderSingleLayer(int layer, boost::shared_ptr<CPixFrame> frame, bool unused, EZoomMode zoom) const
{
    return CBaseScope::RenderSingleLayer(layer, frame, unused, zoom);
}

CSelectionScope* CLayerScope::GetSelection() const { return CBaseScope::GetSelection(); }

bool CLayerScope::ChainLayer(int layer) { return CBaseScope::ChainLayer(layer); }
bool CLayerScope::UnchainLayer(int layer) { return CBaseScope::UnchainLayer(layer); }
bool CLayerScope::MoveChainedLayers(geo::CdVec2 const& offset) { return CBaseScope::MoveChainedLayers(offset); }
bool CLayerScope::IsChained(int layer, bool& chained) { return CBaseScope::IsChained(layer, chained); }
bool CLayerScope::IsLayerProtected(int layer, bool& isProtected) const
{
    return CBaseScope::IsLayerProtected(layer, isProtected);
}
bool CLayerScope::SetLayerProtection(int layer, bool protect) { return CBaseScope::SetLayerProtection(layer, protect); }

}  // namespace img

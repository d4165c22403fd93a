// The layer scope: the public face of a document's whole layer tree and its
// renderer, and CSurface, a base for scopes an application builds itself.
#pragma once

#include "imgscope/scope/base_scope.h"
#include "imgscope/library/export.h"

#include <set>
#include <vector>

namespace img {

// Works on any layer, group or entry of the document: each member takes the
// layer ID, group ID or plane ID the scope core's operation of the same
// name takes, passes every argument on unchanged and returns its result.
// The scope owns no layer; made by CreateLayerScope, owned by the caller.
class IMGSCOPE_API CLayerScope : public CBaseScope {
public:
    ~CLayerScope() override;

    // Layers and groups.
    bool GetLayerName(int layer, CString& name) const;
    bool SetLayerName(int layer, CString const& name);
    bool InsertLayer(int& layer, boost::shared_ptr<mem::CDataFrame> frame, CString const& name, int position,
                     int flags, int options);
    bool InsertLayerMasked(int& layer, boost::shared_ptr<mem::CDataFrame> frame, CString const& name, int position,
                           int flags, int options);
    bool InsertLayer(int& layer, boost::shared_ptr<CVecGraph> graphic, CString const& name, int position, int flags,
                     int options);
    bool DelLayer(int layer);
    bool HideLayer(int layer);
    bool UnhideLayer(int layer, int position, int unused);
    bool IsLayerHidden(int layer, bool& hidden) const;
    bool MoveLayer(int layer, int target, EGroupAffinity affinity);
    bool AppendToGroup(int layer, int group);
    bool PrependToGroup(int layer, int group);
    bool SetLayerVisible(int layer, bool visible);
    bool IsLayerVisible(int layer, bool& visible) const;
    bool GetLayerFlags(int layer, int& flags) const;
    bool SetSelectedLayer(int layer, bool maskActive);
    bool GetSelectedLayer(ELayerType type, int& layer, bool& maskActive) const;
    bool GetLayers(std::vector<int>& layers, int mask) const;
    bool GetGroups(std::vector<int>& units) const;
    bool GetGroupMembers(int unit, std::vector<int>& layers) const;
    bool GetGroupOf(int layer, int& group) const;
    bool IsOutsideGroup(int plane, bool& result) const;
    int CreateGroup(CString const& name, int before, int groupFlags);
    bool GetGroupName(int group, CString& name) const;
    bool SetGroupName(int group, CString const& name);
    bool SetGroupSingular(int group, bool singular);
    bool LockGroup(int group, bool lock);
    bool IsGroupLocked(int group, bool& locked) const;
    // The scope core's IsGroupSingular under the name viewers know it by.
    bool IsGroupSinglular(int group, bool& singular) const;

    // Placement and calibration.
    bool GetCanvasPlacement(int layer, geo::CdVec2& origin, geo::CdVec2& scale) const;
    bool SetCanvasPlacement(int layer, geo::CdVec2 const& origin, geo::CdVec2 const& scale);
    bool GetPixelCoordsRect(int layer, utl::TUnitValue<geo::CdRect>& rect) const;
    bool SetPixelCoordsRect(int layer, utl::TUnitValue<geo::CdRect> const& rect);

    // Frame and channel selection, channels and display. GetFrameSelection,
    // ResetFrameSelection, GetSelectedChannels, SelectChannel,
    // UnselectChannel and IsChannelSelected take a plane ID.
    bool SelectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to);
    bool UnselectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to);
    bool SelectFrame(int layer, geo::CiVecN const& index);
    bool UnselectFrame(int layer, geo::CiVecN const& index);
    bool ResetFrameSelection(int plane);
    bool GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const;
    bool SetChannelVisible(int layer, int channel, bool visible);
    bool IsChannelVisible(int layer, int channel, bool& visible) const;
    int GetFirstChannel(int layer) const;
    int GetNextChannel(int layer, int channel) const;
    std::set<int> GetChannelIDs(int layer);
    bool SelectChannel(int plane, int channel);
    bool UnselectChannel(int plane, int channel);
    bool GetSelectedChannels(int plane, std::set<int>& channels) const;
    bool IsChannelSelected(int plane, int channel, bool& selected) const;
    bool SetOpacity(int layer, double const& opacity);
    bool GetOpacity(int layer, double& opacity) const;
    bool SetFunction(int layer, int channel, ELayerFunction function);
    bool GetFunction(int layer, int channel, ELayerFunction& function) const;
    boost::shared_ptr<CMask> CreateTranspMask(int layer, unsigned char value);
    boost::shared_ptr<CMask> GetTranspMask(int layer);
    boost::shared_ptr<CMask> GetTranspMask(int layer) const;
    bool DelTranspMask(int layer);

    // Frames.
    boost::shared_ptr<CPixFrame> GetPixFrame(int layer, geo::CiVecN const& index);
    boost::shared_ptr<CPixFrame> GetPixFrame(int layer, geo::CiVecN const& index) const;
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int layer, int n);
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int layer, int n) const;
    boost::shared_ptr<CVecGraph> GetVecFrame(int layer);
    boost::shared_ptr<CVecGraph> GetVecFrame(int layer) const;
    bool SetVecFrame(int layer, boost::shared_ptr<CVecGraph> graphic);
    bool ActivateFrame(int layer, geo::CiVecN const& index);
    bool GetActiveFrame(int layer, geo::CiVecN& index) const;

    // Rendering into a caller's RGB8 pixel frame: the document's shown
    // layers in tree order, or those below `layer`. The bool and zoom-mode
    // arguments change nothing. RenderHigherStack and RenderSingleLayer are
    // always false and draw nothing.
    bool RenderComplete(boost::shared_ptr<CPixFrame> frame, geo::CiRect const& pixelRect, geo::CdRect const& rect,
                        bool unused, EZoomMode zoom) const;
    bool RenderLowerStack(int layer, boost::shared_ptr<CPixFrame> frame, geo::CiRect const& pixelRect,
                          geo::CdRect const& rect, EZoomMode zoom) const;
    bool RenderHigherStack(int layer, boost::shared_ptr<CPixFrame> lower, boost::shared_ptr<CPixFrame> higher,
                           geo::CiRect const& pixelRect, geo::CdRect const& rect, bool unused, EZoomMode zoom) const;
    bool RenderSingleLayer(int layer, boost::shared_ptr<CPixFrame> frame, bool unused, EZoomMode zoom) const;

    // A new selection scope over the document, owned by the caller; null
    // when it cannot be made.
    CSelectionScope* GetSelection() const;

    // Chaining and protection are not supported: always false, and
    // out-parameters keep their values.
    bool ChainLayer(int layer);
    bool UnchainLayer(int layer);
    bool MoveChainedLayers(geo::CdVec2 const& offset);
    bool IsChained(int layer, bool& chained);
    bool IsLayerProtected(int layer, bool& isProtected) const;
    bool SetLayerProtection(int layer, bool protect);

private:
    friend struct tLayerScopeFactory;
    // The int and the two vectors have no effect: the scope owns no layer,
    // so it looks nothing up and cannot fail for an identifier.
    CLayerScope(CImg img, int, geo::CiVecN const&, geo::CiVecN const&);
};

// A base for scopes that an application derives itself (a drawing surface
// of a viewer, say). The library never makes one.
class IMGSCOPE_API CSurface : public CBaseScope {
public:
    ~CSurface() override;

protected:
    explicit CSurface(CImg img);
};

// A layer scope over `img` (the handle is copied: the scope works on the
// same document). Null when it cannot be made; the caller owns it.
IMGSCOPE_API CLayerScope* CreateLayerScope(CImg img);
// True when a layer scope can be made over `img`.
IMGSCOPE_API bool TestLayerScope(CImg img);

}  // namespace img

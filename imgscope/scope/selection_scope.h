// The selection scope: a scope bound to whichever layer is selected in its
// layer tree, looked up anew at every call.
#pragma once

#include "imgscope/scope/base_scope.h"
#include "imgscope/library/export.h"

#include <set>

namespace img {

// Works on the selected image layer: the layer behind the tree's active
// operation layer for layer type 0. Each member looks the selection up
// first, so one object follows the selection as it changes; with nothing
// selected a member returns its failure result (false, or an empty
// pointer) and touches nothing. Owned by whoever made it.
class IMGSCOPE_API CSelectionScope : public CBaseScope {
public:
    ~CSelectionScope() override;

    // The scope core's GetSelectedLayer, for any layer type.
    bool GetSelectedLayer(ELayerType type, int& layer, bool& maskActive) const;

    bool InvalidateRect(geo::CiRect const& rect);
    boost::shared_ptr<CPixFrame> GetPixFrame(geo::CiVecN const& index);
    boost::shared_ptr<CPixFrame> GetPixFrame(geo::CiVecN const& index) const;
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int n);
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int n) const;
    // Data frame `n` of the selected layer takes the contents of `frame`
    // (exchanged, or copied when extent or type differ).
    bool SwapDataFrame(boost::shared_ptr<mem::CDataFrame> frame, int n);
    boost::shared_ptr<CMask> GetTranspMask();
    boost::shared_ptr<CMask> GetTranspMask() const;
    // Always empty: selection masks are not supported.
    boost::shared_ptr<CMask> GetSelectionMask() const;

    // These take a plane ID, any plane's, and do not look at the selection.
    bool GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const;
    bool GetSelectedChannels(int plane, std::set<int>& channels) const;
    bool IsChannelSelected(int plane, int channel, bool& selected) const;

protected:
    // Neither the int nor the two vectors have any effect; the constructor
    // looks nothing up and so cannot fail for an identifier.
    CSelectionScope(CImg img, int, geo::CiVecN const&, geo::CiVecN const&);

    // The selected layer of `type`, or -1.
    int GetSelectedLayer(ELayerType type) const;

private:
    friend class CBaseScope;
    friend struct tSelectionScopeFactory;
};

// A selection scope over `img` (the handle is copied: the scope works on
// the same document). Null when it cannot be made; the caller owns it.
IMGSCOPE_API CSelectionScope* CreateSelectionScope(CImg& img);
IMGSCOPE_API CSelectionScope const* CreateSelectionScope(CImg const& img);

}  // namespace img

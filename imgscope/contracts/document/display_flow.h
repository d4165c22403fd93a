// The display process flow: a document's layer tree with the display state
// of each entry, the canvas, and the compositor that renders layers.
#pragma once

#include "imgscope/contracts/document/document_types.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/foundation/colors.h"
#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/index.h"
#include "imgscope/contracts/foundation/units.h"
#include "imgscope/contracts/foundation/value.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <functional>
#include <set>
#include <vector>

namespace img {

class CMask;
class CPixFrame;

namespace detail {
struct tFlow;
}

// The layer tree of a document. Entries are numbered by plane IDs, which
// are drawn apart from layer (stack) IDs. The root holds units (groups and
// layer entries); groups hold layer entries and live only under the root.
// Positions: -2 is the start of the root's list, -3 its end.
//
// CDisplProcessFlow(img, false) is a view onto the document's own tree:
// every view of one document sees and changes the same entries, display
// state and canvas. CDisplProcessFlow(img, true) is an independent copy. A
// default-made flow is empty, belongs to no document and refuses inserts.
// Copies of a flow object share what it refers to.
//
// Threads: calls take the lock of the document (or of the independent
// copy), as CImg's do. PlayToPixFrame plans its layers under that lock and
// then composes rows without it, from views that keep the pixels as they
// were when it began, split over the library's render threads
// (IMGSCOPE_THREADS, default the number of cores; 1 renders on the calling
// thread only); the output does not depend on the thread count.
class IMGSCOPE_API CDisplProcessFlow {
public:
    CDisplProcessFlow();
    CDisplProcessFlow(CImg const& document, bool independentCopy);
    CDisplProcessFlow(CDisplProcessFlow const& other);
    CDisplProcessFlow& operator=(CDisplProcessFlow const& other);
    ~CDisplProcessFlow();

    // Tree.
    int RootId() const;
    bool Exists(int plane) const;
    bool IsGroup(int plane) const;
    // The layer ID of a layer entry, or -1 for groups and unknown entries.
    int GetStackId(int plane) const;
    // The stack of a layer entry; an invalid stack otherwise.
    CStack GetStack(int plane) const;
    // The entry of a layer, or -1 when the layer has none.
    int FindLayer(int layerId) const;
    bool IsVectorGraficLayer(int plane) const;
    // The parent of an entry (the root for root units), -1 for unknown
    // entries and the root; the second form also gives the position.
    int GetParentGroup(int plane) const;
    int GetParentGroup(int plane, int& position) const;
    int GetOpUnitCount(int parent) const;
    int GetOpUnit(int parent, int position) const;  // -1 outside
    // Position of an entry within its parent's list, or -1.
    int GetZOrder(int plane) const;
    // Inserts an entry for layer `layerId` into `parent` (-1: the root) at
    // `position` (-2, -3 or an index, clamped). `frame` is the initial active
    // frame (empty: the stack's first); `channel` -1 shows every channel.
    // Returns the new plane ID, or -1 when the layer does not exist in the
    // document or already has an entry.
    int InsertLayer(int parent, int position, int layerId, utl::CIndexN const& frame, int channel);
    // A new group under the root (the only parent groups may have).
    int InsertGroup(int parent, int position);
    // Moves an entry; a group only within the root, a layer entry into the
    // root or a group. The position counts in the list as it is before the
    // move. False for unknown entries or an impossible target.
    bool MoveTo(int plane, int parent, int position);
    // Removes an entry; a group goes with the entries it holds. The stacks
    // stay in the document.
    bool Remove(int plane);

    // Visibility of an entry and of a layer's channels; the hidden flag.
    bool SetVisibility(int plane, bool visible);
    bool IsVisible(int plane) const;
    bool SetVisibility(int plane, int channel, bool visible);
    bool IsVisible(int plane, int channel) const;
    bool SetHidden(int plane, bool hidden);
    bool IsHidden(int plane) const;

    // Group state.
    bool GetGroupName(int group, CString& name) const;
    bool SetGroupName(int group, CString const& name);
    bool LockGroup(int group, bool lock);
    bool IsGroupLocked(int group, bool& locked) const;
    bool SetGroupSingular(int group, bool singular);
    bool IsGroupSingular(int group, bool& singular) const;

    // Display LUTs per channel of a layer entry.
    bool GetLUT(int plane, int channel, std::vector<utl::CBGR8>& lut) const;
    bool SetLUT(int plane, int channel, std::vector<utl::CBGR8> const& lut);
    bool DelLUT(int plane, int channel);
    // 0: ignore the display LUTs; non-zero: use them.
    bool UseLUT(int plane, int value);
    // The value UseLUT stored (1 until it is called); false for groups and
    // unknown entries.
    bool GetUseLUT(int plane, int& value) const;
    bool GetGamma(int plane, int channel, double& gamma) const;
    bool SetGamma(int plane, int channel, double gamma);
    bool SetFunction(int plane, int channel, ELayerFunction function);
    bool GetFunction(int plane, int channel, ELayerFunction& function) const;
    bool GetDisplayFilter(int plane, boost::shared_ptr<CDisplayFilter>& filter) const;
    bool SetDisplayFilter(int plane, boost::shared_ptr<CDisplayFilter> filter);
    bool ResetDisplayFilter(int plane);

    // Transparency mask of a layer entry, over the layer's boundary.
    boost::shared_ptr<CMask> CreateTransparencyMask(int plane, unsigned char value);
    boost::shared_ptr<CMask> GetTransparencyMask(int plane) const;
    bool DeleteTransparencyMask(int plane);
    bool SetTransparencyMaskActive(int plane, bool active);
    bool IsTransparencyMaskActive(int plane) const;

    // Per-entry properties; `channel` -1 names the entry itself.
    bool SetProperty(int plane, int id, mem::CBin const& value);
    bool SetProperty(int plane, int channel, int id, mem::CBin const& value);
    bool PropertyExists(int plane, int id) const;
    bool PropertyExists(int plane, int channel, int id) const;
    bool GetProperty(int plane, int id, mem::CBin& value) const;
    bool GetProperty(int plane, int channel, int id, mem::CBin& value) const;
    // Replaces `props` by the entry's set (`channel` -1) or a channel's; false
    // where GetProperty would be, `props` then untouched.
    bool GetProperties(int plane, int channel, utl::CPropSet& props) const;

    // Selections of a layer entry.
    bool GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const;
    bool SetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess> const& frames);
    std::set<int> GetSelectedChannels(int plane) const;
    bool SetSelectedChannels(int plane, std::set<int> const& channels);
    // The channels of the layer (`visibleOnly`: only those shown).
    std::set<int> GetChannelList(int plane, bool visibleOnly) const;
    bool SetActiveFrameIndex(utl::CIndexN const& frame, int plane);
    utl::CIndexN GetActiveFrameIndex(int plane) const;
    bool SetActiveStackDim(int plane, int dim);
    int GetActiveStackDim(int plane) const;

    // The selected (active operation) layer per layer type.
    bool SetActiveOpLayer(int plane);
    int GetActiveOpLayer(ELayerType type) const;  // plane ID or -1
    int GetActiveStackID(ELayerType type) const;  // layer ID or -1

    // Canvas: its pixel rectangle, calibration (origin, scale, units per
    // axis), real-world rectangle, canvas rectangle and colours.
    geo::CiRect GetImagePlaneRect() const;
    // An inverted rectangle is ignored (never flipped).
    void SetImagePlaneRect(geo::CiRect const& rect);
    // False while the canvas is uncalibrated; the outputs are then untouched.
    bool GetImagePlaneCalibration(geo::CdVec2& origin, geo::CdVec2& scale, utl::CUnit2& units) const;
    void SetImagePlaneCalibration(geo::CdVec2 const& origin, geo::CdVec2 const& scale, utl::CUnit2 const& units);
    bool GetImagePlaneRWC(utl::TUnitValue<geo::CdRect>& rect) const;
    void SetImagePlaneRWC(utl::TUnitValue<geo::CdRect> const& rect);
    bool GetCanvasRectangle(geo::CdRect& rect) const;
    bool SetCanvasRectangle(geo::CdRect const& rect);
    // Background, then border colour.
    void GetCanvasColors(CCanvasColor& background, CCanvasColor& border) const;
    void SetCanvasColors(CCanvasColor const& background, CCanvasColor const& border);
    // Where a layer lies on the canvas, in calibrated canvas units: the
    // position of its pixel (0, 0) and the extent of one of its pixels.
    bool GetLayerCanvasPlacement(int plane, geo::CdVec2& origin, geo::CdVec2& scale) const;
    bool SetLayerCanvasPlacement(int plane, geo::CdVec2 const& origin, geo::CdVec2 const& scale);
    // Fits the canvas around the calibrated extents of the given layers.
    bool OptimizeCanvasFromCalibration(std::vector<int> const& layerIds);

    // Composes `layerIds` (first = bottom) into `target`, an RGB8 pixel
    // frame: the target's `pixelRect` shows `canvasRect` of the canvas.
    bool PlayToPixFrame(boost::shared_ptr<CPixFrame> target, geo::CiRect const& pixelRect,
                        geo::CdRect const& canvasRect, int flags, std::vector<int> const& layerIds,
                        tRenderHints const& hints) const;

    // Change messages of the tree (see CImg::Subscribe, CImg::MuteMessaging).
    int Subscribe(std::function<void(EChange)> callback) const;
    void Unsubscribe(int subscription) const;
    boost::shared_ptr<void> MuteMessaging() const;

private:
    boost::shared_ptr<detail::tFlow> m_flow;
};

}  // namespace img

// Records behind CDisplProcessFlow: the layer tree with the display state of
// each entry, the canvas, and the record a flow handle points at. Not
// installed.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/document_internal.h"
#include "imgscope/contracts/document/document_types.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/foundation/colors.h"
#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/index.h"
#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/foundation/units.h"
#include "imgscope/contracts/platform/string.h"

#include <boost/shared_ptr.hpp>

#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace img {

class CMask;

namespace detail {

// Plane IDs start far above the stack IDs a document hands out (1, 2, …),
// so a layer ID passed where a plane ID belongs finds nothing instead of
// some unrelated entry. They are never reused within a tree.
constexpr int kRootPlaneId = 1000000;

// Per-plane property holding the entry's opacity (a double, 0..1).
constexpr int kOpacityProperty = 10009;
// Per-plane property holding the frame the entry shows (a utl::CIndexN).
constexpr int kActiveFrameProperty = 10014;

// Display state of one channel of a layer entry.
struct tChannelDisplay {
    bool visible = true;
    bool hasLut = false;
    std::vector<utl::CBGR8> lut;
    ELayerFunction function = eFunctionNormal;
    utl::CPropSet properties;
};

// One entry of the tree: the root, a group or a layer entry.
struct tEntry {
    int id = -1;
    int parent = -1;             // -1 for the root
    bool isGroup = false;        // groups and the root hold children
    std::vector<int> children;   // in order; first = bottom
    int layerId = -1;            // layer entries only

    bool visible = true;
    bool hidden = false;

    // Groups.
    CString name;
    bool locked = false;
    bool singular = false;

    // Layer entries.
    std::map<int, tChannelDisplay> channels;  // made on first write
    int useLut = 1;  // display LUTs are used unless UseLUT(plane, 0)
    boost::shared_ptr<CDisplayFilter> filter;
    boost::shared_ptr<CMask> mask;
    bool maskActive = false;
    std::set<geo::CiVecN, geo::tiVecNLess> frameSelection;
    std::set<int> selectedChannels;
    bool hasActiveFrame = false;
    utl::CIndexN activeFrame;
    int activeStackDim = -1;
    bool hasPlacement = false;
    geo::CdVec2 placementOrigin;
    geo::CdVec2 placementScale{1.0, 1.0};

    // Properties of the entry itself (channel -1); opacity and the active
    // frame live here too.
    utl::CPropSet properties;
};

// The canvas the tree is composed on.
struct tCanvas {
    geo::CiRect pixelRect;
    bool calibrated = false;
    geo::CdVec2 origin;
    geo::CdVec2 scale{1.0, 1.0};
    utl::CUnit2 units{utl::c_pixel, utl::c_pixel};
    bool hasRectangle = false;
    geo::CdRect rectangle;
    CCanvasColor background;  // black
    CCanvasColor border;
};

// A point or rectangle of finite numbers, and a scale that can map back to
// pixels: checks of canvas and placement values shared by the flow and
// the compositor.
inline bool IsFinite(geo::CdVec2 const& v) { return std::isfinite(v.x) && std::isfinite(v.y); }
inline bool IsFinite(geo::CdRect const& r)
{
    return std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.right) && std::isfinite(r.bottom);
}
inline bool IsUsableScale(geo::CdVec2 const& s) { return IsFinite(s) && s.x != 0.0 && s.y != 0.0; }

// A layer tree with its display state, the selected layer per layer type,
// the canvas and the subscribers of its change messages. A document owns
// one (tDocument::tree); independent flows own copies.
struct tFlowState {
    tFlowState();

    // A deep copy with a notifier and a lock of its own and no subscribers;
    // masks are copied too, display filters are shared (they are the
    // caller's objects). The caller holds this tree's lock.
    boost::shared_ptr<tFlowState> Clone() const;

    tEntry* Find(int plane);
    tEntry const* Find(int plane) const;
    // A layer entry, or null for groups, the root and unknown planes.
    tEntry* FindLayerEntry(int plane);
    tEntry const* FindLayerEntry(int plane) const;
    int PlaneOf(int layerId) const;  // -1 without entry

    // Takes `plane` and everything below it out of the tree.
    void Erase(int plane);

    int rootId = kRootPlaneId;
    int nextPlaneId = kRootPlaneId + 1;
    std::map<int, tEntry> entries;       // by plane ID, root included
    std::map<int, int> planeOfLayer;     // layer ID → plane ID
    std::map<int, int> activeOpLayer;    // ELayerType → plane ID
    tCanvas canvas;
    boost::shared_ptr<CNotifier> messages;
    // The lock every call on the tree takes: the document's own for its
    // tree (one lock for the document and the tree it shows), else ownLock.
    CRecordLock* lock = nullptr;
    boost::shared_ptr<CRecordLock> ownLock;
};

// The record behind a CDisplProcessFlow handle: the document it shows (none
// for a default-made flow) and the tree it views (the document's own) or
// owns (an independent copy).
struct tFlow {
    std::optional<CImg> document;
    boost::shared_ptr<tFlowState> state;
};

// The channels of a stack in FirstChannel/NextChannel order; empty for an
// invalid stack.
std::vector<int> ChannelsOf(CStack const& stack);

}  // namespace detail
}  // namespace img

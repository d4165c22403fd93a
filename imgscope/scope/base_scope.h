// The scope base: binds a scope to one image document and its own layer
// tree, and holds every layer-addressed operation the typed scopes publish.
#pragma once

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/document_types.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/foundation/colors.h"
#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/phys_dim.h"
#include "imgscope/contracts/foundation/pixel_info.h"
#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/foundation/units.h"
#include "imgscope/contracts/foundation/value.h"
#include "imgscope/contracts/platform/exception.h"
#include "imgscope/contracts/platform/string.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <set>
#include <vector>

namespace mem {
class CDataFrame;
}

namespace img {

class CMask;
class CPixFrame;
class CIntensityCalibration;
class CSelectionScope;
class CScopeData;

// Thrown, by pointer and allocated with new, by a typed scope constructor
// that cannot find or make its layer. The catcher releases it with Delete().
class IMGSCOPE_API CBadScopeException : public CException {
public:
    CBadScopeException() = default;
    ~CBadScopeException() override;
};

// Base of every scope. Layer-addressed operations take a layer ID (a stack
// ID of the document), a plane ID (an entry of the scope's layer tree) or a
// group ID first. They report failure by their result (false, -1, an empty
// pointer or set) and write out-parameters only on success; none throws for
// an identifier that does not resolve. Before touching the document or the
// tree, every operation initialises the document once per scope, on first
// use, and rebuilds the scope's tree from it.
class IMGSCOPE_API CBaseScope {
public:
    virtual ~CBaseScope();

    CBaseScope(CBaseScope const&) = delete;
    CBaseScope& operator=(CBaseScope const&) = delete;

    // The scope's document handle (after the one-time preparation).
    CImg& GetCollection();
    CImg const& GetCollection() const;
    // Does not adopt `flow`: calls RendererChanged() and returns false.
    bool SetToRenderer2D(CDisplProcessFlow flow);
    // A new, empty flow; the scope's own flow is not copied.
    CDisplProcessFlow CopyRenderer2D() const;
    // Tokens that mute the document's, or the layer tree's, change messages
    // while any copy lives. The scope keeps no copy.
    boost::shared_ptr<void> MuteImageMessages();
    boost::shared_ptr<void> MuteRenderMessages();

    // Document properties.
    bool SetProperty(int id, mem::CBin const& value);
    bool PropertyExists(int id) const;
    bool GetProperties(utl::CPropSet& props) const;
    // Writes each property of `props` in ID order; stops at the first
    // failing write (earlier writes stay). True for an empty set.
    bool SetProperties(utl::CPropSet const& props);

    // Blobs of a layer.
    bool SetBlob(int layer, int blob, mem::CBin const& value);
    bool GetBlob(int layer, int blob, mem::CBin& value) const;
    // True once the layer resolves, whatever the deletion reports.
    bool DelBlob(int layer, int blob);
    bool HasBlob(int layer, int blob) const;

    // Canvas of the scope's layer tree.
    bool GetCanvasPixelRect(geo::CiRect& rect) const;
    // False, canvas unchanged, for an inverted rectangle.
    bool SetCanvasPixelRect(geo::CiRect const& rect);
    // False while the canvas is uncalibrated. `origin` is handed to the tree
    // itself and may change even then.
    bool GetCanvasCoords(utl::TUnitValue<geo::CdVec2>& scale, geo::CdVec2& origin) const;
    bool SetCanvasCoords(utl::TUnitValue<geo::CdVec2> const& scale, geo::CdVec2 const& origin);
    bool GetCanvasCoordsRect(utl::TUnitValue<geo::CdRect>& rect) const;
    bool SetCanvasCoordsRect(utl::TUnitValue<geo::CdRect> const& rect);
    bool GetCanvasRectangle(geo::CdRect& rect) const;
    bool SetCanvasRectangle(geo::CdRect const& rect);
    bool GetCanvasColors(CCanvasColor& background, CCanvasColor& border) const;
    bool SetCanvasColors(CCanvasColor const& background, CCanvasColor const& border);
    bool OptimizeCanvas(std::vector<int> const& layerIds);
    // The layers whose flags lie within `flagMask`, in tree order.
    bool OptimizeCanvas(int flagMask);
    // Canvas pixel ↔ calibrated canvas coordinates. Canvas2Pixel lets an
    // exception of the unit conversion (std::invalid_argument) reach the
    // caller. Divisions are not guarded.
    bool Pixel2Canvas(geo::CdVec2 const& pixel, utl::TUnitValue<geo::CdVec2>& canvas) const;
    bool Pixel2Canvas(geo::CdRect const& pixel, utl::TUnitValue<geo::CdRect>& canvas) const;
    bool Canvas2Pixel(utl::TUnitValue<geo::CdVec2> const& canvas, geo::CdVec2& pixel) const;
    bool Canvas2Pixel(utl::TUnitValue<geo::CdRect> const& canvas, geo::CdRect& pixel) const;
    // The image's calibration: the canvas's, else the first calibrated layer's.
    bool GetCalibration(utl::TUnitValue<geo::CdVec2>& scale) const;
    bool GetCalibration(utl::TUnitValue<double>& x, utl::TUnitValue<double>& y) const;
    // Recalibrates the canvas and rescales every layer and placement by the
    // same ratio. Always true.
    bool SetCalibration(utl::TUnitValue<geo::CdVec2> const& scale);
    bool SetCalibration(geo::CdVec2 const& scale, utl::CUnit2 const& units);

    // Base stubs: nothing to do outside the scopes that support them.
    void DelSelectionMask();
    boost::shared_ptr<CMask> CreateSelectionMask();
    boost::shared_ptr<CMask> GetSelectionMask();
    boost::shared_ptr<CMask> GetSelectionMask() const;

protected:
    // Does not initialise the document; the first use does.
    explicit CBaseScope(CImg img);

    // The base returns an empty pointer.
    virtual boost::shared_ptr<CPixFrame> AppendFrame(geo::CiVecN const& index);
    // The base does nothing.
    virtual void RendererChanged();

    // Works on `img` from now on, with the tree the scope already has.
    void Assign(CImg img);
    // Base stub, true.
    bool ResetRenderer2D();

    // Resolution.
    bool HasLayer(int layer) const;
    int FirstLayerID() const;
    int FindPlaneID(int layer) const;
    bool IsPlaneExisting(int plane) const;
    // True when the layer resolves and `index` has exactly as many
    // components as its stack has dimensions.
    bool TestOrder(int layer, geo::CiVecN const& index) const;
    // Ties `layer` to the stack it names now: should the ID later name
    // another stack (a document gives ID 1 out again), this scope's calls
    // with that ID find no layer instead of reaching the new one. A scope
    // of one layer calls it once it has its layer; -1 unties.
    void BindLayer(int layer);
    // A new selection scope over the document, owned by the caller; null
    // when it cannot be made.
    CSelectionScope* GetSelection() const;

    // Stack and frame properties. An empty frame index means the stack
    // level for Set and Exists, and is passed on for GetProperties. The
    // address form: empty = document, (layer) = stack, (layer, index…) = frame.
    bool SetProperty(int layer, int id, mem::CBin const& value);
    bool PropertyExists(int layer, int id) const;
    bool GetProperties(int layer, utl::CPropSet& props) const;
    bool SetProperties(int layer, utl::CPropSet const& props);
    bool SetProperty(int layer, geo::CiVecN const& index, int id, mem::CBin const& value);
    bool PropertyExists(int layer, geo::CiVecN const& index, int id) const;
    bool GetProperties(int layer, geo::CiVecN const& index, utl::CPropSet& props) const;
    bool SetProperties(int layer, geo::CiVecN const& index, utl::CPropSet const& props);
    bool SetProperty(geo::CiVecN const& address, int id, mem::CBin const& value);
    bool PropertyExists(geo::CiVecN const& address, int id) const;
    bool SetProperties(geo::CiVecN const& address, utl::CPropSet const& props);
    bool SetGroupProperty(int group, int id, mem::CBin const& value);
    bool GroupPropertyExists(int group, int id) const;
    // Device properties (property 10048): a copy of `props` is stored; on
    // reading, the frame's set is merged over the stack's.
    bool SetDeviceProperties(int layer, geo::CiVecN const& index, utl::CPropSet const& props);
    bool GetDeviceProperties(int layer, geo::CiVecN const& index, utl::CPropSet& props) const;
    // Base stubs, false.
    bool FindProperty(int layer, geo::CiVecN const& index, int id, geo::CiVecN& found) const;
    bool FindProperty(geo::CiVecN const& address, int id, geo::CiVecN& found) const;
    bool FindProperty(int layer, int id, geo::CiVecN& found) const;

    // Frames, data frames and samples.
    bool AddPixFrame(int layer, boost::shared_ptr<CPixFrame> frame, geo::CiVecN const& index);
    bool AddPixFrame(int layer, boost::shared_ptr<CPixFrame> frame, geo::CiVecN const& index,
                     utl::CPropSet const& props);
    boost::shared_ptr<CPixFrame> GetPixFrame(int layer, geo::CiVecN const& index);
    boost::shared_ptr<CPixFrame> GetPixFrame(int layer, geo::CiVecN const& index) const;
    bool SetVecFrame(int layer, boost::shared_ptr<CVecGraph> graphic);
    boost::shared_ptr<CVecGraph> GetVecFrame(int layer);
    boost::shared_ptr<CVecGraph> GetVecFrame(int layer) const;
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int layer, int n);
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int layer, int n) const;
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int layer);
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int layer) const;
    // Exchanges contents when dimensions, extent and element type agree,
    // copies `frame` into the stack's data frame otherwise; the stack keeps
    // its data-frame object either way.
    bool SwapDataFrame(int layer, int n, boost::shared_ptr<mem::CDataFrame> frame);
    bool SwapDataFrame(int layer, boost::shared_ptr<mem::CDataFrame> frame);
    int AddSample(int layer, boost::shared_ptr<mem::CDataFrame> frame, ESampleFlag flag);
    bool RemoveSample(int layer, int sample);
    int GetFirstSample(int layer) const;
    int GetNextSample(int layer, int sample) const;
    bool ActivateFrame(int layer, geo::CiVecN const& index);
    bool GetActiveFrame(int layer, geo::CiVecN& index) const;
    bool ActivateDimension(int layer, int dim);
    bool GetActiveDimension(int layer, int& dim) const;
    bool GetLayerOrder(int layer, int& order) const;
    bool GetModificationCount(int layer, unsigned int& count) const;
    bool InvalidateRect(int layer, geo::CiRect const& rect);
    bool GetBoundary(int layer, geo::CiRect& rect) const;
    bool GetPixelInfo(int layer, CPixelInfo& info) const;

    // Layers and groups.
    bool GetLayerName(int layer, CString& name) const;
    bool SetLayerName(int layer, CString const& name);
    bool GetGroupName(int group, CString& name) const;
    bool SetGroupName(int group, CString const& name);
    bool SetGroupVisible(int group, bool visible);
    bool IsGroupVisible(int group, bool& visible) const;
    bool SetGroupSingular(int group, bool singular);
    bool IsGroupSingular(int group, bool& singular) const;
    bool LockGroup(int group, bool lock);
    bool IsGroupLocked(int group, bool& locked) const;
    bool IsOutsideGroup(int plane, bool& result) const;
    bool SetLayerVisible(int layer, bool visible);
    bool IsLayerVisible(int layer, bool& visible) const;
    // 0x001 visible, 0x002 no entry (alone), 0x008 selected, 0x020 mask
    // active, 0x040 hidden, 0x080 XY-fixed, 0x100 raster, 0x200 vector.
    bool GetLayerFlags(int layer, int& flags) const;
    bool IsLayerHidden(int layer, bool& hidden) const;
    bool GetGroupOf(int layer, int& group) const;
    bool SetLayerXYFixed(int layer, bool fixed);
    bool IsLayerXYFixed(int layer, bool& fixed) const;
    bool SetSelectedLayer(int layer, bool maskActive);
    bool GetSelectedLayer(ELayerType type, int& layer, bool& maskActive) const;
    bool InsertLayer(int& layer, boost::shared_ptr<mem::CDataFrame> frame, CString const& name, int position,
                     int flags, int options);
    bool InsertLayer(int& layer, boost::shared_ptr<CVecGraph> graphic, CString const& name, int position, int flags,
                     int options);
    bool InsertLayerMasked(int& layer, boost::shared_ptr<mem::CDataFrame> frame, CString const& name, int position,
                           int flags, int options);
    int CreateGroup(CString const& name, int before, int groupFlags);
    bool DelLayer(int layer);
    bool DelGroup(int group);
    bool HideLayer(int layer);
    bool UnhideLayer(int layer, int position, int unused);
    bool MoveLayer(int layer, int target, EGroupAffinity affinity);
    bool AppendToGroup(int layer, int group);
    bool PrependToGroup(int layer, int group);
    bool MoveGroup(int group, int target);
    bool GetGroups(std::vector<int>& units) const;
    bool GetGroupMembers(int unit, std::vector<int>& layers) const;
    bool AppendGroupLayers(int group, int mask, std::vector<int>& layers) const;
    bool GetLayers(std::vector<int>& layers, int mask) const;

    // Channels, LUTs, limits and display.
    bool SetLimits(int layer, utl::TInterval<double> const& limits);
    bool GetLimits(int layer, utl::TInterval<double>& limits) const;
    bool DelLimits(int layer);  // base stub, false
    int GetFirstChannel(int layer) const;
    int GetNextChannel(int layer, int channel) const;
    bool SetChannelColor(int layer, int channel, utl::CBGR8 color);  // always false
    bool GetChannelColor(int layer, int channel, utl::CBGR8& color) const;  // always false
    bool DelChannelColor(int layer, int channel);
    bool SetChannelName(int layer, int channel, CString const& name);
    bool GetChannelName(int layer, int channel, CString& name) const;
    bool GetDataLUT(int layer, std::vector<utl::CBGR8>& lut, int channel) const;
    bool SetDataLUT(int layer, std::vector<utl::CBGR8> const& lut, int channel);
    bool HasDataLUT(int layer, int channel) const;
    // Channel -1 removes the LUT of every component. True once the layer
    // resolves.
    bool DelDataLUT(int layer, int channel);
    bool GetDisplayLUT(int layer, std::vector<utl::CBGR8>& lut, int channel) const;
    bool SetDisplayLUT(int layer, std::vector<utl::CBGR8> const& lut, int channel);
    bool HasDisplayLUT(int layer, int channel) const;
    bool DelDisplayLUT(int layer, int channel);
    bool UseLUT(int layer, int value);
    bool SetChannelVisible(int layer, int channel, bool visible);
    bool IsChannelVisible(int layer, int channel, bool& visible) const;
    bool SetFunction(int layer, int channel, ELayerFunction function);
    bool GetFunction(int layer, int channel, ELayerFunction& function) const;
    bool SetOpacity(int layer, double const& opacity);
    bool GetOpacity(int layer, double& opacity) const;
    bool HasDisplayFilter(int layer) const;
    bool SetDisplayFilter(int& layer, boost::shared_ptr<CDisplayFilter> filter);
    bool ResetDisplayFilter(int layer);
    boost::shared_ptr<CMask> CreateTranspMask(int layer, unsigned char value);
    boost::shared_ptr<CMask> GetTranspMask(int layer);
    boost::shared_ptr<CMask> GetTranspMask(int layer) const;
    bool DelTranspMask(int layer);
    std::set<int> GetChannelIDs(int layer);
    // These take a plane ID and hand it to the tree unchanged. A selection
    // is never emptied nor started through them.
    bool GetSelectedChannels(int plane, std::set<int>& channels) const;
    bool SelectChannel(int plane, int channel);
    bool UnselectChannel(int plane, int channel);
    bool IsChannelSelected(int plane, int channel, bool& selected) const;
    bool GetFrameSelection(int plane, std::set<geo::CiVecN, geo::tiVecNLess>& frames) const;
    bool ResetFrameSelection(int plane);
    // Frame selection by layer; indices must match the layer's order. A
    // range runs from `from` up to, not including, `to` in each component
    // where from < to; other components stay at `from`.
    bool SelectFrame(int layer, geo::CiVecN const& index);
    bool UnselectFrame(int layer, geo::CiVecN const& index);
    bool SelectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to);
    bool UnselectFrameRange(int layer, geo::CiVecN const& from, geo::CiVecN const& to);

    // Calibration of a layer and its placement on the canvas.
    bool GetPixelWidth(int layer, utl::TUnitValue<double>& width) const;
    bool GetPixelHeight(int layer, utl::TUnitValue<double>& height) const;
    bool GetPixelSize(int layer, utl::TUnitValue<geo::CdVec2>& size) const;
    bool GetPixelSize(int layer, utl::CUnit& unit, double& width, double& height) const;
    bool SetPixelSize(int layer, utl::TUnitValue<geo::CdVec2> const& size);
    // A height of 0 means square pixels.
    bool SetPixelSize(int layer, utl::CUnit const& unit, double width, double height);
    // True whenever the layer resolves; the outputs take what the stack gives.
    bool GetPixelCoords(int layer, utl::TUnitValue<geo::CdVec2>& scale, geo::CdVec2& origin) const;
    bool SetPixelCoords(int layer, utl::TUnitValue<geo::CdVec2> const& scale, geo::CdVec2 const& origin);
    bool GetPixelCoordsRect(int layer, utl::TUnitValue<geo::CdRect>& rect) const;
    bool SetPixelCoordsRect(int layer, utl::TUnitValue<geo::CdRect> const& rect);
    bool GetPixelOrigin(int layer, geo::CdVec2& origin) const;  // always false
    bool SetPixelOrigin(int layer, geo::CdVec2 const& origin);  // base stub, false
    bool GetCanvasPlacement(int layer, geo::CdVec2& origin, geo::CdVec2& scale) const;
    bool SetCanvasPlacement(int layer, geo::CdVec2 const& origin, geo::CdVec2 const& scale);
    // Layer pixel ↔ calibrated layer coordinates. Lcs2Pixel swallows a unit
    // conversion failure and keeps the caller's numbers for that axis.
    bool Pixel2Lcs(int layer, geo::CdVec2 const& pixel, utl::TUnitValue<geo::CdVec2>& lcs) const;
    bool Pixel2Lcs(int layer, geo::CdRect const& pixel, utl::TUnitValue<geo::CdRect>& lcs) const;
    bool Lcs2Pixel(int layer, utl::TUnitValue<geo::CdVec2> const& lcs, geo::CdVec2& pixel) const;
    bool Lcs2Pixel(int layer, utl::TUnitValue<geo::CdRect> const& lcs, geo::CdRect& pixel) const;
    bool SetBoundary(int layer, geo::CiRect const& rect);  // base stub, false

    // Dimensions; `dim` runs from 0 to the layer's order inclusive.
    bool GetDimensionType(int layer, int dim, EPhysDim& type) const;
    bool SetDimensionType(int layer, int dim, EPhysDim type, int valueId);
    bool GetDimensionName(int layer, int dim, CString& name) const;
    bool GetDimensionStepping(int layer, int dim, utl::TUnitValue<double>& first,
                              utl::TUnitValue<double>& second) const;
    bool SetDimensionStepping(int layer, int dim, utl::TUnitValue<double> const& first,
                              utl::TUnitValue<double> const& second);
    bool GetDimensionFrameRate(int layer, int dim, utl::TUnitValue<double>& rate, bool variant) const;
    bool SetDimensionFrameRate(int layer, int dim, utl::TUnitValue<double> const& rate, bool variant);
    bool GetDimensionChannelValue(int layer, int dim, int channel, utl::TUnitValue<double>& value) const;
    bool SetDimensionChannelValue(int layer, int dim, int channel, utl::TUnitValue<double> const& value);

    // Rendering into a caller's RGB8 pixel frame.
    bool RenderComplete(boost::shared_ptr<CPixFrame> frame, geo::CiRect const& pixelRect, geo::CdRect const& rect,
                        bool unused, EZoomMode zoom) const;
    bool RenderLowerStack(int layer, boost::shared_ptr<CPixFrame> frame, geo::CiRect const& pixelRect,
                          geo::CdRect const& rect, EZoomMode zoom) const;
    bool RenderHigherStack(int layer, boost::shared_ptr<CPixFrame> lower, boost::shared_ptr<CPixFrame> higher,
                           geo::CiRect const& pixelRect, geo::CdRect const& rect, bool unused,
                           EZoomMode zoom) const;  // base stub, false
    bool RenderSingleLayer(int layer, boost::shared_ptr<CPixFrame> frame, bool unused,
                           EZoomMode zoom) const;  // base stub, false

    // Base stubs, false; out-parameters untouched.
    bool GetIntensityCol(int layer, geo::CiVec2 const& start, double* first, double* last) const;
    bool GetIntensityRow(int layer, geo::CiVec2 const& start, double* first, double* last) const;
    bool GetIntensityValue(int layer, geo::CiVec2 const& point, double& value) const;
    bool GetIntensityCalibration(int layer, CIntensityCalibration& calibration) const;
    bool SetIntensityCalibration(int layer, CIntensityCalibration const& calibration);
    bool DelIntensityCalibration(int layer);
    bool HasIntensityCalibration(int layer) const;
    bool GetIntensityUnit(int layer, utl::CUnit& unit) const;
    bool ChainLayer(int layer);
    bool UnchainLayer(int layer);
    bool IsChained(int layer, bool& chained);
    bool MoveChainedLayers(geo::CdVec2 const& offset);
    bool SetLayerProtection(int layer, bool protect);
    bool IsLayerProtected(int layer, bool& isProtected) const;

private:
    CDisplProcessFlow& renderer2D();
    CDisplProcessFlow const& renderer2D() const;
    // Runs the one-time preparation and returns the record.
    CScopeData& Prepared() const;
    // The layer's stack; invalid when the layer does not resolve.
    CStack ResolveStack(int layer) const;

    CScopeData* m_pData;
};

}  // namespace img

// The mosaic scope: one specimen pictured at several magnifications, a
// picture layer per magnification filled tile by tile, with overview, label,
// sample-mask, focus-map and sharpness-map layers.
#pragma once

#include "imgscope/contracts/foundation/memory_model.h"
#include "imgscope/library/export.h"
#include "imgscope/mosaic/stack_type.h"
#include "imgscope/scope/base_scope.h"

#include <boost/shared_ptr.hpp>

#include <vector>

namespace img {

class CPicture;

// A whole mosaic document. The scope is bound to no single layer: it
// remembers the active layer (the picture layer that Paste writes into and
// that the active-layer methods address) and the focus layer. Every layer's
// role is its "StackType" property (EStackType); picture layers of one
// magnification share a group of the layer tree, and the groups are kept in
// decreasing magnification from the start of the root's list.
//
// Made only by CreateMosaikImage; the caller owns and deletes it. Deleting
// the scope leaves the document as it is.
class IMGSCOPE_API CMosaikScope : public CBaseScope {
public:
    ~CMosaikScope() override;

    // ---- layers by role
    bool HasOverview() const;
    bool HasLabel() const;
    bool HasSampleMask() const;
    // A picture over the first layer of the role in tree order; empty when
    // there is none. Layers without an entry in the layer tree are never
    // found by role.
    boost::shared_ptr<CPicture> GetOverview() const;
    boost::shared_ptr<CPicture> GetLabel() const;
    boost::shared_ptr<CPicture> GetSampleMask() const;
    // A picture over the active layer. The ID is passed on as it is, so with
    // no active layer (-1) this is the document's first layer, if any.
    boost::shared_ptr<CPicture> GetActivePicture() const;
    // -1 when there is none.
    int GetActiveLayerID();
    // Every stack of the document, whatever its role or tree entry.
    unsigned int GetLayerCount() const;
    // Layers that have an entry in the layer tree and are not hidden,
    // visible or not; 0 when the tree cannot be listed.
    int GetVisibleLayerCount() const;

    // ---- creation, paste and deletion

    // Creates a picture layer of `volume` and `pixelInfo` for one
    // magnification and makes it the active layer (the focus layer is
    // cleared). Its data frame has 512 × 512 tiles; 20016 and 20017 and the
    // memory model are handed to it unchanged, and `zeroFill` gives it an
    // explicit all-zero fill value. The first layer of an empty document is
    // opaque when `opaqueFirst` is set or it is an overview or label; any
    // other layer starts fully transparent, through an alpha channel or a
    // transparency mask as the profile setting UseAlphaNoMask chooses, and
    // becomes opaque where tiles are pasted. The layer is named after the
    // magnification ("10x", "2.5x"; "Overview", "Label" for those roles)
    // and put first in the group of its magnification, made when missing.
    // False, with no active layer, when the data frame cannot be made or
    // the document refuses the layer.
    bool CreateLayer(double magnification, CPixelInfo pixelInfo, mem::EMemoryModel memoryModel,
                     int frameProperty20016, int frameProperty20017, geo::CiVolumeN volume,
                     utl::TUnitValue<geo::CdRect> physRect, utl::CPropSet const& layerProperties, EStackType type,
                     bool opaqueFirst, bool zeroFill);
    // Copies `tile` into the active layer with its first pixel at
    // `position` (x, y and optionally the plane coordinates). A position of
    // at least as many dimensions as the layer is clipped to the layer
    // first; a shorter one is left to the copy's own clipping. The pasted area of the
    // transparency mask becomes opaque (255), and with the profile setting
    // SyncMask on, the area is written back through a write cache before
    // the call returns. False without an active layer, for an empty tile,
    // or when the copy refuses (no overlap, other pixel type, no memory).
    bool Paste(boost::shared_ptr<mem::CDataFrame> const& tile, geo::CiVecN const& position);
    // Deletes the active and the focus layer, and the magnification group of
    // the active layer when nothing is left in it. True only when the active
    // layer existed and was deleted and the focus layer, if any, too. Both
    // IDs are -1 afterwards.
    bool DelCurrentLayers();
    // Calibrates the active layer, then gives the focus layer the same
    // calibrated rectangle, and the sample mask the overview's when the
    // overview is the active layer. The result is the active layer's.
    bool SetPixelCoords(utl::TUnitValue<geo::CdVec2> const& scale, geo::CdVec2 const& origin);
    // The document's display interval (property 2003) and the bit depth of
    // the first layer of `type`. False, outputs untouched, when there is no
    // such layer or the interval is empty or reversed.
    bool GetDisplayLimits(EStackType type, unsigned int& bitsPerPixel, utl::TInterval<double>& limits) const;

    // ---- sample mask

    // Adds `mask` as a new, hidden sample-mask layer "Sample Mask" at the
    // end of the root's list, sharing its data frame (the pixels are not
    // copied: later writes to the picture show in the mask). It joins the
    // overview's group when there is an overview. Calibration: when an
    // older mask exists and the overview is the active layer, both masks
    // take the overview's calibrated rectangle; otherwise the new layer
    // takes the calibrated boundary of the first layer of the picture's own
    // document, if that is calibrated. A second call adds a second mask;
    // the first in tree order is the one found. False, document unchanged,
    // for an empty picture, one without a data frame, or pixels other than
    // one 1-byte component; false too when the document refuses the layer.
    bool AddSampleMask(boost::shared_ptr<CPicture> const& mask);
    // Deletes the first sample-mask layer; false when there is none.
    bool RemoveSampleMask();

    // ---- focus and sharpness maps

    // Creates a focus map: an 8-bit layer over `rect` (mask pixels 0..255,
    // 128 for the centre of the focus range), hidden unless `visible`,
    // opaque through a transparency mask of 255, named after the
    // magnification ("10x FocusMap") and appended to its group, made when
    // missing. It is calibrated to `physRect`, or, when that is empty, like
    // the active layer (uncalibrated without one). It becomes the focus
    // layer; the active layer stays. False, nothing changed, when the frame
    // cannot be made (an inverted or oversized `rect`); false with no focus
    // layer when the document refuses the layer.
    bool CreateFocusLayer(double magnification, geo::CiRect rect, utl::TUnitValue<geo::CdRect> physRect, bool visible);
    // The focus range that SetFocusPoint(point, double) maps onto 0..255:
    // its centre and two bounds. Nothing is checked; always true.
    bool SetFocusRange(double centre, double bound1, double bound2);
    // Writes `value` into the focus map at `point`, unclamped: an 8-bit map
    // keeps its low byte. True whenever the focus layer has pixels, even
    // when `point` lies outside; false otherwise.
    bool SetFocusPoint(geo::CiVec2 point, int value);
    // Writes a focus position: 128 + (focus − centre) × 256 / |bound2 −
    // bound1|, rounded to the nearest integer and clamped to 0..255. False,
    // nothing written, without a focus layer or its pixels, unless bound2
    // exceeds bound1 by more than the double epsilon (a reversed range
    // writes nothing), for a NaN focus, or when the point lies outside.
    bool SetFocusPoint(geo::CiVec2 point, double focus);
    // Computes the sharpness map of `layer` (-1: the active layer, at the
    // magnification of its device set instead of `magnification`) with
    // CGaussSharpness(0.3, 2): one 8-bit pixel per block of `mapParameter`
    // × `mapParameter` pixels, doubled (saturating) afterwards. Inserted
    // hidden and opaque, named "<magnification> Sharpness Map", calibrated
    // over the layer's calibrated rectangle, in the magnification's group.
    // Neither the active nor the focus layer changes. False, nothing
    // inserted, when the layer has no pixels or `mapParameter` is below 1;
    // false too when the document refuses the layer.
    bool CreateSharpnessLayer(double magnification, int layer, int mapParameter);

    // ---- properties of a named layer: -1 is the active layer; any other
    // negative ID, or -1 without an active layer, is false at once.
    bool GetLayerProperties(int layer, utl::CPropSet& props) const;
    bool SetLayerProperties(int layer, utl::CPropSet const& props);
    bool SetLayerProperty(int layer, int id, mem::CBin const& value);
    // The layer's device property set (property 10048).
    bool GetAcqProperties(int layer, utl::CPropSet& props);
    bool SetAcqProperties(int layer, utl::CPropSet& props);

    // ---- document properties
    bool GetImageProperties(utl::CPropSet& props) const;
    bool SetImageProperties(utl::CPropSet const& props);
    bool SetImageProperty(int id, mem::CBin const& value);
    // Replaces `sets` by the document's dynamic property sets; always true.
    bool GetDynamicImageProperties(std::vector<boost::shared_ptr<utl::CPropSet>>& sets) const;
    // False, document unchanged, when a set is null.
    bool SetDynamicImageProperties(std::vector<boost::shared_ptr<utl::CPropSet>> const& sets);

    // ---- the active layer (its ID is passed on as it is, -1 included)

    // A channel's colour is its data LUT; this stores nothing and is false.
    bool SetChannelColor(int channel, utl::CRGB8 color);
    bool SetChannelName(int channel, CString const& name);
    bool GetDimensionStepping(int dim, utl::TUnitValue<double>& first, utl::TUnitValue<double>& second) const;
    bool ActivateFrame(geo::CiVecN const& index);
    // An empty rectangle when there is no active layer.
    geo::CiRect GetBoundary();
    boost::shared_ptr<mem::CDataFrame> GetActiveDataFrame() const;
    bool GetPixelCoords(utl::TUnitValue<geo::CdVec2>& scale, geo::CdVec2& origin) const;
    bool Lcs2Pixel(utl::TUnitValue<geo::CdVec2> const& value, geo::CdVec2& pixel) const;
    bool Lcs2Pixel(utl::TUnitValue<geo::CdRect> const& value, geo::CdRect& pixel) const;
    // Type 4 (channel) also makes `dim` the stack's channel dimension.
    bool SetDimensionType(int dim, EPhysDim type, int valueID);
    // Removes the dimension's per-channel value ID (property 2027) first;
    // false without an active layer.
    bool SetDimensionStepping(int dim, utl::TUnitValue<double> const& first, utl::TUnitValue<double> const& second);
    // The position of frame `index` along a dimension of `type`, kept as a
    // frame property: 2014 (z), 2017 (time), 2041 (wavelength), 2417
    // (channel); other types address property -1. Reading is true whenever
    // the property exists, with 0.0 when it holds no number.
    bool SetDimensionValue(geo::CiVecN const& index, EPhysDim type, utl::TUnitValue<double> const& value);
    bool GetDimensionValue(geo::CiVecN const& index, EPhysDim type, utl::TUnitValue<double>& value) const;

private:
    friend IMGSCOPE_API CMosaikScope* CreateMosaikImage();
    friend IMGSCOPE_API CMosaikScope* CreateMosaikImage(CImg* img);

    // Centre and bounds of the focus range; empty until set.
    struct tFocusRange {
        double centre = 0.0;
        double bound1 = 0.0;
        double bound2 = 0.0;
    };

    // Over a new, empty document; no active or focus layer.
    CMosaikScope();
    // Over `img`, choosing the active and the focus layer by rank.
    explicit CMosaikScope(CImg const& img);

    // The first layer of role `t` in tree order, or -1.
    int FindLayerByType(EStackType t) const;
    bool HasLayerType(EStackType t) const;
    boost::shared_ptr<CPicture> GetLayerByType(EStackType t) const;
    // Deletes the first layer of role `t`; false when there is none.
    bool RemoveLayerByType(EStackType t);
    // The magnification in the layer's device set, or 0.0.
    double GetLayerMagnification(int layer) const;
    // "10x", "2.5x", "1.25x": as many decimals as the magnification needs at
    // a resolution of 0.01.
    void GetMagnificationString(double m, CString& out) const;
    // The group of magnification exactly `m`, made (named `name`) and sorted
    // in when there is none.
    int GetGroup(double m, CString name);
    // Orders the root's units by decreasing magnification; always true.
    bool SortGroups();
    // The magnification of a root unit; 0.0 for layers.
    double UnitMagnification(CDisplProcessFlow const& flow, int unit) const;
    // The layer rule of the named-layer methods: the layer addressed, or a
    // negative number when the call must fail.
    int NamedLayer(int layer) const;
    // Inserts `map` as a focus or sharpness map: hidden and XY-fixed at the
    // root's end, named after the magnification and `suffix`, opaque
    // through a transparency mask, calibrated, shown or not, appended to
    // the magnification's group and given `role`. `layer` takes the new
    // ID, -1 when the document refuses the layer (false).
    bool InsertMap(double magnification, boost::shared_ptr<CPixFrame> const& map, wchar_t const* suffix,
                   utl::TUnitValue<geo::CdRect> const& calibration, bool visible, EStackType role, int& layer);

    int m_nActiveLayerId = -1;
    int m_nFocusLayerId = -1;
    tFocusRange m_focusRange;

    // Read from the profile when the library is loaded (library/).
    static int m_bSyncMask;
    static bool m_bUseAlphaNoMask;
};

// A mosaic over a new, empty document; null when memory runs out.
IMGSCOPE_API CMosaikScope* CreateMosaikImage();
// A mosaic over `img` (the same document), with the active layer chosen as
// the picture layer (types 0, 32, 64) of the highest positive rank
// (property 2015) and the focus layer likewise among focus maps; the first
// in document order wins ties. Null `img` makes a new document. Null when
// memory runs out.
IMGSCOPE_API CMosaikScope* CreateMosaikImage(CImg* img);

}  // namespace img

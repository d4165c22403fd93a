// CMosaikScope: creating magnification layers, pasting camera tiles into
// them, deleting them, and what follows a layer's calibration.
#include "imgscope/mosaic/mosaic_scope.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/mosaic/mosaic_ids_internal.h"
#include "imgscope/mosaic/opaque_fill_internal.h"
#include "imgscope/scope/layer_flags_internal.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"
#include "imgscope/typed/picture.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace img {

namespace {

// Every new mosaic layer has 512 × 512 × 1 tiles, rows aligned to 32 bytes.
constexpr int kMosaicTileSide = 512;
constexpr int kMosaicAlign = mem::eAlign32;
// Visible, selected and XY-fixed.
constexpr int kMosaicLayerFlags = kFlagVisible | kFlagSelected | kFlagXYFixed;
// InsertLayer option: build the stack with every plane dimension kept.
constexpr int kKeepUnitDims = 1;

int Saturate(std::int64_t v)
{
    return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

// The target box of a paste: the tile's width and height at `position`,
// one plane deep in every further dimension.
struct tBox {
    geo::CiVecN position;
    geo::CiVecN size;
};

tBox TargetBox(geo::CiVecN const& position, geo::CiVolumeN const& tileBoundary)
{
    tBox box{position, geo::CiVecN(position.size(), 1)};
    for (std::size_t i = 0; i < box.size.size() && i < 2; ++i)
        box.size[i] = i < tileBoundary.Size().size() ? tileBoundary.Size()[i] : 0;
    return box;
}

// Clips `box` to `boundary`, from the last of the boundary's dimensions down
// to 0. A box with fewer dimensions than the boundary is left as it is (and
// the copy clips it). Sizes may come out zero or negative: the copy then
// refuses, which is the paste's result.
bool ClipToBoundary(tBox& box, geo::CiVolumeN const& boundary)
{
    const int dims = boundary.GetDimension();
    if (box.position.GetDimension() < dims)
        return false;
    for (int i = dims - 1; i >= 0; --i) {
        const std::int64_t start = std::max<std::int64_t>(box.position[i], boundary.Position()[i]);
        const std::int64_t end = std::min(std::int64_t(box.position[i]) + box.size[i],
                                          std::int64_t(boundary.Position()[i]) + boundary.Size()[i]);
        box.position[i] = Saturate(start);
        box.size[i] = Saturate(end - start);
    }
    return true;
}

// The tile's part that lands in the clipped box: shifted and cut in x and y
// only; further dimensions keep the tile's own planes.
geo::CiVolumeN SourceBox(geo::CiVolumeN const& tileBoundary, tBox const& clipped, geo::CiVecN const& position)
{
    geo::CiVecN start = tileBoundary.Position();
    geo::CiVecN size = tileBoundary.Size();
    const std::size_t dims = std::min({start.size(), clipped.position.size(), std::size_t(2)});
    for (std::size_t i = 0; i < dims; ++i) {
        start[i] = Saturate(std::int64_t(start[i]) + clipped.position[i] - position[i]);
        size[i] = clipped.size[i];
    }
    return geo::CiVolumeN::FromPositionSize(start, size);
}

}  // namespace

// ---------------------------------------------------------------- creation

bool CMosaikScope::CreateLayer(double magnification, CPixelInfo pixelInfo, mem::EMemoryModel memoryModel,
                               int frameProperty20016, int frameProperty20017, geo::CiVolumeN volume,
                               utl::TUnitValue<geo::CdRect> physRect, utl::CPropSet const& layerProperties,
                               EStackType type, bool opaqueFirst, bool zeroFill)
{
    m_nActiveLayerId = -1;
    m_nFocusLayerId = -1;
    return Guarded(false, [&] {
        // Other threads see the layer whole or not at all.
        const CDocumentLock whole(GetCollection(), CDocumentLock::eChange);
        const bool opaque = GetLayerCount() == 0 && (opaqueFirst || type == eStackOverview || type == eStackLabel);
        const bool withAlpha = !opaque && m_bUseAlphaNoMask;
        const CPixelInfo info = withAlpha ? pixelInfo.AddAlpha(1) : pixelInfo;

        utl::CPropSet creation;
        creation.SetProperty(kPropGrowDimension, mem::CBin(frameProperty20016));
        creation.SetProperty(kPropMemoryBudget, mem::CBin(frameProperty20017));
        creation.SetProperty(kPropMemoryModel, mem::CBin(static_cast<int>(memoryModel)));
        creation.SetProperty(kPropAlign, mem::CBin(kMosaicAlign));
        creation.SetProperty(kPropTileSize, mem::CBin(geo::CiVec3(kMosaicTileSide, kMosaicTileSide, 1)));
        // The frame copies the fill value while it is built; the buffer covers
        // the alpha channel too, as the frame reads one whole pixel from it.
        std::vector<unsigned char> zeros;
        if (zeroFill) {
            zeros.assign(static_cast<std::size_t>(std::max({info.Size(), pixelInfo.Size(), 1})), 0);
            creation.SetProperty(kPropFillValue, mem::CBin(static_cast<void*>(zeros.data())));
        }
        const boost::shared_ptr<mem::CDataFrame> frame = mem::CDataFrame::Create(volume, info, creation);
        if (!frame)
            return false;

        CString name;
        GetMagnificationString(magnification, name);
        if (type == eStackOverview)
            name = CString(L"Overview");
        else if (type == eStackLabel)
            name = CString(L"Label");
        const geo::CiVecN& extent = volume.Size();
        const int options = (extent.size() > 3 || (extent.size() > 2 && extent[2] > 1)) ? kKeepUnitDims : 0;

        const int position = type == eStackOverview ? kPositionStart : kPositionEnd;
        if (!InsertLayer(m_nActiveLayerId, frame, name, position, kMosaicLayerFlags, options))
            return false;
        const int layer = m_nActiveLayerId;

        // From here on the layer exists: what follows only dresses it.
        SetLayerProperties(layer, layerProperties);
        if (!opaque && !m_bUseAlphaNoMask)
            CreateTranspMask(layer, 0);
        SetPixelCoordsRect(layer, physRect);
        PrependToGroup(layer, GetGroup(magnification, name));
        SetLayerProperty(layer, kPropStackType, mem::CBin(static_cast<int>(type)));
        OptimizeCanvas(-1);
        return true;
    });
}

// ---------------------------------------------------------------- paste

bool CMosaikScope::Paste(boost::shared_ptr<mem::CDataFrame> const& tile, geo::CiVecN const& position)
{
    return Guarded(false, [&] {
        const boost::shared_ptr<mem::CDataFrame> frame = GetDataFrame(m_nActiveLayerId);
        const boost::shared_ptr<CMask> mask = GetTranspMask(m_nActiveLayerId);
        if (!frame || !tile)
            return false;

        const geo::CiVolumeN tileBoundary = tile->GetBoundary(0);
        tBox box = TargetBox(position, tileBoundary);
        ClipToBoundary(box, frame->GetBoundary(0));
        const geo::CiVolumeN source = SourceBox(tileBoundary, box, position);
        if (!mem::Copy(*tile, *frame, source, box.position, 0))
            return false;

        const geo::CiVolumeN target = geo::CiVolumeN::FromPositionSize(box.position, box.size);
        if (mask && !m_bUseAlphaNoMask)
            FillOpaque(*mask, target.Reduce());
        if (m_bSyncMask != 0) {
            // Published before returning, so that a viewer polling the
            // modification counts sees the tile at once.
            if (const boost::shared_ptr<mem::CDataFrame> again = GetDataFrame(m_nActiveLayerId))
                if (const boost::shared_ptr<mem::CWriteCache> cache = again->CreateWriteCache(target, 0))
                    cache->Sync(target);
        }
        return true;
    });
}

// ---------------------------------------------------------------- deletion

bool CMosaikScope::DelCurrentLayers()
{
    return Guarded(false, [&] {
        // Other threads see both layers and the group go at once.
        const CDocumentLock whole(GetCollection(), CDocumentLock::eChange);
        bool result = false;
        double magnification = 0.0;
        if (m_nActiveLayerId != -1) {
            magnification = GetLayerMagnification(m_nActiveLayerId);
            result = DelLayer(m_nActiveLayerId);
            m_nActiveLayerId = -1;
        }
        if (m_nFocusLayerId != -1) {
            result = DelLayer(m_nFocusLayerId) && result;
            m_nFocusLayerId = -1;
        }
        // Looking the group up makes one when none has this magnification; an
        // empty group, found or made, goes again.
        const int group = GetGroup(magnification, CString());
        std::vector<int> members;
        if (GetGroupMembers(group, members) && members.empty())
            DelGroup(group);
        return result;
    });
}

// ---------------------------------------------------------------- calibration and limits

bool CMosaikScope::SetPixelCoords(utl::TUnitValue<geo::CdVec2> const& scale, geo::CdVec2 const& origin)
{
    const bool ok = CBaseScope::SetPixelCoords(m_nActiveLayerId, scale, origin);
    if (ok && HasLayer(m_nFocusLayerId)) {
        utl::TUnitValue<geo::CdRect> rect;
        GetPixelCoordsRect(m_nActiveLayerId, rect);
        SetPixelCoordsRect(m_nFocusLayerId, rect);
    }
    // A sample mask is drawn on the overview: it follows the overview's
    // calibration whenever the overview is the layer being calibrated.
    const boost::shared_ptr<CPicture> overview = GetOverview();
    const boost::shared_ptr<CPicture> sampleMask = GetSampleMask();
    if (overview && sampleMask && overview->GetLayerID() == m_nActiveLayerId) {
        utl::TUnitValue<geo::CdRect> rect;
        GetPixelCoordsRect(overview->GetLayerID(), rect);
        SetPixelCoordsRect(sampleMask->GetLayerID(), rect);
    }
    return ok;
}

bool CMosaikScope::GetDisplayLimits(EStackType type, unsigned int& bitsPerPixel,
                                    utl::TInterval<double>& limits) const
{
    const boost::shared_ptr<CPicture> picture = GetLayerByType(type);
    if (!picture)
        return false;
    // A document-level value: the picture shares the mosaic's document, so
    // every role sees one interval and only the bit depth differs.
    const utl::TInterval<double> interval = Guarded(utl::TInterval<double>(), [&] {
        return picture->GetCollection().GetProperty(kPropDisplayInterval).GetPlainOrUnitOr(utl::TInterval<double>());
    });
    if (!(interval.lower < interval.upper))
        return false;
    bitsPerPixel = static_cast<unsigned int>(picture->GetPixelInfo().GetBitsPerPixel());
    limits = interval;
    return true;
}

}  // namespace img

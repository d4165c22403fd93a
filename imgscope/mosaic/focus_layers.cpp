// CMosaikScope: focus maps written point by point during a scan, and
// sharpness maps computed from a picture layer.
#include "imgscope/mosaic/mosaic_scope.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/platform/sharpness.h"
#include "imgscope/contracts/platform/vector_ops.h"
#include "imgscope/contracts/platform/win_compat.h"
#include "imgscope/mosaic/mosaic_ids_internal.h"
#include "imgscope/scope/layer_flags_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace img {

namespace {

// Focus maps: one 8-bit grey component; 128 is the centre of the range,
// which spans 256 steps.
const CPixelInfo kFocusPixels(utl::eUInt8, 1, eColorSpaceGray);
constexpr double kFocusCentreValue = 128.0;
constexpr double kFocusSteps = 256.0;
constexpr int kFocusMax = 255;
// Both maps are hidden and XY-fixed when inserted.
constexpr int kMapFlags = kFlagHidden | kFlagXYFixed;
constexpr unsigned char kOpaque = 255;
// The sharpness measure of the maps (see the measure's header) and the
// gain applied to each map tile afterwards: tissue seldom reaches an RMS
// response of an eighth of full scale, so doubling spreads the map.
constexpr double kSharpnessSigma = 0.3;
constexpr int kSharpnessOrder = 2;
constexpr int kSharpnessGain = 2;
constexpr wchar_t kFocusSuffix[] = L" FocusMap";
constexpr wchar_t kSharpnessSuffix[] = L" Sharpness Map";

// Writes one pixel from the bytes of `value`, so an 8-bit map takes the
// low byte; a buffer as wide as the pixel keeps wider maps from reading
// past the value.
template <class T>
bool WritePixel(CPixFrame& frame, geo::CiVec2 point, T value)
{
    std::vector<std::uint8_t> bytes(std::max<std::size_t>(sizeof value, std::size_t(frame.GetPixelInfo().Size())), 0);
    std::memcpy(bytes.data(), &value, sizeof value);
    return frame.WriteRowSegment(point, 1, bytes.data(), -1);
}

// Makes a new map layer opaque over its whole boundary.
void MakeOpaque(boost::shared_ptr<CMask> const& mask, geo::CiRect const& boundary)
{
    if (mask)
        mask->Rectangle(boundary, kOpaque, CMask::eCombineSet);
}

// Runs the map's gain over every tile that exists, in place.
void ApplyGain(CPixFrame const& map)
{
    const boost::shared_ptr<CTileDistributor> tiles = map.GetTileDistributor();
    if (!tiles)
        return;
    const std::int64_t bytes = tiles->GetTileRowSize() * tiles->GetTileSize().y;
    for (auto it = tiles->begin(); it != tiles->end(); ++it) {
        const boost::shared_ptr<mem::ITileData> tile = tiles->GetTile(*it);
        void* data = tile ? tile->Lock() : nullptr;
        if (!data)
            continue;
        vopMulSat8u(static_cast<std::uint8_t*>(data), kSharpnessGain, bytes);
        tile->Unlock();
    }
}

}  // namespace

bool CMosaikScope::CreateFocusLayer(double magnification, geo::CiRect rect, utl::TUnitValue<geo::CdRect> physRect,
                                    bool visible)
{
    return Guarded(false, [&] {
        const boost::shared_ptr<CPixFrame> frame =
            CPixFrame::Create(rect, kFocusPixels, mem::eMemoryDefault, mem::eAlign32, utl::CPropSet());
        if (!frame)
            return false;
        // Without a rectangle the map lies over the active layer; without an
        // active layer the empty rectangle leaves it uncalibrated.
        utl::TUnitValue<geo::CdRect> calibration = physRect;
        if (physRect.value.IsEmpty() && !GetPixelCoordsRect(m_nActiveLayerId, calibration))
            calibration = physRect;
        return InsertMap(magnification, frame, kFocusSuffix, calibration, visible, eStackFocusMap, m_nFocusLayerId);
    });
}

bool CMosaikScope::SetFocusRange(double centre, double bound1, double bound2)
{
    m_focusRange.centre = centre;
    m_focusRange.bound1 = bound1;
    m_focusRange.bound2 = bound2;
    return true;
}

bool CMosaikScope::SetFocusPoint(geo::CiVec2 point, int value)
{
    return Guarded(false, [&] {
        const boost::shared_ptr<CPixFrame> frame = GetPixFrame(m_nFocusLayerId, geo::CiVecN());
        if (!frame)
            return false;
        // Acquisition calls this for every field; a point the map does not
        // cover is the caller's business, not a failure.
        WritePixel(*frame, point, value);
        return true;
    });
}

bool CMosaikScope::SetFocusPoint(geo::CiVec2 point, double focus)
{
    return Guarded(false, [&] {
        if (!HasLayer(m_nFocusLayerId))
            return false;
        const boost::shared_ptr<CPixFrame> frame = GetPixFrame(m_nFocusLayerId, geo::CiVecN());
        if (!frame)
            return false;
        const double width = m_focusRange.bound2 - m_focusRange.bound1;
        if (!(width > DBL_EPSILON))
            return false;
        const double scaled = (focus - m_focusRange.centre) * (kFocusSteps / std::fabs(width)) + kFocusCentreValue;
        if (std::isnan(scaled))
            return false;  // rounding would make it 0, a focus nobody measured
        const int rounded = matRoundD(scaled);
        const int value = rounded < 1 ? 0 : rounded >= kFocusMax ? kFocusMax : rounded;
        return WritePixel(*frame, point, value);
    });
}

bool CMosaikScope::CreateSharpnessLayer(double magnification, int layer, int mapParameter)
{
    return Guarded(false, [&] {
        if (layer == -1) {
            layer = m_nActiveLayerId;
            magnification = GetLayerMagnification(layer);
        }
        const CGaussSharpness gauss(kSharpnessSigma, kSharpnessOrder);
        CSharpness const& measure = gauss;
        const boost::shared_ptr<CPixFrame> map = measure.GetSharpnessMap(GetPixFrame(layer, geo::CiVecN()), mapParameter);
        if (!map)
            return false;
        ApplyGain(*map);
        utl::TUnitValue<geo::CdRect> calibration;
        GetPixelCoordsRect(layer, calibration);
        int id = -1;
        return InsertMap(magnification, map, kSharpnessSuffix, calibration, false, eStackSharpness, id);
    });
}

bool CMosaikScope::InsertMap(double magnification, boost::shared_ptr<CPixFrame> const& map, wchar_t const* suffix,
                             utl::TUnitValue<geo::CdRect> const& calibration, bool visible, EStackType role,
                             int& layer)
{
    // Other threads see the map whole or not at all.
    const CDocumentLock whole(GetCollection(), CDocumentLock::eChange);
    CString name;
    GetMagnificationString(magnification, name);
    const int group = GetGroup(magnification, name);
    name += suffix;
    if (!InsertLayer(layer, map->GetDataFrame(), name, kPositionEnd, kMapFlags, 0))
        return false;
    // From here on the layer exists: what follows only dresses it.
    const int id = layer;
    MakeOpaque(CreateTranspMask(id, 0), map->GetBoundary(0));
    SetPixelCoordsRect(id, calibration);
    AppendToGroup(id, group);
    SetLayerVisible(id, visible);
    SetLayerProperty(id, kPropStackType, mem::CBin(static_cast<int>(role)));
    OptimizeCanvas(-1);
    return true;
}

}  // namespace img

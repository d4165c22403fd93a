#include "imgscope/contracts/document/render/compositor_internal.h"

#include "imgscope/contracts/document/stack.h"

#include <algorithm>
#include <cmath>

namespace img {
namespace detail {

namespace {

// A stack's calibration with a unit per axis: dimensions 6 and 7 when both
// are calibrated (x and y may differ), else the single-unit form.
bool Calibration(CStack const& stack, geo::CdVec2& origin, geo::CdVec2& scale, utl::CUnit2& units)
{
    geo::CdVec2 o, s;
    utl::CUnit2 u;
    if (!stack.GetDimOriginScale(eDimX, o.x, s.x, u.x) || !stack.GetDimOriginScale(eDimY, o.y, s.y, u.y)) {
        utl::CUnit unit;
        if (!stack.GetOriginScale(o, s, unit))
            return false;
        u = utl::CUnit2(unit, unit);
    }
    if (!IsFinite(o) || !IsUsableScale(s))
        return false;
    origin = o;
    scale = s;
    units = u;
    return true;
}

}  // namespace

bool LayerToCanvas(tFlow const& flow, int layerId, tCanvas const& canvas, geo::CdVec2& origin, geo::CdVec2& scale)
{
    if (!flow.document)
        return false;
    const CStack stack = flow.document->FindStack(layerId);
    if (!stack.IsValid())
        return false;
    if (tEntry const* entry = flow.state->FindLayerEntry(flow.state->PlaneOf(layerId))) {
        if (entry->hasPlacement) {
            origin = entry->placementOrigin;
            scale = entry->placementScale;
            return true;
        }
    }
    geo::CdVec2 o, s;
    utl::CUnit2 units;
    if (canvas.calibrated && Calibration(stack, o, s, units) && units.x.Compatible(canvas.units.x) &&
        units.y.Compatible(canvas.units.y)) {
        const geo::CdVec2 so(utl::Convert(o.x, units.x, canvas.units.x), utl::Convert(o.y, units.y, canvas.units.y));
        const geo::CdVec2 ss(utl::Convert(s.x, units.x, canvas.units.x), utl::Convert(s.y, units.y, canvas.units.y));
        if (IsFinite(so) && IsUsableScale(ss)) {
            origin = so;
            scale = ss;
            return true;
        }
    }
    // One layer pixel per canvas pixel.
    origin = canvas.calibrated ? canvas.origin : geo::CdVec2(0.0, 0.0);
    scale = canvas.calibrated ? canvas.scale : geo::CdVec2(1.0, 1.0);
    return true;
}

bool FitCanvas(tFlow const& flow, std::vector<int> const& layerIds, tCanvas& canvas)
{
    if (!flow.document)
        return false;
    tCanvas work = canvas;
    if (!work.calibrated) {
        // The unit of the first calibrated layer, at the finest pixel size
        // among the layers in that unit, so that no layer loses detail.
        bool found = false;
        utl::CUnit unit = utl::c_pixel;
        geo::CdVec2 finest(1.0, 1.0);
        for (int layerId : layerIds) {
            const CStack stack = flow.document->FindStack(layerId);
            geo::CdVec2 o, s;
            utl::CUnit2 u;
            if (!stack.IsValid() || !Calibration(stack, o, s, u) || !u.y.Compatible(u.x))
                continue;
            const double sy = utl::Convert(s.y, u.y, u.x);
            if (!found) {
                found = true;
                unit = u.x;
                finest = geo::CdVec2(std::fabs(s.x), std::fabs(sy));
                continue;
            }
            if (!u.x.Compatible(unit))
                continue;
            finest.x = std::min(finest.x, std::fabs(utl::Convert(s.x, u.x, unit)));
            finest.y = std::min(finest.y, std::fabs(utl::Convert(sy, u.x, unit)));
        }
        if (!IsUsableScale(finest))
            return false;
        work.calibrated = true;
        work.origin = geo::CdVec2(0.0, 0.0);
        work.scale = finest;
        work.units = utl::CUnit2(unit, unit);
    }
    if (!(work.scale.x > 0.0 && work.scale.y > 0.0))
        return false;

    bool any = false;
    geo::CdRect extent;
    for (int layerId : layerIds) {
        geo::CdVec2 o, s;
        if (!LayerToCanvas(flow, layerId, work, o, s))
            continue;
        const geo::CiRect b = flow.document->FindStack(layerId).GetBoundary();
        if (b.IsEmpty())
            continue;
        geo::CdRect r(b.left * s.x + o.x, b.top * s.y + o.y, b.right * s.x + o.x, b.bottom * s.y + o.y);
        r.Normalize();
        if (!(std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.right) && std::isfinite(r.bottom)))
            continue;
        if (!any) {
            extent = r;
            any = true;
        } else {
            extent = geo::CdRect(std::min(extent.left, r.left), std::min(extent.top, r.top),
                                 std::max(extent.right, r.right), std::max(extent.bottom, r.bottom));
        }
    }
    if (!any)
        return false;
    // Round up, forgiving the last bits that a division leaves.
    const double w = std::ceil(extent.Width() / work.scale.x - 1e-9);
    const double h = std::ceil(extent.Height() / work.scale.y - 1e-9);
    if (!(w >= 0.0 && h >= 0.0 && w <= double(1 << 30) && h <= double(1 << 30)))
        return false;
    work.origin = geo::CdVec2(extent.left, extent.top);
    work.pixelRect = geo::CiRect(0, 0, std::max(1, int(w)), std::max(1, int(h)));
    work.rectangle = extent;
    work.hasRectangle = true;
    canvas = work;
    return true;
}

}  // namespace detail
}  // namespace img

// CBaseScope: calibration of layers and canvas, the conversions between
// pixel, calibrated layer and canvas coordinates, and the whole-image
// recalibration.
#include "imgscope/scope/base_scope.h"

#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

#include <cmath>
#include <exception>
#include <vector>

namespace img {

namespace {

// A whole-image calibration of scale 0 or a non-finite scale would scale
// every layer by 0 or NaN, which no later call can undo; it is refused
// before anything is read or written.
bool IsUsableScale(geo::CdVec2 const& scale)
{
    return std::isfinite(scale.x) && std::isfinite(scale.y) && scale.x != 0.0 && scale.y != 0.0;
}

// What the layer conversions assume of a stack that holds no calibration:
// one pixel per pixel, so that its coordinates pass through unchanged.
const utl::TUnitValue<geo::CdVec2> kUncalibrated{utl::c_pixel, geo::CdVec2(1.0, 1.0)};

// One layer as the whole-image recalibration sees it between reading the
// document and writing it back.
struct tLayerRecord {
    int layer = -1;
    int plane = -1;
    geo::CdVec2 layerOrigin{0.0, 0.0};
    utl::TUnitValue<geo::CdVec2> layerScale{utl::c_pixel, geo::CdVec2(1.0, 1.0)};
    geo::CdVec2 placementOrigin{0.0, 0.0};
    geo::CdVec2 placementScale{1.0, 1.0};
    double unitFactor = 1.0;
    bool hasProps = false;
    bool changed = false;
};

}  // namespace

// --- Canvas ---------------------------------------------------------------

bool CBaseScope::GetCanvasPixelRect(geo::CiRect& rect) const
{
    return Guarded(false, [&] {
        rect = renderer2D().GetImagePlaneRect();
        return true;
    });
}

bool CBaseScope::SetCanvasPixelRect(geo::CiRect const& rect)
{
    if (geo::IsInverted(rect))
        return false;  // never flipped into a canvas; the canvas stays as it is
    return Guarded(false, [&] {
        renderer2D().SetImagePlaneRect(rect);
        return true;
    });
}

bool CBaseScope::GetCanvasCoords(utl::TUnitValue<geo::CdVec2>& scale, geo::CdVec2& origin) const
{
    return Guarded(false, [&] {
        geo::CdVec2 value;
        utl::CUnit2 units(utl::c_pixel, utl::c_pixel);
        // The caller's origin goes to the tree itself; only the scale, which
        // must be paired with the x unit, passes through locals.
        if (!renderer2D().GetImagePlaneCalibration(origin, value, units))
            return false;
        scale = utl::TUnitValue<geo::CdVec2>(units.x, value);
        return true;
    });
}

bool CBaseScope::SetCanvasCoords(utl::TUnitValue<geo::CdVec2> const& scale, geo::CdVec2 const& origin)
{
    return Guarded(false, [&] {
        renderer2D().SetImagePlaneCalibration(origin, scale.value, utl::CUnit2(scale.unit, scale.unit));
        return true;
    });
}

bool CBaseScope::GetCanvasCoordsRect(utl::TUnitValue<geo::CdRect>& rect) const
{
    return Guarded(false, [&] { return renderer2D().GetImagePlaneRWC(rect); });
}

bool CBaseScope::SetCanvasCoordsRect(utl::TUnitValue<geo::CdRect> const& rect)
{
    return Guarded(false, [&] {
        renderer2D().SetImagePlaneRWC(rect);
        return true;
    });
}

bool CBaseScope::GetCanvasRectangle(geo::CdRect& rect) const
{
    return Guarded(false, [&] { return renderer2D().GetCanvasRectangle(rect); });
}

bool CBaseScope::SetCanvasRectangle(geo::CdRect const& rect)
{
    return Guarded(false, [&] { return renderer2D().SetCanvasRectangle(rect); });
}

bool CBaseScope::GetCanvasColors(CCanvasColor& background, CCanvasColor& border) const
{
    return Guarded(false, [&] {
        renderer2D().GetCanvasColors(background, border);
        return true;
    });
}

bool CBaseScope::SetCanvasColors(CCanvasColor const& background, CCanvasColor const& border)
{
    return Guarded(false, [&] {
        renderer2D().SetCanvasColors(background, border);
        return true;
    });
}

bool CBaseScope::OptimizeCanvas(std::vector<int> const& layerIds)
{
    return Guarded(false, [&] { return renderer2D().OptimizeCanvasFromCalibration(layerIds); });
}

bool CBaseScope::OptimizeCanvas(int flagMask)
{
    std::vector<int> layers;
    if (!GetLayers(layers, flagMask))
        return false;
    return OptimizeCanvas(layers);
}

// --- Canvas conversions -----------------------------------------------------

bool CBaseScope::Pixel2Canvas(geo::CdVec2 const& pixel, utl::TUnitValue<geo::CdVec2>& canvas) const
{
    return Guarded(false, [&] {
        utl::TUnitValue<geo::CdVec2> scale;
        geo::CdVec2 origin;
        if (!GetCanvasCoords(scale, origin))
            return false;
        canvas = utl::TUnitValue<geo::CdVec2>(
            scale.unit, geo::CdVec2(pixel.x * scale.value.x + origin.x, pixel.y * scale.value.y + origin.y));
        return true;
    });
}

bool CBaseScope::Pixel2Canvas(geo::CdRect const& pixel, utl::TUnitValue<geo::CdRect>& canvas) const
{
    utl::TUnitValue<geo::CdVec2> corner0;
    utl::TUnitValue<geo::CdVec2> corner2;
    // Both corners are always converted; a failure of either fails the rect.
    const bool ok0 = Pixel2Canvas(pixel.GetPoint(0), corner0);
    const bool ok2 = Pixel2Canvas(pixel.GetPoint(2), corner2);
    if (!(ok0 && ok2))
        return false;
    geo::CdRect rect(corner0.value, corner2.value);
    rect.Normalize();  // a negative scale swaps the corners
    canvas = utl::TUnitValue<geo::CdRect>(corner0.unit, rect);
    return true;
}

bool CBaseScope::Canvas2Pixel(utl::TUnitValue<geo::CdVec2> const& canvas, geo::CdVec2& pixel) const
{
    utl::TUnitValue<geo::CdVec2> scale;
    geo::CdVec2 origin;
    if (!GetCanvasCoords(scale, origin))
        return false;
    // The calibration follows the caller's unit, not the other way round, so
    // the caller's numbers are used exactly. A unit that does not convert is
    // the caller's mistake and reaches the caller as std::invalid_argument.
    const geo::CdVec2 s(utl::Convert(scale.value.x, scale.unit, canvas.unit),
                        utl::Convert(scale.value.y, scale.unit, canvas.unit));
    const geo::CdVec2 o(utl::Convert(origin.x, scale.unit, canvas.unit),
                        utl::Convert(origin.y, scale.unit, canvas.unit));
    pixel = geo::CdVec2((canvas.value.x - o.x) / s.x, (canvas.value.y - o.y) / s.y);
    return true;
}

bool CBaseScope::Canvas2Pixel(utl::TUnitValue<geo::CdRect> const& canvas, geo::CdRect& pixel) const
{
    geo::CdVec2 corner0;
    geo::CdVec2 corner2;
    const bool ok0 = Canvas2Pixel(utl::TUnitValue<geo::CdVec2>(canvas.unit, canvas.value.GetPoint(0)), corner0);
    const bool ok2 = Canvas2Pixel(utl::TUnitValue<geo::CdVec2>(canvas.unit, canvas.value.GetPoint(2)), corner2);
    if (!(ok0 && ok2))
        return false;
    // Not normalised: callers see the corners in the order they gave them.
    pixel = geo::CdRect(corner0, corner2);
    return true;
}

// --- Image calibration --------------------------------------------------------

bool CBaseScope::GetCalibration(utl::TUnitValue<geo::CdVec2>& scale) const
{
    return Guarded(false, [&] {
        geo::CdVec2 origin;
        if (GetCanvasCoords(scale, origin))
            return true;

        std::vector<int> layers;
        if (!GetLayers(layers, -1) || layers.empty())
            return false;
        for (int layer : layers) {
            if (GetPixelCoords(layer, scale, origin))
                return true;
        }
        return false;
    });
}

bool CBaseScope::GetCalibration(utl::TUnitValue<double>& x, utl::TUnitValue<double>& y) const
{
    return Guarded(false, [&] {
        utl::TUnitValue<geo::CdVec2> s;
        geo::CdVec2 origin;
        if (GetCanvasCoords(s, origin)) {
            // GetCanvasCoords reports the x unit only; ask the tree for y.
            geo::CdVec2 o;
            geo::CdVec2 v;
            utl::CUnit2 units(utl::c_pixel, utl::c_pixel);
            renderer2D().GetImagePlaneCalibration(o, v, units);
            x = utl::TUnitValue<double>(s.unit, s.value.x);
            y = utl::TUnitValue<double>(units.y, s.value.y);
            return true;
        }

        std::vector<int> layers;
        if (!GetLayers(layers, -1))
            return false;
        for (int layer : layers) {
            if (!GetPixelCoords(layer, s, origin))
                continue;
            // The layer's pair carries one unit; its y axis may have its own.
            double o = 0.0;
            double v = 0.0;
            utl::CUnit yUnit;
            ResolveStack(layer).GetDimOriginScale(eDimY, o, v, yUnit);
            x = utl::TUnitValue<double>(s.unit, s.value.x);
            y = utl::TUnitValue<double>(yUnit, s.value.y);
            return true;
        }
        return false;
    });
}

bool CBaseScope::SetCalibration(utl::TUnitValue<geo::CdVec2> const& calibration)
{
    return Guarded(false, [&] {
        const utl::CUnit& unit = calibration.unit;
        const geo::CdVec2& scale = calibration.value;
        if (!IsUsableScale(scale))
            return false;

        // Read everything first, write afterwards: each layer's new calibration
        // derives from the canvas as it was, and a layer written early must not
        // disturb what is read for the next one.
        utl::TUnitValue<geo::CdVec2> canvasScale(utl::c_pixel, geo::CdVec2(1.0, 1.0));
        geo::CdVec2 canvasOrigin(0.0, 0.0);
        geo::CdVec2 ratio(1.0, 1.0);
        double canvasFactor = 1.0;
        bool canvasFound = false;
        if (GetCanvasCoords(canvasScale, canvasOrigin)) {
            if (canvasScale.unit.Compatible(unit))
                canvasFactor = utl::Convert(1.0, canvasScale.unit, unit);
            // Plain numbers: the unit change is carried by the factors, so that
            // a layer in another prefix of the same quantity scales correctly.
            ratio = geo::Prod(scale, canvasScale.value.Inverse());
            canvasFound = true;
        }

        std::vector<tLayerRecord> records;
        std::vector<int> layers;
        if (GetLayers(layers, -1)) {
            for (int layer : layers) {
                tLayerRecord rec;
                rec.plane = FindPlaneID(layer);
                if (rec.plane == -1)
                    continue;
                rec.layer = layer;

                mem::CBin bin;
                rec.hasProps = renderer2D().GetProperty(rec.plane, -1, kPropPlacementMarkA, bin) &&
                               renderer2D().GetProperty(rec.plane, -1, kPropPlacementMarkB, bin);
                const bool hasPlacement = GetCanvasPlacement(layer, rec.placementOrigin, rec.placementScale);
                const bool calibrated = GetPixelCoords(layer, rec.layerScale, rec.layerOrigin);

                if (calibrated && rec.layerScale.unit.Compatible(unit)) {
                    if (canvasFound) {
                        rec.unitFactor = utl::Convert(1.0, rec.layerScale.unit, unit) / canvasFactor;
                        rec.layerScale = utl::TUnitValue<geo::CdVec2>(
                            unit, geo::Prod(rec.layerScale.value, ratio) * rec.unitFactor);
                        rec.layerOrigin = geo::Prod(rec.layerOrigin, ratio) * rec.unitFactor;
                        rec.changed = true;
                    } else if (hasPlacement) {
                        // Without a canvas there is no ratio; a layer with a stored
                        // placement takes its calibration from it, any other keeps
                        // its own.
                        if (rec.hasProps) {
                            rec.layerScale = utl::TUnitValue<geo::CdVec2>(unit, rec.placementScale);
                            rec.layerOrigin = rec.placementOrigin;
                        }
                        rec.changed = true;
                    }
                } else if (hasPlacement) {
                    if (canvasFound) {
                        rec.layerScale = utl::TUnitValue<geo::CdVec2>(unit, geo::Prod(rec.placementScale, ratio));
                        rec.layerOrigin = geo::Prod(rec.placementOrigin, ratio);
                    } else {
                        rec.layerScale = calibration;
                        rec.layerOrigin = geo::CdVec2(0.0, 0.0);
                    }
                    rec.changed = true;
                }

                if (rec.hasProps && hasPlacement) {
                    rec.placementOrigin = geo::Prod(rec.placementOrigin, ratio) * rec.unitFactor;
                    rec.placementScale = geo::Prod(rec.placementScale, ratio) * rec.unitFactor;
                    records.push_back(rec);
                } else if (rec.changed) {
                    records.push_back(rec);
                }
            }
        }

        if (canvasFound)
            SetCanvasCoords(utl::TUnitValue<geo::CdVec2>(unit, geo::Prod(canvasScale.value, ratio)),
                            geo::Prod(canvasOrigin, ratio));
        else
            SetCanvasCoords(calibration, geo::CdVec2(0.0, 0.0));

        for (auto it = records.rbegin(); it != records.rend(); ++it) {
            SetPixelCoords(it->layer, it->layerScale, it->layerOrigin);
            if (it->hasProps)
                SetCanvasPlacement(it->layer, it->placementOrigin, it->placementScale);
        }
        return true;
    });
}

bool CBaseScope::SetCalibration(geo::CdVec2 const& scale, utl::CUnit2 const& units)
{
    return Guarded(false, [&] {
        if (!IsUsableScale(scale))
            return false;
        if (units.x == units.y)
            return SetCalibration(utl::TUnitValue<geo::CdVec2>(units.x, scale));

        // Two passes, one per unit; afterwards the canvas and every stack take
        // x from the first pass and y from the second.
        const bool first = SetCalibration(utl::TUnitValue<geo::CdVec2>(units.x, scale));

        geo::CdVec2 origin0(0.0, 0.0);
        geo::CdVec2 scale0(1.0, 1.0);
        utl::CUnit2 units0(utl::c_pixel, utl::c_pixel);
        renderer2D().GetImagePlaneCalibration(origin0, scale0, units0);

        struct tAxis {
            utl::CUnit unit;
            double origin = 0.0;
            double scale = 1.0;
            bool calibrated = false;
        };
        std::vector<tAxis> xAxes;
        CImg const& doc = GetCollection();
        for (CStack stack = doc.FirstStack(); stack.IsValid(); stack = doc.NextStack(stack)) {
            tAxis axis;
            axis.calibrated = stack.GetDimOriginScale(eDimX, axis.origin, axis.scale, axis.unit);
            xAxes.push_back(axis);
        }

        const bool second = SetCalibration(utl::TUnitValue<geo::CdVec2>(units.y, scale));

        geo::CdVec2 origin1(0.0, 0.0);
        geo::CdVec2 scale1(1.0, 1.0);
        utl::CUnit2 units1(utl::c_pixel, utl::c_pixel);
        renderer2D().GetImagePlaneCalibration(origin1, scale1, units1);
        renderer2D().SetImagePlaneCalibration(geo::CdVec2(origin0.x, origin1.y), geo::CdVec2(scale0.x, scale1.y),
                                              utl::CUnit2(units0.x, units1.y));

        // The second pass cannot add or remove stacks, so the list pairs up with
        // the stacks in the same order. An x axis that had no calibration has
        // nothing to restore: writing one would calibrate it with made-up
        // numbers.
        std::size_t i = 0;
        for (CStack stack = doc.FirstStack(); stack.IsValid() && i < xAxes.size(); stack = doc.NextStack(stack), ++i) {
            if (xAxes[i].calibrated)
                stack.SetDimOriginScale(eDimX, xAxes[i].origin, xAxes[i].scale, xAxes[i].unit);
        }

        return first && second;
    });
}

// --- Layer calibration ----------------------------------------------------------

bool CBaseScope::GetPixelWidth(int layer, utl::TUnitValue<double>& width) const
{
    utl::TUnitValue<geo::CdVec2> size;
    if (!GetPixelSize(layer, size))
        return false;
    width = utl::TUnitValue<double>(size.unit, size.value.x);
    return true;
}

bool CBaseScope::GetPixelHeight(int layer, utl::TUnitValue<double>& height) const
{
    utl::TUnitValue<geo::CdVec2> size;
    if (!GetPixelSize(layer, size))
        return false;
    height = utl::TUnitValue<double>(size.unit, size.value.y);
    return true;
}

bool CBaseScope::GetPixelSize(int layer, utl::TUnitValue<geo::CdVec2>& size) const
{
    return Guarded(false, [&] {
        const CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        geo::CdVec2 origin;
        geo::CdVec2 scale;
        utl::CUnit unit;
        if (!stack.GetOriginScale(origin, scale, unit))
            return false;
        size = utl::TUnitValue<geo::CdVec2>(unit, scale);
        return true;
    });
}

bool CBaseScope::GetPixelSize(int layer, utl::CUnit& unit, double& width, double& height) const
{
    utl::TUnitValue<geo::CdVec2> size;
    if (!GetPixelSize(layer, size))
        return false;
    unit = size.unit;
    width = size.value.x;
    height = size.value.y;
    return true;
}

bool CBaseScope::SetPixelSize(int layer, utl::TUnitValue<geo::CdVec2> const& size)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        stack.SetScale(size);
        return true;
    });
}

bool CBaseScope::SetPixelSize(int layer, utl::CUnit const& unit, double width, double height)
{
    // -0.0 compares equal to 0.0 and also means square; NaN does not.
    if (height == 0.0)
        height = width;
    return SetPixelSize(layer, utl::TUnitValue<geo::CdVec2>(unit, geo::CdVec2(width, height)));
}

bool CBaseScope::GetPixelCoords(int layer, utl::TUnitValue<geo::CdVec2>& scale, geo::CdVec2& origin) const
{
    return Guarded(false, [&] {
        const CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        // An uncalibrated stack leaves the caller's values in place and still
        // counts as an answer: callers preset what "uncalibrated" means to them.
        stack.GetOriginScale(origin, scale.value, scale.unit);
        return true;
    });
}

bool CBaseScope::SetPixelCoords(int layer, utl::TUnitValue<geo::CdVec2> const& scale, geo::CdVec2 const& origin)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        stack.SetOriginScale(origin, scale.value, scale.unit);
        return true;
    });
}

bool CBaseScope::GetPixelCoordsRect(int layer, utl::TUnitValue<geo::CdRect>& rect) const
{
    return Guarded(false, [&] {
        const CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        stack.GetBoundaryRWC(rect);
        return true;
    });
}

bool CBaseScope::SetPixelCoordsRect(int layer, utl::TUnitValue<geo::CdRect> const& rect)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        stack.SetBoundaryRWC(rect);
        return true;
    });
}

bool CBaseScope::GetPixelOrigin(int layer, geo::CdVec2& /*origin*/) const
{
    return Guarded(false, [&] {
        // The origin is read with the scale through GetPixelCoords; this
        // accessor answers nothing, but still resolves like its siblings.
        ResolveStack(layer);
        return false;
    });
}

bool CBaseScope::GetCanvasPlacement(int layer, geo::CdVec2& origin, geo::CdVec2& scale) const
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        return renderer2D().GetLayerCanvasPlacement(plane, origin, scale);
    });
}

bool CBaseScope::SetCanvasPlacement(int layer, geo::CdVec2 const& origin, geo::CdVec2 const& scale)
{
    return Guarded(false, [&] {
        const int plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        return renderer2D().SetLayerCanvasPlacement(plane, origin, scale);
    });
}

// --- Layer conversions ------------------------------------------------------------

bool CBaseScope::Pixel2Lcs(int layer, geo::CdVec2 const& pixel, utl::TUnitValue<geo::CdVec2>& lcs) const
{
    return Guarded(false, [&] {
        utl::TUnitValue<geo::CdVec2> scale = kUncalibrated;
        geo::CdVec2 origin;
        if (!GetPixelCoords(layer, scale, origin))
            return false;
        lcs = utl::TUnitValue<geo::CdVec2>(
            scale.unit, geo::CdVec2(pixel.x * scale.value.x + origin.x, pixel.y * scale.value.y + origin.y));
        return true;
    });
}

bool CBaseScope::Pixel2Lcs(int layer, geo::CdRect const& pixel, utl::TUnitValue<geo::CdRect>& lcs) const
{
    utl::TUnitValue<geo::CdVec2> corner0;
    utl::TUnitValue<geo::CdVec2> corner2;
    const bool ok0 = Pixel2Lcs(layer, pixel.GetPoint(0), corner0);
    const bool ok2 = Pixel2Lcs(layer, pixel.GetPoint(2), corner2);
    if (!(ok0 && ok2))
        return false;
    geo::CdRect rect(corner0.value, corner2.value);
    rect.Normalize();
    lcs = utl::TUnitValue<geo::CdRect>(corner0.unit, rect);
    return true;
}

bool CBaseScope::Lcs2Pixel(int layer, utl::TUnitValue<geo::CdVec2> const& lcs, geo::CdVec2& pixel) const
{
    return Guarded(false, [&] {
        utl::TUnitValue<geo::CdVec2> scale = kUncalibrated;
        geo::CdVec2 origin;
        if (!GetPixelCoords(layer, scale, origin))
            return false;
        // Lenient where Canvas2Pixel is strict: a number the layer's unit cannot
        // take is read as if it were in that unit, and an axis converted before
        // the failure keeps its conversion.
        geo::CdVec2 v = lcs.value;
        try {
            v.x = utl::Convert(lcs.value.x, lcs.unit, scale.unit);
            v.y = utl::Convert(lcs.value.y, lcs.unit, scale.unit);
        } catch (std::exception const&) {
        }
        pixel = geo::CdVec2((v.x - origin.x) / scale.value.x, (v.y - origin.y) / scale.value.y);
        return true;
    });
}

bool CBaseScope::Lcs2Pixel(int layer, utl::TUnitValue<geo::CdRect> const& lcs, geo::CdRect& pixel) const
{
    geo::CdVec2 corner0;
    geo::CdVec2 corner2;
    const bool ok0 = Lcs2Pixel(layer, utl::TUnitValue<geo::CdVec2>(lcs.unit, lcs.value.GetPoint(0)), corner0);
    const bool ok2 = Lcs2Pixel(layer, utl::TUnitValue<geo::CdVec2>(lcs.unit, lcs.value.GetPoint(2)), corner2);
    if (!(ok0 && ok2))
        return false;
    pixel = geo::CdRect(corner0, corner2);
    return true;
}

}  // namespace img

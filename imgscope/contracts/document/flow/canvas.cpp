#include "imgscope/contracts/document/display_flow.h"

#include "imgscope/contracts/document/render/compositor_internal.h"
#include "imgscope/contracts/document/flow/flow_access_internal.h"

namespace img {

using detail::tEntry;
using detail::tFlowState;
using namespace detail::flow;
using detail::IsFinite;
using detail::IsUsableScale;

// ---------------------------------------------------------------- canvas

geo::CiRect CDisplProcessFlow::GetImagePlaneRect() const { return m_flow->state->canvas.pixelRect; }

void CDisplProcessFlow::SetImagePlaneRect(geo::CiRect const& rect)
{
    if (geo::IsInverted(rect))
        return;  // an inverted rectangle is never flipped into a canvas
    m_flow->state->canvas.pixelRect = rect;
    m_flow->state->messages->Notify(eChangeCanvas);
}

bool CDisplProcessFlow::GetImagePlaneCalibration(geo::CdVec2& origin, geo::CdVec2& scale, utl::CUnit2& units) const
{
    detail::tCanvas const& canvas = m_flow->state->canvas;
    if (!canvas.calibrated)
        return false;
    origin = canvas.origin;
    scale = canvas.scale;
    units = canvas.units;
    return true;
}

void CDisplProcessFlow::SetImagePlaneCalibration(geo::CdVec2 const& origin, geo::CdVec2 const& scale,
                                                 utl::CUnit2 const& units)
{
    // A calibration that cannot map back to pixels is refused: the canvas
    // keeps the one it has.
    if (!IsFinite(origin) || !IsUsableScale(scale))
        return;
    detail::tCanvas& canvas = m_flow->state->canvas;
    canvas.calibrated = true;
    canvas.origin = origin;
    canvas.scale = scale;
    canvas.units = units;
    m_flow->state->messages->Notify(eChangeCanvas);
}

bool CDisplProcessFlow::GetImagePlaneRWC(utl::TUnitValue<geo::CdRect>& rect) const
{
    detail::tCanvas const& canvas = m_flow->state->canvas;
    if (!canvas.calibrated || canvas.pixelRect.IsEmpty())
        return false;
    double yScale = canvas.scale.y;
    double yOrigin = canvas.origin.y;
    if (canvas.units.y != canvas.units.x) {
        if (!canvas.units.y.Compatible(canvas.units.x))
            return false;
        yScale = utl::Convert(yScale, canvas.units.y, canvas.units.x);
        yOrigin = utl::Convert(yOrigin, canvas.units.y, canvas.units.x);
    }
    geo::CiRect const& p = canvas.pixelRect;
    geo::CdRect value(p.left * canvas.scale.x + canvas.origin.x, p.top * yScale + yOrigin,
                      p.right * canvas.scale.x + canvas.origin.x, p.bottom * yScale + yOrigin);
    value.Normalize();
    rect = utl::TUnitValue<geo::CdRect>(canvas.units.x, value);
    return true;
}

void CDisplProcessFlow::SetImagePlaneRWC(utl::TUnitValue<geo::CdRect> const& rect)
{
    // The real-world rectangle is what the pixel rectangle covers, so
    // setting it calibrates the canvas; without pixels there is no scale.
    detail::tCanvas& canvas = m_flow->state->canvas;
    geo::CdRect value = rect.value;
    value.Normalize();
    if (canvas.pixelRect.IsEmpty() || !IsFinite(value) || value.IsEmpty())
        return;
    const geo::CdVec2 scale(value.Width() / canvas.pixelRect.Width(), value.Height() / canvas.pixelRect.Height());
    if (!IsUsableScale(scale))
        return;
    canvas.calibrated = true;
    canvas.scale = scale;
    canvas.origin =
        geo::CdVec2(value.left - canvas.pixelRect.left * scale.x, value.top - canvas.pixelRect.top * scale.y);
    canvas.units = utl::CUnit2(rect.unit, rect.unit);
    m_flow->state->messages->Notify(eChangeCanvas);
}

bool CDisplProcessFlow::GetCanvasRectangle(geo::CdRect& rect) const
{
    detail::tCanvas const& canvas = m_flow->state->canvas;
    if (!canvas.hasRectangle)
        return false;
    rect = canvas.rectangle;
    return true;
}

bool CDisplProcessFlow::SetCanvasRectangle(geo::CdRect const& rect)
{
    if (!IsFinite(rect))
        return false;
    detail::tCanvas& canvas = m_flow->state->canvas;
    canvas.rectangle = rect;
    canvas.rectangle.Normalize();
    canvas.hasRectangle = true;
    m_flow->state->messages->Notify(eChangeCanvas);
    return true;
}

void CDisplProcessFlow::GetCanvasColors(CCanvasColor& background, CCanvasColor& border) const
{
    background = m_flow->state->canvas.background;
    border = m_flow->state->canvas.border;
}

void CDisplProcessFlow::SetCanvasColors(CCanvasColor const& background, CCanvasColor const& border)
{
    m_flow->state->canvas.background = background;
    m_flow->state->canvas.border = border;
    m_flow->state->messages->Notify(eChangeCanvas);
}

bool CDisplProcessFlow::GetLayerCanvasPlacement(int plane, geo::CdVec2& origin, geo::CdVec2& scale) const
{
    tEntry const* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !entry->hasPlacement)
        return false;
    origin = entry->placementOrigin;
    scale = entry->placementScale;
    return true;
}

bool CDisplProcessFlow::SetLayerCanvasPlacement(int plane, geo::CdVec2 const& origin, geo::CdVec2 const& scale)
{
    tEntry* entry = m_flow->state->FindLayerEntry(plane);
    if (!entry || !IsFinite(origin) || !IsUsableScale(scale))
        return false;
    entry->hasPlacement = true;
    entry->placementOrigin = origin;
    entry->placementScale = scale;
    m_flow->state->messages->Notify(eChangeDisplay);
    return true;
}

bool CDisplProcessFlow::OptimizeCanvasFromCalibration(std::vector<int> const& layerIds)
{
    tFlowState& state = *m_flow->state;
    detail::tCanvas fitted = state.canvas;
    if (!detail::FitCanvas(*m_flow, layerIds, fitted))
        return false;
    state.canvas = fitted;
    state.messages->Notify(eChangeCanvas);
    return true;
}

}  // namespace img

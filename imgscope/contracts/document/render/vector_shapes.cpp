#include "imgscope/contracts/document/render/vector_shapes_internal.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/document/render/blend_internal.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace img {
namespace detail {
namespace render {

namespace {

void PlotSpan(std::uint8_t* out, int left, int from, int to, int clipLeft, int clipRight, tShape const& shape,
              tLayerPlan const& plan, int row)
{
    from = std::max(from, clipLeft);
    to = std::min(to, clipRight - 1);
    for (int i = from; i <= to; ++i) {
        unsigned w = plan.weight;
        if (plan.mask) {
            const int lx = int(std::floor(plan.ax * (i + 0.5) + plan.bx));
            const int ly = int(std::floor(plan.ay * (row + 0.5) + plan.by));
            const int m = plan.mask->GetValue(geo::CiVec2(lx, ly));
            w = plan.WeightOf(m < 0 ? 0u : unsigned(m));
        }
        BlendPixel(out + std::int64_t(i - left) * 3, shape.b, shape.g, shape.r, w, plan.function);
    }
}

// The pixels of row `row` that a segment touches: along its major axis one
// pixel per column (or row), centres sampled at +0.5.
void SegmentRow(tSegment const& s, int row, int& from, int& to)
{
    from = 1;
    to = 0;
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double minY = std::min(s.y0, s.y1), maxY = std::max(s.y0, s.y1);
    if (std::fabs(dx) >= std::fabs(dy)) {
        const double minX = std::min(s.x0, s.x1), maxX = std::max(s.x0, s.x1);
        const double firstCol = std::floor(minX), lastCol = std::floor(maxX);
        if (row < std::floor(minY) || row > std::floor(maxY))
            return;
        const auto rowOf = [&](double col) {
            const double u = std::clamp(col + 0.5, minX, maxX);
            const double v = dx == 0.0 ? s.y0 : s.y0 + (u - s.x0) * dy / dx;
            return std::floor(v);
        };
        double lo = firstCol, hi = lastCol;
        if (dy != 0.0) {
            // Columns whose sample falls in [row, row + 1), widened by one.
            const double ua = s.x0 + (row - s.y0) * dx / dy;
            const double ub = s.x0 + (row + 1 - s.y0) * dx / dy;
            lo = std::max(lo, std::floor(std::min(ua, ub)) - 1.0);
            hi = std::min(hi, std::floor(std::max(ua, ub)) + 1.0);
        }
        while (lo <= hi && rowOf(lo) != row)
            lo += 1.0;
        while (hi >= lo && rowOf(hi) != row)
            hi -= 1.0;
        if (lo > hi || lo < INT_MIN / 2 || hi > INT_MAX / 2)
            return;
        from = int(lo);
        to = int(hi);
    } else {
        if (row < std::floor(minY) || row > std::floor(maxY))
            return;
        const double v = std::clamp(row + 0.5, minY, maxY);
        const double u = s.x0 + (v - s.y0) * dx / dy;
        if (!(u > INT_MIN / 2 && u < INT_MAX / 2))
            return;
        from = to = int(std::floor(u));
    }
}

}  // namespace

void DrawShapesRow(tLayerPlan const& plan, int row, std::uint8_t* out, int clipLeft, int clipRight)
{
    for (tShape const& shape : plan.shapes) {
        if (!shape.isEllipse) {
            for (tSegment const& seg : shape.segments) {
                int from, to;
                SegmentRow(seg, row, from, to);
                if (from <= to)
                    PlotSpan(out, clipLeft, from, to, clipLeft, clipRight, shape, plan, row);
            }
            continue;
        }
        // Outline of an ellipse within the band [row, row + 1): on each side
        // the columns between the half-widths at the band's far and near y.
        tEllipse const& e = shape.ellipse;
        const double top = row, bottom = row + 1.0;
        if (bottom < e.cy - e.ry || top > e.cy + e.ry)
            continue;
        const auto halfWidth = [&](double v) {
            const double t = (v - e.cy) / e.ry;
            return t * t >= 1.0 ? 0.0 : e.rx * std::sqrt(1.0 - t * t);
        };
        const double wMax = halfWidth(std::clamp(e.cy, top, bottom));
        const double far = std::fabs(top - e.cy) > std::fabs(bottom - e.cy) ? top : bottom;
        const double wMin = halfWidth(far);
        const double limits[4] = {e.cx + wMin, e.cx + wMax, e.cx - wMax, e.cx - wMin};
        bool finite = true;
        for (double l : limits)
            finite = finite && l > INT_MIN / 2 && l < INT_MAX / 2;
        if (!finite)
            continue;
        const int rightFrom = int(std::floor(limits[0])), rightTo = int(std::floor(limits[1]));
        const int leftFrom = int(std::floor(limits[2])), leftTo = int(std::floor(limits[3]));
        PlotSpan(out, clipLeft, leftFrom, std::min(leftTo, rightFrom - 1), clipLeft, clipRight, shape, plan, row);
        PlotSpan(out, clipLeft, std::max(rightFrom, leftFrom), rightTo, clipLeft, clipRight, shape, plan, row);
    }
}

void PlanVector(CStack const& stack, tEntry const& entry, tView const& view, double ox, double sx, double oy,
                double sy, tLayerPlan& plan)
{
    const boost::shared_ptr<CVecGraph> graphic = stack.GetVecGraph(FrameShown(entry, stack));
    if (!graphic)
        return;
    // Layer pixel p (centre p + 0.5) → target u: u = ((p + 0.5) × s + o − c) / k.
    const auto tx = [&](double p) { return ((p + 0.5) * sx + ox - view.cx) / view.kx; };
    const auto ty = [&](double p) { return ((p + 0.5) * sy + oy - view.cy) / view.ky; };
    for (CVecGraph::tShape const& in : graphic->Shapes()) {
        tShape shape;
        shape.b = in.blue;
        shape.g = in.green;
        shape.r = in.red;
        geo::CdRect r = in.bounds;
        const double x0 = tx(r.left), y0 = ty(r.top), x1 = tx(r.right), y1 = ty(r.bottom);
        if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1)))
            continue;
        switch (in.kind) {
        case CVecGraph::eLine:
            shape.segments.push_back({x0, y0, x1, y1});
            break;
        case CVecGraph::eEllipse:
            if (x0 != x1 && y0 != y1) {
                shape.isEllipse = true;
                shape.ellipse = {(x0 + x1) / 2, (y0 + y1) / 2, std::fabs(x1 - x0) / 2, std::fabs(y1 - y0) / 2};
                break;
            }
            [[fallthrough]];  // a flat ellipse is a line
        default:
            shape.segments.push_back({x0, y0, x1, y0});
            shape.segments.push_back({x1, y0, x1, y1});
            shape.segments.push_back({x1, y1, x0, y1});
            shape.segments.push_back({x0, y1, x0, y0});
            break;
        }
        plan.shapes.push_back(std::move(shape));
    }
    plan.isVector = !plan.shapes.empty();
    plan.ax = view.kx / sx;
    plan.bx = (view.cx - ox) / sx;
    plan.ay = view.ky / sy;
    plan.by = (view.cy - oy) / sy;
}

}  // namespace render
}  // namespace detail
}  // namespace img

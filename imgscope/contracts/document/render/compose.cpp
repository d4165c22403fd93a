#include "imgscope/contracts/document/render/compositor_internal.h"

#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/document/render/blend_internal.h"
#include "imgscope/contracts/document/render/colour_kernels_internal.h"
#include "imgscope/contracts/document/render/layer_plan_internal.h"
#include "imgscope/contracts/document/render/vector_shapes_internal.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace img {
namespace detail {

using namespace render;

namespace {

const std::uint8_t kZeroPixel[64] = {};

}  // namespace

bool Compose(tFlow const& flow, boost::shared_ptr<CPixFrame> const& target, geo::CiRect const& pixelRect,
             geo::CdRect const& canvasRect, std::vector<int> const& layerIds, tRenderHints const& hints)
{
    if (!target)
        return false;
    CPixelInfo const& targetInfo = target->GetPixelInfo();
    if (targetInfo.GetElementType() != utl::eUInt8 || targetInfo.GetComponentCount() != 3 || targetInfo.HasAlpha())
        return false;
    if (pixelRect.IsEmpty() || !(canvasRect.Width() > 0.0) || !(canvasRect.Height() > 0.0) ||
        !std::isfinite(canvasRect.left) || !std::isfinite(canvasRect.top) || !std::isfinite(canvasRect.right) ||
        !std::isfinite(canvasRect.bottom))
        return false;
    const geo::CiRect clip = geo::Intersection(pixelRect, target->GetBoundary(0));
    if (clip.IsEmpty())
        return false;

    tFlowState const& state = *flow.state;
    tCanvas const& canvas = state.canvas;

    // Target pixel centre u → canvas pixel → calibrated canvas coordinate.
    tView view;
    view.clip = clip;
    // In doubles: the extent of a rectangle spanning the int range overflows int.
    const double px = canvasRect.Width() / (double(pixelRect.right) - double(pixelRect.left));
    const double py = canvasRect.Height() / (double(pixelRect.bottom) - double(pixelRect.top));
    const double qx = canvasRect.left - pixelRect.left * px;
    const double qy = canvasRect.top - pixelRect.top * py;
    const double csx = canvas.calibrated ? canvas.scale.x : 1.0;
    const double csy = canvas.calibrated ? canvas.scale.y : 1.0;
    const double cox = canvas.calibrated ? canvas.origin.x : 0.0;
    const double coy = canvas.calibrated ? canvas.origin.y : 0.0;
    view.kx = px * csx;
    view.cx = qx * csx + cox;
    view.ky = py * csy;
    view.cy = qy * csy + coy;

    const int width = clip.Width();
    const std::size_t rowPixels = static_cast<std::size_t>(width);

    // Plans: per layer the tables, the column and row maps and its state,
    // made once so that the row loop looks nothing up.
    std::vector<tLayerPlan> plans;
    if (flow.document) {
        for (tDrawn const& d : DrawnLayers(state, layerIds)) {
            const CStack stack = flow.document->FindStack(d.layerId);
            if (!stack.IsValid())
                continue;
            geo::CdVec2 o, s;
            if (!LayerToCanvas(flow, d.layerId, canvas, o, s))
                continue;
            tLayerPlan plan;
            plan.weight = unsigned(std::lround(OpacityOf(*d.entry) * d.groupOpacity * 256.0));
            if (!hints.ignoreMasks && d.entry->mask) {
                plan.mask = d.entry->mask;
                plan.maskBounds = plan.mask->GetBoundary();
            }
            const std::vector<int> channels = ChannelsOf(stack);
            for (int c : channels) {
                if (ChannelVisible(*d.entry, c)) {
                    auto it = d.entry->channels.find(c);
                    plan.function = it == d.entry->channels.end() ? eFunctionNormal : it->second.function;
                    break;
                }
            }
            plan.filter = d.entry->filter;

            if (stack.GetLayerType() == eLayerTypeVector) {
                PlanVector(stack, *d.entry, view, o.x, s.x, o.y, s.y, plan);
                if (!plan.isVector)
                    continue;
            } else {
                geo::CiRect bounds;
                if (!PlanRaster(*d.entry, stack, plan, bounds))
                    continue;
                for (tSource& src : plan.sources)
                    FinishTables(src, plan.sources.size() == 1);
                const std::vector<int> columns = ColumnsOf(view, o.x, s.x, bounds.left, bounds.right, plan.x0, plan.x1);
                if (columns.empty())
                    continue;
                plan.rowIndex = RowsOf(view, o.y, s.y, bounds.top, bounds.bottom);
                for (tSource& src : plan.sources)
                    src.access.Setup(columns, src.pixelBytes, kZeroPixel);
                if (plan.mask) {
                    std::vector<int> maskColumns = columns;
                    for (int& x : maskColumns)
                        if (x < plan.maskBounds.left || x >= plan.maskBounds.right)
                            x = INT_MIN;
                    plan.maskAccess.Setup(maskColumns, 1, kZeroPixel);
                }
            }
            plans.push_back(std::move(plan));
        }
    }
    // Background: canvas pixels inside the canvas's pixel rectangle take the
    // background colour, those outside the border colour. Both kinds of
    // row are made once and copied.
    const bool hasCanvasRect = !canvas.pixelRect.IsEmpty();
    std::vector<std::uint8_t> insideRow(rowPixels * 3), borderRow(rowPixels * 3);
    for (int i = 0; i < width; ++i) {
        const double c = (clip.left + i + 0.5) * px + qx;
        const bool inside = !hasCanvasRect || (c >= canvas.pixelRect.left && c < canvas.pixelRect.right);
        CCanvasColor const& colour = inside ? canvas.background : canvas.border;
        for (int k = 0; k < 3; ++k) {
            insideRow[std::size_t(3 * i + k)] = colour[k];
            borderRow[std::size_t(3 * i + k)] = canvas.border[k];
        }
    }

    std::vector<std::uint8_t> out(rowPixels * 3);
    std::vector<std::uint8_t> layerRow(rowPixels * 3);
    std::vector<std::uint8_t> coverage(rowPixels);
    std::vector<std::uint16_t> weights(rowPixels * 3);
    std::vector<tLanes> sum(rowPixels);
    const bool rgbOrder = targetInfo.GetColorSpace() == eColorSpaceRGB;

    for (int j = clip.top; j < clip.bottom; ++j) {
        const std::size_t rowK = std::size_t(j - clip.top);
        std::uint8_t* o = out.data();
        if (hints.skipBackground) {
            if (!target->ReadRowSegment(geo::CiVec2(clip.left, j), width, o, 0))
                return false;
            if (rgbOrder)
                for (int i = 0; i < width; ++i)
                    std::swap(o[3 * i], o[3 * i + 2]);
        } else {
            const double c = (j + 0.5) * py + qy;
            const bool insideY = !hasCanvasRect || (c >= canvas.pixelRect.top && c < canvas.pixelRect.bottom);
            std::memcpy(o, insideY ? insideRow.data() : borderRow.data(), rowPixels * 3);
        }

        for (tLayerPlan& plan : plans) {
            if (plan.isVector) {
                DrawShapesRow(plan, j, o, clip.left, clip.right);
                continue;
            }
            const int y = plan.rowIndex[rowK];
            if (y == INT_MIN)
                continue;
            const int count = plan.x1 - plan.x0;
            bool partial = false;  // coverage holds per-pixel values
            if (plan.mask) {
                if (y < plan.maskBounds.top || y >= plan.maskBounds.bottom || plan.maskAccess.Empty())
                    continue;  // wholly transparent here
                const CMask& mask = *plan.mask;
                if (!plan.maskAccess.Fetch(y, [&](geo::CiVec2 p, std::uint8_t const*& data) {
                        return mask.GetRowSpan(p, data);
                    }))
                    continue;
                std::uint8_t* cov = coverage.data();
                plan.maskAccess.ForEachRun([cov](auto const& at, int k0, int k1) {
                    for (int k = k0; k < k1; ++k)
                        cov[k] = *at(k);
                });
                partial = true;
            }
            bool fetched = true;
            for (tSource& src : plan.sources) {
                CPixFrame const& frame = *src.frame;
                fetched = fetched && src.access.Fetch(y, [&](geo::CiVec2 p, std::uint8_t const*& data) {
                    return frame.GetRowSpan(p, data);
                });
            }
            if (!fetched)
                continue;

            std::uint8_t* row = layerRow.data();
            tSource const& first = plan.sources[0];
            if (plan.sources.size() == 1 && first.mode == eModePacked) {
                ByType<KPacked>(first, row);
            } else if (plan.sources.size() == 1 && first.mode == eModeBytes) {
                if (!first.allLanesLit)
                    std::memset(row, 0, std::size_t(count) * 3);
                ByType<KBytes>(first, row);
            } else {
                std::fill(sum.begin(), sum.begin() + count, tLanes(0));
                for (tSource const& src : plan.sources)
                    ByType<KSum>(src, sum.data());
                for (int k = 0; k < count; ++k) {
                    row[3 * k] = Clamp8(sum[std::size_t(k)]);
                    row[3 * k + 1] = Clamp8(sum[std::size_t(k)] >> 16);
                    row[3 * k + 2] = Clamp8(sum[std::size_t(k)] >> 32);
                }
            }
            for (tSource const& src : plan.sources) {
                if (src.alphaComponent >= 0) {
                    ByType<KCoverage>(src, coverage.data(), partial);
                    partial = true;
                }
            }
            if (plan.filter)
                plan.filter->Apply(row, count);

            std::uint8_t* dest = o + std::int64_t(plan.x0 - clip.left) * 3;
            if (partial) {
                std::uint16_t* w = weights.data();
                for (int k = 0; k < count; ++k) {
                    const std::uint16_t v = std::uint16_t(plan.WeightOf(coverage[std::size_t(k)]));
                    w[3 * k] = v;
                    w[3 * k + 1] = v;
                    w[3 * k + 2] = v;
                }
                Blend(dest, row, w, count, plan);
            } else {
                Blend(dest, row, nullptr, count, plan);
            }
        }

        if (rgbOrder)
            for (int i = 0; i < width; ++i)
                std::swap(o[3 * i], o[3 * i + 2]);
        if (!target->WriteRowSegment(geo::CiVec2(clip.left, j), width, o, 0))
            return false;
    }
    return true;
}

}  // namespace detail
}  // namespace img

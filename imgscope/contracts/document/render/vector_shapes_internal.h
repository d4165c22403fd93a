// Vector layers in the compositor: shapes mapped into target coordinates
// and drawn as one-pixel outlines, row by row. Not installed.
#pragma once

#include "imgscope/contracts/document/render/layer_plan_internal.h"

#include <cstdint>

namespace img {
namespace detail {
namespace render {

// Maps the shapes of the frame an entry shows into target coordinates;
// leaves `plan.isVector` false when there is nothing to draw.
void PlanVector(CStack const& stack, tEntry const& entry, tView const& view, double ox, double sx, double oy,
                double sy, tLayerPlan& plan);

// Draws the outline pixels of target row `row` into `out`, which holds
// target columns [clipLeft, clipRight).
void DrawShapesRow(tLayerPlan const& plan, int row, std::uint8_t* out, int clipLeft, int clipRight);

}  // namespace render
}  // namespace detail
}  // namespace img

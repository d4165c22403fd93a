// Blend kernels of the compositor: a coloured layer row over what lies
// below, by the layer's function and weights. Not installed.
#pragma once

#include "imgscope/contracts/document/render/layer_plan_internal.h"

#include <cstdint>

namespace img {
namespace detail {
namespace render {

// Picks the row kernel once per row, so the function is a template
// argument inside the loops. `weights` (null: the plan's constant weight)
// holds one weight per byte.
void Blend(std::uint8_t* out, std::uint8_t const* layer, std::uint16_t const* weights, int count,
           tLayerPlan const& plan);

// One pixel (blue, green, red) at weight `w` of 0..256.
void BlendPixel(std::uint8_t* out, unsigned b, unsigned g, unsigned r, unsigned w, ELayerFunction function);

}  // namespace render
}  // namespace detail
}  // namespace img

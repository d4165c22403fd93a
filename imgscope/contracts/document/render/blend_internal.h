// Blend kernels of the compositor: a coloured layer row over what lies
// below, by the layer's function and weights. Not installed.
#pragma once

#include "imgscope/contracts/document/document_types.h"

#include <cstdint>

namespace img {
namespace detail {
namespace render {

// Blends `count` pixels of a coloured layer row over `out` by `function`.
// `weights` holds one weight (0..256) per byte; without it every byte
// takes `weight`. Picks the row kernel once per call, so the function is a
// template argument inside the loops.
void Blend(std::uint8_t* out, std::uint8_t const* layer, std::uint16_t const* weights, int count,
           ELayerFunction function, unsigned weight);

// One pixel (blue, green, red) at weight `w` of 0..256.
void BlendPixel(std::uint8_t* out, unsigned b, unsigned g, unsigned r, unsigned w, ELayerFunction function);

}  // namespace render
}  // namespace detail
}  // namespace img

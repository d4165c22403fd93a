#include "imgscope/contracts/document/render/blend_internal.h"

#include <algorithm>
#include <cstring>

namespace img {
namespace detail {
namespace render {

namespace {

// Row kernels stay functions of their own: inlined into the long row loop
// they lose the no-overlap promise of their arguments and run scalar.
#if defined(_MSC_VER)
#define IMGSCOPE_ROW_KERNEL __declspec(noinline)
#else
#define IMGSCOPE_ROW_KERNEL __attribute__((noinline))
#endif

template <int Function>
inline unsigned Combine(unsigned below, unsigned c)
{
    if constexpr (Function == eFunctionAdd)
        return std::min(255u, below + c);
    else if constexpr (Function == eFunctionMultiply)
        return (below * c + 127u) / 255u;
    else if constexpr (Function == eFunctionMax)
        return std::max(below, c);
    else if constexpr (Function == eFunctionMin)
        return std::min(below, c);
    else
        return c;
}

// out = (below × (256 − w) + f × w + 128) / 256 stays below 65536, so the
// loops below run in 16-bit lanes once vectorised; the rows never overlap,
// which __restrict tells the compiler (it vectorises nothing otherwise).
template <int Function>
IMGSCOPE_ROW_KERNEL void BlendConstant(std::uint8_t* __restrict out, std::uint8_t const* __restrict layer, int bytes,
                                       unsigned w)
{
    if (w == 0)
        return;
    if (Function == eFunctionNormal && w == 256) {
        std::memcpy(out, layer, std::size_t(bytes));
        return;
    }
    const unsigned keep = 256 - w;
    for (int i = 0; i < bytes; ++i) {
        const unsigned o = out[i];
        out[i] = std::uint8_t(std::uint16_t(o * keep + Combine<Function>(o, layer[i]) * w + 128u) >> 8);
    }
}

template <int Function>
IMGSCOPE_ROW_KERNEL void BlendWeighted(std::uint8_t* __restrict out, std::uint8_t const* __restrict layer,
                   std::uint16_t const* __restrict weights, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        const unsigned o = out[i];
        const unsigned w = weights[i];
        out[i] = std::uint8_t(std::uint16_t(o * (256u - w) + Combine<Function>(o, layer[i]) * w + 128u) >> 8);
    }
}

// `weights` (null: the constant `weight`) holds one weight per byte.
template <int Function>
void BlendAs(std::uint8_t* out, std::uint8_t const* layer, std::uint16_t const* weights, int bytes, unsigned weight)
{
    if (weights)
        BlendWeighted<Function>(out, layer, weights, bytes);
    else
        BlendConstant<Function>(out, layer, bytes, weight);
}

}  // namespace

void Blend(std::uint8_t* out, std::uint8_t const* layer, std::uint16_t const* weights, int count,
           ELayerFunction function, unsigned weight)
{
    const int bytes = count * 3;
    switch (function) {
    case eFunctionAdd: return BlendAs<eFunctionAdd>(out, layer, weights, bytes, weight);
    case eFunctionMultiply: return BlendAs<eFunctionMultiply>(out, layer, weights, bytes, weight);
    case eFunctionMax: return BlendAs<eFunctionMax>(out, layer, weights, bytes, weight);
    case eFunctionMin: return BlendAs<eFunctionMin>(out, layer, weights, bytes, weight);
    default: return BlendAs<eFunctionNormal>(out, layer, weights, bytes, weight);
    }
}

void BlendPixel(std::uint8_t* out, unsigned b, unsigned g, unsigned r, unsigned w, ELayerFunction function)
{
    const unsigned c[3] = {b, g, r};
    const unsigned keep = 256 - w;
    for (int i = 0; i < 3; ++i) {
        unsigned f;
        switch (function) {
        case eFunctionAdd: f = Combine<eFunctionAdd>(out[i], c[i]); break;
        case eFunctionMultiply: f = Combine<eFunctionMultiply>(out[i], c[i]); break;
        case eFunctionMax: f = Combine<eFunctionMax>(out[i], c[i]); break;
        case eFunctionMin: f = Combine<eFunctionMin>(out[i], c[i]); break;
        default: f = c[i]; break;
        }
        out[i] = std::uint8_t((out[i] * keep + f * w + 128u) >> 8);
    }
}

}  // namespace render
}  // namespace detail
}  // namespace img

// Colour tables of the compositor: how the values of one channel become
// colours (limits, LUTs, default tints), folded into a table per channel.
// Not installed.
#pragma once

#include "imgscope/contracts/document/display_flow_internal.h"

#include "imgscope/contracts/foundation/colors.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace img {
namespace detail {
namespace render {

// A colour as three 16-bit lanes (blue, green, red): the channels of a
// layer add up in lanes without overflow and are clamped once.
using tLanes = std::uint64_t;
constexpr tLanes MakeLanes(unsigned blue, unsigned green, unsigned red)
{
    return tLanes(blue) | tLanes(green) << 16 | tLanes(red) << 32;
}
inline std::uint8_t Clamp8(tLanes lane) { return std::uint8_t(std::min<tLanes>(lane & 0xFFFF, 255)); }

// Default colours of channels without a LUT, as blue, green, red weights.
struct tTint {
    unsigned b, g, r;
};
constexpr tTint kGrey{1, 1, 1};
constexpr tTint kCycle[] = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};

// Element types read through a table indexed by the raw value.
bool IsTabled(utl::EType type);

void TypeRange(utl::EType type, double& lo, double& hi);

// How one channel's values become colours: limits map onto 0..1, which
// indexes the LUT (display LUT first, then data LUT) or a ramp of the
// channel's default tint.
struct tChannelLook {
    double lo = 0.0;
    double hi = 255.0;
    std::vector<utl::CBGR8> lut;
    tTint tint = kGrey;

    // Position of `value` between the limits, 0..1.
    double Level(double value) const
    {
        if (std::isnan(value))
            return 0.0;
        if (hi == lo)
            return value >= hi ? 1.0 : 0.0;
        return std::clamp((value - lo) / (hi - lo), 0.0, 1.0);
    }
    tLanes Colour(double level) const
    {
        if (!lut.empty()) {
            utl::CBGR8 const& c = lut[std::size_t(std::lround(level * double(lut.size() - 1)))];
            return MakeLanes(c.b, c.g, c.r);
        }
        const unsigned v = unsigned(std::lround(level * 255.0));
        return MakeLanes(v * tint.b, v * tint.g, v * tint.r);
    }
};

// One colour channel read from a component of a pixel source. Its table
// is indexed by the raw value for 1- and 2-byte integers and by the level
// 0..255 for other types; it holds one of three forms, chosen when the
// layer is planned (FinishTables).
struct tChannelTable {
    int component = 0;
    std::vector<tLanes> lanes;           // summed with other channels
    std::vector<std::uint32_t> packed;   // a lone channel: blue | green << 8 | red << 16
    std::vector<std::uint8_t> bytes;     // the channel feeds one output byte only
    int lane = -1;                       // that byte: 0 blue, 1 green, 2 red; -1 never lit
    double lo = 0.0;                     // untabled types: level = (value − lo) × levelScale
    double hi = 0.0;
    double levelScale = 0.0;
};

tChannelTable MakeTable(utl::EType type, int component, tChannelLook const& look);

template <class T>
inline T Load(std::uint8_t const* p)
{
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

// Table index of an element.
template <class T>
inline std::size_t TableIndex(tChannelTable const& t, std::uint8_t const* element)
{
    const T v = Load<T>(element);
    if constexpr (sizeof(T) <= 2 && std::is_integral_v<T>) {
        if constexpr (std::is_signed_v<T>)
            return std::size_t(int(v) - int(std::numeric_limits<T>::min()));
        else
            return std::size_t(v);
    } else {
        const double value = double(v);
        if (t.levelScale == 0.0)
            return value >= t.hi ? 255 : 0;
        if (!(value == value))
            return 0;
        return std::size_t(std::clamp((value - t.lo) * t.levelScale + 0.5, 0.0, 255.0));
    }
}

struct tSource;
// Chooses the cheapest table form that gives the same colours.
void FinishTables(tSource& s, bool alone);

}  // namespace render
}  // namespace detail
}  // namespace img

// Colouring kernels of the compositor: a source row through its channel
// tables into colours or lanes, and the coverage of its alpha. Templates
// for the compose loop, which picks the element type once per row. Not
// installed.
#pragma once

#include "imgscope/contracts/document/render/channel_tables_internal.h"
#include "imgscope/contracts/document/render/layer_plan_internal.h"
#include "imgscope/contracts/document/render/row_access_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
#define IMGSCOPE_LITTLE_ENDIAN (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
#elif defined(_M_X64) || defined(_M_IX86) || defined(_M_ARM64)
#define IMGSCOPE_LITTLE_ENDIAN 1
#else
#define IMGSCOPE_LITTLE_ENDIAN 0
#endif

namespace img {
namespace detail {
namespace render {

// The kernels take a reader (tIndexedReader or tLinearReader) and fill
// covered columns [k0, k1) of a row.
template <class T, class Reader>
void ColourPacked(tSource const& s, Reader const& at, int k0, int k1, std::uint8_t* bgr)
{
    tChannelTable const& ch = s.channels[0];
    std::uint32_t const* table = ch.packed.data();
    const std::int64_t component = std::int64_t(ch.component) * s.elementBytes;
    for (int k = k0; k < k1; ++k) {
        const std::uint32_t c = table[TableIndex<T>(ch, at(k) + component)];
        std::uint8_t* o = bgr + std::int64_t(k) * 3;
#if IMGSCOPE_LITTLE_ENDIAN
        // One store of blue, green, red and a byte that the next pixel
        // overwrites (the row keeps one byte of slack for the last).
        std::memcpy(o, &c, sizeof(c));
#else
        o[0] = std::uint8_t(c);
        o[1] = std::uint8_t(c >> 8);
        o[2] = std::uint8_t(c >> 16);
#endif
    }
}

template <class T, class Reader>
void ColourBytes(tSource const& s, Reader const& at, int k0, int k1, std::uint8_t* bgr)
{
    for (tChannelTable const& ch : s.channels) {
        if (ch.lane < 0)
            continue;
        std::uint8_t const* table = ch.bytes.data();
        const std::int64_t component = std::int64_t(ch.component) * s.elementBytes;
        std::uint8_t* o = bgr + ch.lane;
        for (int k = k0; k < k1; ++k)
            o[std::int64_t(k) * 3] = table[TableIndex<T>(ch, at(k) + component)];
    }
}

template <class T, class Reader>
void ColourSum(tSource const& s, Reader const& at, int k0, int k1, tLanes* sum)
{
    for (tChannelTable const& ch : s.channels) {
        tLanes const* table = ch.lanes.data();
        const std::int64_t component = std::int64_t(ch.component) * s.elementBytes;
        for (int k = k0; k < k1; ++k)
            sum[k] += table[TableIndex<T>(ch, at(k) + component)];
    }
}

// Coverage of the source's alpha component, 0..255, into `coverage` (or
// multiplied into it with `combine`).
template <class T, class Reader>
void Coverage(tSource const& s, Reader const& at, int k0, int k1, std::uint8_t* coverage, bool combine)
{
    const std::int64_t component = std::int64_t(s.alphaComponent) * s.elementBytes;
    const double scale = 255.0 / s.alphaMax;
    for (int k = k0; k < k1; ++k) {
        const double v = double(Load<T>(at(k) + component)) * scale;
        const unsigned a = v >= 0.0 ? unsigned(std::min(v + 0.5, 255.0)) : 0u;
        coverage[k] = combine ? std::uint8_t((coverage[k] * a + 127u) / 255u) : std::uint8_t(a);
    }
}

// Runs kernel K<T> over the runs of columns [lo, hi) of the source's
// fetched row.
template <template <class, class> class K, class T, class... Args>
void OverRuns(tSource const& s, int lo, int hi, Args... args)
{
    s.access.ForEachRun(
        [&](auto const& at, int k0, int k1) { K<T, std::decay_t<decltype(at)>>::Run(s, at, k0, k1, args...); }, lo,
        hi);
}

template <class T, class R>
struct KPacked {
    static void Run(tSource const& s, R const& at, int k0, int k1, std::uint8_t* bgr)
    {
        ColourPacked<T>(s, at, k0, k1, bgr);
    }
};
template <class T, class R>
struct KBytes {
    static void Run(tSource const& s, R const& at, int k0, int k1, std::uint8_t* bgr)
    {
        ColourBytes<T>(s, at, k0, k1, bgr);
    }
};
template <class T, class R>
struct KSum {
    static void Run(tSource const& s, R const& at, int k0, int k1, tLanes* sum) { ColourSum<T>(s, at, k0, k1, sum); }
};
template <class T, class R>
struct KCoverage {
    static void Run(tSource const& s, R const& at, int k0, int k1, std::uint8_t* coverage, bool combine)
    {
        Coverage<T>(s, at, k0, k1, coverage, combine);
    }
};

// Chooses the element type once per source and row.
template <template <class, class> class K, class... Args>
void ByType(tSource const& s, int lo, int hi, Args... args)
{
    switch (s.type) {
    case utl::eInt8: OverRuns<K, std::int8_t>(s, lo, hi, args...); return;
    case utl::eUInt8: OverRuns<K, std::uint8_t>(s, lo, hi, args...); return;
    case utl::eInt16: OverRuns<K, std::int16_t>(s, lo, hi, args...); return;
    case utl::eUInt16: OverRuns<K, std::uint16_t>(s, lo, hi, args...); return;
    case utl::eInt32: OverRuns<K, std::int32_t>(s, lo, hi, args...); return;
    case utl::eUInt32: OverRuns<K, std::uint32_t>(s, lo, hi, args...); return;
    case utl::eInt64: OverRuns<K, std::int64_t>(s, lo, hi, args...); return;
    case utl::eUInt64: OverRuns<K, std::uint64_t>(s, lo, hi, args...); return;
    case utl::eFloat: OverRuns<K, float>(s, lo, hi, args...); return;
    case utl::eDouble: OverRuns<K, double>(s, lo, hi, args...); return;
    default: return;
    }
}

}  // namespace render
}  // namespace detail
}  // namespace img

// Shared pieces of the pixel-store benchmarks: pixel types, filled frames
// and a clock for measuring a baseline and the subject back to back.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace storebench {

constexpr int kLayoutCount = 8;

using tClock = std::chrono::steady_clock;

inline double Seconds(tClock::time_point a, tClock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Times a baseline and the subject back to back in each iteration, so that
// both see the same machine; the iteration's manual time is the subject's.
struct tBackToBack {
    double base = 0;
    double subject = 0;

    // `run` returns false when the subject failed; the run then stops with
    // `error`.
    template <class B, class S>
    void Time(benchmark::State& state, B&& baseline, S&& run, char const* error)
    {
        const auto t0 = tClock::now();
        baseline();
        const auto t1 = tClock::now();
        const bool ok = run();
        const auto t2 = tClock::now();
        if (!ok)
            state.SkipWithError(error);
        base += Seconds(t0, t1);
        subject += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t1, t2));
    }

    // The subject's speed as a multiple of the baseline's.
    double Ratio() const { return subject > 0 ? base / subject : 0.0; }
};

// Pixel layouts by kind: 0 gray8, 1 gray16, 2 RGB8, then the other
// 1- to 4-channel layouts of 8- and 16-bit elements.
struct tLayout {
    char const* name;
    utl::EType type;
    int components;
    img::EColorSpace space;
    int alpha;
};

inline tLayout const& Layout(std::int64_t kind)
{
    static const tLayout layouts[] = {
        {"gray8", utl::eUInt8, 1, img::eColorSpaceGray, 0},  {"gray16", utl::eUInt16, 1, img::eColorSpaceGray, 0},
        {"rgb8", utl::eUInt8, 3, img::eColorSpaceRGB, 0},    {"2ch8", utl::eUInt8, 2, img::eColorSpaceMulti, 0},
        {"2ch16", utl::eUInt16, 2, img::eColorSpaceMulti, 0}, {"rgb16", utl::eUInt16, 3, img::eColorSpaceRGB, 0},
        {"rgba8", utl::eUInt8, 3, img::eColorSpaceRGB, 1},   {"rgba16", utl::eUInt16, 3, img::eColorSpaceRGB, 1},
    };
    return layouts[kind >= 0 && kind < kLayoutCount ? kind : 0];
}

inline img::CPixelInfo Info(std::int64_t kind)
{
    tLayout const& l = Layout(kind);
    return img::CPixelInfo(l.type, l.components, l.space).AddAlpha(l.alpha);
}

inline char const* KindName(std::int64_t kind)
{
    return Layout(kind).name;
}

inline utl::CPropSet Tiles(int side)
{
    utl::CPropSet p;
    p.SetValue(mem::ePropTileSize, geo::CiVec3(side, side, 1));
    return p;
}

inline geo::CiVolumeN Square(int side)
{
    return geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0}, geo::CiVecN{side, side});
}

inline std::vector<std::uint8_t> Ramp(std::size_t bytes, int seed)
{
    std::vector<std::uint8_t> v(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        v[i] = static_cast<std::uint8_t>(i * 31 + static_cast<std::size_t>(seed) + i / 509);
    return v;
}

// A frame of `side` × `side` pixels holding non-uniform data everywhere.
inline std::unique_ptr<mem::CDataFrame> FilledFrame(int side, int tile, img::CPixelInfo const& info, int seed)
{
    auto f = std::make_unique<mem::CDataFrame>(Square(side), info, Tiles(tile));
    auto row = Ramp(static_cast<std::size_t>(side) * info.Size() * 64, seed);
    for (int y = 0; y < side; y += 64)
        f->WriteRect(geo::CiRect(0, y, side, std::min(side, y + 64)), {}, row.data(), 0);
    return f;
}

}  // namespace storebench

// Helpers of the pixel-store tests: frames with awkward tile grids and a
// dense reference image to check tiled results against.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace storetest {

inline img::CPixelInfo Gray8() { return img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray); }
inline img::CPixelInfo Gray16() { return img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray); }
inline img::CPixelInfo Rgb8() { return img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB); }

inline utl::CPropSet TileProps(int tw, int th)
{
    utl::CPropSet p;
    p.SetValue(mem::ePropTileSize, geo::CiVec3(tw, th, 1));
    return p;
}

inline geo::CiVolumeN Volume2(int x, int y, int w, int h)
{
    return geo::CiVolumeN::FromPositionSize(geo::CiVecN{x, y}, geo::CiVecN{w, h});
}

// A plain row-major picture of one plane, the reference for tiled results.
struct tImage {
    int x0 = 0, y0 = 0, w = 0, h = 0, px = 1;
    std::vector<std::uint8_t> bytes;

    tImage(int x, int y, int width, int height, int pixelSize, std::uint8_t const* fill)
        : x0(x), y0(y), w(width), h(height), px(pixelSize),
          bytes(static_cast<std::size_t>(width) * height * pixelSize)
    {
        // Doubling copies: pictures of megabytes stay quick in debug builds.
        const std::size_t n = bytes.size();
        std::memcpy(bytes.data(), fill, std::min(n, static_cast<std::size_t>(px)));
        for (std::size_t done = std::min(n, static_cast<std::size_t>(px)); done < n; done *= 2)
            std::memcpy(bytes.data() + done, bytes.data(), std::min(done, n - done));
    }
    std::uint8_t* At(int x, int y)
    {
        return bytes.data() + ((static_cast<std::size_t>(y - y0) * w) + (x - x0)) * px;
    }
    // The pixels of `r` packed row by row.
    std::vector<std::uint8_t> Rect(geo::CiRect const& r)
    {
        std::vector<std::uint8_t> out;
        for (int y = r.top; y < r.bottom; ++y)
            out.insert(out.end(), At(r.left, y), At(r.left, y) + static_cast<std::size_t>(r.Width()) * px);
        return out;
    }
    void SetRect(geo::CiRect const& r, std::uint8_t const* data)
    {
        if (r.Width() <= 0)
            return;
        const std::size_t rowBytes = static_cast<std::size_t>(r.Width()) * px;
        for (int y = r.top; y < r.bottom; ++y)
            std::memcpy(At(r.left, y), data + static_cast<std::size_t>(y - r.top) * rowBytes, rowBytes);
    }
};

// Bytes that differ from pixel to pixel and from call to call.
inline std::vector<std::uint8_t> Ramp(geo::CiRect const& r, int px, int seed)
{
    std::vector<std::uint8_t> v(static_cast<std::size_t>(r.Area()) * px);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed) * 13 + i / 251);
    return v;
}

inline std::vector<std::uint8_t> ReadAll(mem::CDataFrame const& f, geo::CiRect const& r,
                                         geo::CiVecN const& plane = geo::CiVecN())
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(r.Area()) * f.GetElementInfo().Size(), 0xCD);
    if (!f.ReadRect(r, plane, out.data(), 0))
        out.clear();
    return out;
}

}  // namespace storetest

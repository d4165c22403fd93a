// Builders of the document tests: pixel types, units and small data frames.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"
#include "tests/contracts/foundation/store_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace doctest {

const img::CPixelInfo kGray8(utl::eUInt8, 1, img::eColorSpaceGray);
const img::CPixelInfo kGray16(utl::eUInt16, 1, img::eColorSpaceGray);
const img::CPixelInfo kRgb8(utl::eUInt8, 3, img::eColorSpaceRGB);
const img::CPixelInfo kBgr8(utl::eUInt8, 3, img::eColorSpaceBGR);  // the render target
const utl::CUnit kMicro(utl::eQuantityLength, 1, -6);
const utl::CUnit kNano(utl::eQuantityLength, 1, -9);

// A data frame of `size` (x, y, then the plane dimensions) at `position`,
// the origin when none is given.
inline boost::shared_ptr<mem::CDataFrame> Frame(geo::CiVecN const& size, img::CPixelInfo const& info = kGray8,
                                                utl::CPropSet const& props = utl::CPropSet(),
                                                geo::CiVecN position = geo::CiVecN())
{
    if (position.empty())
        position = geo::CiVecN(size.size(), 0);
    auto frame = mem::CDataFrame::Create(geo::CiVolumeN::FromPositionSize(position, size), info, props);
    EXPECT_TRUE(frame);
    return frame;
}

// A data frame of `size` whose element e of pixel (x, y) on plane p (the
// third dimension counting fastest) is value(x, y, p, e); small tiles so
// that rows cross tile borders.
inline boost::shared_ptr<mem::CDataFrame> Filled(geo::CiVecN const& size, img::CPixelInfo const& info,
                                                 std::function<double(int, int, int, int)> const& value, int tile = 16)
{
    auto frame = Frame(size, info, storetest::TileProps(tile, tile));
    const int planes = size.size() > 2 ? size[2] * (size.size() > 3 ? size[3] : 1) : 1;
    const int comps = info.GetComponentCount();
    const auto bytes = std::size_t(info.GetComponentSize());
    std::vector<std::uint8_t> row(std::size_t(size[0] * info.Size()));
    for (int p = 0; p < planes; ++p) {
        geo::CiVecN plane;
        if (size.size() > 2)
            plane.Append(p % size[2]);
        if (size.size() > 3)
            plane.Append(p / size[2]);
        for (int y = 0; y < size[1]; ++y) {
            for (int x = 0; x < size[0]; ++x)
                for (int e = 0; e < comps; ++e) {
                    std::uint8_t* at = &row[std::size_t(x * comps + e) * bytes];
                    const double v = value(x, y, p, e);
                    if (info.GetElementType() == utl::eFloat) {
                        const float f = float(v);  // NaN and infinities too
                        std::memcpy(at, &f, bytes);
                    } else {
                        const auto i = std::int64_t(v);  // little-endian: the low bytes are the element
                        std::memcpy(at, &i, bytes);
                    }
                }
            EXPECT_TRUE(frame->WriteRect(geo::CiRect(0, y, size[0], y + 1), plane, row.data(), 0));
        }
    }
    return frame;
}

}  // namespace doctest

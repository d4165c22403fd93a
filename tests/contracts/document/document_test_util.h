// Builders of the document tests: pixel types, units and small data frames.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"

#include <gtest/gtest.h>

namespace doctest {

const img::CPixelInfo kGray8(utl::eUInt8, 1, img::eColorSpaceGray);
const img::CPixelInfo kGray16(utl::eUInt16, 1, img::eColorSpaceGray);
const img::CPixelInfo kRgb8(utl::eUInt8, 3, img::eColorSpaceRGB);
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

}  // namespace doctest

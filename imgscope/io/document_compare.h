// Comparing two documents state by state: what a saved and reopened
// document must agree with its original on.
#pragma once

#include "imgscope/contracts/document/image.h"
#include "imgscope/library/export.h"

#include <string>

namespace img {

// True when `a` and `b` hold the same stacks (by layer ID: pixels, written
// tiles, fill values, tile layout, properties at every level, blobs,
// calibrations, limits, LUTs, channel names, samples, graphics), the same
// document and dynamic properties, the same highest layer ID given out,
// and layer trees of the same shape and
// display state (entries compared by position and layer ID, not by plane
// ID), with the same canvas and selected layers. Floating-point numbers
// compare as numbers except that NaN equals NaN and -0 differs from 0;
// pixels compare byte for byte. On a difference, `difference`
// (when given) receives a path to the first one found, such as
// "stack 3 / frame (0 2) / property 2014".
IMGSCOPE_API bool CompareDocuments(CImg const& a, CImg const& b, std::string* difference = nullptr);

}  // namespace img

// Small helpers of the windowing and math libraries.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/library/export.h"

// True for a null pointer and for a rectangle without area
// (right ≤ left or bottom ≤ top).
IMGSCOPE_API bool IsRectEmpty(geo::CiRect const* rect);

// Nearest integer, halves away from zero. NaN gives 0; values beyond the
// int range saturate.
IMGSCOPE_API int matRoundD(double value);

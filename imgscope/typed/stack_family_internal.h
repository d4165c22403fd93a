// What the simple, RAM and N-D stacks share. Not installed.
#pragma once

#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/units.h"

namespace img {

// The index volume of a new stack: the x-y box of `rect` from its corner 0
// to its corner 2, and `frameCount` frames from position 0. Throws a new
// CBadScopeException for an empty rectangle or a negative count.
geo::CiVolumeN SimpleStackVolume(geo::CiRect const& rect, int frameCount);

// Frame `index`'s value under property `id` into `value`; `value` keeps
// what it held when the frame has no such property or it holds another
// type.
void ReadFrameValue(CStack const& stack, geo::CiVecN const& index, int id, utl::TUnitValue<double>& value);

}  // namespace img

// Allocation-failure tests: this program replaces the global operator new
// (every form) so that a chosen allocation fails, and counts the blocks that
// are alive, so that a run can tell a leak from a clean failure without the
// address sanitizer. The tile pool, which maps its memory itself, has a
// failure point of its own (tile_pool_internal.h).
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

namespace alloctest {

enum class EFailure {
    eOnce,   // the nth allocation fails, later ones succeed again
    eFromOn  // the nth allocation and every later one fail
};

// Arms the failure point: counting from the next operator new, the nth
// fails (std::bad_alloc, or null for the nothrow forms).
void Arm(std::int64_t nth, EFailure mode);
// Disarms; true when the failure point was reached since Arm.
bool Disarm();
// Blocks from operator new that were not given back yet.
std::int64_t LiveBlocks();

// Runs `run(nth, mode)` for nth = 1, 2, … until a run no longer reaches the
// failure point, for both modes, and checks that the blocks alive before
// each run are all that is alive after it. `run` sets its data up, calls
// Arm, runs the operation, calls Disarm and returns what Disarm said, then
// checks the outcome and lets its data go. A first unarmed run settles
// whatever the library makes once per process.
void SweepOperatorNew(std::function<bool(std::int64_t, EFailure)> const& run);

// The same for the tile pool's failure point: `run(nth)` arms it with
// ArmTiles, runs, and returns what DisarmTiles said. The pool's live bytes
// must be back where they were after each run.
void ArmTiles(std::int64_t nth);
bool DisarmTiles();
void SweepTileAcquires(std::function<bool(std::int64_t)> const& run);

// Every pixel of a frame's plane, row by row (empty when it cannot be read).
std::vector<std::uint8_t> Pixels(mem::CDataFrame const& frame, geo::CiVecN const& plane = geo::CiVecN());

}  // namespace alloctest

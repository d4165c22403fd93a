// Routines of the vector-operations library: whole byte buffers at a time,
// vectorised where the processor allows.
#pragma once

#include "imgscope/library/export.h"

#include <cstdint>

// Multiplies each of the `count` bytes at `data` by `factor`, in place,
// saturating at 255 (so 2 doubles a byte and caps it, 0 clears it). Bytes
// outside the buffer are never touched. Returns 0, or -1 with the buffer
// unchanged for a negative count or factor, or a null buffer with a
// positive count.
IMGSCOPE_API int vopMulSat8u(std::uint8_t* data, int factor, std::int64_t count);

// The number of non-zero bytes among the `count` at `data`; 0 for a null
// buffer or a count of 0 or less.
IMGSCOPE_API std::int64_t vopCountNonZero8u(std::uint8_t const* data, std::int64_t count);

// Adds 1 to `counts[i]` for each zero byte `data[i]`, for i below `count`.
// The counters wrap past 255: callers fold them before 255 additions.
// Does nothing for null buffers or a count of 0 or less.
IMGSCOPE_API void vopCountZeros8u(std::uint8_t const* data, std::uint8_t* counts, std::int64_t count);

// out[k] = the sum of the 8 bytes data[8k .. 8k + 8), for k below `groups`.
// Does nothing for null buffers or a count of 0 or less.
IMGSCOPE_API void vopSumGroups8u(std::uint8_t const* data, std::int64_t groups, std::uint16_t* out);

// The process-wide pool of tile memory behind every data frame.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"

#include <cstddef>
#include <cstdint>

namespace mem::detail {

// Blocks are page-aligned and their size is a multiple of the page size.
// Freed blocks stay mapped and go to the next request of the same size;
// blocks never touched (or trimmed) read as zero bytes.
class CTilePool {
public:
    struct tBlock {
        std::uint8_t* data = nullptr;
        bool zeroed = false;  // every byte is 0 (fresh or trimmed pages)
    };

    static CTilePool& Instance();

    // Bytes a block for `bytes` occupies: rounded up to whole pages.
    static std::size_t BlockSize(std::size_t bytes);

    // A block of BlockSize(bytes) bytes, or a null block when the live
    // blocks of all frames would pass `budgetPercent` of physical memory or
    // the system refuses memory.
    tBlock Acquire(std::size_t bytes, int budgetPercent);
    // Gives a block from Acquire(bytes, …) back. With `discard` its pages go
    // back to the system as well: a store that failed to come into being
    // keeps nothing resident.
    void Release(std::uint8_t* data, std::size_t bytes, bool discard = false);
    // Whether `count` more blocks for `bytes` would stay within
    // `budgetPercent` now; lets a frame that needs many tiles at once refuse
    // before it takes the first.
    bool Fits(std::int64_t count, std::size_t bytes, int budgetPercent) const;

    tTilePoolStats Stats() const;
    void Trim(std::size_t keepBytes);

private:
    CTilePool() = default;
};

// For tests of running out of memory: the nth call of Acquire from now
// (1: the next) returns a null block as if the system had refused; 0 or
// less clears the point. Exported so that a test program can set it, but
// not part of the installed interface.
IMGSCOPE_API void SetTileFailurePoint(std::int64_t nth);
// Calls of Acquire since the process started.
IMGSCOPE_API std::int64_t GetTileAcquireCount();

}  // namespace mem::detail

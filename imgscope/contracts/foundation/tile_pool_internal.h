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
    // Gives a block from Acquire(bytes, …) back.
    void Release(std::uint8_t* data, std::size_t bytes);

    tTilePoolStats Stats() const;
    void Trim(std::size_t keepBytes);

private:
    CTilePool() = default;
};

}  // namespace mem::detail

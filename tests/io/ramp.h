// Reproducible bytes for pixel tests: shared by the gtest programs and the
// tifffile sample writer, which links no gtest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace io_test {

// Bytes that differ from their neighbours, reproducible from `seed`.
inline std::vector<std::uint8_t> Ramp(std::size_t bytes, unsigned seed)
{
    std::vector<std::uint8_t> v(bytes);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = std::uint8_t(x >> 24);
    }
    return v;
}

}  // namespace io_test

#include "imgscope/contracts/foundation/row_copy_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// The streamed row copy splits each row at cache lines of the target: every
// target alignment, source alignment and length around the split points
// must copy exactly the row, and nothing beside it.
TEST(RowCopyTest, StreamedRowsCopyExactlyTheRowAtEveryAlignmentAndLength)
{
    constexpr std::size_t kRoom = 1024;
    std::vector<std::uint8_t> from(kRoom);
    for (std::size_t i = 0; i < kRoom; ++i)
        from[i] = static_cast<std::uint8_t>(i * 13 + i / 256 + 1);
    alignas(64) static std::uint8_t to[kRoom + 128];
    const std::size_t lengths[] = {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129, 191, 192, 255, 256, 257, 511, 700};
    for (std::size_t dstAlign = 0; dstAlign < 64; ++dstAlign) {
        for (std::size_t srcAlign : {0, 1, 8, 33}) {
            for (std::size_t n : lengths) {
                SCOPED_TRACE(testing::Message() << "target +" << dstAlign << ", source +" << srcAlign << ", " << n);
                std::fill(std::begin(to), std::end(to), std::uint8_t(0xA5));
                std::vector<std::uint8_t> want(std::begin(to), std::end(to));
                std::copy_n(from.data() + srcAlign, n, want.begin() + 64 + dstAlign);
                mem::detail::StreamRow(to + 64 + dstAlign, from.data() + srcAlign, n);
                mem::detail::StreamFence();
                ASSERT_TRUE(std::equal(want.begin(), want.end(), to));
            }
        }
    }
}

// Rows packed into a tile without padding are streamed as one run, lines
// straddling two rows included: every target alignment, row length around
// and below a cache line, source stride and row count must land exactly as
// row-by-row copies, and nothing beside them.
TEST(RowCopyTest, PackedRowsCopyExactlyTheRowsAtEveryAlignmentAndLength)
{
    constexpr std::size_t kRoom = 4096;
    std::vector<std::uint8_t> from(kRoom * 2);
    for (std::size_t i = 0; i < from.size(); ++i)
        from[i] = static_cast<std::uint8_t>(i * 11 + i / 256 + 3);
    alignas(64) static std::uint8_t to[kRoom + 128];
    const std::size_t lengths[] = {1, 3, 17, 63, 64, 65, 100, 128, 200, 400, 1000};
    for (std::size_t dstAlign = 0; dstAlign < 64; dstAlign += 1) {
        for (std::size_t n : lengths) {
            for (std::size_t rows : {1, 2, 3, 7}) {
                if (n * rows > kRoom)
                    continue;
                for (std::size_t extra : {0, 5, 64}) {
                    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(n + extra);
                    SCOPED_TRACE(testing::Message() << "target +" << dstAlign << ", " << rows << " rows of " << n
                                                    << ", stride " << stride);
                    std::fill(std::begin(to), std::end(to), std::uint8_t(0xA5));
                    std::vector<std::uint8_t> want(std::begin(to), std::end(to));
                    for (std::size_t y = 0; y < rows; ++y)
                        std::copy_n(from.data() + 1 + y * static_cast<std::size_t>(stride), n,
                                    want.begin() + 64 + static_cast<std::ptrdiff_t>(dstAlign + y * n));
                    mem::detail::StreamPackedRows(to + 64 + dstAlign, from.data() + 1, stride, n, rows);
                    mem::detail::StreamFence();
                    ASSERT_TRUE(std::equal(want.begin(), want.end(), to));
                }
            }
        }
    }
}

// A streamed fill loads its line pattern once per pixel phase: every pixel
// size, target alignment, length around the split points and row stride
// (strides that move the phase from row to row included) must write the
// repeated pixel exactly, and nothing beside it.
TEST(RowCopyTest, StreamedFillsRepeatThePixelAtEveryAlignmentLengthAndStride)
{
    constexpr std::size_t kRoom = 4096;
    alignas(64) static std::uint8_t to[kRoom + 128];
    const std::size_t lengths[] = {0, 16, 63, 64, 96, 127, 128, 130, 192, 256, 700};
    for (std::size_t px : {1, 2, 4, 8, 16, 32}) {
        std::vector<std::uint8_t> row(std::max(mem::detail::kMinFillRowBytes, 2 * px));
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<std::uint8_t>((i % px) * 37 + 5);
        for (std::size_t dstAlign = 0; dstAlign < 64; dstAlign += px) {
            for (std::size_t n : lengths) {
                n -= n % px;
                for (std::size_t extra : {0, 1, 3, 64}) {
                    const std::size_t stride = n + extra;
                    SCOPED_TRACE(testing::Message() << px << "-byte pixels, target +" << dstAlign << ", " << n
                                                    << " bytes, stride " << stride);
                    std::fill(std::begin(to), std::end(to), std::uint8_t(0xA5));
                    std::vector<std::uint8_t> want(std::begin(to), std::end(to));
                    for (std::size_t y = 0; y < 3; ++y)
                        for (std::size_t i = 0; i < n; ++i)
                            want[64 + dstAlign + y * stride + i] = row[i % px];
                    mem::detail::StreamFillRows(to + 64 + dstAlign, static_cast<std::ptrdiff_t>(stride), 3, n,
                                                row.data(), px);
                    mem::detail::StreamFence();
                    ASSERT_TRUE(std::equal(want.begin(), want.end(), to));
                }
            }
        }
    }
}

}  // namespace

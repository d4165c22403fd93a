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

}  // namespace

// The byte routines against plain loops: every length around the vector
// widths and fold points, unaligned starts, and the guard bytes around.
#include "imgscope/contracts/platform/vector_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// Lengths that end inside and on every vector boundary up to a few blocks.
std::vector<std::int64_t> Lengths()
{
    std::vector<std::int64_t> n;
    for (std::int64_t i = 0; i <= 140; ++i)
        n.push_back(i);
    return n;
}

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed, int zeroPercent)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<int>(rng() % 100) < zeroPercent ? 0 : static_cast<std::uint8_t>(1 + rng() % 255);
    return v;
}

constexpr std::size_t kGuard = 32;

TEST(VectorOpsTest, MulSatMatchesPlainLoopForEveryFactorAndLeavesNeighboursAlone)
{
    for (int factor : {0, 1, 2, 3, 7, 127, 128, 129, 200, 254, 255, 256, 1000}) {
        for (std::int64_t n : Lengths()) {
            for (std::size_t offset : {std::size_t(0), std::size_t(3)}) {
                SCOPED_TRACE(::testing::Message() << "factor " << factor << " n " << n << " offset " << offset);
                std::vector<std::uint8_t> bytes = RandomBytes(std::size_t(n) + 2 * kGuard, unsigned(n + factor), 10);
                std::vector<std::uint8_t> expected = bytes;
                for (std::size_t i = kGuard + offset; i < kGuard + offset + std::size_t(n); ++i)
                    expected[i] = static_cast<std::uint8_t>(std::min(int(expected[i]) * factor, 255));
                ASSERT_EQ(vopMulSat8u(bytes.data() + kGuard + offset, factor, n), 0);
                ASSERT_EQ(bytes, expected);
            }
        }
    }
}

TEST(VectorOpsTest, MulSatRefusesBadArgumentsWithoutWriting)
{
    std::vector<std::uint8_t> bytes{1, 2, 3};
    EXPECT_EQ(vopMulSat8u(bytes.data(), -1, 3), -1);
    EXPECT_EQ(vopMulSat8u(bytes.data(), 2, -1), -1);
    EXPECT_EQ(vopMulSat8u(nullptr, 2, 3), -1);
    EXPECT_EQ(vopMulSat8u(nullptr, 2, 0), 0);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(VectorOpsTest, CountNonZeroMatchesPlainLoopAcrossLengthsAndFoldPoints)
{
    std::vector<std::int64_t> lengths = Lengths();
    // 255 blocks of 64 bytes fill a byte lane; around that and well past it.
    for (std::int64_t n : {16319, 16320, 16321, 16384, 32640, 32641, 100003})
        lengths.push_back(n);
    for (int zeroPercent : {0, 50, 100}) {
        for (std::int64_t n : lengths) {
            SCOPED_TRACE(::testing::Message() << "n " << n << " zeros " << zeroPercent << "%");
            const std::vector<std::uint8_t> bytes = RandomBytes(std::size_t(n) + 1, unsigned(n), zeroPercent);
            const auto expected = std::count_if(bytes.begin() + 1, bytes.end(), [](std::uint8_t b) { return b != 0; });
            ASSERT_EQ(vopCountNonZero8u(bytes.data() + 1, n), expected);
        }
    }
    EXPECT_EQ(vopCountNonZero8u(nullptr, 10), 0);
    const std::uint8_t one = 1;
    EXPECT_EQ(vopCountNonZero8u(&one, -5), 0);
}

TEST(VectorOpsTest, CountZerosAddsOnePerZeroByteAndWrapsPast255)
{
    for (std::int64_t n : Lengths()) {
        SCOPED_TRACE(n);
        const std::vector<std::uint8_t> bytes = RandomBytes(std::size_t(n), unsigned(n) + 7, 40);
        std::vector<std::uint8_t> counts(std::size_t(n) + kGuard, 254);
        std::vector<std::uint8_t> expected = counts;
        for (std::size_t i = 0; i < std::size_t(n); ++i)
            expected[i] = static_cast<std::uint8_t>(expected[i] + (bytes[i] == 0));
        vopCountZeros8u(bytes.data(), counts.data(), n);
        vopCountZeros8u(bytes.data(), counts.data(), n);
        for (std::size_t i = 0; i < std::size_t(n); ++i)
            expected[i] = static_cast<std::uint8_t>(expected[i] + (bytes[i] == 0));
        ASSERT_EQ(counts, expected);  // 254 + 2 wraps to 0 where the byte is zero
    }
}

TEST(VectorOpsTest, SumGroupsAddsEachRunOfEightBytes)
{
    for (std::int64_t groups : {0, 1, 2, 3, 7, 64, 1001}) {
        SCOPED_TRACE(groups);
        std::vector<std::uint8_t> bytes = RandomBytes(std::size_t(groups) * 8 + 3, unsigned(groups), 20);
        bytes[0] = 255;  // full groups must not saturate
        std::fill(bytes.begin() + 1, bytes.begin() + std::min<std::ptrdiff_t>(8, std::ptrdiff_t(bytes.size())), 255);
        std::vector<std::uint16_t> sums(std::size_t(groups) + 1, 7);
        vopSumGroups8u(bytes.data(), groups, sums.data());
        for (std::size_t k = 0; k < std::size_t(groups); ++k) {
            int expected = 0;
            for (std::size_t b = 0; b < 8; ++b)
                expected += bytes[8 * k + b];
            ASSERT_EQ(sums[k], expected) << k;
        }
        EXPECT_EQ(sums[std::size_t(groups)], 7);  // nothing past the last group
    }
}

}  // namespace

#include "imgscope/contracts/platform/vector_ops.h"

#include <algorithm>
#include <cstddef>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define IMGSCOPE_VOP_SSE2 1
#endif

namespace {

constexpr std::int64_t kLane = 16;

#ifdef IMGSCOPE_VOP_SSE2
__m128i Load(std::uint8_t const* p)
{
    return _mm_loadu_si128(reinterpret_cast<__m128i const*>(p));
}

void Store(std::uint8_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

std::int64_t HorizontalSum(__m128i sums)
{
    return _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
}
#endif

}  // namespace

int vopMulSat8u(std::uint8_t* data, int factor, std::int64_t count)
{
    if (count < 0 || factor < 0 || (count > 0 && !data))
        return -1;
    if (factor == 1 || count == 0)
        return 0;
    // Any factor from 255 up saturates every non-zero byte alike; capping it
    // keeps the 16-bit products below exact.
    const int f = std::min(factor, 255);
    std::int64_t i = 0;
#ifdef IMGSCOPE_VOP_SSE2
    if (f == 2) {
        for (; i + kLane <= count; i += kLane) {
            const __m128i v = Load(data + i);
            Store(data + i, _mm_adds_epu8(v, v));
        }
    } else {
        const __m128i zero = _mm_setzero_si128();
        const __m128i mul = _mm_set1_epi16(static_cast<short>(f));
        const __m128i cap = _mm_set1_epi16(255);
        // 255 × 254 still fits 16 unsigned bits; min(p, 255) is
        // p − max(p − 255, 0) with the saturating subtraction.
        const auto scale = [&](__m128i half) {
            const __m128i p = _mm_mullo_epi16(half, mul);
            return _mm_sub_epi16(p, _mm_subs_epu16(p, cap));
        };
        for (; i + kLane <= count; i += kLane) {
            const __m128i v = Load(data + i);
            Store(data + i, _mm_packus_epi16(scale(_mm_unpacklo_epi8(v, zero)), scale(_mm_unpackhi_epi8(v, zero))));
        }
    }
#endif
    for (; i < count; ++i)
        data[i] = static_cast<std::uint8_t>(std::min(int(data[i]) * f, 255));
    return 0;
}

std::int64_t vopCountNonZero8u(std::uint8_t const* data, std::int64_t count)
{
    if (!data || count <= 0)
        return 0;
    std::int64_t zeros = 0;
    std::int64_t i = 0;
#ifdef IMGSCOPE_VOP_SSE2
    // Zero bytes are counted in byte lanes (a compare gives −1, subtracted)
    // and folded into 64-bit sums before a lane can pass 255.
    const __m128i zero = _mm_setzero_si128();
    constexpr std::int64_t kBlock = 4 * kLane;
    constexpr std::int64_t kFoldEvery = 255;
    while (i + kLane <= count) {
        __m128i a = zero, b = zero, c = zero, d = zero;
        const std::int64_t blocks = std::min((count - i) / kBlock, kFoldEvery);
        for (std::int64_t k = 0; k < blocks; ++k, i += kBlock) {
            a = _mm_sub_epi8(a, _mm_cmpeq_epi8(Load(data + i), zero));
            b = _mm_sub_epi8(b, _mm_cmpeq_epi8(Load(data + i + kLane), zero));
            c = _mm_sub_epi8(c, _mm_cmpeq_epi8(Load(data + i + 2 * kLane), zero));
            d = _mm_sub_epi8(d, _mm_cmpeq_epi8(Load(data + i + 3 * kLane), zero));
        }
        if (blocks == 0) {
            // Fewer than four lanes left: at most three more, one at a time.
            for (; i + kLane <= count; i += kLane)
                a = _mm_sub_epi8(a, _mm_cmpeq_epi8(Load(data + i), zero));
        }
        zeros += HorizontalSum(_mm_add_epi64(_mm_add_epi64(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)),
                                             _mm_add_epi64(_mm_sad_epu8(c, zero), _mm_sad_epu8(d, zero))));
    }
#endif
    for (; i < count; ++i)
        zeros += data[i] == 0;
    return count - zeros;
}

void vopCountZeros8u(std::uint8_t const* data, std::uint8_t* counts, std::int64_t count)
{
    if (!data || !counts || count <= 0)
        return;
    std::int64_t i = 0;
#ifdef IMGSCOPE_VOP_SSE2
    const __m128i zero = _mm_setzero_si128();
    for (; i + 2 * kLane <= count; i += 2 * kLane) {
        const __m128i a = _mm_cmpeq_epi8(Load(data + i), zero);
        const __m128i b = _mm_cmpeq_epi8(Load(data + i + kLane), zero);
        Store(counts + i, _mm_sub_epi8(Load(counts + i), a));
        Store(counts + i + kLane, _mm_sub_epi8(Load(counts + i + kLane), b));
    }
#endif
    for (; i < count; ++i)
        counts[i] = static_cast<std::uint8_t>(counts[i] + (data[i] == 0));
}

void vopSumGroups8u(std::uint8_t const* data, std::int64_t groups, std::uint16_t* out)
{
    if (!data || !out || groups <= 0)
        return;
    std::int64_t k = 0;
#ifdef IMGSCOPE_VOP_SSE2
    // Each 64-bit lane of the sum of absolute differences with zero holds
    // the sum of its 8 bytes in its low 16 bits.
    const __m128i zero = _mm_setzero_si128();
    for (; k + 2 <= groups; k += 2) {
        const __m128i sums = _mm_sad_epu8(Load(data + 8 * k), zero);
        out[k] = static_cast<std::uint16_t>(_mm_extract_epi16(sums, 0));
        out[k + 1] = static_cast<std::uint16_t>(_mm_extract_epi16(sums, 4));
    }
#endif
    for (; k < groups; ++k) {
        int sum = 0;
        for (int b = 0; b < 8; ++b)
            sum += data[8 * k + b];
        out[k] = static_cast<std::uint16_t>(sum);
    }
}

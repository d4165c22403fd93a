// Row copies into tiles for large writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mem::detail {

// Writes of at least this many bytes per call copy their row segments
// around the cache.
constexpr std::size_t kStreamBytes = 128 * 1024;

// Copies `n` bytes with stores that bypass the cache. A pasted tile is not
// read again soon, and ordinary stores first read every target line into the
// cache: for the short row segments of a paste that straddles tile borders
// that read doubles the memory traffic. Call StreamFence once after the last
// row.
inline void StreamRow(std::uint8_t* dst, std::uint8_t const* src, std::size_t n)
{
#if defined(__SSE2__)
    if (n >= 128) {
        const std::size_t head = (16 - (reinterpret_cast<std::uintptr_t>(dst) & 15)) & 15;
        std::memcpy(dst, src, head);
        dst += head;
        src += head;
        n -= head;
        const std::size_t body = n & ~std::size_t(63);
        for (std::size_t i = 0; i < body; i += 64) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + i + 16));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + i + 32));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + i + 48));
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), a);
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 16), b);
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 32), c);
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 48), d);
        }
        std::memcpy(dst + body, src + body, n - body);
        return;
    }
#endif
    std::memcpy(dst, src, n);
}

inline void StreamFence()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace mem::detail

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

// Bytes of a cache line: non-temporal stores pay off only for whole lines.
constexpr std::size_t kCacheLine = 64;
// Pieces with fewer whole lines than this are copied plainly.
constexpr std::size_t kMinStreamLines = 1;

// Copies `n` bytes, the whole cache lines of the target with stores that
// bypass the cache. A pasted tile is not read again soon, and ordinary
// stores first read every target line into the cache, which doubles the
// memory traffic. A line written only in part must not be streamed: the
// processor then writes it back piecewise, several times slower than the
// read it saved, which is what a paste at an odd offset or into tiles with
// unaligned rows meets at both ends of every row. So the partial lines at
// the ends go through memcpy. Call StreamFence once after the last row.
inline void StreamRow(std::uint8_t* dst, std::uint8_t const* src, std::size_t n)
{
#if defined(__SSE2__)
    const std::size_t head = (kCacheLine - (reinterpret_cast<std::uintptr_t>(dst) & (kCacheLine - 1))) & (kCacheLine - 1);
    if (n >= head + kMinStreamLines * kCacheLine) {
        std::memcpy(dst, src, head);
        dst += head;
        src += head;
        n -= head;
        const std::size_t body = n & ~(kCacheLine - 1);
        for (std::size_t i = 0; i < body; i += kCacheLine) {
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

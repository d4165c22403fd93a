// Row copies into tiles for large writes.
#pragma once

#include <algorithm>
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

// Copies fewer than a cache line's bytes inline: the partial lines at both
// ends of a streamed row, two per row, where a call to memcpy costs more
// than the copy.
inline void CopyPartialLine(std::uint8_t* dst, std::uint8_t const* src, std::size_t n)
{
#if defined(__SSE2__)
    if (n >= 16) {
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                             _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + i)));
        if (i < n)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16),
                             _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + n - 16)));
        return;
    }
#endif
    // Two overlapping pieces of the largest size that fits.
    if (n >= 8) {
        std::uint64_t a, b;
        std::memcpy(&a, src, 8);
        std::memcpy(&b, src + n - 8, 8);
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + n - 8, &b, 8);
    } else if (n >= 4) {
        std::uint32_t a, b;
        std::memcpy(&a, src, 4);
        std::memcpy(&b, src + n - 4, 4);
        std::memcpy(dst, &a, 4);
        std::memcpy(dst + n - 4, &b, 4);
    } else if (n >= 2) {
        std::uint16_t a, b;
        std::memcpy(&a, src, 2);
        std::memcpy(&b, src + n - 2, 2);
        std::memcpy(dst, &a, 2);
        std::memcpy(dst + n - 2, &b, 2);
    } else if (n == 1) {
        *dst = *src;
    }
}

// Copies `n` bytes, the whole cache lines of the target with stores that
// bypass the cache. A pasted tile is not read again soon, and ordinary
// stores first read every target line into the cache, which doubles the
// memory traffic. A line written only in part must not be streamed: the
// processor then writes it back piecewise, several times slower than the
// read it saved, which is what a paste at an odd offset or into tiles with
// unaligned rows meets at both ends of every row. So the partial lines at
// the ends go through inline stores. Call StreamFence once after the
// last row.
//
// With `Repeat` the source is a fill row repeating a pixel whose size
// divides a cache line: every whole line of the target gets the same 64
// bytes, loaded once. Loading them for each line instead lets the loads
// wait on the streaming stores whenever target and row sit at the same
// offset in their pages, which a fill row by row down a tile meets every
// few rows. `src` holds at least `n` bytes either way.
template <bool Repeat>
inline void StreamBytes(std::uint8_t* dst, std::uint8_t const* src, std::size_t n)
{
#if defined(__SSE2__)
    const std::size_t head = (kCacheLine - (reinterpret_cast<std::uintptr_t>(dst) & (kCacheLine - 1))) & (kCacheLine - 1);
    if (n >= head + kMinStreamLines * kCacheLine) {
        CopyPartialLine(dst, src, head);
        dst += head;
        src += head;
        n -= head;
        const std::size_t body = n & ~(kCacheLine - 1);
        const auto load = [](std::uint8_t const* at) { return _mm_loadu_si128(reinterpret_cast<__m128i const*>(at)); };
        __m128i a = load(src), b = load(src + 16), c = load(src + 32), d = load(src + 48);
        for (std::size_t i = 0; i < body; i += kCacheLine) {
            if (!Repeat) {
                a = load(src + i);
                b = load(src + i + 16);
                c = load(src + i + 32);
                d = load(src + i + 48);
            }
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), a);
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 16), b);
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 32), c);
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 48), d);
        }
        CopyPartialLine(dst + body, Repeat ? src : src + body, n - body);
        return;
    }
#endif
    std::memcpy(dst, src, n);
}

inline void StreamRow(std::uint8_t* dst, std::uint8_t const* src, std::size_t n)
{
    StreamBytes<false>(dst, src, n);
}

// As StreamRow from a fill row (see StreamBytes).
inline void StreamFillRow(std::uint8_t* dst, std::uint8_t const* row, std::size_t n)
{
    StreamBytes<true>(dst, row, n);
}

// Copies `rows` rows of `n` bytes, `srcStride` apart, to `dst` packed one
// after the other (tile rows without padding), streaming every whole cache
// line of the target, those that straddle two rows included. Rows whose
// length is not a multiple of a line would otherwise leave a partial line,
// written the slow way, at both ends of every row. Call StreamFence once
// after the last.
inline void StreamPackedRows(std::uint8_t* dst, std::uint8_t const* src, std::ptrdiff_t srcStride, std::size_t n,
                             std::size_t rows)
{
    if (n == 0 || rows == 0)
        return;
#if defined(__SSE2__)
    const std::size_t total = n * rows;
    std::size_t done = 0;      // bytes of the target written
    std::ptrdiff_t row = 0;    // the source row being read, as an offset
    std::size_t column = 0;    // and the next byte of it
    // Takes `k` bytes of the current row (k <= n - column) and moves on.
    const auto take = [&](std::size_t k) {
        std::uint8_t const* from = src + row + column;
        column += k;
        if (column == n) {
            column = 0;
            row += srcStride;
        }
        return from;
    };
    // Plain copies of `len` bytes, across rows as needed.
    const auto plain = [&](std::size_t len) {
        while (len > 0) {
            const std::size_t k = std::min(len, n - column);
            std::memcpy(dst + done, take(k), k);
            done += k;
            len -= k;
        }
    };
    plain(std::min(total, (kCacheLine - (reinterpret_cast<std::uintptr_t>(dst) & (kCacheLine - 1))) & (kCacheLine - 1)));
    alignas(16) std::uint8_t line[kCacheLine];
    while (total - done >= kCacheLine) {
        std::uint8_t const* from = line;
        if (n - column >= kCacheLine) {
            from = take(kCacheLine);
        } else {
            // The line straddles rows: gathered first.
            for (std::size_t got = 0; got < kCacheLine;) {
                const std::size_t k = std::min(kCacheLine - got, n - column);
                std::memcpy(line + got, take(k), k);
                got += k;
            }
        }
        const __m128i a = _mm_loadu_si128(reinterpret_cast<__m128i const*>(from));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<__m128i const*>(from + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<__m128i const*>(from + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<__m128i const*>(from + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + done), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + done + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + done + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + done + 48), d);
        done += kCacheLine;
    }
    plain(total - done);
#else
    for (std::size_t y = 0; y < rows; ++y)
        std::memcpy(dst + y * n, src + static_cast<std::ptrdiff_t>(y) * srcStride, n);
#endif
}

inline void StreamFence()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace mem::detail

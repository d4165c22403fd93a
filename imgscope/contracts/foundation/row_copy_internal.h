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

// Copies the first and the last sizeof(T) of `n` bytes (sizeof(T) <= n <=
// 2 sizeof(T)), which together cover all of them.
template <class T>
inline void CopyBothEnds(std::uint8_t* dst, std::uint8_t const* src, std::size_t n)
{
    T a, b;
    std::memcpy(&a, src, sizeof(T));
    std::memcpy(&b, src + n - sizeof(T), sizeof(T));
    std::memcpy(dst, &a, sizeof(T));
    std::memcpy(dst + n - sizeof(T), &b, sizeof(T));
}

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
#else
    if (n > 16) {
        std::memcpy(dst, src, n);
        return;
    }
#endif
    // Two overlapping pieces of the largest size that fits.
    if (n >= 8)
        CopyBothEnds<std::uint64_t>(dst, src, n);
    else if (n >= 4)
        CopyBothEnds<std::uint32_t>(dst, src, n);
    else if (n >= 2)
        CopyBothEnds<std::uint16_t>(dst, src, n);
    else if (n == 1)
        *dst = *src;
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
inline void StreamRow(std::uint8_t* dst, std::uint8_t const* src, std::size_t n)
{
#if defined(__SSE2__)
    const std::size_t head = (kCacheLine - (reinterpret_cast<std::uintptr_t>(dst) & (kCacheLine - 1))) & (kCacheLine - 1);
    if (n >= head + kMinStreamLines * kCacheLine) {
        CopyPartialLine(dst, src, head);
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
        CopyPartialLine(dst + body, src + body, n - body);
        return;
    }
#endif
    std::memcpy(dst, src, n);
}

// Bytes a fill row must hold for StreamFillRows.
constexpr std::size_t kMinFillRowBytes = 2 * kCacheLine;

// Fills `rows` rows of `n` bytes, `stride` apart, as StreamRow would copy
// them from `row`: a fill row of at least kMinFillRowBytes repeating a
// pixel of `px` bytes, px a power of two up to a cache line, so that every
// whole line of the target gets the same 64 bytes. Those are loaded once
// per pixel phase instead of once per row: a fill down a tile is mostly
// that per-row work when rows are short, and loads of the row right after
// streaming stores at the same offset in their pages wait on them.
inline void StreamFillRows(std::uint8_t* dst, std::ptrdiff_t stride, std::size_t rows, std::size_t n,
                           std::uint8_t const* row, std::size_t px)
{
#if defined(__SSE2__)
    const auto load = [](std::uint8_t const* at) { return _mm_loadu_si128(reinterpret_cast<__m128i const*>(at)); };
    std::size_t phase = px;  // none loaded yet
    __m128i a = _mm_setzero_si128(), b = a, c = a, d = a;
    for (std::size_t y = 0; y < rows; ++y, dst += stride) {
        const std::size_t head =
            (kCacheLine - (reinterpret_cast<std::uintptr_t>(dst) & (kCacheLine - 1))) & (kCacheLine - 1);
        if (n < head + kCacheLine) {
            std::memcpy(dst, row, n);  // n < 2 lines: within the row
            continue;
        }
        // The first whole line starts `head` bytes into a pixel-aligned run.
        const std::size_t at = head & (px - 1);
        if (at != phase) {
            phase = at;
            a = load(row + at);
            b = load(row + at + 16);
            c = load(row + at + 32);
            d = load(row + at + 48);
        }
        CopyPartialLine(dst, row, head);
        std::uint8_t* line = dst + head;
        const std::size_t body = (n - head) & ~(kCacheLine - 1);
        for (std::size_t i = 0; i < body; i += kCacheLine) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(line + i), a);
            _mm_stream_si128(reinterpret_cast<__m128i*>(line + i + 16), b);
            _mm_stream_si128(reinterpret_cast<__m128i*>(line + i + 32), c);
            _mm_stream_si128(reinterpret_cast<__m128i*>(line + i + 48), d);
        }
        CopyPartialLine(line + body, row + at, n - head - body);
    }
#else
    (void)px;
    for (std::size_t y = 0; y < rows; ++y, dst += stride)
        for (std::size_t done = 0; done < n;) {
            const std::size_t k = std::min(n - done, kMinFillRowBytes);
            std::memcpy(dst + done, row, k);
            done += k;
        }
#endif
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

// mem::Copy: moves a sub-volume between two tiled frames.
#include "imgscope/contracts/foundation/data_frame.h"

#include "imgscope/contracts/foundation/row_copy_internal.h"
#include "imgscope/contracts/foundation/tile_store_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace mem {

namespace {

struct tConvert;
// Writes `count` target pixels from `count` source pixels.
using tRowKernel = void (*)(std::uint8_t* dst, std::uint8_t const* src, int count, tConvert const& conv);

// Copying into a frame whose pixels carry extra alpha components: the colour
// components are copied, the alpha components set to "opaque".
struct tConvert {
    bool active = false;
    int srcPx = 0;
    int dstPx = 0;
    int colours = 0;                  // components of a source pixel
    int alphas = 0;                   // alpha components added behind them
    tRowKernel row = nullptr;
    std::vector<std::uint8_t> alpha;  // dstPx - srcPx bytes
};

// The unsigned integer of `N` bytes.
template <int N>
struct tUInt;
template <>
struct tUInt<2> {
    using type = std::uint16_t;
};
template <>
struct tUInt<4> {
    using type = std::uint32_t;
};
template <>
struct tUInt<8> {
    using type = std::uint64_t;
};

// Pixels are moved as whole elements of `T` (an unsigned type of the
// element's size): the bytes are copied, never converted, so one kernel
// serves every element type of that size. Elements go one by one: a pixel
// assembled on the stack and stored whole stalls on every load of it.
template <class T, int C>
void AddOneAlpha(std::uint8_t* dst, std::uint8_t const* src, int count, tConvert const& conv)
{
    T opaque;
    std::memcpy(&opaque, conv.alpha.data(), sizeof opaque);
    for (int i = 0; i < count; ++i, src += C * sizeof(T), dst += (C + 1) * sizeof(T)) {
        for (int c = 0; c < C; ++c) {
            T v;
            std::memcpy(&v, src + c * sizeof(T), sizeof v);
            std::memcpy(dst + c * sizeof(T), &v, sizeof v);
        }
        std::memcpy(dst + C * sizeof(T), &opaque, sizeof opaque);
    }
}

// As AddOneAlpha where a target pixel fits the integer `W`: one load, one
// mask and one store per pixel. Each load reads one element past its pixel
// (into the next one), so the last pixel goes the element-wise way.
template <class T, int C, class W>
void AddOneAlphaWide(std::uint8_t* dst, std::uint8_t const* src, int count, tConvert const& conv)
{
    static_assert(sizeof(W) == (C + 1) * sizeof(T), "W holds one target pixel");
    constexpr int kColourBits = C * static_cast<int>(sizeof(T)) * 8;
    T opaque;
    std::memcpy(&opaque, conv.alpha.data(), sizeof opaque);
    const W alpha = W(opaque) << kColourBits;
    const W colour = (W(1) << kColourBits) - 1;
    for (int i = 1; i < count; ++i, src += C * sizeof(T), dst += sizeof(W)) {
        W v;
        std::memcpy(&v, src, sizeof v);
        v = (v & colour) | alpha;
        std::memcpy(dst, &v, sizeof v);
    }
    if (count > 0)
        AddOneAlpha<T, C>(dst, src, 1, conv);
}

#if defined(__x86_64__) || defined(__i386__)
// RGB to RGBA of 8- or 16-bit elements by byte shuffles: 4 (8-bit) or 2
// (16-bit) pixels per 16-byte store. Each load reads 4 bytes past its
// pixels, so the last few pixels go the scalar way.
template <class T>
__attribute__((target("ssse3"))) void AddOneAlphaShuffled(std::uint8_t* dst, std::uint8_t const* src, int count,
                                                          tConvert const& conv)
{
    constexpr int kPerStore = 16 / (4 * static_cast<int>(sizeof(T)));
    constexpr int kSrcBytes = kPerStore * 3 * static_cast<int>(sizeof(T));
    T opaque;
    std::memcpy(&opaque, conv.alpha.data(), sizeof opaque);
    __m128i shuffle, alpha;
    if constexpr (sizeof(T) == 1) {
        shuffle = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
        alpha = _mm_set1_epi32(static_cast<int>(std::uint32_t(opaque) << 24));
    } else {
        shuffle = _mm_setr_epi8(0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1);
        alpha = _mm_set1_epi64x(static_cast<long long>(std::uint64_t(opaque) << 48));
    }
    int i = 0;
    for (; (count - i) * 3 * static_cast<int>(sizeof(T)) >= kSrcBytes + 4; i += kPerStore) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(_mm_shuffle_epi8(v, shuffle), alpha));
        src += kSrcBytes;
        dst += 16;
    }
    AddOneAlphaWide<T, 3, typename tUInt<4 * sizeof(T)>::type>(dst, src, count - i, conv);
}
#endif

// Any number of colour and alpha components.
template <class T>
void AddAlphas(std::uint8_t* dst, std::uint8_t const* src, int count, tConvert const& conv)
{
    T opaque;
    std::memcpy(&opaque, conv.alpha.data(), sizeof opaque);
    for (int i = 0; i < count; ++i, src += conv.srcPx) {
        for (int c = 0; c < conv.colours; ++c, dst += sizeof(T))
            std::memcpy(dst, src + c * sizeof(T), sizeof(T));
        for (int a = 0; a < conv.alphas; ++a, dst += sizeof(T))
            std::memcpy(dst, &opaque, sizeof(T));
    }
}

template <class T>
tRowKernel PickKernel(int colours, int alphas)
{
    if (alphas == 1) {
        switch (colours) {
        case 1: return AddOneAlpha<T, 1>;
        case 2: return AddOneAlpha<T, 2>;
        case 3:
#if defined(__x86_64__) || defined(__i386__)
            if constexpr (sizeof(T) <= 2)
                if (__builtin_cpu_supports("ssse3"))
                    return AddOneAlphaShuffled<T>;
#endif
            if constexpr (sizeof(T) <= 2)
                return AddOneAlphaWide<T, 3, typename tUInt<4 * sizeof(T)>::type>;
            return AddOneAlpha<T, 3>;
        case 4: return AddOneAlpha<T, 4>;
        default: break;
        }
    }
    return AddAlphas<T>;
}

// "Opaque" for an element type: its largest value, 1.0 for floats.
std::uint64_t OpaqueBits(utl::EType type)
{
    switch (type) {
    case utl::eFloat: {
        const float v = 1.0f;
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
    }
    case utl::eDouble: {
        const double v = 1.0;
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
    }
    case utl::eInt8: return 0x7F;
    case utl::eInt16: return 0x7FFF;
    case utl::eInt32: return 0x7FFFFFFF;
    case utl::eInt64: return 0x7FFFFFFFFFFFFFFF;
    default: return ~std::uint64_t(0);
    }
}

bool MakeConvert(img::CPixelInfo const& s, img::CPixelInfo const& t, tConvert& conv)
{
    if (s == t)
        return true;
    if (s.GetElementType() != t.GetElementType() || s.HasAlpha() || !t.HasAlpha() ||
        s.GetComponentCount() != t.GetComponentCount() - t.GetAlphaCount())
        return false;
    conv.active = true;
    conv.srcPx = s.Size();
    conv.dstPx = t.Size();
    conv.colours = s.GetComponentCount();
    conv.alphas = t.GetAlphaCount();
    const int size = t.GetComponentSize();
    switch (size) {
    case 1: conv.row = PickKernel<std::uint8_t>(conv.colours, conv.alphas); break;
    case 2: conv.row = PickKernel<std::uint16_t>(conv.colours, conv.alphas); break;
    case 4: conv.row = PickKernel<std::uint32_t>(conv.colours, conv.alphas); break;
    default: conv.row = PickKernel<std::uint64_t>(conv.colours, conv.alphas); break;
    }
    // The pixels are packed in the machine's (little-endian) byte order.
    const std::uint64_t opaque = OpaqueBits(t.GetElementType());
    std::uint8_t one[sizeof opaque];
    std::memcpy(one, &opaque, sizeof opaque);
    for (int a = 0; a < t.GetAlphaCount(); ++a)
        conv.alpha.insert(conv.alpha.end(), one, one + size);
    return true;
}

// `count` pixels from src to dst. `srcRowPixels` > 0 marks a uniform source
// row of that many pixels, repeated as needed.
inline void CopyPixels(std::uint8_t* dst, std::uint8_t const* src, int count, int px, int srcRowPixels,
                       tConvert const& conv)
{
    if (srcRowPixels == 0)
        srcRowPixels = count;
    const std::ptrdiff_t dstPx = conv.active ? conv.dstPx : px;
    while (count > 0) {
        const int n = std::min(count, srcRowPixels);
        if (conv.active)
            conv.row(dst, src, n, conv);
        else
            std::memcpy(dst, src, static_cast<std::size_t>(n) * px);
        dst += n * dstPx;
        count -= n;
    }
}

bool PixelsEqual(std::uint8_t const* row, int count, std::uint8_t const* value, int px)
{
    if (px == 1) {
        const std::uint8_t v = *value;
        for (int i = 0; i < count; ++i)
            if (row[i] != v)
                return false;
        return true;
    }
    for (int i = 0; i < count; ++i)
        if (std::memcmp(row + static_cast<std::ptrdiff_t>(i) * px, value, static_cast<std::size_t>(px)) != 0)
            return false;
    return true;
}

// True when every source pixel of `srect` equals `value`. Tiles with memory
// are scanned only when `scan` is set; otherwise they count as differing.
bool SourceAllValue(CTileStore const& S, tPlane const* plane, geo::CiRect const& srect, std::uint8_t const* value,
                    bool scan)
{
    const int tx0 = S.TileX(srect.left), tx1 = S.TileX(srect.right - 1);
    const int ty0 = S.TileY(srect.top), ty1 = S.TileY(srect.bottom - 1);
    for (int ty = ty0; ty <= ty1; ++ty) {
        for (int tx = tx0; tx <= tx1; ++tx) {
            tTileSlot const* slot = plane ? S.FindSlot(*plane, tx, ty) : nullptr;
            if (!slot || !slot->data) {
                if (std::memcmp(S.UniformRow(slot ? slot->uniform : 0), value, static_cast<std::size_t>(S.m_px)) != 0)
                    return false;
                continue;
            }
            if (!scan)
                return false;
            const geo::CiRect tile = S.TileRect(tx, ty);
            const geo::CiRect p = geo::Intersection(tile, srect);
            std::uint8_t const* row = slot->data + (p.top - tile.top) * S.m_rowBytes + std::int64_t(p.left - tile.left) * S.m_px;
            for (int y = p.top; y < p.bottom; ++y, row += S.m_rowBytes)
                if (!PixelsEqual(row, p.Width(), value, S.m_px))
                    return false;
        }
    }
    return true;
}

// A target tile a copy writes, with what it showed before so that a copy
// that runs out of memory can give back what it took.
struct tJob {
    tPlane* plane;
    tTileSlot* slot;
    int tx, ty;
    std::uint32_t before;
    bool made;
    tPlane const* source;    // the source plane (null: it has no tiles)
    std::uint8_t* replaced;  // the block a view showed, moved aside for this copy
};

// The region after clipping: per dimension the first source and target
// position and the length.
struct tRegion {
    std::vector<std::int64_t> srcStart, tgtStart, len;
};

// Clips the region to both frames, dimension by dimension. False when
// nothing is left or the arguments do not fit the frames.
bool ClipRegion(CTileStore const& S, CTileStore const& T, geo::CiVolumeN const& sourceBox,
                geo::CiVecN const& targetPosition, tRegion& r)
{
    const int sd = S.m_dims;
    const int td = T.m_dims;
    const int nb = sourceBox.GetDimension();
    if (sd < 2 || td < 2 || nb > sd || static_cast<int>(targetPosition.size()) > td)
        return false;
    const int D = std::max(sd, td);
    r.srcStart.assign(static_cast<std::size_t>(D), 0);
    r.tgtStart.assign(static_cast<std::size_t>(D), 0);
    r.len.assign(static_cast<std::size_t>(D), 0);
    for (int i = 0; i < D; ++i) {
        const auto k = static_cast<std::size_t>(i);
        std::int64_t s0 = 0, n = 1, t0 = 0;
        if (i < sd) {
            s0 = i < nb ? sourceBox.Position()[k] : S.m_boundary.Position()[k];
            n = i < nb ? sourceBox.Size()[k] : 1;
        }
        if (i < td)
            t0 = i < static_cast<int>(targetPosition.size()) ? targetPosition[k] : T.m_boundary.Position()[k];
        if (n <= 0 || (i >= td && n != 1))
            return false;
        // Clips the run at `start` to the frame's extent along k and moves
        // the other side's start by as much; false when nothing is left.
        const auto clip = [&](CTileStore const& frame, std::int64_t& start, std::int64_t& other) {
            const std::int64_t lo = std::max<std::int64_t>(start, frame.m_boundary.Position()[k]);
            const std::int64_t hi = std::min<std::int64_t>(
                start + n, std::int64_t(frame.m_boundary.Position()[k]) + frame.m_boundary.Size()[k]);
            if (hi <= lo)
                return false;
            other += lo - start;
            start = lo;
            n = hi - lo;
            return true;
        };
        if ((i < sd && !clip(S, s0, t0)) || (i < td && !clip(T, t0, s0)))
            return false;
        r.srcStart[k] = s0;
        r.tgtStart[k] = t0;
        r.len[k] = n;
    }
    return true;
}

// Source and target plane keys of every plane pair of the region.
std::vector<std::pair<geo::CiVecN, geo::CiVecN>> PlanePairs(tRegion const& r, int sd, int td)
{
    const int D = static_cast<int>(r.len.size());
    std::vector<std::pair<geo::CiVecN, geo::CiVecN>> keys;
    std::vector<std::int64_t> off(static_cast<std::size_t>(D), 0);
    for (;;) {
        geo::CiVecN sk, tk;
        for (int i = 2; i < sd; ++i)
            sk.Append(static_cast<int>(r.srcStart[static_cast<std::size_t>(i)] + off[static_cast<std::size_t>(i)]));
        for (int i = 2; i < td; ++i)
            tk.Append(static_cast<int>(r.tgtStart[static_cast<std::size_t>(i)] + off[static_cast<std::size_t>(i)]));
        keys.emplace_back(std::move(sk), std::move(tk));
        int i = D - 1;
        for (; i >= 2; --i) {
            const auto k = static_cast<std::size_t>(i);
            if (++off[k] < r.len[k])
                break;
            off[k] = 0;
        }
        if (i < 2)
            return keys;
    }
}

void Rollback(CTileStore& T, std::vector<tJob> const& jobs)
{
    for (auto const& j : jobs) {
        if (j.made)
            T.Drop(*j.plane, *j.slot, j.tx, j.ty, j.before);
        else if (j.replaced)
            T.Restore(*j.slot, j.replaced);
    }
}

// Gives every target tile of the region memory before any pixel moves, so
// that lack of memory leaves the target as it was. False after giving back
// what was taken.
bool PrepareTargets(CTileStore const& S, CTileStore& T, std::vector<std::pair<geo::CiVecN, geo::CiVecN>> const& keys,
                    geo::CiRect const& tgtRect, geo::CiVec2 shift, bool convert, std::vector<tJob>& jobs)
{
    const bool scanSource = T.m_model == eMemoryTiledSparse;
    const int tx0 = T.TileX(tgtRect.left), tx1 = T.TileX(tgtRect.right - 1);
    const int ty0 = T.TileY(tgtRect.top), ty1 = T.TileY(tgtRect.bottom - 1);
    try {
        for (auto const& [sk, tk] : keys) {
            tPlane const* splane = S.FindPlane(sk);
            tPlane& tplane = T.ProvidePlane(tk);
            T.ViewsBeforeWrite(tk, ty0, ty1);
            for (int ty = ty0; ty <= ty1; ++ty) {
                for (int tx = tx0; tx <= tx1; ++tx) {
                    const geo::CiRect piece = geo::Intersection(T.TileRect(tx, ty), tgtRect);
                    tTileSlot& slot = T.ProvideSlot(tplane, tx, ty);
                    if (!slot.Exists() && !convert) {
                        // Nothing to store where the source shows the target's
                        // fill value.
                        geo::CiRect srect = piece;
                        srect.Offset(shift);
                        if (SourceAllValue(S, splane, srect, T.FillValue(), scanSource))
                            continue;
                    }
                    const bool made = !slot.data;
                    const std::uint32_t before = slot.uniform;
                    std::uint8_t* replaced = nullptr;
                    if (!T.Materialize(tplane, slot, tx, ty, piece, &replaced)) {
                        Rollback(T, jobs);
                        return false;
                    }
                    try {
                        jobs.push_back({&tplane, &slot, tx, ty, before, made, splane, replaced});
                    } catch (...) {
                        if (made)
                            T.Drop(tplane, slot, tx, ty, before);
                        else if (replaced)
                            T.Restore(slot, replaced);
                        throw;
                    }
                }
            }
        }
    } catch (...) {
        Rollback(T, jobs);
        throw;
    }
    return true;
}

// Copies the region into the prepared tiles by tile-row segments: one copy
// per row of each piece where a source tile meets a target tile, one per
// piece where both are contiguous over it.
void CopyPieces(CTileStore const& S, CTileStore& T, std::vector<tJob> const& jobs, geo::CiRect const& tgtRect,
                geo::CiVec2 shift, tConvert const& conv, bool stream)
{
    const int spx = S.m_px;
    const int tpx = T.m_px;
    const int srcRowPixels = std::min(S.m_tileW, kUniformRowPixels);
    for (auto const& j : jobs) {
        const int tLeft = T.m_x0 + j.tx * T.m_tileW;
        const int tTop = T.m_y0 + j.ty * T.m_tileH;
        geo::CiRect srect = geo::Intersection(T.TileRect(j.tx, j.ty), tgtRect);
        srect.Offset(shift);
        const int sx0 = S.TileX(srect.left), sx1 = S.TileX(srect.right - 1);
        const int sy0 = S.TileY(srect.top), sy1 = S.TileY(srect.bottom - 1);
        for (int sy = sy0; sy <= sy1; ++sy) {
            for (int sx = sx0; sx <= sx1; ++sx) {
                const geo::CiRect p = geo::Intersection(S.TileRect(sx, sy), srect);
                tTileSlot const* sslot = j.source ? S.FindSlot(*j.source, sx, sy) : nullptr;
                std::int64_t sstride = 0;
                std::uint8_t const* sbase = S.RowBase(sslot, sstride);
                const int w = p.Width();
                const int h = p.Height();
                std::uint8_t* dst = j.slot->data + std::int64_t(p.top - shift.y - tTop) * T.m_rowBytes +
                                    std::int64_t(p.left - shift.x - tLeft) * tpx;
                if (sstride == 0) {
                    for (int y = 0; y < h; ++y, dst += T.m_rowBytes)
                        CopyPixels(dst, sbase, w, spx, srcRowPixels, conv);
                    continue;
                }
                std::uint8_t const* src = sbase + std::int64_t(p.top - (S.m_y0 + sy * S.m_tileH)) * sstride +
                                          std::int64_t(p.left - (S.m_x0 + sx * S.m_tileW)) * spx;
                const auto n = static_cast<std::size_t>(w) * static_cast<std::size_t>(spx);
                if (conv.active) {
                    for (int y = 0; y < h; ++y, dst += T.m_rowBytes, src += sstride)
                        conv.row(dst, src, w, conv);
                } else if (std::int64_t(n) == sstride && std::int64_t(n) == T.m_rowBytes) {
                    // One long block.
                    if (stream)
                        detail::StreamRow(dst, src, n * static_cast<std::size_t>(h));
                    else
                        std::memcpy(dst, src, n * static_cast<std::size_t>(h));
                } else if (stream && std::int64_t(n) == T.m_rowBytes) {
                    // Whole target rows without padding: one run of lines.
                    detail::StreamPackedRows(dst, src, sstride, n, static_cast<std::size_t>(h));
                } else if (stream) {
                    for (int y = 0; y < h; ++y, dst += T.m_rowBytes, src += sstride)
                        detail::StreamRow(dst, src, n);
                } else {
                    for (int y = 0; y < h; ++y, dst += T.m_rowBytes, src += sstride)
                        std::memcpy(dst, src, n);
                }
            }
        }
        ++j.slot->modified;
    }
    if (stream)
        detail::StreamFence();
}

}  // namespace

bool Copy(CDataFrame const& source, CDataFrame& target, geo::CiVolumeN const& sourceBox,
          geo::CiVecN const& targetPosition, int flags)
{
    (void)flags;
    CTileStore const& S = source.Store();
    CTileStore& T = target.Store();
    std::optional<CStorePairLock> lock;
    tConvert conv;
    tRegion r;
    try {
        lock.emplace(S, T);
        if (!MakeConvert(S.m_info, T.m_info, conv) || !ClipRegion(S, T, sourceBox, targetPosition, r))
            return false;
    } catch (std::bad_alloc const&) {
        return false;  // before anything of the target was touched
    }
    try {
        if (&S == &T) {
            // Within one frame source and target may overlap: go through a
            // copy of the source region, which costs memory only where the
            // region has tiles. Each of the two copies holds the lock itself.
            geo::CiVecN pos, size, tpos;
            for (int i = 0; i < S.m_dims; ++i) {
                pos.Append(static_cast<int>(r.srcStart[static_cast<std::size_t>(i)]));
                size.Append(static_cast<int>(r.len[static_cast<std::size_t>(i)]));
            }
            for (int i = 0; i < T.m_dims; ++i)
                tpos.Append(static_cast<int>(r.tgtStart[static_cast<std::size_t>(i)]));
            lock.reset();
            utl::CPropSet props;
            props.SetValue(ePropTileSize, geo::CiVec3(S.m_tileW, S.m_tileH, 1));
            props.SetValue(ePropFillValue, const_cast<void*>(static_cast<void const*>(S.FillValue())));
            CDataFrame temp(geo::CiVolumeN::FromPositionSize(pos, size), S.m_info, props);
            return Copy(source, temp, temp.GetBoundary(), pos, 0) && Copy(temp, target, temp.GetBoundary(), tpos, 0);
        }

        const geo::CiRect tgtRect(static_cast<int>(r.tgtStart[0]), static_cast<int>(r.tgtStart[1]),
                                  static_cast<int>(r.tgtStart[0] + r.len[0]), static_cast<int>(r.tgtStart[1] + r.len[1]));
        const geo::CiVec2 shift(static_cast<int>(r.srcStart[0] - r.tgtStart[0]),
                                static_cast<int>(r.srcStart[1] - r.tgtStart[1]));
        std::vector<tJob> jobs;
        if (!PrepareTargets(S, T, PlanePairs(r, S.m_dims, T.m_dims), tgtRect, shift, conv.active, jobs))
            return false;
        std::size_t total = static_cast<std::size_t>(T.m_px);
        for (std::int64_t l : r.len)
            if (__builtin_mul_overflow(total, static_cast<std::size_t>(l), &total)) {
                total = SIZE_MAX;
                break;
            }
        CopyPieces(S, T, jobs, tgtRect, shift, conv, !conv.active && total >= detail::kStreamBytes);
        ++T.m_modifications;
        return true;
    } catch (std::bad_alloc const&) {
        return false;
    } catch (std::invalid_argument const&) {
        return false;
    }
}

}  // namespace mem

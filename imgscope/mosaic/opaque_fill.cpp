#include "imgscope/mosaic/opaque_fill_internal.h"

#include "imgscope/contracts/foundation/data_frame.h"

#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define IMGSCOPE_STREAM_FILL 1
#endif

namespace img {

namespace {

constexpr unsigned char kOpaque = 255;
// Below this many bytes the area is likely read again soon (a small paste
// shown at once): ordinary stores keep it in the cache.
constexpr std::int64_t kStreamBytes = 128 * 1024;
constexpr std::uintptr_t kLine = 64;

// Streams only whole cache lines: a streaming store to part of a line
// costs a read of the line and then some, so the partial lines at both
// ends take ordinary stores.
void StreamFill(std::uint8_t* dst, std::size_t n)
{
#ifdef IMGSCOPE_STREAM_FILL
    std::size_t head = (kLine - (reinterpret_cast<std::uintptr_t>(dst) & (kLine - 1))) & (kLine - 1);
    if (head > n)
        head = n;
    std::memset(dst, kOpaque, head);
    dst += head;
    n -= head;
    const __m128i v = _mm_set1_epi8(static_cast<char>(kOpaque));
    for (; n >= kLine; n -= kLine, dst += kLine) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst), v);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 16), v);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 32), v);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 48), v);
    }
#endif
    std::memset(dst, kOpaque, n);
}

void StreamFence()
{
#ifdef IMGSCOPE_STREAM_FILL
    _mm_sfence();
#endif
}

// True when the tile holding `piece` keeps no memory (missing or uniform):
// such tiles hand out one shared row for every row, so two rows of the
// tile read at the same address. `value` is then the tile's value.
bool SharesOneRow(mem::CDataFrame const& frame, geo::CiRect const& tile, geo::CiRect const& piece, int& value)
{
    std::uint8_t const* a = nullptr;
    std::uint8_t const* b = nullptr;
    const int other = piece.top == tile.top ? tile.top + 1 : tile.top;
    if (frame.GetRowSpan(geo::CiVec2(piece.left, piece.top), {}, a) <= 0 ||
        frame.GetRowSpan(geo::CiVec2(piece.left, other), {}, b) <= 0 || a != b)
        return false;
    value = *a;
    return true;
}

}  // namespace

bool FillOpaque(CMask& mask, geo::CiRect rect)
{
    rect.Normalize();
    const geo::CiRect area = geo::Intersection(rect, mask.GetBoundary());
    if (area.IsEmpty())
        return false;
    const boost::shared_ptr<mem::CDataFrame> frame = mask.GetPixFrame()->GetDataFrame();
    mem::CTileDistributor* tiles = frame ? frame->GetTileDistributor() : nullptr;
    if (!tiles || frame->GetElementInfo().Size() != 1 || area.Area() < kStreamBytes)
        return mask.Rectangle(area, kOpaque, CMask::eCombineSet);

    const geo::CiRect bounds = mask.GetBoundary();
    const geo::CiVec2 size = tiles->GetTileSize();
    const int tx0 = (area.left - bounds.left) / size.x, tx1 = (area.right - 1 - bounds.left) / size.x;
    const int ty0 = (area.top - bounds.top) / size.y, ty1 = (area.bottom - 1 - bounds.top) / size.y;
    // Pieces the mask's own fill does best: whole tiles (they stay
    // without memory) and tiles that have none yet (made around the piece).
    std::vector<geo::CiRect> rest;
    for (int ty = ty0; ty <= ty1; ++ty) {
        for (int tx = tx0; tx <= tx1; ++tx) {
            const int left = bounds.left + tx * size.x, top = bounds.top + ty * size.y;
            const geo::CiRect tile = geo::Intersection(geo::CiRect(left, top, left + size.x, top + size.y), bounds);
            const geo::CiRect piece = geo::Intersection(tile, area);
            const geo::CiVecN position{tx, ty};
            int value = -1;
            if (piece == tile || tile.Height() < 2 || !tiles->Exists(position)) {
                rest.push_back(piece);
                continue;
            }
            if (SharesOneRow(*frame, tile, piece, value)) {
                if (value != kOpaque)
                    rest.push_back(piece);
                continue;
            }
            const boost::shared_ptr<mem::ITileData> handle = tiles->GetTile(position);
            auto* data = handle ? static_cast<std::uint8_t*>(handle->Lock()) : nullptr;
            if (!data) {
                rest.push_back(piece);
                continue;
            }
            const std::int64_t rowBytes = handle->GetRowSize();
            std::uint8_t* row = data + (piece.top - top) * rowBytes + (piece.left - left);
            for (int y = piece.top; y < piece.bottom; ++y, row += rowBytes)
                StreamFill(row, static_cast<std::size_t>(piece.Width()));
            handle->Unlock();
        }
    }
    StreamFence();
    bool ok = true;
    for (geo::CiRect const& piece : rest)
        ok = mask.Rectangle(piece, kOpaque, CMask::eCombineSet) && ok;
    return ok;
}

}  // namespace img

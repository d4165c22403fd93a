#include "imgscope/io/pixel_write_internal.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/io/value_text_internal.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

namespace img {
namespace io {

namespace {

// Tile tables past this many entries (16 bytes each in the file, more in
// libtiff's memory) are refused rather than attempted.
constexpr std::int64_t kMaxTilesPerPlane = std::int64_t(1) << 26;
// A pyramid level whose tiles hold less real data than this share is
// mostly fill value: it is deflated even when the layer is not, so that
// sparse layers stay small on disk.
constexpr double kSparseLevelCoverage = 0.5;

template <class T>
struct tSum {
    using type = std::conditional_t<std::is_floating_point<T>::value, double, std::int64_t>;
};

// Halves `sw` × `sh` source pixels into `dw` × `dh` = ((sw + 1) / 2,
// (sh + 1) / 2): each output pixel is the mean of its 2 × 2 block, the
// last row or column counting twice when the source side is odd.
template <class T, int C>
void HalveTyped(std::uint8_t const* src, std::int64_t srcStride, int sw, int sh, std::uint8_t* dst,
                std::int64_t dstStride, int comps)
{
    const int n = C ? C : comps;
    const int dw = (sw + 1) / 2, dh = (sh + 1) / 2;
    using S = typename tSum<T>::type;
    for (int y = 0; y < dh; ++y) {
        T const* r0 = reinterpret_cast<T const*>(src + std::int64_t(2 * y) * srcStride);
        T const* r1 = 2 * y + 1 < sh ? reinterpret_cast<T const*>(src + std::int64_t(2 * y + 1) * srcStride) : r0;
        T* out = reinterpret_cast<T*>(dst + std::int64_t(y) * dstStride);
        for (int x = 0; x < dw; ++x) {
            const int a = 2 * x * n;
            const int b = (2 * x + 1 < sw ? 2 * x + 1 : 2 * x) * n;
            for (int c = 0; c < n; ++c) {
                const S sum = S(r0[a + c]) + S(r0[b + c]) + S(r1[a + c]) + S(r1[b + c]);
                if constexpr (std::is_floating_point<T>::value)
                    out[x * n + c] = T(sum * 0.25);
                else
                    out[x * n + c] = T((sum + 2) >> 2);
            }
        }
    }
}

template <class T>
void HalveComps(std::uint8_t const* src, std::int64_t ss, int sw, int sh, std::uint8_t* dst, std::int64_t ds, int comps)
{
    switch (comps) {
    case 1: HalveTyped<T, 1>(src, ss, sw, sh, dst, ds, comps); break;
    case 3: HalveTyped<T, 3>(src, ss, sw, sh, dst, ds, comps); break;
    case 4: HalveTyped<T, 4>(src, ss, sw, sh, dst, ds, comps); break;
    default: HalveTyped<T, 0>(src, ss, sw, sh, dst, ds, comps);
    }
}

void Halve(CPixelInfo const& info, std::uint8_t const* src, std::int64_t ss, int sw, int sh, std::uint8_t* dst,
           std::int64_t ds)
{
    const int n = info.GetComponentCount();
    switch (info.GetElementType()) {
    case utl::eInt8: HalveComps<std::int8_t>(src, ss, sw, sh, dst, ds, n); break;
    case utl::eUInt8: HalveComps<std::uint8_t>(src, ss, sw, sh, dst, ds, n); break;
    case utl::eInt16: HalveComps<std::int16_t>(src, ss, sw, sh, dst, ds, n); break;
    case utl::eUInt16: HalveComps<std::uint16_t>(src, ss, sw, sh, dst, ds, n); break;
    case utl::eInt32: HalveComps<std::int32_t>(src, ss, sw, sh, dst, ds, n); break;
    case utl::eUInt32: HalveComps<std::uint32_t>(src, ss, sw, sh, dst, ds, n); break;
    case utl::eFloat: HalveComps<float>(src, ss, sw, sh, dst, ds, n); break;
    case utl::eDouble: HalveComps<double>(src, ss, sw, sh, dst, ds, n); break;
    default: break;  // 64-bit integers are no OME images and get no pyramid
    }
}

void FillPixels(std::uint8_t* dst, std::size_t count, std::uint8_t const* pixel, int px)
{
    if (count == 0)
        return;
    std::memcpy(dst, pixel, std::size_t(px));
    // Doubling copies: memcpy speed after a few steps.
    std::size_t done = 1;
    while (done < count) {
        const std::size_t n = std::min(done, count - done);
        std::memcpy(dst + done * std::size_t(px), dst, n * std::size_t(px));
        done += n;
    }
}

// The text tifffile and GDAL read as the value of missing tiles, when one
// number describes the fill pixel.
bool NoDataText(CPixelInfo const& info, void const* fill, std::string& text)
{
    const int cs = info.GetComponentSize();
    auto const* p = static_cast<std::uint8_t const*>(fill);
    bool zero = true;
    for (int i = 0; i < info.Size(); ++i)
        zero = zero && p[i] == 0;
    for (int c = 1; c < info.GetComponentCount(); ++c)
        if (std::memcmp(p, p + c * cs, std::size_t(cs)) != 0)
            return false;
    if (zero)
        return false;
    switch (info.GetElementType()) {
    case utl::eInt8: text = std::to_string(*reinterpret_cast<std::int8_t const*>(p)); break;
    case utl::eUInt8: text = std::to_string(*p); break;
    case utl::eInt16: { std::int16_t v; std::memcpy(&v, p, 2); text = std::to_string(v); break; }
    case utl::eUInt16: { std::uint16_t v; std::memcpy(&v, p, 2); text = std::to_string(v); break; }
    case utl::eInt32: { std::int32_t v; std::memcpy(&v, p, 4); text = std::to_string(v); break; }
    case utl::eUInt32: { std::uint32_t v; std::memcpy(&v, p, 4); text = std::to_string(v); break; }
    case utl::eFloat: { float v; std::memcpy(&v, p, 4); text = FormatFloat(v); break; }
    case utl::eDouble: { double v; std::memcpy(&v, p, 8); text = FormatDouble(v); break; }
    default: return false;
    }
    return true;
}

}  // namespace

geo::CiVec2 TiffTileSize(mem::CDataFrame const& frame)
{
    const geo::CiVec2 t = frame.GetTileSize();
    if (frame.GetTileDistributor() && t.x > 0 && t.y > 0 && t.x % 16 == 0 && t.y % 16 == 0)
        return t;
    return {kDefaultTiffTile, kDefaultTiffTile};
}

int PyramidLevels(int width, int height)
{
    int levels = 0;
    for (int side = std::max(width, height); side > kPyramidStopSide; side = (side + 1) / 2)
        ++levels;
    return levels;
}

// One plane being written.
struct CPixelWriter::tPlane {
    boost::shared_ptr<mem::CDataFrame> frame;
    geo::CiVecN key;
    CPixelInfo info;
    tTiffFormat format;
    int px = 0;
    int x0 = 0, y0 = 0, width = 0, height = 0;
    geo::CiVec2 tile;
    int across = 0, down = 0;
    std::uint8_t const* fill = nullptr;
    int levels = 0;
    std::vector<std::uint32_t> written;  // tiles of level 0 in the file, ascending
};

// A pyramid level held in memory: its tiles in native component order.
struct CPixelWriter::tLevel {
    int width = 0, height = 0, across = 0, down = 0;
    struct tTile {
        std::vector<std::uint8_t> data;
        double coverage = 0.0;  // share of the tile made from written pixels
    };
    std::map<std::uint32_t, tTile> tiles;
    double Coverage() const
    {
        double sum = 0.0;
        for (auto const& t : tiles)
            sum += t.second.coverage;
        return tiles.empty() ? 1.0 : sum / double(tiles.size());
    }
};

CPixelWriter::CPixelWriter(CTiffFile& file, tSaveOptions const& options, std::string description)
    : m_file(file), m_options(options), m_description(std::move(description))
{
}

void CPixelWriter::SetTags(tPlane const& p, int width, int height, std::uint16_t compression, bool reduced)
{
    TIFF* tif = m_file.Handle();
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, reduced ? FILETYPE_REDUCEDIMAGE : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, std::uint32_t(p.tile.x));
    TIFFSetField(tif, TIFFTAG_TILELENGTH, std::uint32_t(p.tile.y));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.format.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.format.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, p.format.sampleFormat);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.format.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (!p.format.extraSamples.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, std::uint16_t(p.format.extraSamples.size()),
                     p.format.extraSamples.data());
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_ADOBE_DEFLATE)
        TIFFSetField(tif, TIFFTAG_ZIPQUALITY, m_options.level > 0 ? m_options.level : (reduced ? 1 : 6));
    else if (compression == COMPRESSION_ZSTD && m_options.level > 0)
        TIFFSetField(tif, TIFFTAG_ZSTD_LEVEL, m_options.level);
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "imgscope");
    std::string nodata;
    if (NoDataText(p.info, p.fill, nodata))
        TIFFSetField(tif, TIFFTAG_GDAL_NODATA, nodata.c_str());
    if (m_ifd == 0 && !reduced && !m_description.empty())
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, m_description.c_str());
    // Sets up the tile tables now: a directory whose tiles are all missing
    // must still carry them, all zero.
    TIFFWriteCheck(tif, 1, "imgscope");
}

bool CPixelWriter::WriteTile(std::uint32_t index, void const* data, std::int64_t bytes, bool compressed)
{
    TIFF* tif = m_file.Handle();
    const tmsize_t n = compressed ? TIFFWriteEncodedTile(tif, index, const_cast<void*>(data), tmsize_t(bytes))
                                  : TIFFWriteRawTile(tif, index, const_cast<void*>(data), tmsize_t(bytes));
    m_tileBytes += std::uint64_t(bytes);
    return n >= 0 && !m_file.Failed();
}

EFileResult CPixelWriter::WriteFrame(mem::CDataFrame const& frameRef, bool pyramid)
{
    // A shared owner for the per-plane tile walk; the frame outlives the call.
    boost::shared_ptr<mem::CDataFrame> frame(const_cast<mem::CDataFrame*>(&frameRef), [](mem::CDataFrame*) {});
    const geo::CiVolumeN box = frame->GetBoundary();
    tPlane p;
    p.frame = frame;
    p.info = frame->GetElementInfo();
    p.format = TiffFormatOf(p.info);
    p.px = p.info.Size();
    p.x0 = box.Position()[0];
    p.y0 = box.Position()[1];
    p.width = box.Size()[0];
    p.height = box.Size()[1];
    p.tile = TiffTileSize(*frame);
    p.across = int((std::int64_t(p.width) + p.tile.x - 1) / p.tile.x);
    p.down = int((std::int64_t(p.height) + p.tile.y - 1) / p.tile.y);
    p.fill = static_cast<std::uint8_t const*>(frame->GetFillValue());
    if (p.width <= 0 || p.height <= 0)
        return eFileOk;
    if (std::int64_t(p.across) * p.down > kMaxTilesPerPlane)
        return eFileTooLarge;
    const int levels = pyramid && m_options.pyramid ? PyramidLevels(p.width, p.height) : 0;
    const geo::CiVolumeN planes = frame->GetPlaneAssortment().GetBoundary();
    std::vector<geo::CiVecN> keys;
    if (planes.GetDimension() == 0)
        keys.emplace_back();
    else
        for (auto it = planes.begin(0), end = planes.end(0); it != end; ++it)
            keys.push_back(*it);
    for (geo::CiVecN const& key : keys) {
        p.key = key;
        p.levels = levels;
        p.written.clear();
        const EFileResult r = WritePlane(p);
        if (r != eFileOk)
            return r;
    }
    return eFileOk;
}

EFileResult CPixelWriter::WritePlane(tPlane const& planeIn)
{
    tPlane p = planeIn;
    mem::CDataFrame const& frame = *p.frame;
    const std::int64_t tileBytes = std::int64_t(p.tile.x) * p.tile.y * p.px;
    const std::int64_t rowBytes = std::int64_t(p.tile.x) * p.px;

    // Which TIFF tiles hold written pixels.
    std::vector<std::uint32_t>& tiles = p.written;
    const bool tiled = frame.GetTileDistributor() != nullptr;
    const geo::CiVec2 storeTile = frame.GetTileSize();
    const bool direct = tiled && storeTile == p.tile;
    if (tiled) {
        CTileDistributor walk(p.frame, p.key);
        for (auto it = walk.begin(), end = walk.end(); it != end; ++it) {
            const geo::CiVec2 t = *it;
            if (direct) {
                tiles.push_back(std::uint32_t(t.y) * std::uint32_t(p.across) + std::uint32_t(t.x));
                continue;
            }
            const std::int64_t l = std::int64_t(t.x) * storeTile.x, r = std::min<std::int64_t>(l + storeTile.x, p.width);
            const std::int64_t tp = std::int64_t(t.y) * storeTile.y, b = std::min<std::int64_t>(tp + storeTile.y, p.height);
            for (std::int64_t ty = tp / p.tile.y; ty <= (b - 1) / p.tile.y; ++ty)
                for (std::int64_t tx = l / p.tile.x; tx <= (r - 1) / p.tile.x; ++tx)
                    tiles.push_back(std::uint32_t(ty * p.across + tx));
        }
        std::sort(tiles.begin(), tiles.end());
        tiles.erase(std::unique(tiles.begin(), tiles.end()), tiles.end());
    } else {
        tiles.resize(std::size_t(p.across) * std::size_t(p.down));
        for (std::size_t i = 0; i < tiles.size(); ++i)
            tiles[i] = std::uint32_t(i);
    }
    if (tiles.empty())
        p.levels = 0;

    const std::uint16_t compression = m_options.compression == eCompressionDeflate ? COMPRESSION_ADOBE_DEFLATE
                                      : m_options.compression == eCompressionZstd  ? COMPRESSION_ZSTD
                                                                                   : COMPRESSION_NONE;
    const bool compressed = compression != COMPRESSION_NONE;
    SetTags(p, p.width, p.height, compression, false);
    if (p.levels > 0) {
        std::vector<toff_t> offsets(std::size_t(p.levels), 0);
        TIFFSetField(m_file.Handle(), TIFFTAG_SUBIFD, std::uint16_t(p.levels), offsets.data());
    }
    m_scratch.resize(std::size_t(tileBytes));
    for (std::uint32_t index : tiles) {
        const int tx = int(index % std::uint32_t(p.across)), ty = int(index / std::uint32_t(p.across));
        const geo::CiRect rect(p.x0 + tx * p.tile.x, p.y0 + ty * p.tile.y,
                               int(std::min<std::int64_t>(std::int64_t(p.x0) + std::int64_t(tx + 1) * p.tile.x,
                                                          std::int64_t(p.x0) + p.width)),
                               int(std::min<std::int64_t>(std::int64_t(p.y0) + std::int64_t(ty + 1) * p.tile.y,
                                                          std::int64_t(p.y0) + p.height)));
        const bool interior = rect.Width() == p.tile.x && rect.Height() == p.tile.y;
        void const* data = nullptr;
        if (direct && interior) {
            std::uint8_t const* row0 = nullptr;
            std::uint8_t const* row1 = nullptr;
            frame.GetRowSpan({rect.left, rect.top}, p.key, row0);
            frame.GetRowSpan({rect.left, rect.top + 1}, p.key, row1);
            // A tile without memory of its own hands out one shared row for
            // all its rows: one value throughout.
            if (p.tile.y > 1 && row0 && row0 == row1) {
                std::string content(reinterpret_cast<char const*>(row0), std::size_t(p.px));
                auto found = m_uniform.find(content);
                if (found != m_uniform.end()) {
                    m_aliases.push_back({m_ifd, index, found->second});
                    continue;
                }
                m_uniform.emplace(content, index);
                FillPixels(m_scratch.data(), std::size_t(p.tile.x) * std::size_t(p.tile.y), row0, p.px);
                if (p.format.swapRB)
                    SwapRB(m_scratch.data(), std::size_t(p.tile.x) * std::size_t(p.tile.y), p.info.GetComponentSize(),
                           p.info.GetComponentCount());
                data = m_scratch.data();
            } else if (row0 && !p.format.swapRB && !compressed && frame.GetTileRowSize() == rowBytes) {
                data = row0;  // the tile's own memory, rows back to back
            }
        }
        if (!data) {
            if (!interior)
                FillPixels(m_scratch.data(), std::size_t(p.tile.x) * std::size_t(p.tile.y), p.fill, p.px);
            if (!frame.ReadRect(rect, p.key, m_scratch.data(), rowBytes))
                return eFileNoMemory;
            if (p.format.swapRB)
                SwapRB(m_scratch.data(), std::size_t(p.tile.x) * std::size_t(p.tile.y), p.info.GetComponentSize(),
                       p.info.GetComponentCount());
            data = m_scratch.data();
        }
        if (!WriteTile(index, data, tileBytes, compressed))
            return eFileWriteFailed;
    }
    if (!TIFFWriteDirectory(m_file.Handle()) || m_file.Failed())
        return eFileWriteFailed;
    ++m_ifd;
    m_uniform.clear();

    // The pyramid: each level halves the one before, from the written
    // tiles only.
    tLevel previous;
    for (int level = 1; level <= p.levels; ++level) {
        tLevel next;
        next.width = ((level == 1 ? p.width : previous.width) + 1) / 2;
        next.height = ((level == 1 ? p.height : previous.height) + 1) / 2;
        next.across = (next.width + p.tile.x - 1) / p.tile.x;
        next.down = (next.height + p.tile.y - 1) / p.tile.y;
        const int srcAcross = level == 1 ? p.across : previous.across;
        const int srcWidth = level == 1 ? p.width : previous.width;
        const int srcHeight = level == 1 ? p.height : previous.height;
        // Source tiles with their coverage, in ascending order.
        std::vector<std::pair<std::uint32_t, double>> sources;
        if (level == 1)
            for (std::uint32_t t : tiles)
                sources.emplace_back(t, 1.0);
        else
            for (auto const& t : previous.tiles)
                sources.emplace_back(t.first, t.second.coverage);
        for (auto const& s : sources) {
            const std::uint32_t sx = s.first % std::uint32_t(srcAcross), sy = s.first / std::uint32_t(srcAcross);
            next.tiles[(sy / 2) * std::uint32_t(next.across) + sx / 2].coverage += s.second / 4.0;
        }
        std::vector<std::uint8_t> source(std::size_t(4 * tileBytes));
        const std::int64_t sourceStride = 2 * rowBytes;
        for (auto& entry : next.tiles) {
            const int tx = int(entry.first % std::uint32_t(next.across)), ty = int(entry.first / std::uint32_t(next.across));
            // The 2 × 2 source tiles under this one, clipped to the level.
            const int sx0 = 2 * tx * p.tile.x, sy0 = 2 * ty * p.tile.y;
            const int sw = std::min(2 * p.tile.x, srcWidth - sx0), sh = std::min(2 * p.tile.y, srcHeight - sy0);
            if (level == 1) {
                if (!frame.ReadRect(geo::CiRect(p.x0 + sx0, p.y0 + sy0, p.x0 + sx0 + sw, p.y0 + sy0 + sh), p.key,
                                    source.data(), sourceStride))
                    return eFileNoMemory;
            } else {
                for (int j = 0; j < 2; ++j) {
                    for (int i = 0; i < 2; ++i) {
                        const int stx = 2 * tx + i, sty = 2 * ty + j;
                        const int w = std::min(p.tile.x, sw - i * p.tile.x), h = std::min(p.tile.y, sh - j * p.tile.y);
                        if (w <= 0 || h <= 0)
                            continue;
                        auto found = previous.tiles.find(std::uint32_t(sty) * std::uint32_t(previous.across) + std::uint32_t(stx));
                        for (int y = 0; y < h; ++y) {
                            std::uint8_t* dst = source.data() + std::int64_t(j * p.tile.y + y) * sourceStride + i * rowBytes;
                            if (found == previous.tiles.end())
                                FillPixels(dst, std::size_t(w), p.fill, p.px);
                            else
                                std::memcpy(dst, found->second.data.data() + y * rowBytes, std::size_t(w) * std::size_t(p.px));
                        }
                    }
                }
            }
            entry.second.data.resize(std::size_t(tileBytes));
            std::uint8_t* out = entry.second.data.data();
            FillPixels(out, std::size_t(p.tile.x) * std::size_t(p.tile.y), p.fill, p.px);
            Halve(p.info, source.data(), sourceStride, sw, sh, out, rowBytes);
        }
        const EFileResult r = WriteLevel(p, next, level);
        if (r != eFileOk)
            return r;
        previous = std::move(next);
    }
    return eFileOk;
}

EFileResult CPixelWriter::WriteLevel(tPlane const& p, tLevel const& level, int)
{
    std::uint16_t compression = m_options.compression == eCompressionDeflate ? COMPRESSION_ADOBE_DEFLATE
                                : m_options.compression == eCompressionZstd  ? COMPRESSION_ZSTD
                                                                             : COMPRESSION_NONE;
    if (compression == COMPRESSION_NONE && level.Coverage() < kSparseLevelCoverage)
        compression = COMPRESSION_ADOBE_DEFLATE;
    const bool compressed = compression != COMPRESSION_NONE;
    SetTags(p, level.width, level.height, compression, true);
    const std::int64_t tileBytes = std::int64_t(p.tile.x) * p.tile.y * p.px;
    for (auto const& t : level.tiles) {
        void const* data = t.second.data.data();
        if (p.format.swapRB || compressed) {
            std::memcpy(m_scratch.data(), data, std::size_t(tileBytes));
            if (p.format.swapRB)
                SwapRB(m_scratch.data(), std::size_t(p.tile.x) * std::size_t(p.tile.y), p.info.GetComponentSize(),
                       p.info.GetComponentCount());
            data = m_scratch.data();
        }
        if (!WriteTile(t.first, data, tileBytes, compressed))
            return eFileWriteFailed;
    }
    if (!TIFFWriteDirectory(m_file.Handle()) || m_file.Failed())
        return eFileWriteFailed;
    return eFileOk;
}

EFileResult CPixelWriter::WritePlaceholder()
{
    tPlane p;
    p.info = CPixelInfo(utl::eUInt8, 1, eColorSpaceGray);
    p.format = TiffFormatOf(p.info);
    p.px = 1;
    p.tile = {16, 16};
    static const std::uint8_t zero = 0;
    p.fill = &zero;
    SetTags(p, 1, 1, COMPRESSION_NONE, false);
    if (!TIFFWriteDirectory(m_file.Handle()) || m_file.Failed())
        return eFileWriteFailed;
    ++m_ifd;
    return eFileOk;
}

}  // namespace io
}  // namespace img

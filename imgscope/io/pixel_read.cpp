#include "imgscope/io/pixel_read_internal.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace img {
namespace io {

namespace {

// One block (tile or strip) may decode to at most this many bytes.
constexpr std::uint64_t kMaxBlockBytes = std::uint64_t(1) << 30;

// True when the `w` × `h` pixels at the start of a block all equal the
// first; real image data differs within the first pixels.
bool IsUniform(std::uint8_t const* data, int w, int h, std::int64_t rowBytes, int px)
{
    for (int y = 0; y < h; ++y) {
        std::uint8_t const* row = data + std::int64_t(y) * rowBytes;
        for (int x = y == 0 ? 1 : 0; x < w; ++x)
            if (std::memcmp(data, row + std::int64_t(x) * px, std::size_t(px)) != 0)
                return false;
    }
    return true;
}

// Interleaves `samples` planes of one block into pixels.
void Interleave(std::vector<std::vector<std::uint8_t>> const& planes, std::uint8_t* out, std::size_t pixels,
                int sampleBytes)
{
    const std::size_t n = planes.size();
    for (std::size_t p = 0; p < pixels; ++p)
        for (std::size_t s = 0; s < n; ++s)
            std::memcpy(out + (p * n + s) * std::size_t(sampleBytes),
                        planes[s].data() + p * std::size_t(sampleBytes), std::size_t(sampleBytes));
}

EFileResult LoadRgba(CTiffFile& file, tPageInfo const& page, mem::CDataFrame& frame, geo::CiVecN const& plane)
{
    TIFF* tif = file.Handle();
    char message[1024];
    if (!TIFFRGBAImageOK(tif, message))
        return eFileUnsupported;
    const geo::CiVolumeN box = frame.GetBoundary();
    const int x0 = box.Position()[0], y0 = box.Position()[1];
    const std::uint32_t bw = page.tiled ? page.blockWidth : page.width;
    const std::uint32_t bh = page.blockHeight;
    std::vector<std::uint32_t> raster(std::size_t(bw) * bh);
    std::vector<std::uint32_t> row(bw);
    for (std::uint32_t y = 0; y < page.height; y += bh) {
        for (std::uint32_t x = 0; x < page.width; x += bw) {
            const int ok = page.tiled ? TIFFReadRGBATile(tif, x, y, raster.data()) : TIFFReadRGBAStrip(tif, y, raster.data());
            if (!ok)
                return eFileCorrupt;
            const std::uint32_t w = std::min(bw, page.width - x), h = std::min(bh, page.height - y);
            for (std::uint32_t r = 0; r < h; ++r) {
                // These readers put the block's first row last.
                std::uint32_t const* src = raster.data() + std::size_t(page.tiled ? bh - 1 - r : h - 1 - r) * bw;
                const geo::CiRect rect(x0 + int(x), y0 + int(y + r), x0 + int(x + w), y0 + int(y + r + 1));
                if (!frame.WriteRect(rect, plane, src, 0))
                    return eFileNoMemory;
            }
        }
    }
    return eFileOk;
}

}  // namespace

bool GoToDirectory(TIFF* tif, int index)
{
    if (index < 0)
        return false;
    const int current = int(TIFFCurrentDirectory(tif));
    if (current == index)
        return true;
    // Stepping forward reads one directory; TIFFSetDirectory walks the
    // chain from its start.
    if (current == index - 1)
        return TIFFReadDirectory(tif) == 1;
    return TIFFSetDirectory(tif, tdir_t(index)) == 1;
}

bool ReadPageInfo(TIFF* tif, tPageInfo& page)
{
    tPageInfo p;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height))
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &p.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &p.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &p.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SUBFILETYPE, &p.subfileType);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric))
        p.photometric = p.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extra)
        p.extraSamples.assign(extra, extra + extraCount);
    p.tiled = TIFFIsTiled(tif) != 0;
    if (p.tiled) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &p.blockWidth) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &p.blockHeight))
            return false;
    } else {
        p.blockWidth = p.width;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &p.blockHeight);
        p.blockHeight = std::min(std::max<std::uint32_t>(p.blockHeight, 1), std::max<std::uint32_t>(p.height, 1));
    }
    if (p.width == 0 || p.height == 0 || p.width > std::uint32_t(mem::kMaxExtent) ||
        p.height > std::uint32_t(mem::kMaxExtent) || p.blockWidth == 0 || p.blockHeight == 0 || p.samples == 0 ||
        p.bits == 0)
        return false;
    page = p;
    return true;
}

bool NativePixelInfo(tPageInfo const& page, CPixelInfo& info)
{
    if (page.photometric != PHOTOMETRIC_MINISBLACK && page.photometric != PHOTOMETRIC_MINISWHITE &&
        page.photometric != PHOTOMETRIC_RGB)
        return false;
    if (page.samples > CPixelInfo::kMaxComponents)
        return false;
    int type = 0;
    switch (page.sampleFormat) {
    case SAMPLEFORMAT_UINT:
    case SAMPLEFORMAT_VOID:
        type = page.bits == 8 ? utl::eUInt8 : page.bits == 16 ? utl::eUInt16 : page.bits == 32 ? utl::eUInt32
             : page.bits == 64 ? utl::eUInt64 : 0;
        break;
    case SAMPLEFORMAT_INT:
        type = page.bits == 8 ? utl::eInt8 : page.bits == 16 ? utl::eInt16 : page.bits == 32 ? utl::eInt32
             : page.bits == 64 ? utl::eInt64 : 0;
        break;
    case SAMPLEFORMAT_IEEEFP: type = page.bits == 32 ? utl::eFloat : page.bits == 64 ? utl::eDouble : 0; break;
    default: break;
    }
    if (type == 0)
        return false;
    // Trailing alpha samples count as alpha; everything else is a channel.
    int alpha = 0;
    for (auto it = page.extraSamples.rbegin(); it != page.extraSamples.rend(); ++it) {
        if (*it != EXTRASAMPLE_ASSOCALPHA && *it != EXTRASAMPLE_UNASSALPHA)
            break;
        ++alpha;
    }
    const int colour = page.samples - alpha;
    if (colour < 1)
        return false;
    const bool rgb = page.photometric == PHOTOMETRIC_RGB && colour >= 3;
    const int space = rgb ? eColorSpaceRGB : colour == 1 ? eColorSpaceGray : eColorSpaceMulti;
    info = CPixelInfo(type, colour, space).AddAlpha(alpha);
    return info.IsValid() && info.GetComponentCount() == page.samples;
}

CPixelInfo RgbaPixelInfo() { return CPixelInfo(utl::eUInt8, 3, eColorSpaceRGB).AddAlpha(1); }

EFileResult LoadPage(CTiffFile& file, tPageInfo const& page, mem::CDataFrame& frame, geo::CiVecN const& plane,
                     bool native, std::set<std::pair<int, int>> const* only)
{
    if (!native)
        return LoadRgba(file, page, frame, plane);
    TIFF* tif = file.Handle();
    CPixelInfo const& info = frame.GetElementInfo();
    const tTiffFormat format = TiffFormatOf(info);
    const int px = info.Size();
    const bool separate = page.planar == PLANARCONFIG_SEPARATE && page.samples > 1;
    const int sampleBytes = px / page.samples;
    const std::uint64_t blockPixels = std::uint64_t(page.blockWidth) * page.blockHeight;
    const std::uint64_t blockBytes = blockPixels * std::uint64_t(separate ? sampleBytes : px);
    if (blockBytes > kMaxBlockBytes || blockPixels * std::uint64_t(px) > kMaxBlockBytes)
        return eFileTooLarge;
    const std::uint32_t across = (page.width + page.blockWidth - 1) / page.blockWidth;
    const std::uint32_t down = (page.height + page.blockHeight - 1) / page.blockHeight;
    const std::uint64_t blocks = std::uint64_t(across) * down;
    const std::uint64_t expected = blocks * (separate ? page.samples : 1);
    const std::uint64_t count = page.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    std::uint64_t* offsets = nullptr;
    std::uint64_t* bytes = nullptr;
    if (count < expected ||
        !TIFFGetField(tif, page.tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(tif, page.tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &bytes) || !offsets || !bytes)
        return eFileCorrupt;
    const std::uint64_t size = file.Size();
    for (std::uint64_t i = 0; i < expected; ++i)
        if (bytes[i] != 0 && (offsets[i] > size || bytes[i] > size - offsets[i]))
            return eFileCorrupt;  // data past the end: a truncated file

    // How many places share each stored block.
    std::unordered_map<std::uint64_t, int> seen;
    if (!separate)
        for (std::uint64_t i = 0; i < blocks; ++i)
            if (bytes[i] != 0)
                ++seen[offsets[i]];
    // The pixel of each block found uniform; empty for shared blocks that
    // are not.
    std::unordered_map<std::uint64_t, std::string> uniform;

    auto readBlock = [&](std::uint64_t index, std::uint8_t* out, std::uint64_t outBytes) {
        if (page.compression == COMPRESSION_NONE) {
            if (bytes[index] < outBytes)
                return false;
            return (page.tiled ? TIFFReadRawTile(tif, std::uint32_t(index), out, tmsize_t(outBytes))
                               : TIFFReadRawStrip(tif, std::uint32_t(index), out, tmsize_t(outBytes))) == tmsize_t(outBytes);
        }
        // A last strip may decode to fewer rows; what it gives is enough.
        const tmsize_t n = page.tiled ? TIFFReadEncodedTile(tif, std::uint32_t(index), out, tmsize_t(outBytes))
                                      : TIFFReadEncodedStrip(tif, std::uint32_t(index), out, tmsize_t(outBytes));
        return n > 0;
    };

    const geo::CiVolumeN box = frame.GetBoundary();
    const int x0 = box.Position()[0], y0 = box.Position()[1];
    if (std::int64_t(box.Size()[0]) != page.width || std::int64_t(box.Size()[1]) != page.height)
        return eFileCorrupt;
    std::vector<std::uint8_t> pixels(std::size_t(blockPixels) * std::size_t(px));
    std::vector<std::uint8_t> swapped;
    std::vector<std::vector<std::uint8_t>> samplePlanes(separate ? page.samples : 0);
    for (auto& s : samplePlanes)
        s.resize(std::size_t(blockBytes));
    const std::int64_t rowBytes = std::int64_t(page.blockWidth) * px;
    for (std::uint64_t b = 0; b < blocks; ++b) {
        const std::uint32_t bx = std::uint32_t(b % across), by = std::uint32_t(b / across);
        const geo::CiRect rect(x0 + int(bx * page.blockWidth), y0 + int(by * page.blockHeight),
                               x0 + int(std::min<std::uint64_t>(std::uint64_t(bx + 1) * page.blockWidth, page.width)),
                               y0 + int(std::min<std::uint64_t>(std::uint64_t(by + 1) * page.blockHeight, page.height)));
        // A strip holds its rows only: the last one may be short.
        const std::uint64_t need =
            std::uint64_t(page.blockWidth) * std::uint64_t(page.tiled ? page.blockHeight : std::uint32_t(rect.Height())) *
            std::uint64_t(px);
        if (separate) {
            bool any = false;
            for (std::uint16_t s = 0; s < page.samples; ++s)
                any = any || bytes[b + s * blocks] != 0;
            if (!any)
                continue;
            for (std::uint16_t s = 0; s < page.samples; ++s) {
                auto& plane_ = samplePlanes[s];
                if (bytes[b + s * blocks] == 0)
                    std::fill(plane_.begin(), plane_.end(), 0);
                else if (!readBlock(b + s * blocks, plane_.data(), need / std::uint64_t(px) * std::uint64_t(sampleBytes)))
                    return eFileCorrupt;
            }
            Interleave(samplePlanes, pixels.data(), std::size_t(blockPixels), sampleBytes);
        } else {
            if (bytes[b] == 0)
                continue;  // never written: stays so
            // A block of one value becomes a tile without memory of its
            // own; blocks stored once for several places are read once.
            std::string const* value = nullptr;
            auto known = uniform.find(offsets[b]);
            if (known != uniform.end() && !known->second.empty()) {
                value = &known->second;
            } else {
                if (!readBlock(b, pixels.data(), need))
                    return eFileCorrupt;
                if (!only && IsUniform(pixels.data(), rect.Width(), rect.Height(), rowBytes, px)) {
                    std::string pixel(reinterpret_cast<char const*>(pixels.data()), std::size_t(px));
                    if (format.swapRB)
                        SwapRB(reinterpret_cast<std::uint8_t*>(&pixel[0]), 1, info.GetComponentSize(),
                               info.GetComponentCount());
                    known = uniform.emplace(offsets[b], std::move(pixel)).first;
                    value = &known->second;
                } else if (seen[offsets[b]] > 1) {
                    uniform.emplace(offsets[b], std::string());
                }
            }
            if (value) {
                const geo::CiVolumeN tileBox = geo::CiVolumeN::FromPositionSize(
                    geo::CiVecN{rect.left, rect.top}.Append(plane),
                    geo::CiVecN{rect.Width(), rect.Height()}.Append(geo::CiVecN(plane.size(), 1)));
                if (!frame.Fill(tileBox, value->data()))
                    return eFileNoMemory;
                continue;
            }
        }
        std::uint8_t const* ready = pixels.data();
        if (format.swapRB) {
            // Into a second buffer: swapping in place makes every step wait
            // for the store of the step before.
            swapped.resize(pixels.size());
            CopySwapRB(swapped.data(), pixels.data(), std::size_t(blockPixels), info.GetComponentSize(),
                       info.GetComponentCount());
            ready = swapped.data();
        }
        if (only) {
            // Only the store tiles that held pixels when saved.
            const geo::CiVec2 t = frame.GetTileSize();
            for (int ty = (rect.top - y0) / t.y; ty <= (rect.bottom - 1 - y0) / t.y; ++ty) {
                for (int tx = (rect.left - x0) / t.x; tx <= (rect.right - 1 - x0) / t.x; ++tx) {
                    if (!only->count({tx, ty}))
                        continue;
                    const geo::CiRect cell(int(std::max<std::int64_t>(rect.left, x0 + std::int64_t(tx) * t.x)),
                                           int(std::max<std::int64_t>(rect.top, y0 + std::int64_t(ty) * t.y)),
                                           int(std::min<std::int64_t>(rect.right, x0 + std::int64_t(tx + 1) * t.x)),
                                           int(std::min<std::int64_t>(rect.bottom, y0 + std::int64_t(ty + 1) * t.y)));
                    std::uint8_t const* from =
                        ready + std::int64_t(cell.top - rect.top) * rowBytes + std::int64_t(cell.left - rect.left) * px;
                    if (!frame.WriteRect(cell, plane, from, rowBytes))
                        return eFileNoMemory;
                }
            }
        } else if (!frame.WriteRect(rect, plane, ready, rowBytes)) {
            return eFileNoMemory;
        }
    }
    return eFileOk;
}

}  // namespace io
}  // namespace img

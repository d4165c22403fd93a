#include "imgscope/io/tiff_io_internal.h"

#include <fcntl.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <type_traits>

namespace img {
namespace io {

namespace {

// libtiff's own allocations for one directory (tile tables of a huge image,
// decoder buffers) stop here; a file asking for more is refused.
constexpr tmsize_t kMaxSingleAlloc = tmsize_t(1) << 31;

// Moves `size` bytes at `offset` with pread or pwrite (`io`), through
// interrupted and partial calls; false when the file ends or fails.
template <class P, class F>
bool TransferAll(int fd, std::uint64_t offset, P* buffer, std::size_t size, F io)
{
    auto* p = reinterpret_cast<std::conditional_t<std::is_const<P>::value, std::uint8_t const, std::uint8_t>*>(buffer);
    while (size > 0) {
        const ssize_t n = io(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += std::uint64_t(n);
        size -= std::size_t(n);
    }
    return true;
}

bool ReadAll(int fd, std::uint64_t offset, void* buffer, std::size_t size)
{
    return TransferAll(fd, offset, buffer, size, ::pread);
}

bool WriteAll(int fd, std::uint64_t offset, void const* buffer, std::size_t size)
{
    return TransferAll(fd, offset, buffer, size, ::pwrite);
}

}  // namespace

CTiffFile::~CTiffFile()
{
    if (m_tif)
        TIFFClose(m_tif);
    if (m_fd >= 0)
        ::close(m_fd);
}

tmsize_t CTiffFile::ReadProc(thandle_t h, void* buffer, tmsize_t size)
{
    auto* f = static_cast<CTiffFile*>(h);
    auto* p = static_cast<std::uint8_t*>(buffer);
    tmsize_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(f->m_fd, p + done, std::size_t(size - done), off_t(f->m_pos));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
        f->m_pos += std::uint64_t(n);
    }
    return done;
}

tmsize_t CTiffFile::WriteProc(thandle_t h, void* buffer, tmsize_t size)
{
    auto* f = static_cast<CTiffFile*>(h);
    if (!WriteAll(f->m_fd, f->m_pos, buffer, std::size_t(size))) {
        f->m_ioFailed = true;
        return -1;
    }
    f->m_pos += std::uint64_t(size);
    f->m_size = std::max(f->m_size, f->m_pos);
    return size;
}

toff_t CTiffFile::SeekProc(thandle_t h, toff_t offset, int whence)
{
    auto* f = static_cast<CTiffFile*>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = f->m_pos;
    else if (whence == SEEK_END)
        base = SizeProc(h);
    f->m_pos = base + offset;
    return f->m_pos;
}

int CTiffFile::CloseProc(thandle_t) { return 0; }

toff_t CTiffFile::SizeProc(thandle_t h)
{
    // Known since opening: libtiff asks before every tile it appends, and
    // fstat of a file growing under write-back costs as much as the write.
    return toff_t(static_cast<CTiffFile*>(h)->m_size);
}

int CTiffFile::MapProc(thandle_t, void**, toff_t*) { return 0; }

void CTiffFile::UnmapProc(thandle_t, void*, toff_t) {}

int CTiffFile::ErrorProc(TIFF*, void* user, char const*, char const*, va_list)
{
    static_cast<CTiffFile*>(user)->m_tiffError = true;
    return 1;  // handled: nothing goes to stderr
}

int CTiffFile::WarningProc(TIFF*, void*, char const*, char const*, va_list) { return 1; }

namespace {

// The value readers fill missing tiles with: libtiff knows the tag by
// number only, and forgets fields merged into one directory at the next,
// so it is added to every directory through the extender chain.
TIFFExtendProc g_previousExtender = nullptr;

void ExtendTags(TIFF* tif)
{
    static const TIFFFieldInfo kNoData[] = {
        {TIFFTAG_GDAL_NODATA, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")}};
    TIFFMergeFieldInfo(tif, kNoData, 1);
    if (g_previousExtender)
        g_previousExtender(tif);
}

}  // namespace

TIFF* CTiffFile::Open(CTiffFile& file, std::string const& name, char const* mode)
{
    static const bool extended = [] {
        g_previousExtender = TIFFSetTagExtender(&ExtendTags);
        return true;
    }();
    (void)extended;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAlloc);
    TIFFOpenOptionsSetErrorHandlerExtR(options, &ErrorProc, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &WarningProc, &file);
    TIFF* tif = TIFFClientOpenExt(name.c_str(), mode, &file, &ReadProc, &WriteProc, &SeekProc, &CloseProc,
                                  &SizeProc, &MapProc, &UnmapProc, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

EFileResult CTiffFile::OpenRead(std::string const& path, std::unique_ptr<CTiffFile>& file)
{
    std::unique_ptr<CTiffFile> f(new CTiffFile);
    f->m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f->m_fd < 0)
        return eFileNotFound;
    struct stat st {};
    if (::fstat(f->m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return eFileNotFound;
    f->m_size = std::uint64_t(st.st_size);
    unsigned char magic[4] = {};
    if (!ReadAll(f->m_fd, 0, magic, 4))
        return eFileNotTiff;
    const bool little = magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) && magic[3] == 0;
    const bool big = magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43);
    if (!little && !big)
        return eFileNotTiff;
    f->m_tif = Open(*f, path, "rm");
    if (!f->m_tif)
        return eFileCorrupt;
    file = std::move(f);
    return eFileOk;
}

std::unique_ptr<CTiffFile> CTiffFile::CreateWrite(int fd, std::string const& name)
{
    std::unique_ptr<CTiffFile> f(new CTiffFile);
    f->m_fd = fd;
    f->m_tif = Open(*f, name, "w8m");
    if (!f->m_tif)
        return nullptr;

    return f;
}

std::uint64_t CTiffFile::Size() const { return SizeProc(const_cast<CTiffFile*>(this)); }

bool CTiffFile::Close()
{
    if (m_tif) {
        TIFFClose(m_tif);
        m_tif = nullptr;
    }
    return !Failed();
}

bool PatchTileAliases(int fd, std::vector<tTileAlias> const& aliases)
{
    if (aliases.empty())
        return true;
    int last = 0;
    for (auto const& a : aliases)
        last = std::max(last, a.ifd);
    // Where the offset and byte count tables of each needed IFD lie.
    struct tTable {
        std::uint64_t at = 0;  // where the entries lie
        std::uint64_t count = 0;
        unsigned size = 8;     // bytes per entry
    };
    struct tTables {
        tTable offsets, counts;
    };
    std::vector<tTables> tables;
    std::uint8_t header[16];
    if (!ReadAll(fd, 0, header, 16) || header[0] != 'I' || header[2] != 43)
        return false;
    std::uint64_t ifd = 0;
    std::memcpy(&ifd, header + 8, 8);
    while (ifd != 0 && int(tables.size()) <= last) {
        std::uint64_t count = 0;
        if (!ReadAll(fd, ifd, &count, 8) || count > 4096)
            return false;
        std::vector<std::uint8_t> entries(std::size_t(count) * 20 + 8);
        if (!ReadAll(fd, ifd + 8, entries.data(), entries.size()))
            return false;
        tTables t;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint8_t const* e = entries.data() + i * 20;
            std::uint16_t tag = 0, type = 0;
            std::uint64_t n = 0, value = 0;
            std::memcpy(&tag, e, 2);
            std::memcpy(&type, e + 2, 2);
            std::memcpy(&n, e + 4, 8);
            std::memcpy(&value, e + 12, 8);
            if (tag != TIFFTAG_TILEOFFSETS && tag != TIFFTAG_TILEBYTECOUNTS)
                continue;
            tTable table;
            if (type == TIFF_LONG8)
                table.size = 8;
            else if (type == TIFF_LONG)
                table.size = 4;
            else if (type == TIFF_SHORT)
                table.size = 2;
            else
                return false;
            table.count = n;
            // A table that fits the entry's 8 value bytes sits there.
            table.at = n * table.size <= 8 ? ifd + 8 + i * 20 + 12 : value;
            (tag == TIFFTAG_TILEOFFSETS ? t.offsets : t.counts) = table;
        }
        tables.push_back(t);
        std::memcpy(&ifd, entries.data() + count * 20, 8);
    }
    if (int(tables.size()) <= last)
        return false;
    auto get = [fd](tTable const& t, std::uint32_t i, std::uint64_t& v) {
        v = 0;
        return i < t.count && t.at && ReadAll(fd, t.at + std::uint64_t(t.size) * i, &v, t.size);
    };
    auto put = [fd](tTable const& t, std::uint32_t i, std::uint64_t v) {
        const std::uint64_t most = t.size == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * t.size)) - 1;
        return i < t.count && t.at && v <= most &&
               WriteAll(fd, t.at + std::uint64_t(t.size) * i, &v, t.size);
    };
    for (auto const& a : aliases) {
        tTables const& t = tables[std::size_t(a.ifd)];
        std::uint64_t offset = 0, bytes = 0;
        if (!get(t.offsets, a.sourceTile, offset) || !get(t.counts, a.sourceTile, bytes) ||
            !put(t.offsets, a.tile, offset) || !put(t.counts, a.tile, bytes))
            return false;
    }
    return true;
}

tTiffFormat TiffFormatOf(CPixelInfo const& info)
{
    tTiffFormat f;
    f.samples = std::uint16_t(info.GetComponentCount());
    f.bits = std::uint16_t(info.GetComponentSize() * 8);
    switch (info.GetElementType()) {
    case utl::eInt8:
    case utl::eInt16:
    case utl::eInt32:
    case utl::eInt64: f.sampleFormat = SAMPLEFORMAT_INT; break;
    case utl::eFloat:
    case utl::eDouble: f.sampleFormat = SAMPLEFORMAT_IEEEFP; break;
    default: f.sampleFormat = SAMPLEFORMAT_UINT;
    }
    const int colour = info.GetComponentCount() - info.GetAlphaCount();
    const bool rgb = (info.GetColorSpace() == eColorSpaceRGB || info.GetColorSpace() == eColorSpaceBGR) && colour >= 3;
    f.photometric = rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    f.swapRB = rgb && info.GetColorSpace() == eColorSpaceBGR;
    // Samples past the colour ones: unspecified for further channels,
    // unassociated alpha for the alpha components.
    const int base = rgb ? 3 : 1;
    for (int i = base; i < info.GetComponentCount(); ++i)
        f.extraSamples.push_back(i < colour ? EXTRASAMPLE_UNSPECIFIED : EXTRASAMPLE_UNASSALPHA);
    return f;
}

namespace {

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per 16-byte shuffle; the sixteenth byte is the next pixel's
// first, stored back unchanged and rewritten by the next step. The pixels
// done.
__attribute__((target("ssse3"))) std::size_t CopySwapRgb8Ssse3(std::uint8_t* dst, std::uint8_t const* src,
                                                              std::size_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t i = 0;
    for (; i + 6 <= pixels; i += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), _mm_shuffle_epi8(v, order));
    }
    return i;
}

#endif

}  // namespace

bool HasSsse3()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
#else
    return false;
#endif
}

void CopySwapRB(std::uint8_t* dst, std::uint8_t const* src, std::size_t count, int componentSize, int components)
{
    const std::size_t px = std::size_t(componentSize) * std::size_t(components);
    const std::size_t cs = std::size_t(componentSize);
    std::size_t i = 0;
    if (componentSize == 1 && components == 3) {
#if defined(__x86_64__) || defined(__i386__)
        if (HasSsse3())
            i = CopySwapRgb8Ssse3(dst, src, count);
#endif
        for (; i < count; ++i) {
            const std::uint8_t r = src[3 * i + 2], g = src[3 * i + 1], b = src[3 * i];
            dst[3 * i] = r;
            dst[3 * i + 1] = g;
            dst[3 * i + 2] = b;
        }
        return;
    }
    std::uint8_t first[8], third[8];
    for (; i < count; ++i) {
        std::uint8_t const* p = src + i * px;
        std::uint8_t* q = dst + i * px;
        std::memcpy(first, p, cs);
        std::memcpy(third, p + 2 * cs, cs);
        if (q != p)
            std::memcpy(q + cs, p + cs, px - cs);
        std::memcpy(q, third, cs);
        std::memcpy(q + 2 * cs, first, cs);
    }
}

}  // namespace io
}  // namespace img

#include "imgscope/io/pixel_write_internal.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/tile_pool_internal.h"
#include "imgscope/io/value_text_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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
// Finished pyramid tiles kept for reuse.
constexpr std::size_t kSpareTiles = 64;
// The first pyramid level is held whole while its plane is written up to
// this size (a quarter of the plane's written tiles when they lie close).
constexpr std::int64_t kFusedLevelBytes = std::int64_t(512) << 20;
// Planes with at least this many written tiles are halved on a second
// thread.
constexpr std::size_t kBackgroundTiles = 8;

// Sums of two and four elements: wide enough never to overflow.
template <class T>
struct tSum {
    using type = std::conditional_t<
        std::is_floating_point<T>::value, double,
        std::conditional_t<sizeof(T) == 1, std::int16_t, std::conditional_t<sizeof(T) == 2, std::int32_t, std::int64_t>>>;
};

#if defined(__x86_64__) || defined(__i386__)
// Byte shuffles that halve one row pair of 8-bit pixels with `n` (1 to 4)
// components: each 16-byte load holds `group` pixels; `pairs` puts each
// component of an even pixel next to the same component of the odd pixel
// after it, so that one multiply-add sums the pair (`lanes` sums a load),
// and `pack` closes the gap two packed loads leave (3 components: 12 of
// 16 bytes used).
struct tHalve8 {
    __m128i pairs, pack;
    int group = 0, lanes = 0;
};

tHalve8 Halve8Shuffles(int n)
{
    tHalve8 h;
    h.group = n == 3 ? 4 : 16 / n;
    h.lanes = h.group / 2 * n;
    alignas(16) std::int8_t a[16], c[16];
    for (int i = 0; i < 16; ++i)
        a[i] = c[i] = -1;
    for (int k = 0; k < h.lanes && k < 8; ++k) {
        const int pixel = k / n, comp = k % n;
        a[2 * k] = std::int8_t(2 * pixel * n + comp);
        a[2 * k + 1] = std::int8_t((2 * pixel + 1) * n + comp);
        c[k] = std::int8_t(k);
        c[h.lanes + k] = std::int8_t(8 + k);
    }
    h.pairs = _mm_load_si128(reinterpret_cast<__m128i const*>(a));
    h.pack = _mm_load_si128(reinterpret_cast<__m128i const*>(c));
    return h;
}

// Means of 2 × 2 blocks of rows `r0` and `r1` (`rowBytes` each) into
// `out` (`outBytes`), `group` output pixels a step, as far as whole
// 16-byte loads and stores stay inside the rows. The output pixels done.
__attribute__((target("ssse3"))) int HalveRow8Ssse3(tHalve8 const& h, std::uint8_t const* r0, std::uint8_t const* r1,
                                                   std::int64_t rowBytes, std::uint8_t* out, std::int64_t outBytes,
                                                   int n)
{
    const std::int64_t load = std::int64_t(h.group) * n;  // source bytes one load uses
    const __m128i ones = _mm_set1_epi8(1);
    const __m128i two = _mm_set1_epi16(2);
    int done = 0;
    std::int64_t s = 0, d = 0;
    for (; s + load + 16 <= rowBytes && d + 16 <= outBytes; s += 2 * load, d += 2 * h.lanes) {
        __m128i sums[2];
        for (int half = 0; half < 2; ++half) {
            const std::int64_t at = s + half * load;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<__m128i const*>(r0 + at));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<__m128i const*>(r1 + at));
            const __m128i sum = _mm_add_epi16(_mm_maddubs_epi16(_mm_shuffle_epi8(a, h.pairs), ones),
                                              _mm_maddubs_epi16(_mm_shuffle_epi8(b, h.pairs), ones));
            sums[half] = _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
        }
        const __m128i bytes = _mm_shuffle_epi8(_mm_packus_epi16(sums[0], sums[1]), h.pack);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + d), bytes);
        done += h.group;
    }
    return done;
}
#endif

// Halves `sw` × `sh` source pixels into ((sw + 1) / 2, (sh + 1) / 2):
// each output pixel is the mean of its 2 × 2 block, the last row or
// column counting twice when the source side is odd. Each row pair is
// summed, then neighbouring pixels, both over contiguous elements (loops
// the compiler vectorises); only the final pick of every other pixel
// walks pixel by pixel.
template <class T, int C>
void HalveTyped(std::uint8_t const* src, std::int64_t srcStride, int sw, int sh, std::uint8_t* dst,
                std::int64_t dstStride, int comps, std::vector<typename tSum<T>::type>& sums, std::vector<T>& means)
{
    using S = typename tSum<T>::type;
    const int n = C ? C : comps;
    const int dw = (sw + 1) / 2, dh = (sh + 1) / 2;
    const std::size_t rowElems = std::size_t(sw) * std::size_t(n);
    sums.resize(rowElems + std::size_t(n));
    means.resize(rowElems);
    S* v = sums.data();
    T* m = means.data();
#if defined(__x86_64__) || defined(__i386__)
    if constexpr (std::is_same<T, std::uint8_t>::value) {
        if (n <= 4 && HasSsse3()) {
            const tHalve8 h = Halve8Shuffles(n);
            for (int y = 0; y < dh; ++y) {
                T const* r0 = src + std::int64_t(2 * y) * srcStride;
                T const* r1 = 2 * y + 1 < sh ? r0 + srcStride : r0;
                T* out = dst + std::int64_t(y) * dstStride;
                // The vector steps, then the last pixels (an odd last
                // column pairs with itself).
                for (int x = HalveRow8Ssse3(h, r0, r1, std::int64_t(sw) * n, out, std::int64_t(dw) * n, n); x < dw;
                     ++x) {
                    const int right = 2 * x + 1 < sw ? 2 * x + 1 : 2 * x;
                    for (int c = 0; c < n; ++c)
                        out[x * n + c] = T((r0[2 * x * n + c] + r1[2 * x * n + c] + r0[right * n + c] +
                                            r1[right * n + c] + 2) >> 2);
                }
            }
            return;
        }
    }
#endif
    for (int y = 0; y < dh; ++y) {
        T const* r0 = reinterpret_cast<T const*>(src + std::int64_t(2 * y) * srcStride);
        T const* r1 = 2 * y + 1 < sh ? reinterpret_cast<T const*>(src + std::int64_t(2 * y + 1) * srcStride) : r0;
        for (std::size_t i = 0; i < rowElems; ++i)
            v[i] = S(r0[i] + S(r1[i]));
        // An odd last column pairs with itself.
        for (int c = 0; c < n; ++c)
            v[rowElems + std::size_t(c)] = v[rowElems - std::size_t(n) + std::size_t(c)];
        for (std::size_t i = 0; i < rowElems; ++i) {
            if constexpr (std::is_floating_point<T>::value)
                m[i] = T((v[i] + v[i + std::size_t(n)]) * 0.25);
            else
                m[i] = T((v[i] + v[i + std::size_t(n)] + S(2)) >> 2);
        }
        T* out = reinterpret_cast<T*>(dst + std::int64_t(y) * dstStride);
        if constexpr (sizeof(T) == 1 && C == 3) {
            // Four bytes per pixel moved at once; the fourth is the next
            // pixel's first and is written again by it.
            int x = 0;
            for (; x + 1 < dw; ++x) {
                std::uint32_t four;
                std::memcpy(&four, m + 6 * x, 4);
                std::memcpy(out + 3 * x, &four, 4);
            }
            for (; x < dw; ++x)
                for (int c = 0; c < 3; ++c)
                    out[3 * x + c] = m[std::size_t(6 * x + c)];
        } else {
            for (int x = 0; x < dw; ++x)
                for (int c = 0; c < n; ++c)
                    out[x * n + c] = m[std::size_t(2 * x * n + c)];
        }
    }
}

template <class T>
void HalveComps(std::uint8_t const* src, std::int64_t ss, int sw, int sh, std::uint8_t* dst, std::int64_t ds, int comps)
{
    thread_local std::vector<typename tSum<T>::type> sums;
    thread_local std::vector<T> means;
    switch (comps) {
    case 1: HalveTyped<T, 1>(src, ss, sw, sh, dst, ds, comps, sums, means); break;
    case 3: HalveTyped<T, 3>(src, ss, sw, sh, dst, ds, comps, sums, means); break;
    case 4: HalveTyped<T, 4>(src, ss, sw, sh, dst, ds, comps, sums, means); break;
    default: HalveTyped<T, 0>(src, ss, sw, sh, dst, ds, comps, sums, means);
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

std::vector<geo::CiVecN> PlaneKeys(mem::CDataFrame const& frame)
{
    const geo::CiVolumeN planes = frame.GetPlaneAssortment().GetBoundary();
    std::vector<geo::CiVecN> keys;
    if (planes.GetDimension() == 0)
        keys.emplace_back();
    else if (planes.Volume() > 0)
        for (auto it = planes.begin(0), end = planes.end(0); it != end; ++it)
            keys.push_back(*it);
    return keys;
}

int PyramidLevels(int width, int height)
{
    int levels = 0;
    for (int side = std::max(width, height); side > kPyramidStopSide; side = (side + 1) / 2)
        ++levels;
    return levels;
}

namespace {

// Waits for a background queue's jobs when it goes, also when a write
// failed: they read memory of the caller's.
struct tDrain {
    CBackgroundQueue* queue;
    ~tDrain()
    {
        if (queue)
            try {
                queue->Wait();
            } catch (...) {  // the write failed already; its error is the one reported
            }
    }
};

}  // namespace

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
    std::uint16_t compression = COMPRESSION_NONE;
    std::vector<std::uint32_t> written;  // tiles of level 0 in the file, ascending
};

CBackgroundQueue::CBackgroundQueue() : m_thread([this] { Loop(); }) {}

CBackgroundQueue::~CBackgroundQueue()
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait(lock, [this] { return m_done >= m_pushed; });
        m_quit = true;
    }
    m_work.notify_all();
    m_thread.join();
}

std::uint64_t CBackgroundQueue::Push(std::function<void()> job)
{
    std::uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
        number = ++m_pushed;
    }
    m_work.notify_one();
    return number;
}

void CBackgroundQueue::Wait()
{
    std::uint64_t last = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        last = m_pushed;
    }
    WaitFor(last);
}

void CBackgroundQueue::WaitFor(std::uint64_t number)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this, number] { return m_done >= number || m_error; });
    if (m_error) {
        std::exception_ptr error = m_error;
        m_error = nullptr;
        std::rethrow_exception(error);
    }
}

void CBackgroundQueue::Loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
        if (m_quit)
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        std::exception_ptr error;
        try {
            job();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        ++m_done;
        if (error) {
            m_error = error;
            m_jobs.clear();
            m_done = m_pushed;  // the dropped jobs are done with too
        }
        // Waiters wait for the queue to empty or for one job.
        m_idle.notify_all();
    }
}

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
    // Differences of neighbours compress far better than the values of
    // images; floating-point data keeps its bytes as they are.
    if (compression != COMPRESSION_NONE && p.format.sampleFormat != SAMPLEFORMAT_IEEEFP)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
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

EFileResult CPixelWriter::WriteFrame(mem::CDataFrame const& frameRef, bool pyramid, bool deflate)
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
    const std::vector<geo::CiVecN> keys = PlaneKeys(*frame);
    p.compression = m_options.compression == eCompressionDeflate || deflate ? COMPRESSION_ADOBE_DEFLATE
                    : m_options.compression == eCompressionZstd        ? COMPRESSION_ZSTD
                                                                       : COMPRESSION_NONE;
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

    const std::uint16_t compression = p.compression;
    const bool compressed = compression != COMPRESSION_NONE;
    // The first pyramid level is made as the plane is written, from tiles
    // still in the cache, when it fits in memory; else it is made after,
    // with two tile rows of it in memory at a time.
    bool fused = false;
    if (p.levels > 0) {
        PlanPyramid(p);
        fused = std::int64_t(m_levels[1].tiles.size()) * tileBytes <= kFusedLevelBytes;
    }
    SetTags(p, p.width, p.height, compression, false);
    if (p.levels > 0) {
        std::vector<toff_t> offsets(std::size_t(p.levels), 0);
        TIFFSetField(m_file.Handle(), TIFFTAG_SUBIFD, std::uint16_t(p.levels), offsets.data());
    }
    // Halving beside the writes pays for its thread from a few tiles on.
    // Its jobs read `p` and tile memory: all are done before either goes,
    // also when the plane fails half-way.
    CBackgroundQueue* background = fused ? Background(tiles.size()) : nullptr;
    tDrain drain{background};
    const std::size_t tilePixels = std::size_t(p.tile.x) * std::size_t(p.tile.y);
    m_scratch.resize(std::size_t(tileBytes));
    m_out.resize(std::size_t(tileBytes));
    std::vector<std::uint8_t> copy;
    const auto rectOf = [&](int tx, int ty) {
        return geo::CiRect(p.x0 + tx * p.tile.x, p.y0 + ty * p.tile.y,
                           int(std::min<std::int64_t>(std::int64_t(p.x0) + std::int64_t(tx + 1) * p.tile.x,
                                                      std::int64_t(p.x0) + p.width)),
                           int(std::min<std::int64_t>(std::int64_t(p.y0) + std::int64_t(ty + 1) * p.tile.y,
                                                      std::int64_t(p.y0) + p.height)));
    };
    // Halves a tile on the queue into the tile above, which is planned
    // already and handed over by address: the second level's writes take
    // tiles out of the map while the queue still halves into others.
    const auto pushFeed = [&](std::uint32_t index, std::uint8_t const* native, std::int64_t stride) {
        const std::uint32_t tx = index % std::uint32_t(p.across), ty = index / std::uint32_t(p.across);
        tLevel::tTile& above = m_levels[1].tiles[(ty / 2) * std::uint32_t(m_levels[1].across) + tx / 2];
        above.fedBy = background->Push(
            [this, &p, index, native, stride, &above] { Feed(p, 0, index, native, stride, &above); });
    };
    // The queue halves the tile after the one being written, so that the
    // write (or the swap before it) finds its tile in the shared cache
    // rather than in memory. Only tiles written from their own memory go
    // ahead; the others pass through our buffers one at a time. Per tile,
    // its first row when it went ahead.
    std::vector<std::uint8_t const*> ahead(background ? tiles.size() : 0, nullptr);
    // A tile that goes ahead and must be swapped to red first is swapped
    // there too, into one of two buffers taken in turn: the saving thread
    // then only writes. The job's number, per tile; 0 for none.
    std::vector<std::uint64_t> swapped(background && p.format.swapRB ? tiles.size() : 0, 0);
    if (!swapped.empty())
        for (auto& buffer : m_swapped)
            buffer.resize(std::size_t(tileBytes));
    // The first two rows of a tile of at least two rows, as the frame hands
    // them out (its tiles are the file's): one pointer for both when the
    // tile has no memory of its own.
    const auto firstRows = [&](geo::CiRect const& rect, std::uint8_t const*& row0, std::uint8_t const*& row1) {
        frame.GetRowSpan({rect.left, rect.top}, p.key, row0);
        frame.GetRowSpan({rect.left, rect.top + 1}, p.key, row1);
    };
    // Whether a whole tile goes into the file from its own memory, rows back
    // to back.
    const auto ownMemory = [&](geo::CiRect const& rect, std::uint8_t const* row0, std::uint8_t const* row1) {
        return rect.Width() == p.tile.x && rect.Height() == p.tile.y && row0 && row0 != row1 &&
               frame.GetTileRowSize() == rowBytes;
    };
    const auto pushAhead = [&](std::size_t i) {
        if (!background || i >= tiles.size() || ahead[i] || !direct)
            return;
        const std::uint32_t index = tiles[i];
        const geo::CiRect rect = rectOf(int(index % std::uint32_t(p.across)), int(index / std::uint32_t(p.across)));
        std::uint8_t const* row0 = nullptr;
        std::uint8_t const* row1 = nullptr;
        if (rect.Height() < 2)
            return;
        firstRows(rect, row0, row1);
        if (!ownMemory(rect, row0, row1))
            return;
        pushFeed(index, row0, rowBytes);
        ahead[i] = row0;
        if (!swapped.empty()) {
            // The buffer's last tile, two back, was written before this
            // one's turn came.
            std::uint8_t* to = m_swapped[i % 2].data();
            const int size = p.info.GetComponentSize(), count = p.info.GetComponentCount();
            swapped[i] = background->Push([to, row0, tilePixels, size, count] {
                CopySwapRB(to, row0, tilePixels, size, count);
            });
        }
    };
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const std::uint32_t index = tiles[i];
        pushAhead(i);
        pushAhead(i + 1);
        const int tx = int(index % std::uint32_t(p.across)), ty = int(index / std::uint32_t(p.across));
        const geo::CiRect rect = rectOf(tx, ty);
        const bool interior = rect.Width() == p.tile.x && rect.Height() == p.tile.y;
        // `data` goes into the file; `native` (rows at `stride`) feeds the
        // pyramid in the frame's component order.
        void const* data = nullptr;
        std::uint8_t const* native = nullptr;
        std::int64_t stride = rowBytes;
        bool alias = false;
        if (background && ahead[i]) {
            // From its own memory, found so when it went ahead: written as
            // it is, or as swapped there, or swapped on the way into the
            // output tile.
            native = ahead[i];
            if (!swapped.empty()) {
                background->WaitFor(swapped[i]);
                data = m_swapped[i % 2].data();
            } else {
                data = ForFile(p, native, compressed);
            }
        } else if (direct && rect.Height() > 1) {
            std::uint8_t const* row0 = nullptr;
            std::uint8_t const* row1 = nullptr;
            firstRows(rect, row0, row1);
            // A tile without memory of its own hands out one shared row for
            // all its rows: one value throughout, also past the frame's edge
            // in the file, so that edge tiles share the stored bytes too.
            if (row0 && row0 == row1) {
                std::string content(reinterpret_cast<char const*>(row0), std::size_t(p.px));
                auto found = m_uniform.find(content);
                if (found != m_uniform.end()) {
                    m_aliases.push_back({m_ifd, index, found->second});
                    alias = true;
                } else {
                    m_uniform.emplace(content, index);
                    std::uint8_t pixel[CPixelInfo::kMaxComponents * 8];
                    std::memcpy(pixel, row0, std::size_t(p.px));
                    if (p.format.swapRB)
                        SwapRB(pixel, 1, p.info.GetComponentSize(), p.info.GetComponentCount());
                    FillPixels(m_out.data(), tilePixels, pixel, p.px);
                    data = m_out.data();
                }
                if (fused && !SourceRows(p, tx, ty, rect.Width(), rect.Height(), copy, native, stride))
                    return eFileNoMemory;
            } else if (ownMemory(rect, row0, row1)) {
                // Written as it is, or swapped on the way into the output
                // tile.
                native = row0;
                data = ForFile(p, row0, compressed);
            }
        }
        if (!data && !alias) {
            if (!interior)
                FillPixels(m_scratch.data(), tilePixels, p.fill, p.px);
            if (!frame.ReadRect(rect, p.key, m_scratch.data(), rowBytes))
                return eFileNoMemory;
            native = m_scratch.data();
            data = ForFile(p, native, compressed);
        }
        if (background) {
            // The tile is halved while it and the next are written; a tile
            // copied into a buffer of ours is halved before the buffer is
            // filled again.
            if (!ahead[i])
                pushFeed(std::uint32_t(index), native, stride);
            const bool ok = alias || WriteTile(index, data, tileBytes, compressed);
            if (native == m_scratch.data() || native == copy.data())
                background->Wait();
            if (!ok)
                return eFileWriteFailed;
            continue;
        }
        // Halving first brings the tile into the cache for the write's copy.
        if (fused)
            Feed(p, 0, index, native, stride);
        if (!alias && !WriteTile(index, data, tileBytes, compressed))
            return eFileWriteFailed;
    }
    // The first level's halving may still run: the second level's tiles
    // wait for it one by one as they are written (Flush).
    if (!TIFFWriteDirectory(m_file.Handle()) || m_file.Failed())
        return eFileWriteFailed;
    ++m_ifd;
    m_uniform.clear();
    if (p.levels == 0)
        return eFileOk;

    if (!fused) {
        SetTags(p, m_levels[1].width, m_levels[1].height, m_levels[1].compression, true);
        for (std::uint32_t t : tiles) {
            const int tx = int(t % std::uint32_t(p.across)), ty = int(t / std::uint32_t(p.across));
            // Rows of the first level above this tile's are complete.
            if (!Flush(p, 1, std::uint32_t(ty / 2)))
                return eFileWriteFailed;
            std::uint8_t const* native = nullptr;
            std::int64_t stride = 0;
            if (!SourceRows(p, tx, ty, std::min(p.tile.x, p.width - tx * p.tile.x),
                            std::min(p.tile.y, p.height - ty * p.tile.y), copy, native, stride))
                return eFileNoMemory;
            Feed(p, 0, t, native, stride);
        }
    }
    for (std::size_t k = 1; k < m_levels.size(); ++k) {
        if (k > 1 || fused)
            SetTags(p, m_levels[k].width, m_levels[k].height, m_levels[k].compression, true);
        // The level is complete: its tiles are halved beside their writes.
        if (!Flush(p, k, std::uint32_t(m_levels[k].down), Background(m_levels[k].tiles.size())) ||
            !TIFFWriteDirectory(m_file.Handle()) || m_file.Failed())
            return eFileWriteFailed;
        }
    m_levels.clear();
    return eFileOk;
}

CBackgroundQueue* CPixelWriter::Background(std::size_t tiles)
{
    if (tiles < kBackgroundTiles || std::thread::hardware_concurrency() < 2)
        return nullptr;
    if (!m_background)
        m_background = std::make_unique<CBackgroundQueue>();
    return m_background.get();
}

void CPixelWriter::PlanPyramid(tPlane const& p)
{
    // Which tiles each level has: those over a written tile of the level
    // before, with the share of each made from written pixels.
    m_levels.clear();
    m_levels.resize(std::size_t(p.levels) + 1);
    m_levels[0].width = p.width;
    m_levels[0].height = p.height;
    m_levels[0].across = p.across;
    m_levels[0].down = p.down;
    for (std::uint32_t t : p.written)
        m_levels[0].tiles[t].coverage = 1.0;
    for (std::size_t k = 1; k < m_levels.size(); ++k) {
        tLevel const& below = m_levels[k - 1];
        tLevel& level = m_levels[k];
        level.width = (below.width + 1) / 2;
        level.height = (below.height + 1) / 2;
        level.across = (level.width + p.tile.x - 1) / p.tile.x;
        level.down = (level.height + p.tile.y - 1) / p.tile.y;
        for (auto const& t : below.tiles) {
            const std::uint32_t sx = t.first % std::uint32_t(below.across), sy = t.first / std::uint32_t(below.across);
            level.tiles[(sy / 2) * std::uint32_t(level.across) + sx / 2].coverage += t.second.coverage / 4.0;
        }
        level.compression = p.compression;
        if (p.compression == COMPRESSION_NONE && level.Coverage() < kSparseLevelCoverage)
            level.compression = COMPRESSION_ADOBE_DEFLATE;
    }
    m_levels[0].tiles.clear();
}

void CPixelWriter::Feed(tPlane const& p, std::size_t k, std::uint32_t index, std::uint8_t const* data,
                        std::int64_t stride, tLevel::tTile* aboveTile)
{
    const std::int64_t rowBytes = std::int64_t(p.tile.x) * p.px;
    tLevel const& level = m_levels[k];
    tLevel& above = m_levels[k + 1];
    const int tx = int(index % std::uint32_t(level.across)), ty = int(index / std::uint32_t(level.across));
    const std::uint32_t ax = std::uint32_t(tx / 2), ay = std::uint32_t(ty / 2);
    auto& slot = aboveTile ? *aboveTile : above.tiles[ay * std::uint32_t(above.across) + ax];
    auto& target = slot.data;
    if (!target) {
        if (!m_spare.empty()) {
            target = std::move(m_spare.back());
            m_spare.pop_back();
        } else {
            const std::size_t bytes = std::size_t(rowBytes * p.tile.y);
            target.reset(new std::uint8_t[bytes]);
            // One call maps the pages rather than a fault on each.
            mem::detail::CTilePool::Prefault(target.get(), bytes);
        }
        // Four written tiles below fill an inner tile whole; any other
        // starts as fill value (the padding past the edge too).
        const bool inner = std::int64_t(ax + 1) * p.tile.x <= above.width && std::int64_t(ay + 1) * p.tile.y <= above.height;
        if (!(inner && slot.coverage >= 1.0))
            FillPixels(target.get(), std::size_t(p.tile.x) * std::size_t(p.tile.y), p.fill, p.px);
    }
    const int sw = std::min(p.tile.x, level.width - tx * p.tile.x);
    const int sh = std::min(p.tile.y, level.height - ty * p.tile.y);
    Halve(p.info, data, stride, sw, sh,
          target.get() + std::int64_t(ty % 2) * (p.tile.y / 2) * rowBytes + (tx % 2) * (rowBytes / 2), rowBytes);
}

bool CPixelWriter::Flush(tPlane const& p, std::size_t k, std::uint32_t row, CBackgroundQueue* background)
{
    const std::int64_t tileBytes = std::int64_t(p.tile.x) * p.tile.y * p.px;
    const std::int64_t rowBytes = std::int64_t(p.tile.x) * p.px;
    tLevel& level = m_levels[k];
    const bool compressed = level.compression != COMPRESSION_NONE;
    const bool feed = k + 1 < m_levels.size();
    if (!feed)
        background = nullptr;
    // With a queue, each tile is halved on its thread while it and the next
    // are written. The queue takes buffers from m_spare and reads the tiles
    // written, so those wait in `written` until it is idle; the drain is
    // declared after them and so waits first, also when a write fails.
    std::vector<std::unique_ptr<std::uint8_t[]>> written;
    if (background)
        written.reserve(level.tiles.size());
    tDrain drain{background};
    for (auto it = level.tiles.begin(); it != level.tiles.end() && it->first / std::uint32_t(level.across) < row;) {
        if (it->second.fedBy != 0)
            m_background->WaitFor(it->second.fedBy);  // halved from the level below on the queue
        std::uint8_t const* data = it->second.data.get();
        const std::uint32_t index = it->first;
        if (background)
            background->Push([this, &p, k, index, data, rowBytes] { Feed(p, k, index, data, rowBytes); });
        if (!WriteTile(index, ForFile(p, data, compressed), tileBytes, compressed))
            return false;
        if (background) {
            written.push_back(std::move(it->second.data));
        } else {
            if (feed)
                Feed(p, k, index, data, rowBytes);
            // Tile buffers go round: fresh memory costs page faults.
            if (m_spare.size() < kSpareTiles)
                m_spare.push_back(std::move(it->second.data));
        }
        it = level.tiles.erase(it);
    }
    if (background) {
        drain.queue = nullptr;
        background->Wait();
        for (auto& buffer : written)
            if (m_spare.size() < kSpareTiles)
                m_spare.push_back(std::move(buffer));
    }
    return true;
}

void const* CPixelWriter::ForFile(tPlane const& p, std::uint8_t const* tile, bool compressed)
{
    const std::size_t pixels = std::size_t(p.tile.x) * std::size_t(p.tile.y);
    if (p.format.swapRB) {
        CopySwapRB(m_out.data(), tile, pixels, p.info.GetComponentSize(), p.info.GetComponentCount());
        return m_out.data();
    }
    if (compressed) {
        // Codecs may work in the buffer they are given.
        std::memcpy(m_out.data(), tile, pixels * std::size_t(p.px));
        return m_out.data();
    }
    return tile;
}

bool CPixelWriter::SourceRows(tPlane const& p, int tx, int ty, int w, int h, std::vector<std::uint8_t>& copy,
                              std::uint8_t const*& data, std::int64_t& stride)
{
    mem::CDataFrame const& frame = *p.frame;
    const int x = p.x0 + tx * p.tile.x, y = p.y0 + ty * p.tile.y;
    // A tile of the store with rows at a fixed stride is read in place; a
    // tile without memory shows one shared row, stride 0.
    if (frame.GetTileDistributor() && frame.GetTileSize() == p.tile) {
        std::uint8_t const* row0 = nullptr;
        std::uint8_t const* row1 = nullptr;
        const int span = frame.GetRowSpan({x, y}, p.key, row0);
        if (span >= w && row0) {
            if (h == 1) {
                data = row0;
                stride = 0;
                return true;
            }
            frame.GetRowSpan({x, y + 1}, p.key, row1);
            if (row1 == row0 || row1 == row0 + frame.GetTileRowSize()) {
                data = row0;
                stride = row1 - row0;
                return true;
            }
        }
    }
    stride = std::int64_t(w) * p.px;
    copy.resize(std::size_t(stride) * std::size_t(h));
    data = copy.data();
    return frame.ReadRect(geo::CiRect(x, y, x + w, y + h), p.key, copy.data(), stride);
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

// Writing the planes of data frames as tiled TIFF directories: tiles never
// written stay missing, tiles of one value are stored once, and layers get
// a halved pyramid as SubIFDs. Not installed.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/io/ome_tiff.h"
#include "imgscope/io/tiff_io_internal.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace img {
namespace io {

// The TIFF tile side used when the layer's own tiles cannot be: TIFF
// wants multiples of 16.
constexpr int kDefaultTiffTile = 512;
// Pyramid levels are made while the larger side is above this.
constexpr int kPyramidStopSide = 1024;

// The TIFF tile size of a frame: its own tile size when both sides are
// multiples of 16, else 512 × 512.
geo::CiVec2 TiffTileSize(mem::CDataFrame const& frame);
// Pyramid levels of a plane of `width` × `height` pixels.
int PyramidLevels(int width, int height);
// The planes of a frame in the order the file holds them: lexicographic,
// the first plane dimension slowest; one empty position for a 2-D frame,
// none when a plane dimension is empty.
std::vector<geo::CiVecN> PlaneKeys(mem::CDataFrame const& frame);

// Runs jobs in order on a thread of its own, so that halving a tile
// overlaps with writing it and the tiles after: both read the same tile,
// which then comes from memory once, and a writer that is briefly
// descheduled does not hold the other up.
class CBackgroundQueue {
public:
    CBackgroundQueue();
    ~CBackgroundQueue();  // finishes the jobs queued
    CBackgroundQueue(CBackgroundQueue const&) = delete;
    CBackgroundQueue& operator=(CBackgroundQueue const&) = delete;

    // Queues a job; returns its number (the first pushed is 1).
    std::uint64_t Push(std::function<void()> job);
    // Waits until every job pushed is done; rethrows the first exception
    // one threw (the jobs after it are dropped).
    void Wait();
    // Waits until job `number` and every one before it are done; rethrows
    // as Wait does.
    void WaitFor(std::uint64_t number);

private:
    void Loop();
    std::mutex m_mutex;
    std::condition_variable m_work, m_idle;
    std::deque<std::function<void()>> m_jobs;
    std::uint64_t m_pushed = 0, m_done = 0;  // jobs so far
    std::exception_ptr m_error;
    bool m_quit = false;
    std::thread m_thread;
};

class CPixelWriter {
public:
    CPixelWriter(CTiffFile& file, tSaveOptions const& options, std::string description);

    // Writes every plane of `frame` as the next directories, with SubIFD
    // pyramids when `pyramid` is set and the options allow; deflated
    // whatever the options say when `deflate` is set (masks: long runs of
    // one value, and small next to their layers).
    EFileResult WriteFrame(mem::CDataFrame const& frame, bool pyramid, bool deflate);
    // A 1 × 1 directory for a document without pixels: a TIFF file needs
    // one, and it carries the description.
    EFileResult WritePlaceholder();

    int IfdCount() const { return m_ifd; }
    std::vector<tTileAlias> const& Aliases() const { return m_aliases; }
    // Tile bytes written, for the benchmark's account.
    std::uint64_t TileBytes() const { return m_tileBytes; }

private:
    struct tPlane;
    // A pyramid level: its size and compression, and its tiles with the
    // share of each made from written pixels. Tiles are built here, in
    // native component order, as the level below is written.
    struct tLevel {
        int width = 0, height = 0, across = 0, down = 0;
        std::uint16_t compression = COMPRESSION_NONE;
        struct tTile {
            double coverage = 0.0;
            std::unique_ptr<std::uint8_t[]> data;  // uninitialised until fed
            std::uint64_t fedBy = 0;  // the background job that feeds it last, if any
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
    EFileResult WritePlane(tPlane const& plane);
    // Which tiles each pyramid level of the plane gets, and how it is
    // compressed: sparse levels are deflated even when the plane is not.
    void PlanPyramid(tPlane const& plane);
    // Halves a finished tile of level `k` into its quarter of the tile
    // above (`above`, else looked up), made (all fill value) when first
    // needed.
    void Feed(tPlane const& plane, std::size_t k, std::uint32_t index, std::uint8_t const* data, std::int64_t stride,
              tLevel::tTile* above = nullptr);
    // Writes the tiles of level `k` before tile row `row`, feeds each to the
    // level above (on `background` when given) and frees it.
    bool Flush(tPlane const& plane, std::size_t k, std::uint32_t row, CBackgroundQueue* background = nullptr);
    // The queue that halves beside the writes of `tiles` tiles; null when
    // that many pay for no thread, or there is one core.
    CBackgroundQueue* Background(std::size_t tiles);
    void SetTags(tPlane const& plane, int width, int height, std::uint16_t compression, bool reduced);
    bool WriteTile(std::uint32_t index, void const* data, std::int64_t bytes, bool compressed);
    // A whole tile in native order as the file takes it: swapped, or copied
    // for a codec, into the output tile; else the tile itself.
    void const* ForFile(tPlane const& plane, std::uint8_t const* tile, bool compressed);
    // The rows of tile (`tx`, `ty`) of a plane, `w` × `h` pixels: in the
    // frame's memory where they lie at a fixed stride, else copied.
    static bool SourceRows(tPlane const& p, int tx, int ty, int w, int h, std::vector<std::uint8_t>& copy,
                           std::uint8_t const*& data, std::int64_t& stride);

    CTiffFile& m_file;
    tSaveOptions m_options;
    std::string m_description;
    int m_ifd = 0;
    std::vector<tTileAlias> m_aliases;
    // The first tile of the current directory written with each uniform
    // pixel, by the pixel's bytes.
    std::map<std::string, std::uint32_t> m_uniform;
    std::vector<std::uint8_t> m_scratch;
    std::vector<std::uint8_t> m_out;  // a tile on its way into the file
    // Tiles swapped to red first on the halving thread, the one being
    // written and the next.
    std::vector<std::uint8_t> m_swapped[2];
    std::vector<std::unique_ptr<std::uint8_t[]>> m_spare;  // pyramid tile buffers
    std::vector<tLevel> m_levels;  // of the plane being written
    // Halves the tiles of large planes beside the writes; made when first
    // needed.
    std::unique_ptr<CBackgroundQueue> m_background;
    std::uint64_t m_tileBytes = 0;
};

}  // namespace io
}  // namespace img

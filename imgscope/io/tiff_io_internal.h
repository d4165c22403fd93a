// libtiff behind a file descriptor of ours: silent error capture, every
// failed write remembered (TIFFClose reports none), and the tile tables of
// a written file patched afterwards. Not installed.
#pragma once

#include "imgscope/contracts/foundation/pixel_info.h"
#include "imgscope/io/ome_tiff.h"

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace img {
namespace io {

// One open TIFF file.
class CTiffFile {
public:
    ~CTiffFile();
    CTiffFile(CTiffFile const&) = delete;
    CTiffFile& operator=(CTiffFile const&) = delete;

    // Opens `path` for reading: eFileNotFound, eFileNotTiff or eFileCorrupt
    // when libtiff cannot read its header and first directory.
    static EFileResult OpenRead(std::string const& path, std::unique_ptr<CTiffFile>& file);
    // A new BigTIFF file on `fd`, which the object then owns; null when
    // libtiff refuses.
    static std::unique_ptr<CTiffFile> CreateWrite(int fd, std::string const& name);

    TIFF* Handle() const { return m_tif; }
    int Fd() const { return m_fd; }
    std::uint64_t Size() const;
    // A write or seek of ours failed, or libtiff reported an error.
    bool Failed() const { return m_ioFailed || m_tiffError; }
    bool WriteFailed() const { return m_ioFailed; }
    // Closes libtiff's side, flushing what it holds; false when anything
    // failed on the way. The descriptor stays open until destruction.
    bool Close();

private:
    CTiffFile() = default;
    static tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t size);
    static tmsize_t WriteProc(thandle_t h, void* buffer, tmsize_t size);
    static toff_t SeekProc(thandle_t h, toff_t offset, int whence);
    static int CloseProc(thandle_t h);
    static toff_t SizeProc(thandle_t h);
    static int MapProc(thandle_t h, void** base, toff_t* size);
    static void UnmapProc(thandle_t h, void* base, toff_t size);
    static int ErrorProc(TIFF* tif, void* user, char const* module, char const* fmt, va_list ap);
    static int WarningProc(TIFF* tif, void* user, char const* module, char const* fmt, va_list ap);
    static TIFF* Open(CTiffFile& file, std::string const& name, char const* mode);

    int m_fd = -1;
    std::uint64_t m_pos = 0;
    std::uint64_t m_size = 0;  // the file's length, kept as we write
    TIFF* m_tif = nullptr;
    bool m_ioFailed = false;
    bool m_tiffError = false;
};

// A tile whose table entries are to point at the bytes of another tile of
// the same directory: identical tiles are stored once. libtiff sizes each
// table's entries by its largest value, so an alias only ever points at a
// tile whose entries its own table already holds. IFDs count the
// top-level directories from 0.
struct tTileAlias {
    int ifd = 0;
    std::uint32_t tile = 0;
    std::uint32_t sourceTile = 0;
};

// Rewrites the offset and byte count entries of every alias in the BigTIFF
// file on `fd`; false when the file cannot be walked or written.
bool PatchTileAliases(int fd, std::vector<tTileAlias> const& aliases);

// How a pixel type is laid out in a TIFF image: contiguous samples,
// BGR data stored as RGB (swapped on the way in and out).
struct tTiffFormat {
    std::uint16_t samples = 1;
    std::uint16_t bits = 8;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::vector<std::uint16_t> extraSamples;
    bool swapRB = false;
};
tTiffFormat TiffFormatOf(CPixelInfo const& info);
// Copies `count` pixels with their first and third component swapped;
// `dst` may be `src` (in place), no other overlap.
void CopySwapRB(std::uint8_t* dst, std::uint8_t const* src, std::size_t count, int componentSize, int components);
inline void SwapRB(std::uint8_t* data, std::size_t count, int componentSize, int components)
{
    CopySwapRB(data, data, count, componentSize, components);
}
// Whether the processor has SSSE3 byte shuffles (checked once).
bool HasSsse3();

}  // namespace io
}  // namespace img

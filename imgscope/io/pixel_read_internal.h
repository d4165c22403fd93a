// Reading TIFF directories into planes of data frames: ours tile by tile,
// missing tiles left unwritten and shared uniform tiles kept uniform; any
// other TIFF through libtiff's decoders. Not installed.
#pragma once

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/io/ome_tiff.h"
#include "imgscope/io/tiff_io_internal.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace img {
namespace io {

// The layout of the current directory.
struct tPageInfo {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 1, sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint32_t subfileType = 0;
    bool tiled = false;
    std::uint32_t blockWidth = 0, blockHeight = 0;  // tile size, or width × rows per strip
    std::vector<std::uint16_t> extraSamples;
};

// Makes directory `index` (counted from 0 along the main chain) current.
bool GoToDirectory(TIFF* tif, int index);
// False for a directory without a usable size.
bool ReadPageInfo(TIFF* tif, tPageInfo& page);
// The pixel type that holds the page's samples as they are; false when the
// page needs libtiff's RGBA conversion (palettes, bit depths below 8,
// YCbCr, CMYK and such). `swapRB` is never set: RGB pages stay RGB.
bool NativePixelInfo(tPageInfo const& page, CPixelInfo& info);
// The pixel type of a page read through the RGBA conversion.
CPixelInfo RgbaPixelInfo();

// Loads the current directory into plane `plane` of `frame`, its pixel
// (0, 0) landing on the frame's first pixel. Blocks of zero bytes stay
// unwritten. `native` pages must have NativePixelInfo equal to the frame's
// element type (BGR frames are swapped from RGB); otherwise the RGBA
// conversion is used and the frame must be RgbaPixelInfo. eFileCorrupt for
// offsets past the end, short or undecodable blocks; eFileNoMemory when
// the frame refuses a tile.
// With `only`, pixels land only in the store tiles it names.
EFileResult LoadPage(CTiffFile& file, tPageInfo const& page, mem::CDataFrame& frame, geo::CiVecN const& plane,
                     bool native, std::set<std::pair<int, int>> const* only = nullptr);

}  // namespace io
}  // namespace img

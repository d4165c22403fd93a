// Saving a whole document as one OME-TIFF file and opening it again; also
// opens OME-TIFF and plain TIFF files written by other programs.
#pragma once

#include "imgscope/contracts/document/image.h"
#include "imgscope/library/export.h"

#include <string>

namespace img {

// How pixel tiles are compressed in the file.
enum ECompression : int {
    eCompressionNone = 0,
    eCompressionDeflate = 1,
    eCompressionZstd = 2,
};

// Options of SaveDocument. The defaults are what a program that just wants
// its document on disk should use.
struct tSaveOptions {
    ECompression compression = eCompressionNone;
    // Compression level: -1 the codec's default; deflate 1..9, zstd 1..22.
    int level = -1;
    // Halved copies of every layer plane down to about 1024 pixels, for
    // viewers of large layers. Never read back: the layer is the truth.
    bool pyramid = true;
};

// The outcome of SaveDocument and OpenDocument.
enum EFileResult : int {
    eFileOk = 0,
    eFileBadArgument = 1,   // empty path, unknown compression or level
    eFileCannotCreate = 2,  // the folder is missing or not writable
    eFileWriteFailed = 3,   // the disk is full or the write failed
    eFileNotFound = 4,      // no such file, or it cannot be read
    eFileNotTiff = 5,       // not a TIFF file at all
    eFileCorrupt = 6,       // truncated, offsets past the end, contradictions
    eFileUnsupported = 7,   // a TIFF whose layout no layer can take
    eFileTooLarge = 8,      // sizes past the pixel store's limits
    eFileNoMemory = 9,      // the pixels do not fit into memory
};

// A short English name of a result ("ok", "corrupt file", ...).
IMGSCOPE_API char const* DescribeFileResult(EFileResult result);

// Writes `document` to `path` (UTF-8) as a BigTIFF OME-TIFF: every raster
// layer an OME image whose tiles that were never written stay missing in
// the file, everything else the document holds (layer tree, display state,
// masks, calibrations, properties, blobs, samples) in an annotation of the
// OME-XML. The file is written under a temporary name beside `path` and
// renamed at the end, so a failed save leaves whatever was at `path`
// before and no partial file. Values holding a pointer (type code 13) are
// not saved: an address means nothing to another process.
// The save reads pixels without the stores' locks: no other thread may
// change the document while it runs (an acquisition pauses, or saves once
// it is done).
IMGSCOPE_API EFileResult SaveDocument(CImg const& document, std::string const& path,
                                      tSaveOptions const& options = tSaveOptions());

// Opens `path` into a new document and hands it to `document` on success;
// on failure `document` is untouched. A file written by SaveDocument comes
// back with the same layer IDs, tree, display state and pixels (unwritten
// tiles stay unwritten); layer-tree entries get new plane IDs. Any other
// OME-TIFF opens as one layer per OME image (its z, channel and time planes
// as stack dimensions, physical sizes as calibration, channel names), and a
// plain TIFF as one layer per page.
IMGSCOPE_API EFileResult OpenDocument(std::string const& path, CImg& document);

}  // namespace img

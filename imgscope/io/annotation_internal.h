// The annotation that carries a document's state through the OME-XML of a
// saved file: everything but the pixels, which lie in IFDs it points at.
// Not installed.
#pragma once

#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/io/ome_tiff.h"
#include "imgscope/io/xml_internal.h"

#include <boost/shared_ptr.hpp>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace img {
namespace io {

// Namespace of our annotation, as the XMLAnnotation's Namespace and the
// xmlns of its root element.
constexpr char kAnnotationNamespace[] = "urn:imgscope:document:1";

// A data frame whose planes go into the file, with the IFD of its first
// plane; its planes follow in lexicographic order of the plane assortment
// (first dimension slowest).
struct tFrameSlot {
    boost::shared_ptr<mem::CDataFrame> frame;
    int firstIfd = -1;
};

// Every data frame of the document whose pixels are saved, in the order
// the file holds them: layers' main data first (the OME images), then
// masks, samples and frames kept apart. `ome` tells which are OME images.
struct tFramePlan {
    std::vector<tFrameSlot> frames;
    std::vector<bool> ome;
    std::vector<int> layerIds;  // the layer of each frame, -1 for masks
    std::map<mem::CDataFrame const*, int> ifdOf;
};

// Lists the frames of `document`. A frame without pixels (an empty extent
// or plane range) gets no IFD.
tFramePlan PlanFrames(CImg const& document);
// Whether a pixel type can be an OME image; 64-bit integers cannot.
bool IsOmePixelType(CPixelInfo const& info);
// IFDs a frame needs: its plane count, 0 when it has no pixels.
std::int64_t IfdCount(mem::CDataFrame const& frame);

// Writes the annotation's root element (<Document>) into `writer`.
void WriteAnnotation(CXmlWriter& writer, CImg const& document, tFramePlan const& plan);

// The store tiles of one plane that hold pixels, as (x, y) grid positions.
using tTileSet = std::set<std::pair<int, int>>;

// Pixels the reader still has to load: IFDs `firstIfd` on into `frame`.
// When the frame's tiles are not the file's, `tiles` names for each plane
// the store tiles that were written; the others stay unwritten.
struct tPendingPixels {
    boost::shared_ptr<mem::CDataFrame> frame;
    int firstIfd = -1;
    bool listed = false;
    std::map<geo::CiVecN, tTileSet> tiles;
};

// Rebuilds a document from the annotation's root element. The data frames
// are made empty and listed in `pixels` for the caller to fill.
EFileResult ReadAnnotation(tXmlNode const& root, CImg& document, std::vector<tPendingPixels>& pixels);

}  // namespace io
}  // namespace img

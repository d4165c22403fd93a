// The OME side of a file: the OME-XML written in front of our annotation,
// and what a reader learns from the OME-XML of any file. Not installed.
#pragma once

#include "imgscope/contracts/document/image.h"
#include "imgscope/io/annotation_internal.h"
#include "imgscope/io/xml_internal.h"

#include <string>
#include <vector>

namespace img {
namespace io {

// Physical type of a stack dimension: dimension property 2023, an int
// holding an EPhysDim.
constexpr int kDimTypeProperty = 2023;

// How a frame's planes, taken in lexicographic order, are laid out as
// OME's z, channel and time axes.
struct tOmeAxes {
    std::string order = "XYCZT";  // DimensionOrder: fastest first
    int sizeZ = 1, sizeC = 1, sizeT = 1;
    // Per plane dimension: 'Z', 'C', 'T', or 0 for a dimension of extent 1.
    std::vector<char> axisOfDim;
};
tOmeAxes OmeAxesOf(CStack const& stack, mem::CDataFrame const& frame);

// The whole OME-XML of a file: an Image per OME frame of `plan`, then our
// annotation of `document`.
std::string BuildOmeXml(CImg const& document, tFramePlan const& plan);

// One image of a foreign OME-XML, as much as a layer needs.
struct tOmeImage {
    std::string name;
    int sizeX = 0, sizeY = 0, sizeZ = 1, sizeC = 1, sizeT = 1;
    int samples = 1;  // samples per pixel of each channel
    std::string order = "XYCZT";
    double physicalX = 0.0, physicalY = 0.0, physicalZ = 0.0;  // µm; 0 when absent
    std::vector<std::string> channelNames;  // per channel, may be empty
    // The IFD of each plane in DimensionOrder, -1 for none.
    std::vector<int> ifdOfPlane;
};
// Reads the images of an OME root element; false when it is not one.
bool ReadOmeImages(tXmlNode const& ome, std::vector<tOmeImage>& images);
// Our annotation's root element inside an OME root, or null.
tXmlNode const* FindAnnotation(tXmlNode const& ome);

}  // namespace io
}  // namespace img

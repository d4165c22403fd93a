// The record behind a stack handle: frames, data frames, properties,
// calibration and display settings of one layer. Not installed.
#pragma once

#include "imgscope/contracts/document/document_internal.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/prop_set.h"

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace img {
namespace detail {

// One data frame of a stack (number 0 is the main data, higher numbers
// are samples) with what the stack has seen of its pixel changes.
struct tDataFrameEntry {
    boost::shared_ptr<mem::CDataFrame> frame;
    ESampleFlag flag = eSampleNone;
    // Pixel changes counted for this data frame.
    unsigned int modifications = 0;
    // The content and modification count seen at the last look. Writes go
    // straight into the data frame, and swaps or assignments replace its
    // content, so the stack compares both to notice a change.
    void const* seenStore = nullptr;
    std::uint64_t seenCount = 0;
};

// Calibration of one physical dimension: calibrated = pixel × scale + origin.
struct tAxisCalibration {
    double origin = 0.0;
    double scale = 1.0;
    utl::CUnit unit;
};

// Frame indices are stored as full plane positions of data frame 0 (one
// component per plane-assortment dimension), so that an index of DimCount(0)
// components and one with a component for every plane dimension name the
// same frame, and keys stay valid when the data frame grows.
using tFrameKey = geo::CiVecN;

struct tStack {
    tStack();

    // The document the stack belongs to, and its ID there; -1 before it is
    // added. The link is weak: a document owns its stacks, not the reverse.
    boost::weak_ptr<tDocument> document;
    int id = -1;
    // Unique in the process and never reused (see CStack::GetInstanceId).
    const std::uint64_t instance;

    ELayerType type = eLayerTypeImage;
    CString name;
    // Plane dimensions of extent 1 count as stack dimensions.
    bool keepUnitDims = false;

    // Raster data by data-frame number; 0 exists for every raster stack.
    std::map<int, tDataFrameEntry> dataFrames;
    // Frames set at indices that data frame 0 cannot hold.
    std::map<tFrameKey, boost::shared_ptr<CPixFrame>> looseFrames;
    // The graphic of a vector stack.
    boost::shared_ptr<CVecGraph> graphic;
    // Pixel changes of the whole stack; never goes down.
    unsigned int modifications = 0;

    utl::CPropSet properties;
    std::map<tFrameKey, utl::CPropSet> frameProperties;
    std::map<int, utl::CPropSet> dimProperties;                         // by dimension
    std::map<std::pair<int, int>, utl::CPropSet> channelDimProperties;  // by (dimension, channel)
    std::map<int, mem::CBin> blobs;

    std::map<int, tAxisCalibration> calibration;  // by EPhysDim
    bool xyFixed = false;

    // Display limits: the stack-wide value (unset: the element type's range)
    // and per-channel values that override it.
    bool hasLimits = false;
    utl::TInterval<double> limits;
    std::map<int, utl::TInterval<double>> channelLimits;
    // Data LUTs the same way: one for every channel, and per channel either
    // a LUT of its own or, as an empty optional, none at all.
    std::optional<std::vector<utl::CBGR8>> lut;
    std::map<int, std::optional<std::vector<utl::CBGR8>>> channelLuts;
    std::map<int, CString> channelNames;
    int channelDim = -1;

    // Tells the document's subscribers, when the stack belongs to one.
    void Notify(EChange change) const;
    // The document when the stack belongs to a living one.
    boost::shared_ptr<tDocument> Document() const;
};

// The plane-assortment volume of a data frame (no dimensions for 2-D).
geo::CiVolumeN PlanesOf(mem::CDataFrame const& frame);
// The plane dimensions that are stack dimensions, in order.
std::vector<int> StackDimsOf(geo::CiVolumeN const& planes, bool keepUnitDims);
// Whether data frame planes `planes` hold the plane `key`.
bool PlaneInRange(geo::CiVolumeN const& planes, tFrameKey const& key);
// The key of a frame index: empty names the first frame; otherwise the index
// has DimCount(0) components or one per plane dimension. False for other
// lengths and, on vector stacks, for any index but the empty one.
bool FrameKeyOf(tStack const& stack, utl::CIndexN const& index, tFrameKey& key);
// Counts a change of the data frame's pixels made since the last look; the
// entry's count afterwards.
unsigned int ObserveDataFrame(tStack& stack, tDataFrameEntry& entry);

}  // namespace detail
}  // namespace img

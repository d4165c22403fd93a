// A stack: the frames of one layer with their data frames, properties,
// calibration, channels, LUTs, samples and blobs.
#pragma once

#include "imgscope/contracts/document/document_types.h"
#include "imgscope/contracts/foundation/colors.h"
#include "imgscope/contracts/foundation/index.h"
#include "imgscope/contracts/foundation/phys_dim.h"
#include "imgscope/contracts/foundation/pixel_info.h"
#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/foundation/units.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <utility>
#include <vector>

namespace mem {
class CDataFrame;
}

namespace img {

class CPixFrame;

namespace detail {
struct tStack;
}

// A copyable handle to one stack; copies share it. A default-made stack is
// invalid and every operation on it fails (false, -1, empty or a default
// value). A stack is made from a data frame or a vector graphic and then
// added to a document (CImg::Add), which gives it its ID.
//
// Frames. A raster stack's frames are the planes of data frame 0: a frame
// index has one component per stack dimension (DimCount(0)), or one per
// plane dimension of data frame 0 (a full plane position); both name the
// same frame. The empty index names the first frame. SetFrame copies the
// frame's pixels into its plane of data frame 0, adding the plane first when
// it lies right before or after the frame along the grow dimension (creation
// property 20016); at any other index it keeps the frame itself.
class IMGSCOPE_API CStack {
public:
    CStack();
    // A raster stack over `frame` (shared, not copied). With `keepUnitDims`
    // false, plane dimensions of extent 1 are not stack dimensions, so an
    // (x, y, 1) frame gives a stack of order 0; with true every plane
    // dimension is one. A null or invalid frame gives an invalid stack.
    explicit CStack(boost::shared_ptr<mem::CDataFrame> frame, bool keepUnitDims = false);
    // A vector-graphic stack; a null graphic gives an invalid stack.
    explicit CStack(boost::shared_ptr<CVecGraph> graphic);
    CStack(CStack const& other);
    CStack& operator=(CStack const& other);
    ~CStack();

    bool IsValid() const;
    // The stack's ID in its document, or -1 before it is added.
    int GetId() const;
    // A number no other stack of the process has had, shared by copies of
    // the handle; 0 for an invalid stack. Tells a stack apart from a later
    // one that took over its ID.
    std::uint64_t GetInstanceId() const;
    ELayerType GetLayerType() const;
    CString GetName() const;
    void SetName(CString const& name);

    // Number of stack dimensions (frame-index components). `sample` selects
    // the data frame; 0 is the main one.
    int DimCount(int sample) const;
    // The index of the first frame of data frame `sample` (the position of
    // its plane assortment, reduced to the stack dimensions).
    utl::CIndexN FrameIndexBegin(int sample) const;
    // The x-y boundary of the frames (of data frame 0, else of the first
    // stored frame, else of the vector graphic).
    geo::CiRect GetBoundary() const;
    CPixelInfo GetPixelInfo(int sample) const;
    // Counts pixel changes of data frame `sample`, or of the whole stack for
    // -1: SetFrame, Invalidate, samples, and writes, swaps and assignments
    // made on the data frames themselves. Never goes down.
    unsigned int GetPixelModificationCount(int sample) const;
    // Marks every frame as changed and tells the subscribers.
    void Invalidate();

    // Frames. Empty where the stack has no frame; throws std::bad_alloc
    // when a view of data frame 0 cannot be made.
    boost::shared_ptr<CPixFrame> GetPixFrame(utl::CIndexN const& index) const;
    boost::shared_ptr<CVecGraph> GetVecGraph(utl::CIndexN const& index) const;
    // False for a null frame, an index of the wrong length, or a frame whose
    // pixel type differs from the stack's.
    bool SetFrame(utl::CIndexN const& index, boost::shared_ptr<CPixFrame> frame);
    bool SetFrame(utl::CIndexN const& index, boost::shared_ptr<CPixFrame> frame, utl::CPropSet const& frameProps);
    // Vector stacks only; the index must be empty.
    bool SetFrame(utl::CIndexN const& index, boost::shared_ptr<CVecGraph> graphic);
    // Data frame `n`: 0 is the main data, higher numbers are samples.
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int n) const;

    // Samples: further data frames, numbered from 1 upwards.
    int AddSample(boost::shared_ptr<mem::CDataFrame> frame, ESampleFlag flag);
    bool RemoveSample(int sample);
    std::vector<int> GetSampleIDs() const;
    // The flag a sample was added with; false for 0 and unknown samples.
    bool GetSampleFlag(int sample, ESampleFlag& flag) const;
    // Indices of the frames kept apart from data frame 0 (set where it could
    // not hold them), as full plane positions in ascending order.
    std::vector<utl::CIndexN> GetLooseFrameIndices() const;

    // Stack properties.
    bool SetProperty(int id, mem::CBin const& value);
    bool PropertyExists(int id) const;
    bool GetProperty(int id, mem::CBin& value) const;
    bool DeleteProperty(int id);
    utl::CPropSet GetPropset() const;
    // Frame properties; an empty index names the stack level.
    bool SetProperty(utl::CIndexN const& index, int id, mem::CBin const& value);
    bool PropertyExists(utl::CIndexN const& index, int id) const;
    bool GetProperty(utl::CIndexN const& index, int id, mem::CBin& value) const;
    // Replaces `props` by the frame's set (the stack's for an empty index);
    // false for an index of the wrong length.
    bool GetProperties(utl::CIndexN const& index, utl::CPropSet& props) const;
    // The frames that hold properties, as full plane positions (one
    // component per plane dimension of data frame 0), in ascending order.
    std::vector<utl::CIndexN> GetFramePropertyIndices() const;

    // Dimension properties. `channel` -1 names the dimension as a whole;
    // DelDimProperty with -1 deletes the whole-dimension value and every
    // per-channel value. `dim` runs from 0 to DimCount(0).
    bool SetDimProperty(int dim, int id, mem::CBin const& value);
    bool SetDimProperty(int dim, int channel, int id, mem::CBin const& value);
    bool GetDimProperty(int dim, int id, mem::CBin& value) const;
    bool GetDimProperty(int dim, int channel, int id, mem::CBin& value) const;
    bool DimPropertyExists(int dim, int id) const;
    bool DimPropertyExists(int dim, int channel, int id) const;
    bool DelDimProperty(int dim, int channel, int id);
    // The (dimension, channel) pairs that hold dimension properties, channel
    // -1 for the dimension as a whole, in ascending order; and the set of one
    // pair (false, `props` untouched, when it holds none).
    std::vector<std::pair<int, int>> GetDimPropertyKeys() const;
    bool GetDimProperties(int dim, int channel, utl::CPropSet& props) const;

    // Calibration of the image plane: calibrated = pixel × scale + origin.
    // False while the stack is uncalibrated (outputs untouched). Reading
    // gives each axis's own numbers with the unit of x (dimension 6).
    bool GetOriginScale(geo::CdVec2& origin, geo::CdVec2& scale, utl::CUnit& unit) const;
    bool SetOriginScale(geo::CdVec2 const& origin, geo::CdVec2 const& scale, utl::CUnit const& unit);
    // Sets the scale, keeping the origin ((0, 0) when uncalibrated).
    bool SetScale(utl::TUnitValue<geo::CdVec2> const& scale);
    // Per physical dimension (6 = x, 7 = y, others along the stack); each
    // with its own unit. False when that dimension is uncalibrated.
    bool GetDimOriginScale(EPhysDim dim, double& origin, double& scale, utl::CUnit& unit) const;
    bool SetDimOriginScale(EPhysDim dim, double origin, double scale, utl::CUnit const& unit);
    // The physical dimensions that are calibrated, in ascending order.
    std::vector<int> GetCalibratedDims() const;
    // The boundary in calibrated units, derived from the calibration;
    // setting it calibrates the stack so that its boundary maps onto `rect`.
    bool GetBoundaryRWC(utl::TUnitValue<geo::CdRect>& rect) const;
    bool SetBoundaryRWC(utl::TUnitValue<geo::CdRect> const& rect);
    bool GetXYFixed() const;
    void SetXYFixed(bool fixed);

    // Display limits and data LUTs per channel; channel -1 means all (reading
    // -1 gives the value set for all channels). Limits default to the element
    // type's range (0..1 for floating point).
    bool GetDispLimits(utl::TInterval<double>& limits, int channel) const;
    bool SetDispLimits(utl::TInterval<double> const& limits, int channel);
    bool GetLUT(std::vector<utl::CBGR8>& lut, int channel) const;
    // False for an empty LUT or an unknown channel.
    bool SetLUT(std::vector<utl::CBGR8> const& lut, int channel);
    // False when the channel has no LUT.
    bool RemoveLUT(int channel);

    // Channels: the positions along the channel dimension when the stack has
    // one, else the components of the pixel type.
    int FirstChannel() const;
    int NextChannel(int channel) const;  // -1 after the last
    bool GetChannelName(CString& name, int channel) const;
    bool SetChannelName(CString const& name, int channel);
    // 0 … DimCount(0), or -1 for none; other values are ignored.
    void SetChannelDim(int dim);
    int GetChannelDim() const;  // -1 without one
    bool HasChannelDim(int sample) const;

    // Blobs: values kept with the stack under a blob ID.
    bool SetBlob(mem::CBin const& value, int blob);
    bool GetBlob(mem::CBin& value, int blob) const;
    bool DelBlob(int blob);
    // The blob IDs in ascending order.
    std::vector<int> GetBlobIDs() const;

    // Same stack.
    bool operator==(CStack const& other) const { return m_stack == other.m_stack; }
    bool operator!=(CStack const& other) const { return m_stack != other.m_stack; }

private:
    friend detail::tStack* StackRecordOf(CStack const&);
    boost::shared_ptr<detail::tStack> m_stack;
};

}  // namespace img

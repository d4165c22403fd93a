// The N-D stack scope: a layer whose frames are addressed by a full frame
// index over several dimensions, one of which may hold channels.
#pragma once

#include "imgscope/typed/stack_scope.h"
#include "imgscope/library/export.h"

namespace img {

// One layer addressed by full frame indices. Publishes the stack scope's
// frame and data-frame access, the channel dimension, the end of the frame
// range and each frame's value along a physical dimension. Its factories
// catch nothing.
class IMGSCOPE_API CMultiDimStackScope : public CStackScope {
public:
    ~CMultiDimStackScope() override;

    // Whether the layer's stack has a channel dimension, as a layer tree
    // built afresh from the document sees it; false for a layer without an
    // entry in the tree.
    bool HasChannelDim() const;
    // Hands `dim` to the layer's stack, which ignores a dimension it does
    // not have (-1 removes the channel dimension). Always true.
    bool SetChannelDim(int dim);
    // -1 without a channel dimension or without a stack.
    int GetChannelDim() const;
    // Stores the dimension's type and keeps the ID of its value property
    // (2027) as it was, unlike the stack scope's form.
    bool SetDimensionType(int dim, EPhysDim type);
    // The frame index one step past the last frame when the frames are
    // walked from dimension 0 (dimension 0 one past its end, the others at
    // their start); no components without a data frame.
    geo::CiVecN GetEndIndex() const;

    // The stack scope's frame access, published: frames by full index (the
    // three-argument AddPixFrame stores `props` as the frame's properties),
    // data frame `n` (0 the main data, higher numbers samples; none: 0) and
    // invalidation.
    using CStackScope::AddPixFrame;
    using CStackScope::GetDataFrame;
    using CStackScope::GetPixFrame;
    using CStackScope::InvalidateRect;

    // A frame's value along a dimension of physical type `type`, kept as a
    // frame property: z 2014, time 2017, wavelength 2041, channel 2417. A
    // type without one passes property ID -1 on to the document, which
    // refuses it. Reading a frame without the value gives false and leaves
    // `value` as it was.
    bool SetDimensionValue(geo::CiVecN const& index, EPhysDim type, utl::TUnitValue<double> const& value);
    bool GetDimensionValue(geo::CiVecN const& index, EPhysDim type, utl::TUnitValue<double>& value) const;

protected:
    // Opens layer `layerId` (-1: the first); throws a new CBadScopeException
    // for a missing layer.
    CMultiDimStackScope(CImg img, int layerId);
    // A new layer of `volume`, as the stack scope makes one; throws a new
    // CBadScopeException when no data frame can be made.
    CMultiDimStackScope(CImg img, geo::CiVolumeN const& volume, CPixelInfo const& pixelInfo,
                        mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& props);
    // A new layer "Layer 1" over `frame`.
    CMultiDimStackScope(CImg img, boost::shared_ptr<mem::CDataFrame> frame);

private:
    friend IMGSCOPE_API CMultiDimStackScope* CreateMultiDimStackScope(CImg img, int layerId);
    friend IMGSCOPE_API CMultiDimStackScope* InsertMultiDimStackScope(CImg img, geo::CiVolumeN const& volume,
                                                                      CPixelInfo const& pixelInfo,
                                                                      mem::EMemoryModel memoryModel,
                                                                      mem::EAlign align, utl::CPropSet const& props);
};

// Opens layer `layerId` (-1: the first). Catches nothing: for a missing
// layer the CBadScopeException* reaches the caller, who Delete()s it.
IMGSCOPE_API CMultiDimStackScope* CreateMultiDimStackScope(CImg img, int layerId);
// A new layer of `volume`; catches nothing either.
IMGSCOPE_API CMultiDimStackScope* InsertMultiDimStackScope(CImg img, geo::CiVolumeN const& volume,
                                                           CPixelInfo const& pixelInfo, mem::EMemoryModel memoryModel,
                                                           mem::EAlign align, utl::CPropSet const& props);

}  // namespace img

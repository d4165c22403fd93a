// The simple stack: a one-dimensional view onto a layer's stack, frames
// addressed by one int position along one dimension, with a value per frame
// along it. Also the typed z, time and block stacks built from it.
#pragma once

#include "imgscope/typed/stack_scope.h"
#include "imgscope/library/export.h"

namespace img {

// Every dimension of the layer's frame index but one is fixed by a base
// index; position i names the frame whose index is the base with element
// `stack dimension` replaced by i. Positions may be negative. Frames pushed
// at either end keep the positions contiguous. The caller owns a simple
// stack made by a factory; deleting it leaves the layer in the document.
//
// The single-position members hide the stack scope's frame-index forms of
// the same name, and the dimension members act on the stack dimension.
class IMGSCOPE_API CSimpleStack : public CStackScope {
public:
    ~CSimpleStack() override;

    bool ActivateFrame(int i);
    // False when the layer's active frame lies outside this view (another
    // base position) or has no element at the stack dimension; `i` is then
    // untouched.
    bool GetActiveFrame(int& i) const;
    boost::shared_ptr<CPixFrame> GetPixFrame(int i);
    boost::shared_ptr<CPixFrame> GetPixFrame(int i) const;
    // The first position, and the one past the last, of the frames of data
    // frame 0; both 0 without a data frame.
    int GetBeginIndex() const;
    int GetEndIndex() const;
    // Stores `frame` at position i, replacing a frame already there. A
    // frame right before the first or right after the last extends the
    // layer's data frame.
    bool AddPixFrame(boost::shared_ptr<CPixFrame> frame, int i);
    // Before the first frame; false for a null frame.
    bool PushFront(boost::shared_ptr<CPixFrame> frame);
    // After the last frame; a null frame is refused by the document.
    bool PushBack(boost::shared_ptr<CPixFrame> frame);
    // After the last frame, with `value` as the frame's position along the
    // stack dimension. False, nothing changed, for a null frame.
    bool PushBack(boost::shared_ptr<CPixFrame> frame, utl::TUnitValue<double> const& value);
    // A frame's position along the stack dimension, kept as a frame
    // property of the dimension type's value ID (z 2014, time 2017,
    // wavelength 2041). Both fail without touching the document while the
    // dimension has no such type. Reading a frame that has no value gives
    // true and leaves `value` as it was.
    bool SetFrameProperty(int i, utl::TUnitValue<double> const& value);
    bool GetFrameProperty(int i, utl::TUnitValue<double>& value) const;

    // The stack dimension's metadata. SetDimensionType also records the
    // type's default value property and re-derives where frame values are
    // kept, whatever the write reports.
    bool SetDimensionType(EPhysDim type);
    bool GetDimensionType(EPhysDim& type) const;
    bool GetDimensionName(CString& name) const;
    bool GetDimensionStepping(utl::TUnitValue<double>& first, utl::TUnitValue<double>& second) const;
    bool SetDimensionStepping(utl::TUnitValue<double> const& first, utl::TUnitValue<double> const& second);
    bool GetDimensionFrameRate(utl::TUnitValue<double>& rate, bool variant) const;
    bool SetDimensionFrameRate(utl::TUnitValue<double> const& rate, bool variant);
    bool GetDimensionChannelValue(int channel, utl::TUnitValue<double>& value) const;
    bool SetDimensionChannelValue(int channel, utl::TUnitValue<double> const& value);

protected:
    // A new layer "Layer 1" over `frame`, run along its dimension 0 from
    // base index (0); `documentProps` become document properties and
    // `stackProps` the layer's. The int is unused. Throws a new
    // CBadScopeException when no layer could be made.
    CSimpleStack(CImg img, boost::shared_ptr<mem::CDataFrame> frame, int unused, utl::CPropSet const& documentProps,
                 utl::CPropSet const& stackProps);
    // Gives an untyped stack dimension the type `type`; throws a new
    // CBadScopeException when the dimension is typed otherwise or the type
    // cannot be written.
    void AdoptType(EPhysDim type);

private:
    friend struct tSimpleStackFactory;
    friend class CZStack;
    friend class CTStack;
    friend class CBStack;

    // Open layer `layerId` (-1: the first layer) along dimension `dim`, or
    // along the one dimension `dimSel` names (none: 0). Throw a new
    // CBadScopeException for a missing layer, a dimension outside
    // 0 … order − 1, a `dimSel` of two or more elements or a base index
    // without an element at the dimension.
    CSimpleStack(CImg img, int layerId, geo::CiVecN const& base, int dim);
    CSimpleStack(CImg img, int layerId, geo::CiVecN const& base, geo::CiVecN const& dimSel);
    // A new layer of `rect` × `frameCount` frames (none for the second
    // form), its data frame made from the creation set `frameProps`. Throws
    // a new CBadScopeException for an empty rectangle, a negative count or a
    // data frame that cannot be made.
    CSimpleStack(CImg img, geo::CiRect const& rect, int frameCount, CPixelInfo const& pixelInfo,
                 mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& frameProps,
                 utl::CPropSet const& documentProps, utl::CPropSet const& stackProps);
    CSimpleStack(CImg img, geo::CiRect const& rect, CPixelInfo const& pixelInfo, mem::EMemoryModel memoryModel,
                 mem::EAlign align, utl::CPropSet const& frameProps, utl::CPropSet const& documentProps,
                 utl::CPropSet const& stackProps);

    geo::CiVecN GetFrameIndex(int i) const;
    // Derives the frame property of the stack dimension's type; true when
    // the type has one.
    bool GetFramePropertyID();
    // The checks shared by reading and writing a frame value.
    bool FrameValueAddressable(CStack const& stack) const;
    // Settles a new layer's view (base (0), dimension 0) and its properties.
    void SetUpNewLayer(utl::CPropSet const& documentProps, utl::CPropSet const& stackProps);
    // The begin or end position along the stack dimension.
    int PlaneBound(bool end) const;

    geo::CiVecN m_baseIndex;
    int m_stackDim = 0;
    int m_framePropId = -1;
};

// Typed stacks: a simple stack along a dimension of one physical type. A
// dimension without a type gets the stack's type when opened (with the
// type's value property), so frame values work at once; a dimension typed
// otherwise is refused. They add no operation of their own.

// Along a z dimension (type 1).
class IMGSCOPE_API CZStack : public CSimpleStack {
public:
    ~CZStack() override;

protected:
    CZStack(CImg img, int layerId, geo::CiVecN const& base, int dim);
    // The dimension the z part runs along; a combined stack keeps its
    // parts on distinct dimensions by it.
    int m_zDim;

private:
    friend struct tSimpleStackFactory;
};

// Along a time dimension (type 2).
class IMGSCOPE_API CTStack : public CSimpleStack {
public:
    ~CTStack() override;

protected:
    CTStack(CImg img, int layerId, geo::CiVecN const& base, int dim);

private:
    friend struct tSimpleStackFactory;
};

// Along a block dimension (type 8).
class IMGSCOPE_API CBStack : public CSimpleStack {
public:
    ~CBStack() override;

protected:
    CBStack(CImg img, int layerId, geo::CiVecN const& base, int dim);

private:
    friend struct tSimpleStackFactory;
};

// A time part and a z part over one layer, crossing at the base index.
// Members are reached through a part: `tz->CZStack::PushBack(frame)`.
class IMGSCOPE_API CTZStack : public virtual CTStack, public virtual CZStack {
public:
    ~CTZStack() override;

protected:
    // Throws a new CBadScopeException unless both parts open and run along
    // different dimensions.
    CTZStack(CImg img, int layerId, geo::CiVecN const& base, int tDim, int zDim);

private:
    friend struct tSimpleStackFactory;
};

// A time part, a z part and a block part over one layer.
class IMGSCOPE_API CBTZStack : public virtual CTStack, public virtual CZStack, public virtual CBStack {
public:
    ~CBTZStack() override;

protected:
    // Throws a new CBadScopeException unless all three parts open and run
    // along three different dimensions.
    CBTZStack(CImg img, int layerId, geo::CiVecN const& base, int bDim, int tDim, int zDim);

private:
    friend struct tSimpleStackFactory;
};

// New stacks of `frameCount` frames of `rect` (0 frames: an empty stack that
// grows frame by frame); `frameProps` is the creation set of the data frame,
// `documentProps` become document properties and `stackProps` the new
// layer's. Null when the stack cannot be made (empty rectangle, negative
// count, bad pixel description or creation property, no memory).
IMGSCOPE_API CSimpleStack* CreateSimpleStack(geo::CiRect const& rect, int frameCount, CPixelInfo const& pixelInfo,
                                             mem::EMemoryModel memoryModel, mem::EAlign align,
                                             utl::CPropSet const& frameProps, utl::CPropSet const& documentProps,
                                             utl::CPropSet const& stackProps, CImg img = CImg());
IMGSCOPE_API CSimpleStack* InsertSimpleStack(CImg& img, geo::CiRect const& rect, int frameCount,
                                             CPixelInfo const& pixelInfo, mem::EMemoryModel memoryModel,
                                             mem::EAlign align, utl::CPropSet const& frameProps,
                                             utl::CPropSet const& documentProps, utl::CPropSet const& stackProps);
// Opens layer `layerId` (-1: the first) along dimension `dim` from `base`;
// null for a missing layer, a dimension outside 0 … order − 1 or a base
// index without an element at `dim`.
IMGSCOPE_API CSimpleStack* CreateSimpleStack(CImg& img, int layerId, geo::CiVecN const& base, int dim);
IMGSCOPE_API CSimpleStack const* CreateSimpleStack(CImg const& img, int layerId, geo::CiVecN const& base, int dim);
// A new layer "Layer 1" over `frame`; null when the layer cannot be made.
IMGSCOPE_API CSimpleStack* CreateSimpleStack(CImg& img, boost::shared_ptr<mem::CDataFrame> frame, int unused);
// True exactly when CreateSimpleStack(img, layerId, base, dim) would open.
IMGSCOPE_API bool TestSimpleStack(CImg const& img, int layerId, geo::CiVecN const& base, int dim);

// Typed stacks over an existing layer, opened as CreateSimpleStack does;
// null also when a dimension is typed otherwise or two parts share one.
IMGSCOPE_API CZStack* CreateZStack(CImg& img, int layerId, geo::CiVecN const& base, int dim);
IMGSCOPE_API CTStack* CreateTStack(CImg& img, int layerId, geo::CiVecN const& base, int dim);
IMGSCOPE_API CBStack* CreateBStack(CImg& img, int layerId, geo::CiVecN const& base, int dim);
IMGSCOPE_API CTZStack* CreateTZStack(CImg& img, int layerId, geo::CiVecN const& base, int tDim, int zDim);
IMGSCOPE_API CBTZStack* CreateBTZStack(CImg& img, int layerId, geo::CiVecN const& base, int bDim, int tDim,
                                       int zDim);

}  // namespace img

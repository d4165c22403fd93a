// The picture: a stack scope fixed on one frame of its layer, a single
// two-dimensional image.
#pragma once

#include "imgscope/typed/stack_scope.h"
#include "imgscope/library/export.h"

namespace img {

// One frame of one layer. Pictures made as new layers address their frame
// by the empty index; opened pictures by the index given, or the first
// frame's.
class IMGSCOPE_API CPicture : public CStackScope {
public:
    ~CPicture() override;

    boost::shared_ptr<CPixFrame> GetPixFrame();
    boost::shared_ptr<CPixFrame> GetPixFrame() const;
    // Data frame 0 of the layer exchanges content with the frame's data frame
    // (or takes a copy when size or type differ). False for a null frame.
    bool SwapPixFrame(boost::shared_ptr<CPixFrame> frame);

    // The picture's own frame properties and device properties.
    bool SetFrameProperty(int id, mem::CBin const& value);
    bool FramePropertyExists(int id) const;
    bool SetFrameProperties(utl::CPropSet const& props);
    bool GetFrameProperties(utl::CPropSet& props) const;
    bool SetDeviceProperties(utl::CPropSet const& props);
    bool GetDeviceProperties(utl::CPropSet& props) const;
    // The stack scope's forms with an explicit frame index stay available.
    using CStackScope::FramePropertyExists;
    using CStackScope::GetDeviceProperties;
    using CStackScope::GetFrameProperties;
    using CStackScope::SetDeviceProperties;
    using CStackScope::SetFrameProperties;
    using CStackScope::SetFrameProperty;

    boost::shared_ptr<CMask> CreateTranspMask(unsigned char value);
    boost::shared_ptr<CMask> GetTranspMask();
    boost::shared_ptr<CMask> GetTranspMask() const;
    bool DelTranspMask();
    bool ResetRenderer2D();
    bool InvalidateRect(geo::CiRect const& rect);
    // Pictures draw through the document's layer tree; nothing to create.
    void CreateRenderer2D(bool);

    // The index of the picture's frame in its layer.
    geo::CiVecN const& GetFrameIndex() const { return m_frameIndex; }

protected:
    // A new layer of the rectangle's extent and one further dimension of
    // extent 1; throws a new CBadScopeException when it cannot be made.
    CPicture(CImg img, geo::CiRect const& rect, CPixelInfo const& pixelInfo, mem::EMemoryModel memoryModel,
             mem::EAlign align, utl::CPropSet const& props);
    // A new layer "Layer 1" over the frame's data frame.
    CPicture(CImg img, boost::shared_ptr<CPixFrame> frame);
    // Opens frame `index` of layer `layerId` (-1: the first layer; an empty
    // index: the first frame of data frame 0). Throws a new
    // CBadScopeException when there is no such layer or frame.
    CPicture(CImg img, int layerId, geo::CiVecN const& index, geo::CiVecN const& unused);
    // Opens layer 0, which never exists: every argument after the document
    // is ignored, and the constructor always throws CBadScopeException.
    CPicture(CImg img, void* data, geo::CiVec2 const& size, CPixelInfo const& pixelInfo, unsigned int stride,
             bool copy, utl::CPropSet const& props);

private:
    friend struct tPictureFactory;
    void CreateDisplay();

    geo::CiVecN m_frameIndex;
};

// New pictures: a new layer of `rect`, its data frame made from the creation
// set `frameProps`; then `documentProps` become document properties and
// `pictureProps` the picture's frame properties. Null when the layer cannot
// be made; exceptions other than CBadScopeException* reach the caller.
IMGSCOPE_API CPicture* CreatePicture(geo::CiRect const& rect, CPixelInfo const& pixelInfo,
                                     mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& frameProps,
                                     utl::CPropSet const& documentProps, utl::CPropSet const& pictureProps,
                                     CImg img = CImg());
IMGSCOPE_API CPicture* InsertPicture(CImg& img, geo::CiRect const& rect, CPixelInfo const& pixelInfo,
                                     mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& frameProps,
                                     utl::CPropSet const& documentProps, utl::CPropSet const& pictureProps);
// A new picture over the data frame of `frame`.
IMGSCOPE_API CPicture* CreatePicture(boost::shared_ptr<CPixFrame> frame, utl::CPropSet const& documentProps,
                                     utl::CPropSet const& pictureProps, CImg img = CImg());
IMGSCOPE_API CPicture* InsertPicture(CImg& img, boost::shared_ptr<CPixFrame> frame,
                                     utl::CPropSet const& documentProps, utl::CPropSet const& pictureProps);
// Opens frame `index` of layer `layerId`; null when it does not exist.
IMGSCOPE_API CPicture* CreatePicture(CImg& img, int layerId, geo::CiVecN const& index);
IMGSCOPE_API CPicture const* CreatePicture(CImg const& img, int layerId, geo::CiVecN const& index);
// True exactly when CreatePicture(img, layerId, index) would give a picture.
IMGSCOPE_API bool TestPicture(CImg const& img, int layerId, geo::CiVecN const& index);

}  // namespace img

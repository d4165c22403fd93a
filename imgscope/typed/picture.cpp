#include "imgscope/typed/picture.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"

#include <memory>

namespace img {

namespace {

// The refusals below throw before the layer is inserted, so a bad argument
// leaves the document untouched and the factory returns null.
geo::CiVolumeN PictureVolume(geo::CiRect const& rect)
{
    if (geo::IsInverted(rect))
        throw new CBadScopeException;  // never flipped into a layer elsewhere
    geo::CiVolumeN volume(rect);
    volume.Append(geo::CiVolumeN(geo::CiVecN{0}, geo::CiVecN{1}));
    return volume;
}

boost::shared_ptr<mem::CDataFrame> DataFrameOf(boost::shared_ptr<CPixFrame> const& frame)
{
    boost::shared_ptr<mem::CDataFrame> data = frame ? frame->GetDataFrame() : boost::shared_ptr<mem::CDataFrame>();
    if (!data)
        throw new CBadScopeException;
    return data;
}

}  // namespace

// Builds pictures for the factories, which alone may call the constructors.
struct tPictureFactory {
    template <class... Args>
    static CPicture* New(Args&&... args)
    {
        return new CPicture(std::forward<Args>(args)...);
    }

    // The creating factories: a CBadScopeException* is deleted and what was
    // made so far returned; anything else reaches the caller, after the
    // half-made picture is released.
    template <class Make>
    static CPicture* Create(Make make, utl::CPropSet const& documentProps, utl::CPropSet const& pictureProps)
    {
        std::unique_ptr<CPicture> picture;
        try {
            picture.reset(make());
            picture->SetProperties(documentProps);
            picture->SetFrameProperties(pictureProps);
        } catch (CBadScopeException* e) {
            e->Delete();
        }
        return picture.release();
    }

    static CPicture* Open(CImg const& img, int layerId, geo::CiVecN const& index)
    {
        try {
            return new CPicture(img, layerId, index, geo::CiVecN());
        } catch (CBadScopeException* e) {
            e->Delete();
        } catch (...) {
        }
        return nullptr;
    }
};

CPicture::CPicture(CImg img, geo::CiRect const& rect, CPixelInfo const& pixelInfo, mem::EMemoryModel memoryModel,
                   mem::EAlign align, utl::CPropSet const& props)
    : CStackScope(img, PictureVolume(rect), pixelInfo, memoryModel, align, props)
{
    if (GetLayerID() == -1)
        throw new CBadScopeException;  // the document refused the layer: nothing to show
}

CPicture::CPicture(CImg img, boost::shared_ptr<CPixFrame> frame) : CStackScope(img, DataFrameOf(frame))
{
    if (GetLayerID() == -1)
        throw new CBadScopeException;
}

CPicture::CPicture(CImg img, int layerId, geo::CiVecN const& index, geo::CiVecN const& /*unused*/)
    : CStackScope(img, layerId), m_frameIndex(index)
{
    if (m_frameIndex.empty()) {
        const boost::shared_ptr<mem::CDataFrame> frame = CStackScope::GetDataFrame(0);
        if (!frame)
            throw new CBadScopeException;
        m_frameIndex = frame->GetPlaneAssortment().GetBoundary().Position();
    }
    if (!CStackScope::GetPixFrame(m_frameIndex))
        throw new CBadScopeException;
}

CPicture::CPicture(CImg img, void* /*data*/, geo::CiVec2 const& /*size*/, CPixelInfo const& /*pixelInfo*/,
                   unsigned int /*stride*/, bool /*copy*/, utl::CPropSet const& /*props*/)
    : CStackScope(img, 0)
{
}

CPicture::~CPicture() = default;

boost::shared_ptr<CPixFrame> CPicture::GetPixFrame() { return CStackScope::GetPixFrame(m_frameIndex); }
boost::shared_ptr<CPixFrame> CPicture::GetPixFrame() const { return CStackScope::GetPixFrame(m_frameIndex); }

bool CPicture::SwapPixFrame(boost::shared_ptr<CPixFrame> frame)
{
    if (!frame)
        return false;
    return SwapDataFrame(0, frame->GetDataFrame());
}

bool CPicture::SetFrameProperty(int id, mem::CBin const& value)
{
    return CBaseScope::SetProperty(GetLayerID(), m_frameIndex, id, value);
}

bool CPicture::FramePropertyExists(int id) const
{
    return CBaseScope::PropertyExists(GetLayerID(), m_frameIndex, id);
}

bool CPicture::SetFrameProperties(utl::CPropSet const& props)
{
    return CStackScope::SetFrameProperties(m_frameIndex, props);
}

bool CPicture::GetFrameProperties(utl::CPropSet& props) const
{
    return CStackScope::GetFrameProperties(m_frameIndex, props);
}

bool CPicture::SetDeviceProperties(utl::CPropSet const& props)
{
    return CStackScope::SetDeviceProperties(m_frameIndex, props);
}

bool CPicture::GetDeviceProperties(utl::CPropSet& props) const
{
    return CStackScope::GetDeviceProperties(m_frameIndex, props);
}

boost::shared_ptr<CMask> CPicture::CreateTranspMask(unsigned char value) { return CStackScope::CreateTranspMask(value); }
boost::shared_ptr<CMask> CPicture::GetTranspMask() { return CStackScope::GetTranspMask(); }
boost::shared_ptr<CMask> CPicture::GetTranspMask() const { return CStackScope::GetTranspMask(); }
bool CPicture::DelTranspMask() { return CStackScope::DelTranspMask(); }
bool CPicture::ResetRenderer2D() { return CStackScope::ResetRenderer2D(); }
bool CPicture::InvalidateRect(geo::CiRect const& rect) { return CStackScope::InvalidateRect(rect); }
void CPicture::CreateRenderer2D(bool) {}
void CPicture::CreateDisplay() {}

CPicture* CreatePicture(geo::CiRect const& rect, CPixelInfo const& pixelInfo, mem::EMemoryModel memoryModel,
                        mem::EAlign align, utl::CPropSet const& frameProps, utl::CPropSet const& documentProps,
                        utl::CPropSet const& pictureProps, CImg img)
{
    return tPictureFactory::Create(
        [&] { return tPictureFactory::New(img, rect, pixelInfo, memoryModel, align, frameProps); }, documentProps,
        pictureProps);
}

CPicture* InsertPicture(CImg& img, geo::CiRect const& rect, CPixelInfo const& pixelInfo,
                        mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& frameProps,
                        utl::CPropSet const& documentProps, utl::CPropSet const& pictureProps)
{
    return CreatePicture(rect, pixelInfo, memoryModel, align, frameProps, documentProps, pictureProps, CImg(img));
}

CPicture* CreatePicture(boost::shared_ptr<CPixFrame> frame, utl::CPropSet const& documentProps,
                        utl::CPropSet const& pictureProps, CImg img)
{
    return tPictureFactory::Create([&] { return tPictureFactory::New(img, frame); }, documentProps, pictureProps);
}

CPicture* InsertPicture(CImg& img, boost::shared_ptr<CPixFrame> frame, utl::CPropSet const& documentProps,
                        utl::CPropSet const& pictureProps)
{
    return CreatePicture(frame, documentProps, pictureProps, CImg(img));
}

CPicture* CreatePicture(CImg& img, int layerId, geo::CiVecN const& index)
{
    return tPictureFactory::Open(img, layerId, index);
}

CPicture const* CreatePicture(CImg const& img, int layerId, geo::CiVecN const& index)
{
    return tPictureFactory::Open(img, layerId, index);
}

bool TestPicture(CImg const& img, int layerId, geo::CiVecN const& index)
{
    std::unique_ptr<CPicture> picture(tPictureFactory::Open(img, layerId, index));
    return picture != nullptr;
}

}  // namespace img

// OpenDocument: our own files through their annotation, other OME-TIFF
// files as one layer per OME image, any other TIFF as one layer per page.
#include "imgscope/io/ome_tiff.h"

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/io/annotation_internal.h"
#include "imgscope/io/ome_xml_internal.h"
#include "imgscope/io/pixel_read_internal.h"
#include "imgscope/io/pixel_write_internal.h"

#include <new>

namespace img {

namespace {

// Pages of a plain TIFF that become layers at most.
constexpr int kMaxPlainPages = 65536;

bool EndsWithOme(std::string const& text)
{
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return end != std::string::npos && end >= 3 && text.compare(end - 3, 4, "OME>") == 0;
}

// Loads IFDs `first` on into the planes of `frame`, which must match them
// exactly: our own files describe every frame they hold.
EFileResult LoadOwnFrame(io::CTiffFile& file, io::tPendingPixels const& pending)
{
    const int first = pending.firstIfd;
    mem::CDataFrame& frame = *pending.frame;
    static const io::tTileSet kNone;
    const std::vector<geo::CiVecN> keys = io::PlaneKeys(frame);
    const io::tTiffFormat format = io::TiffFormatOf(frame.GetElementInfo());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (std::int64_t(first) + std::int64_t(i) > INT32_MAX || !io::GoToDirectory(file.Handle(), first + int(i)))
            return eFileCorrupt;
        io::tPageInfo page;
        if (!io::ReadPageInfo(file.Handle(), page) || page.samples != format.samples || page.bits != format.bits ||
            page.sampleFormat != format.sampleFormat || page.planar != PLANARCONFIG_CONTIG)
            return eFileCorrupt;
        io::tTileSet const* only = nullptr;
        if (pending.listed) {
            auto found = pending.tiles.find(keys[i]);
            only = found == pending.tiles.end() ? &kNone : &found->second;
        }
        const EFileResult r = io::LoadPage(file, page, frame, keys[i], true, only);
        if (r != eFileOk)
            return r;
    }
    return eFileOk;
}

EFileResult OpenOwn(io::CTiffFile& file, io::tXmlNode const& annotation, CImg& document)
{
    std::vector<io::tPendingPixels> pixels;
    CImg doc;
    EFileResult r = io::ReadAnnotation(annotation, doc, pixels);
    if (r != eFileOk)
        return r;
    for (auto const& p : pixels) {
        r = LoadOwnFrame(file, p);
        if (r != eFileOk)
            return r;
    }
    document = doc;
    return eFileOk;
}

// The pixel type a foreign page is read as, and whether natively.
bool PageType(io::tPageInfo const& page, CPixelInfo& info, bool& native)
{
    native = io::NativePixelInfo(page, info);
    if (!native)
        info = io::RgbaPixelInfo();
    return true;
}

// A new layer of `volume` in `document`, its entry at the end of the root.
EFileResult AddLayer(CImg& document, geo::CiVolumeN const& volume, CPixelInfo const& info, CString const& name,
                     boost::shared_ptr<mem::CDataFrame>& frame, CStack& stack)
{
    frame = mem::CDataFrame::Create(volume, info, utl::CPropSet());
    if (!frame)
        return eFileTooLarge;
    stack = CStack(frame);
    if (document.Add(stack) == -1)
        return eFileCorrupt;
    stack.SetName(name);
    CDisplProcessFlow(document, false).InsertLayer(-1, -3, stack.GetId(), utl::CIndexN(), -1);
    return eFileOk;
}

void Calibrate(CStack& stack, EPhysDim dim, double micrometres)
{
    if (micrometres > 0.0)
        stack.SetDimOriginScale(dim, 0.0, micrometres, utl::CUnit(utl::eQuantityLength, 1, -6));
}

EFileResult OpenOme(io::CTiffFile& file, std::vector<io::tOmeImage> const& images, CImg& document)
{
    CImg doc;
    TIFF* tif = file.Handle();
    for (io::tOmeImage const& image : images) {
        int firstIfd = -1;
        for (int ifd : image.ifdOfPlane)
            if (ifd >= 0 && (firstIfd == -1 || ifd < firstIfd))
                firstIfd = ifd;
        io::tPageInfo first;
        if (firstIfd == -1 || !io::GoToDirectory(tif, firstIfd) || !io::ReadPageInfo(tif, first))
            continue;
        CPixelInfo info;
        bool native = false;
        PageType(first, info, native);
        if (first.width != std::uint32_t(image.sizeX) || first.height != std::uint32_t(image.sizeY))
            return eFileCorrupt;
        // Plane dimensions: the OME axes of more than one position, the
        // slowest first, so that planes in lexicographic order follow the
        // DimensionOrder.
        std::string axes;
        for (auto it = image.order.rbegin(); it != image.order.rend() - 2; ++it) {
            const int n = *it == 'Z' ? image.sizeZ : *it == 'C' ? image.sizeC : image.sizeT;
            if (n > 1)
                axes += *it;
        }
        geo::CiVecN position{0, 0}, size{image.sizeX, image.sizeY};
        for (char a : axes) {
            position.Append(0);
            size.Append(a == 'Z' ? image.sizeZ : a == 'C' ? image.sizeC : image.sizeT);
        }
        boost::shared_ptr<mem::CDataFrame> frame;
        CStack stack;
        const EFileResult added = AddLayer(doc, geo::CiVolumeN::FromPositionSize(position, size), info,
                                           CString::FromUtf8(image.name), frame, stack);
        if (added != eFileOk)
            return added;
        for (std::size_t d = 0; d < axes.size(); ++d) {
            const int type = axes[d] == 'Z' ? eDimZ : axes[d] == 'C' ? eDimChannel : eDimTime;
            stack.SetDimProperty(int(d), io::kDimTypeProperty, mem::CBin(type));
            if (axes[d] == 'C')
                stack.SetChannelDim(int(d));
        }
        Calibrate(stack, eDimX, image.physicalX);
        Calibrate(stack, eDimY, image.physicalY);
        Calibrate(stack, eDimZ, image.physicalZ);
        if (axes.find('C') != std::string::npos || image.sizeC == 1)
            for (int c = 0; c < image.sizeC && std::size_t(c) < image.channelNames.size(); ++c)
                if (!image.channelNames[std::size_t(c)].empty())
                    stack.SetChannelName(CString::FromUtf8(image.channelNames[std::size_t(c)]), c);
        for (geo::CiVecN const& key : io::PlaneKeys(*frame)) {
            int z = 0, c = 0, t = 0;
            for (std::size_t d = 0; d < axes.size(); ++d)
                (axes[d] == 'Z' ? z : axes[d] == 'C' ? c : t) = key[d];
            std::int64_t index = 0, stride = 1;
            for (char a : image.order.substr(2)) {
                index += (a == 'Z' ? z : a == 'C' ? c : t) * stride;
                stride *= a == 'Z' ? image.sizeZ : a == 'C' ? image.sizeC : image.sizeT;
            }
            const int ifd = image.ifdOfPlane[std::size_t(index)];
            io::tPageInfo page;
            if (ifd < 0 || !io::GoToDirectory(tif, ifd) || !io::ReadPageInfo(tif, page))
                continue;  // a plane the file does not hold reads as the fill value
            CPixelInfo pageInfo;
            bool pageNative = false;
            PageType(page, pageInfo, pageNative);
            if (pageInfo != info || page.width != first.width || page.height != first.height)
                return eFileCorrupt;
            const EFileResult r = io::LoadPage(file, page, *frame, key, native);
            if (r != eFileOk)
                return r;
        }
    }
    document = doc;
    return eFileOk;
}

void CalibrateFromResolution(TIFF* tif, CStack& stack)
{
    std::uint16_t unit = RESUNIT_INCH;
    float xres = 0.0f, yres = 0.0f;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit == RESUNIT_NONE || !TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) ||
        !TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) || !(xres > 0.0f) || !(yres > 0.0f))
        return;
    const double perUnit = unit == RESUNIT_CENTIMETER ? 1e4 : 25400.0;  // µm in a centimetre or an inch
    Calibrate(stack, eDimX, perUnit / xres);
    Calibrate(stack, eDimY, perUnit / yres);
}

EFileResult OpenPlain(io::CTiffFile& file, CImg& document)
{
    CImg doc;
    TIFF* tif = file.Handle();
    for (int index = 0; index < kMaxPlainPages; ++index) {
        if (!io::GoToDirectory(tif, index)) {
            if (index == 0)
                return eFileCorrupt;
            break;
        }
        io::tPageInfo page;
        if (!io::ReadPageInfo(tif, page))
            return eFileCorrupt;
        if (page.subfileType & FILETYPE_REDUCEDIMAGE)
            continue;  // a reduced copy of another page
        CPixelInfo info;
        bool native = false;
        PageType(page, info, native);
        char* pageName = nullptr;
        const CString name = TIFFGetField(tif, TIFFTAG_PAGENAME, &pageName) && pageName
                                 ? CString::FromUtf8(pageName)
                                 : CString::FromUtf8("Page " + std::to_string(index + 1));
        boost::shared_ptr<mem::CDataFrame> frame;
        CStack stack;
        const EFileResult added =
            AddLayer(doc, geo::CiVolumeN(geo::CiRect(0, 0, int(page.width), int(page.height))), info, name, frame, stack);
        if (added != eFileOk)
            return added;
        CalibrateFromResolution(tif, stack);
        const EFileResult r = io::LoadPage(file, page, *frame, geo::CiVecN(), native);
        if (r != eFileOk)
            return r;
    }
    document = doc;
    return eFileOk;
}

EFileResult Open(std::string const& path, CImg& document)
{
    std::unique_ptr<io::CTiffFile> file;
    EFileResult r = io::CTiffFile::OpenRead(path, file);
    if (r != eFileOk)
        return r;
    // libtiff reports what it could not read (tag data past the end, a
    // directory chain cut short); a file it complained about is corrupt.
    if (file->Failed())
        return eFileCorrupt;
    CImg opened;
    char* description = nullptr;
    if (TIFFGetField(file->Handle(), TIFFTAG_IMAGEDESCRIPTION, &description) && description) {
        const std::string text(description);
        // Ours when it names our annotation: then it must read as ours.
        const bool own = text.find(io::kAnnotationNamespace) != std::string::npos;
        io::tXmlNode ome;
        const bool parsed = EndsWithOme(text) && io::ParseXml(text, ome);
        io::tXmlNode const* annotation = parsed ? io::FindAnnotation(ome) : nullptr;
        std::vector<io::tOmeImage> images;
        if (own && !annotation)
            return eFileCorrupt;
        if (annotation)
            r = OpenOwn(*file, *annotation, opened);
        else if (parsed && io::ReadOmeImages(ome, images) && !images.empty())
            r = OpenOme(*file, images, opened);
        else
            r = OpenPlain(*file, opened);
    } else {
        r = OpenPlain(*file, opened);
    }
    if (r == eFileOk && file->Failed())
        r = eFileCorrupt;
    if (r == eFileOk)
        document = opened;
    return r;
}

}  // namespace

EFileResult OpenDocument(std::string const& path, CImg& document)
{
    if (path.empty())
        return eFileBadArgument;
    try {
        return Open(path, document);
    } catch (std::bad_alloc const&) {
        return eFileNoMemory;
    } catch (std::exception const&) {
        return eFileCorrupt;
    }
}

}  // namespace img

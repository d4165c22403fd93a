// imgscope demo: the value types at work on a small acquisition record, then
// a small document made through the scope factories from synthetic data,
// calibrated, rendered into a PNG.
#include <imgscope/imgscope.h>

#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Print(CString const& text)
{
    std::printf("%s\n", text.ToUtf8().c_str());
}

// ---------------------------------------------------------------- the document

const utl::CUnit kMicrometre(utl::eQuantityLength, 1, -6);

// Bright round cells on a dim background, 0..1.
double Cells(double x, double y, double period)
{
    const double cx = std::fmod(x, period) - period / 2, cy = std::fmod(y, period) - period / 2;
    const double r = std::sqrt(cx * cx + cy * cy) / (period / 2);
    return r < 0.7 ? 1.0 - r : 0.15 * (1.0 + std::sin(x * 0.05) * std::cos(y * 0.07));
}

std::vector<utl::CBGR8> FireLut()
{
    std::vector<utl::CBGR8> lut;
    for (int i = 0; i < 256; ++i) {
        const int r = std::min(255, i * 3), g = std::max(0, std::min(255, i * 3 - 255)), b = std::max(0, i * 3 - 510);
        lut.push_back(utl::CBGR8(std::uint8_t(b), std::uint8_t(g), std::uint8_t(r)));
    }
    return lut;
}

std::vector<utl::CBGR8> GreenLut()
{
    std::vector<utl::CBGR8> lut;
    for (int i = 0; i < 256; ++i)
        lut.push_back(utl::CBGR8(std::uint8_t(i / 4), std::uint8_t(i), 0));
    return lut;
}

struct tDemoDocument {
    img::CImg doc;
    img::CDisplProcessFlow flow{doc, false};
    std::vector<int> renderOrder;  // bottom first
};

const utl::CPropSet kNoProps;

// Writes rows of T into a picture's or scope's pixel frame.
template <class T, class F>
void Paint(boost::shared_ptr<img::CPixFrame> const& frame, F const& value)
{
    if (!frame)
        return;
    const geo::CiRect b = frame->GetBoundary();
    const int comps = frame->GetPixelInfo().GetComponentCount();
    std::vector<T> row(std::size_t(b.Width()) * std::size_t(comps));
    for (int y = b.top; y < b.bottom; ++y) {
        for (int x = b.left; x < b.right; ++x)
            for (int e = 0; e < comps; ++e)
                row[std::size_t((x - b.left) * comps + e)] = T(value(x, y, e));
        frame->WriteRowSegment(geo::CiVec2(b.left, y), b.Width(), row.data(), 0);
    }
}

// Calibrates a layer in micrometres and places it on the canvas there.
void Calibrate(img::CStackScope& scope, geo::CdVec2 origin, double pixelSize)
{
    const utl::TUnitValue<geo::CdVec2> scale(kMicrometre, geo::CdVec2(pixelSize, pixelSize));
    scope.SetPixelCoords(scale, origin);
    scope.SetCanvasPlacement(origin, scale.value);
}

tDemoDocument MakeDocument()
{
    tDemoDocument d;
    const img::CPixelInfo gray8(utl::eUInt8, 1, img::eColorSpaceGray);
    const img::CPixelInfo gray16(utl::eUInt16, 1, img::eColorSpaceGray);
    const img::CPixelInfo rgb8(utl::eUInt8, 3, img::eColorSpaceRGB);

    // An overview picture at 2 µm per pixel: 16-bit, display limits and a LUT.
    std::unique_ptr<img::CPicture> overview(img::InsertPicture(d.doc, geo::CiRect(0, 0, 320, 240), gray16,
                                                               mem::eMemoryDefault, mem::eAlign32, kNoProps, kNoProps,
                                                               kNoProps));
    if (!overview)
        return d;
    Paint<std::uint16_t>(overview->GetPixFrame(), [](int x, int y, int) {
        return 2000.0 + 38000.0 * Cells(x, y, 40.0) * (0.6 + 0.4 * x / 320.0);
    });
    overview->SetLayerName(L"Overview");
    overview->SetPixelSize(kMicrometre, 2.0, 0.0);
    overview->ResetRenderer2D();  // the first layer calibrates the canvas
    overview->SetLimits(utl::TInterval<double>(2000, 36000));
    overview->SetDataLUT(FireLut(), 0);
    d.renderOrder.push_back(overview->GetLayerID());

    // A 40x group: an RGB picture made from a pixel frame, under a round
    // transparency mask, and a three-plane fluorescence z-stack on top.
    const int group = d.flow.InsertGroup(-1, -3);
    d.flow.SetGroupName(group, L"40x");
    auto tissuePixels = img::CPixFrame::Create(geo::CiRect(0, 0, 400, 300), rgb8, mem::eMemoryDefault,
                                               mem::eAlign32, kNoProps);
    Paint<std::uint8_t>(tissuePixels, [](int x, int y, int e) {
        const double c = Cells(x, y, 36.0);
        return e == 0 ? 230 - 90 * c : e == 1 ? 200 - 150 * c : 220 - 40 * c;
    });
    std::unique_ptr<img::CPicture> tissue(img::InsertPicture(d.doc, tissuePixels, kNoProps, kNoProps));
    if (!tissue)
        return d;
    tissue->SetLayerName(L"Tissue 40x");
    Calibrate(*tissue, geo::CdVec2(210, 140), 0.5);
    d.flow.MoveTo(d.flow.FindLayer(tissue->GetLayerID()), group, 0);
    d.flow.SetProperty(d.flow.FindLayer(tissue->GetLayerID()), 10009, mem::CBin(0.9));
    if (auto mask = tissue->CreateTranspMask(0)) {
        for (int y = 0; y < 300; ++y) {
            const double dy = (y - 150) / 150.0;
            const int half = int(200 * std::sqrt(std::max(0.0, 1.0 - dy * dy)));
            mask->Rectangle(geo::CiRect(200 - half, y, 200 + half, y + 1), 255, 0);
        }
    }
    d.renderOrder.push_back(tissue->GetLayerID());

    const geo::CiVolumeN zStack(geo::CiVecN{0, 0, 0}, geo::CiVecN{400, 300, 3});
    utl::CPropSet named;
    named.SetProperty(2030, mem::CBin(CString(L"GFP 40x")));
    std::unique_ptr<img::CStackScope> fluo(
        img::InsertScope(d.doc, zStack, gray8, mem::eMemoryDefault, mem::eAlign32, named));
    for (int z = 0; z < 3; ++z) {
        auto plane = img::CPixFrame::Create(fluo->GetCollection().FindStack(fluo->GetLayerID()).GetDataFrame(0),
                                            geo::CiVecN{z});
        Paint<std::uint8_t>(plane, [z](int x, int y, int) {
            return 255.0 * std::pow(Cells(x + 18 + 4 * z, y + 18, 36.0), 3.0);
        });
    }
    fluo->SetDimensionType(0, img::eDimZ);
    fluo->ActivateFrame(geo::CiVecN{1});  // the middle focal plane is shown
    Calibrate(*fluo, geo::CdVec2(210, 140), 0.5);
    fluo->SetDataLUT(GreenLut(), 0);
    const int fluoPlane = d.flow.FindLayer(fluo->GetLayerID());
    d.flow.MoveTo(fluoPlane, group, 1);
    d.flow.SetProperty(fluoPlane, 10009, mem::CBin(0.8));
    d.flow.SetFunction(fluoPlane, 0, img::eFunctionAdd);
    d.renderOrder.push_back(fluo->GetLayerID());

    // Annotations: a frame around the 40x field and a marked cell.
    boost::shared_ptr<img::CVecGraph> notes(new img::CVecGraph);
    img::CVecGraph::tShape shape;
    shape.kind = img::CVecGraph::eRectangle;
    shape.bounds = geo::CdRect(210, 140, 410, 290);
    shape.blue = 255;
    shape.green = 255;
    shape.red = 80;
    notes->Add(shape);
    shape.kind = img::CVecGraph::eEllipse;
    shape.bounds = geo::CdRect(300, 200, 330, 230);
    shape.blue = 60;
    shape.green = 220;
    shape.red = 255;
    notes->Add(shape);
    img::CStack annotations(notes);
    annotations.SetName(L"Annotations");
    annotations.SetOriginScale(geo::CdVec2(0, 0), geo::CdVec2(1.0, 1.0), kMicrometre);
    const int notesId = d.doc.Add(annotations);
    d.flow.InsertLayer(-1, -3, notesId, utl::CIndexN(), -1);
    d.renderOrder.push_back(notesId);

    img::CCanvasColor background, border;
    background[0] = background[1] = background[2] = 24;
    border[0] = 60;
    border[1] = border[2] = 30;
    overview->SetCanvasColors(background, border);
    // Canvas pixels as fine as the 40x layers', fitted around every layer.
    overview->SetCanvasCoords(utl::TUnitValue<geo::CdVec2>(kMicrometre, geo::CdVec2(0.5, 0.5)), geo::CdVec2(0, 0));
    overview->OptimizeCanvas(d.renderOrder);
    return d;
}

void PrintTree(tDemoDocument const& d)
{
    img::CDisplProcessFlow const& flow = d.flow;
    const auto describe = [&](int plane, char const* indent) {
        const img::CStack stack = flow.GetStack(plane);
        const img::CPixelInfo info = stack.GetPixelInfo(0);
        const geo::CiRect b = stack.GetBoundary();
        double opacity = 1.0;
        flow.GetGamma(plane, 0, opacity);
        std::printf("%splane %d: layer %d \"%s\" %s %dx%d, opacity %.1f%s\n", indent, plane, flow.GetStackId(plane),
                    stack.GetName().ToUtf8().c_str(),
                    stack.GetLayerType() == img::eLayerTypeVector ? "vector"
                    : info.GetComponentCount() == 3               ? "RGB8"
                    : info.GetElementType() == utl::eUInt16       ? "gray16"
                                                                  : "gray8",
                    b.Width(), b.Height(), opacity, flow.GetTransparencyMask(plane) ? ", masked" : "");
    };
    std::printf("layer tree (bottom first):\n");
    for (int i = 0; i < flow.GetOpUnitCount(flow.RootId()); ++i) {
        const int unit = flow.GetOpUnit(flow.RootId(), i);
        if (!flow.IsGroup(unit)) {
            describe(unit, "  ");
            continue;
        }
        CString name;
        flow.GetGroupName(unit, name);
        std::printf("  group %d \"%s\"\n", unit, name.ToUtf8().c_str());
        for (int k = 0; k < flow.GetOpUnitCount(unit); ++k)
            describe(flow.GetOpUnit(unit, k), "    ");
    }
}

// Writes an RGB8 pixel frame as a PNG; false on any failure.
bool WritePng(boost::shared_ptr<img::CPixFrame> const& frame, std::string const& path)
{
    const geo::CiRect b = frame->GetBoundary();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info;
    std::vector<std::uint8_t> row(std::size_t(b.Width()) * 3);
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(b.Width()), png_uint_32(b.Height()), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = b.top; y < b.bottom && ok; ++y) {
            ok = frame->ReadRowSegment(geo::CiVec2(b.left, y), b.Width(), row.data(), 0);
            if (ok)
                png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    } else {
        ok = false;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

int RenderDocument(std::string const& path)
{
    tDemoDocument d = MakeDocument();
    std::printf("\n");
    PrintTree(d);

    geo::CdVec2 origin, scale;
    utl::CUnit2 units;
    const geo::CiRect canvas = d.flow.GetImagePlaneRect();
    if (d.flow.GetImagePlaneCalibration(origin, scale, units))
        std::printf("canvas: %dx%d pixels of %.2f um from (%.0f, %.0f) um\n", canvas.Width(), canvas.Height(), scale.x,
                    origin.x, origin.y);

    // Half the canvas resolution, with a margin of border colour around it.
    const int margin = 16;
    const geo::CiRect pixels(0, 0, canvas.Width() / 2 + 2 * margin, canvas.Height() / 2 + 2 * margin);
    auto target = img::CPixFrame::Create(pixels, img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB),
                                         mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
    const geo::CdRect shown(-2.0 * margin, -2.0 * margin, canvas.Width() + 2.0 * margin,
                            canvas.Height() + 2.0 * margin);
    if (!target || !d.flow.PlayToPixFrame(target, pixels, shown, 0, d.renderOrder, img::tRenderHints())) {
        std::printf("rendering failed\n");
        return 1;
    }
    if (!WritePng(target, path)) {
        std::printf("could not write %s\n", path.c_str());
        return 1;
    }
    std::printf("rendered %dx%d: %s\n", pixels.Width(), pixels.Height(), path.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::printf("imgscope %s demo\n\n", img::GetLibraryVersion());

    // A 40x objective sees 0.1625 µm per pixel; the same pixel in nm.
    const utl::CUnit micrometre(utl::eQuantityLength, 1, -6);
    const utl::CUnit nanometre(utl::eQuantityLength, 1, -9);
    const utl::TUnitValue<double> pixel(micrometre, 0.1625);
    CString line;
    line.Format(L"pixel size: %.4lf %hs = %.1lf nm", pixel.value, "\xC2\xB5m",
                utl::Convert(pixel.value, micrometre, nanometre));
    Print(line);
    try {
        utl::Convert(pixel.value, micrometre, utl::c_pixel);
    } catch (std::invalid_argument const&) {
        line = L"micrometres do not convert to pixels: refused";
    }
    Print(line);

    for (double magnification : {40.0, 2.5, 1.25}) {
        const int r = matRoundD(magnification * 100.0);
        CString text;
        text.Format(r % 100 == 0 ? L"%.0lfx" : (r % 10 == 0 ? L"%.1lfx" : L"%.2lfx"), magnification);
        Print(L"magnification group: " + text);
    }

    // A mosaic layer of 100000 x 80000 pixels in 512 x 512 tiles.
    const geo::CiVolumeN layer(geo::CiRect(0, 0, 100000, 80000));
    const geo::CiRect tile(0, 0, 512, 512);
    line.Format(L"layer: %lld pixels, tile grid %d x %d", static_cast<long long>(layer.Volume()),
                (100000 + tile.Width() - 1) / tile.Width(), (80000 + tile.Height() - 1) / tile.Height());
    Print(line);

    // A frame range of a z-t stack, walked in index order.
    geo::CiVolumeN frames(geo::CiVecN{0, 0}, geo::CiVecN{2, 3});
    CString walk(L"frames:");
    for (auto it = frames.begin(0); it != frames.end(0); ++it)
        walk.AppendFormat(L" (%d,%d)", (*it)[0], (*it)[1]);
    Print(walk);

    // Device properties of an acquisition, nested in the layer's set.
    auto device = boost::shared_ptr<utl::CPropSet>(new utl::CPropSet);
    device->SetProperty(120060, mem::CBin(40.0));
    utl::CPropSet layerProps;
    layerProps.SetProperty(2030, mem::CBin(L"40x"));
    layerProps.SetProperty(10048, mem::CBin(device));
    mem::CBin found;
    double magnification = 0.0;
    if (layerProps.SearchProperty(120060, utl::eDouble, found) && found.GetPlainOrUnit(magnification)) {
        line.Format(L"device magnification: %.0lfx", magnification);
        Print(line);
    }

    const img::CPixelInfo rgb(utl::eUInt8, 3, img::eColorSpaceRGB);
    line.Format(L"RGB8 pixel: %d bytes, with alpha %d bytes", rgb.Size(), rgb.AddAlpha(1).Size());
    Print(line);
    Print(L"dimension 2 is called " + imgGetDimName(img::eDimTime, nullptr));

    // Mosaic settings come from the profile; without one the defaults hold.
    line.Format(L"profile: SyncMask=%d UseAlphaNoMask=%d", appGetProfileInt(L"Mosaik", L"SyncMask", 1, 3, 0),
                appGetProfileInt(L"Mosaik", L"UseAlphaNoMask", 0, 3, 0));
    Print(line);

    return RenderDocument(argc > 1 ? argv[1] : "imgscope_demo.png");
}

// imgscope demo: the value types at work on a small acquisition record.
#include <imgscope/imgscope.h>

#include <cstdio>
#include <stdexcept>

namespace {

void Print(CString const& text)
{
    std::printf("%s\n", text.ToUtf8().c_str());
}

}  // namespace

int main()
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
        Print(L"micrometres do not convert to pixels: refused");
    }

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
    return 0;
}

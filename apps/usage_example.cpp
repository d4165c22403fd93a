// The README's usage example: create a picture, set its pixel size, render
// the document into an RGB frame. Built with the project so it cannot rot.
#include <imgscope/imgscope.h>

#include "imgscope/contracts/document/pix_frame.h"

#include <cstdio>
#include <memory>
#include <vector>

int main()
{
    img::CImg document;
    const utl::CPropSet none;

    // A 512 x 384 16-bit picture as a new layer of the document.
    std::unique_ptr<img::CPicture> picture(img::CreatePicture(
        geo::CiRect(0, 0, 512, 384), img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray), mem::eMemoryDefault,
        mem::eAlign32, none, none, none, document));
    if (!picture)
        return 1;

    // 0.65 µm square pixels; a ramp of intensities shown through 0..4095.
    picture->SetPixelSize(utl::CUnit(utl::eQuantityLength, 1, -6), 0.65, 0.0);
    picture->ResetRenderer2D();  // the canvas takes the picture's calibration
    picture->SetLimits(utl::TInterval<double>(0.0, 4095.0));
    std::vector<std::uint16_t> row(512);
    for (int y = 0; y < 384; ++y) {
        for (int x = 0; x < 512; ++x)
            row[x] = static_cast<std::uint16_t>((x * 8 + y) % 4096);
        picture->GetPixFrame()->WriteRowSegment(geo::CiVec2(0, y), 512, row.data(), 0);
    }

    // Render the whole canvas into an RGB frame of the same size.
    auto target = img::CPixFrame::Create(geo::CiRect(0, 0, 512, 384),
                                         img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR), mem::eMemoryDefault,
                                         mem::eAlign32, none);
    const img::CDisplProcessFlow tree(document, false);
    std::vector<int> layers{picture->GetLayerID()};
    const bool rendered = tree.PlayToPixFrame(target, geo::CiRect(0, 0, 512, 384),
                                              geo::CdRect(0.0, 0.0, 512 * 0.65, 384 * 0.65), 0, layers,
                                              img::tRenderHints());
    std::uint8_t pixel[3] = {};
    target->ReadRowSegment(geo::CiVec2(256, 0), 1, pixel, 0);
    std::printf("rendered: %s, pixel (256, 0) = %u %u %u\n", rendered ? "yes" : "no", pixel[0], pixel[1], pixel[2]);
    return rendered ? 0 : 1;
}

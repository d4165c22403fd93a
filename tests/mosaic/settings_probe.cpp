// Prints what the two profile settings of this process did to a mosaic:
// whether a transparent layer got an alpha channel or a mask, and how many
// modifications one paste counted on the layer's data frame. The settings
// are read once, when the library is loaded, so the tests start this
// program with IMGSCOPE_PROFILE pointing at the profile to try.
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/mosaic/mosaic_scope.h"
#include "tests/scope/test_scope.h"

#include <boost/make_shared.hpp>

#include <cstdio>
#include <memory>

int main()
{
    img::CImg doc;
    std::unique_ptr<img::CMosaikScope> mosaic(img::CreateMosaikImage(&doc));
    const img::CPixelInfo rgb(utl::eUInt8, 3, img::eColorSpaceRGB);
    const auto volume = geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0, 0}, geo::CiVecN{600, 600, 1});
    const utl::TUnitValue<geo::CdRect> phys(utl::CUnit(utl::eQuantityLength, 1, -6), geo::CdRect(0, 0, 600, 600));
    const utl::CPropSet none;
    // The first layer is opaque; the second shows the transparency setting.
    // Its fill value is given explicitly, so that an alpha channel added to
    // the pixel type must be covered by the fill buffer.
    if (!mosaic || !mosaic->CreateLayer(10.0, rgb, mem::eMemoryDefault, 2, 95, volume, phys, none, img::eStackPicture,
                                        true, false) ||
        !mosaic->CreateLayer(20.0, rgb, mem::eMemoryDefault, 2, 95, volume, phys, none, img::eStackPicture, false,
                             true))
        return 2;
    const boost::shared_ptr<mem::CDataFrame> frame = mosaic->GetActiveDataFrame();
    imgscope_test::TestScope core(doc);
    const bool alpha = frame->GetElementInfo().HasAlpha();
    const bool mask = core.GetTranspMask(mosaic->GetActiveLayerID()) != nullptr;

    auto tile = boost::make_shared<mem::CDataFrame>(
        geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0}, geo::CiVecN{64, 64}), rgb);
    const std::uint64_t before = frame->GetModificationCount();
    if (!mosaic->Paste(tile, geo::CiVecN{500, 500, 0}))
        return 3;
    const std::uint64_t modifications = frame->GetModificationCount() - before;

    // Opacity of a pasted and of an untouched pixel, from the alpha channel
    // or the mask, whichever the layer has.
    const auto opacity = [&](int x, int y) {
        if (mask)
            return core.GetTranspMask(mosaic->GetActiveLayerID())->GetValue(geo::CiVec2(x, y));
        unsigned char pixel[4] = {};
        frame->ReadRect(geo::CiRect(x, y, x + 1, y + 1), geo::CiVecN{0}, pixel, 0);
        return alpha ? int(pixel[3]) : -1;
    };
    std::printf("alpha=%d mask=%d modifications=%llu pasted=%d untouched=%d\n", alpha ? 1 : 0, mask ? 1 : 0,
                static_cast<unsigned long long>(modifications), opacity(530, 530), opacity(10, 10));
    return 0;
}

// The compositor benchmarks' scene: three 4096 × 4096 layers (16-bit gray
// with limits and a LUT, RGB8 at opacity 0.6 with a mask, 8-bit gray at
// opacity 0.8 with a mask) composed into an RGB8 frame.
#pragma once

#include <imgscope/imgscope.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace composebench {

constexpr int kSide = 4096;
const geo::CiRect kRect(0, 0, kSide, kSide);
constexpr std::int64_t kOutputBytes = std::int64_t(kSide) * kSide * 3;

inline boost::shared_ptr<mem::CDataFrame> Layer(img::CPixelInfo const& info, int seed)
{
    auto frame = mem::CDataFrame::Create(geo::CiVolumeN(kRect), info, utl::CPropSet());
    if (!frame)
        return frame;
    const int comps = info.GetComponentCount();
    const int bytes = info.GetComponentSize();
    std::vector<std::uint8_t> row(std::size_t(kSide) * std::size_t(info.Size()));
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x)
            for (int e = 0; e < comps; ++e) {
                const unsigned v = unsigned(x * (3 + e) + y * (5 + seed) + e * 977) * (bytes == 2 ? 13u : 1u);
                std::memcpy(&row[std::size_t((x * comps + e) * bytes)], &v, std::size_t(bytes));
            }
        frame->WriteRect(geo::CiRect(0, y, kSide, y + 1), geo::CiVecN(), row.data(), 0);
    }
    return frame;
}

inline std::vector<utl::CBGR8> Ramp(int entries)
{
    std::vector<utl::CBGR8> lut;
    for (int i = 0; i < entries; ++i) {
        const int v = i * 255 / (entries - 1);
        lut.push_back(utl::CBGR8(std::uint8_t(v), std::uint8_t(255 - v), std::uint8_t(v / 2)));
    }
    return lut;
}

// The document of the measurement, made once.
struct tScene {
    img::CImg doc;
    img::CDisplProcessFlow flow{doc, false};
    std::vector<int> layers;
    boost::shared_ptr<img::CPixFrame> target;

    tScene()
    {
        const int gray16 = doc.Add(img::CStack(Layer(img::CPixelInfo(utl::eUInt16, 1, img::eColorSpaceGray), 1)));
        const int rgb8 = doc.Add(img::CStack(Layer(img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceRGB), 2)));
        const int gray8 = doc.Add(img::CStack(Layer(img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray), 3)));
        layers = {gray16, rgb8, gray8};
        for (int id : layers)
            flow.InsertLayer(-1, -3, id, utl::CIndexN(), -1);

        img::CStack g16 = doc.FindStack(gray16);
        g16.SetDispLimits(utl::TInterval<double>(1000, 50000), -1);
        g16.SetLUT(Ramp(1024), 0);

        const int rgbPlane = flow.FindLayer(rgb8);
        flow.SetProperty(rgbPlane, 10009, mem::CBin(0.6));
        auto rgbMask = flow.CreateTransparencyMask(rgbPlane, 0);
        // Round masks cut tiles, so the mask has real per-pixel content.
        for (int y = 0; y < kSide; y += 64)
            rgbMask->Rectangle(geo::CiRect(0, y, kSide - y / 2, y + 40), 200, 0);

        const int g8Plane = flow.FindLayer(gray8);
        flow.SetProperty(g8Plane, 10009, mem::CBin(0.8));
        doc.FindStack(gray8).SetLUT(Ramp(256), 0);
        auto g8Mask = flow.CreateTransparencyMask(g8Plane, 255);
        for (int x = 0; x < kSide; x += 96)
            g8Mask->Rectangle(geo::CiRect(x, x / 3, x + 48, kSide), 60, 0);

        target = img::CPixFrame::Create(kRect, img::CPixelInfo(utl::eUInt8, 3, img::eColorSpaceBGR),
                                        mem::eMemoryDefault, mem::eAlignNone, utl::CPropSet());
    }
};

}  // namespace composebench

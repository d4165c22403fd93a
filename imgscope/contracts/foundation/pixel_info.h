// Description of a pixel: element type, components and colour space.
#pragma once

#include "imgscope/contracts/foundation/units.h"
#include "imgscope/library/export.h"

namespace img {

// How the components of a pixel are to be read.
enum EColorSpace : int {
    eColorSpaceNone = 0,
    eColorSpaceGray = 1,
    eColorSpaceRGB = 2,
    eColorSpaceBGR = 3,
    eColorSpaceMulti = 4,
};

// Element type (utl::EType 1 to 10), number of components (of which the
// last `alpha` are alpha) and colour space. The default value describes no
// pixel: IsValid() is false and Size() is 0.
class IMGSCOPE_API CPixelInfo {
public:
    // Most components a pixel may have.
    static constexpr int kMaxComponents = 64;

    CPixelInfo() = default;
    // An element type code outside 1..10 or a component count outside
    // 1..kMaxComponents gives the invalid description. Codes are taken as
    // plain ints too, as in CPixelInfo(2, 1, 1) for one 8-bit grey channel.
    CPixelInfo(int type, int components, int colorSpace);

    bool IsValid() const { return m_type != utl::eTypeNone; }
    utl::EType GetElementType() const { return m_type; }
    int GetComponentCount() const { return m_components; }
    // Bytes of one component; 0 for the invalid description.
    int GetComponentSize() const;
    int GetAlphaCount() const { return m_alpha; }
    bool HasAlpha() const { return m_alpha > 0; }
    EColorSpace GetColorSpace() const { return m_colorSpace; }
    // Bytes of one pixel.
    int Size() const { return GetComponentSize() * m_components; }
    int GetBitsPerPixel() const { return Size() * 8; }
    // This description with `count` more alpha components; unchanged when
    // the result would pass kMaxComponents or the description is invalid.
    CPixelInfo AddAlpha(int count) const;

    bool operator==(CPixelInfo const& o) const
    {
        return m_type == o.m_type && m_components == o.m_components && m_alpha == o.m_alpha &&
               m_colorSpace == o.m_colorSpace;
    }
    bool operator!=(CPixelInfo const& o) const { return !(*this == o); }

private:
    utl::EType m_type = utl::eTypeNone;
    int m_components = 0;
    int m_alpha = 0;
    EColorSpace m_colorSpace = eColorSpaceNone;
};

}  // namespace img

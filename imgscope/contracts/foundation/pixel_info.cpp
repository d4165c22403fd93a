#include "imgscope/contracts/foundation/pixel_info.h"

namespace img {

CPixelInfo::CPixelInfo(int type, int components, int colorSpace)
{
    if (utl::ElementSize(type) == 0 || components < 1 || components > kMaxComponents)
        return;
    m_type = static_cast<utl::EType>(type);
    m_components = components;
    m_colorSpace = static_cast<EColorSpace>(colorSpace);
}

int CPixelInfo::GetComponentSize() const
{
    return utl::ElementSize(m_type);
}

CPixelInfo CPixelInfo::AddAlpha(int count) const
{
    if (!IsValid() || count < 0 || count > kMaxComponents - m_components)
        return *this;
    CPixelInfo r = *this;
    r.m_components += count;
    r.m_alpha += count;
    return r;
}

}  // namespace img

#include "imgscope/typed/simple_ram_stack.h"

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"
#include "imgscope/typed/stack_family_internal.h"

namespace img {

CSimpleRAMStack::CSimpleRAMStack(CImg img, boost::shared_ptr<mem::CDataFrame> const& frame,
                                 utl::CPropSet const& documentProps, utl::CPropSet const& stackProps)
    : CSimpleStack(img, frame, -1, documentProps, stackProps)
{
}

CSimpleRAMStack::~CSimpleRAMStack() = default;

bool CSimpleRAMStack::SetPhysicalLock(bool lock)
{
    if (!lock) {
        m_pPhysicalLock.reset();
        return true;
    }
    // A second lock would pin the same tiles again and gain nothing.
    if (m_pPhysicalLock)
        return true;
    return Guarded(false, [&] {
        const boost::shared_ptr<mem::CDataFrame> frame = GetDataFrame();
        if (!frame)
            return false;
        m_pPhysicalLock = frame->CreateReadCache(m_cacheVolume, 0);
        return m_pPhysicalLock != nullptr;
    });
}

bool CSimpleRAMStack::GetPhysicalLock() const
{
    return m_pPhysicalLock != nullptr;
}

CSimpleRAMStack* CreateSimpleRAMStack(geo::CiRect const& rect, int frameCount, CPixelInfo const& pixelInfo,
                                      mem::EAlign align, utl::CPropSet const& frameProps,
                                      utl::CPropSet const& documentProps, utl::CPropSet const& stackProps, CImg img)
{
    utl::CPropSet props(frameProps);
    props.SetProperty(kPropMemoryModel, mem::CBin(static_cast<int>(mem::eMemoryResident)));
    // Stored as the stack scope stores it, so the argument is not lost.
    if (!props.PropertyExists(kPropAlign))
        props.SetProperty(kPropAlign, mem::CBin(static_cast<int>(align)));
    const boost::shared_ptr<mem::CDataFrame> frame(
        new mem::CDataFrame(SimpleStackVolume(rect, frameCount), pixelInfo, props));
    return new CSimpleRAMStack(img, frame, documentProps, stackProps);
}

}  // namespace img

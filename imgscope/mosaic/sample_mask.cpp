// CMosaikScope: the sample-mask layer, which marks where the specimen lies.
#include "imgscope/mosaic/mosaic_scope.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/mosaic/mosaic_ids_internal.h"
#include "imgscope/scope/layer_flags_internal.h"
#include "imgscope/scope/scope_guard_internal.h"
#include "imgscope/typed/picture.h"

namespace img {

namespace {

constexpr wchar_t kSampleMaskName[] = L"Sample Mask";

}  // namespace

bool CMosaikScope::AddSampleMask(boost::shared_ptr<CPicture> const& mask)
{
    if (!mask)
        return false;
    return Guarded(false, [&] {
        const boost::shared_ptr<CPixFrame> pixels = mask->GetPixFrame();
        const boost::shared_ptr<mem::CDataFrame> frame = pixels ? pixels->GetDataFrame() : nullptr;
        if (!frame)
            return false;
        const CPixelInfo& info = frame->GetElementInfo();
        if (info.GetComponentCount() != 1 || info.GetComponentSize() != 1)
            return false;
        // Read from the mask's own document before this one is held: two
        // documents have no lock order between them.
        utl::TUnitValue<geo::CdRect> ownRect;
        const bool hasOwnRect = mask->GetCollection().FirstStack().GetBoundaryRWC(ownRect);
        // Other threads see the mask layer only once it is calibrated,
        // grouped and given its role.
        const CDocumentLock whole(GetCollection(), CDocumentLock::eChange);
        int layer = -1;
        if (!InsertLayer(layer, frame, CString(kSampleMaskName), kPositionEnd, kFlagHidden | kFlagXYFixed, 0))
            return false;

        // The new layer has no role yet, so a mask found now is an older one.
        const boost::shared_ptr<CPicture> overview = GetOverview();
        const boost::shared_ptr<CPicture> older = GetSampleMask();
        utl::TUnitValue<geo::CdRect> rect;
        if (older && overview && overview->GetLayerID() == m_nActiveLayerId) {
            // Masks are drawn on the overview: while it is being worked on,
            // every mask follows its calibration, the new one included.
            GetPixelCoordsRect(overview->GetLayerID(), rect);
            SetPixelCoordsRect(older->GetLayerID(), rect);
            SetPixelCoordsRect(layer, rect);
        } else if (hasOwnRect) {
            SetPixelCoordsRect(layer, ownRect);
        }
        SetLayerVisible(layer, true);
        int group = -1;
        if (overview && GetGroupOf(overview->GetLayerID(), group))
            AppendToGroup(layer, group);
        SetLayerProperty(layer, kPropStackType, mem::CBin(static_cast<int>(eStackSampleMask)));
        return true;
    });
}

bool CMosaikScope::RemoveSampleMask()
{
    return RemoveLayerByType(eStackSampleMask);
}

}  // namespace img

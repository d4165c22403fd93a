// Which data frames of a document go into the file, in which order.
#include "imgscope/io/annotation_internal.h"

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"

namespace img {
namespace io {

bool IsOmePixelType(CPixelInfo const& info)
{
    const int t = info.GetElementType();
    return info.IsValid() && t != utl::eInt64 && t != utl::eUInt64;
}

std::int64_t IfdCount(mem::CDataFrame const& frame)
{
    if (frame.GetBoundary().Reduce().IsEmpty())
        return 0;
    return frame.GetPlaneAssortment().GetPlaneCount();
}

namespace {

void CollectMasks(CDisplProcessFlow const& flow, int parent, std::vector<boost::shared_ptr<mem::CDataFrame>>& out)
{
    for (int i = 0, n = flow.GetOpUnitCount(parent); i < n; ++i) {
        const int plane = flow.GetOpUnit(parent, i);
        if (flow.IsGroup(plane))
            CollectMasks(flow, plane, out);
        else if (auto mask = flow.GetTransparencyMask(plane))
            out.push_back(mask->GetPixFrame()->GetDataFrame());
    }
}

}  // namespace

tFramePlan PlanFrames(CImg const& document)
{
    tFramePlan plan;
    std::vector<std::pair<boost::shared_ptr<mem::CDataFrame>, int>> omeFrames, extras;
    for (int id = document.FirstStackId(); id != -1; id = document.NextStackId(id)) {
        const CStack stack = document.FindStack(id);
        if (stack.GetLayerType() != eLayerTypeImage)
            continue;
        const auto main = stack.GetDataFrame(0);
        (IsOmePixelType(main->GetElementInfo()) ? omeFrames : extras).emplace_back(main, id);
        for (int s : stack.GetSampleIDs())
            extras.emplace_back(stack.GetDataFrame(s), id);
        for (utl::CIndexN const& index : stack.GetLooseFrameIndices())
            extras.emplace_back(stack.GetPixFrame(index)->GetDataFrame(), id);
    }
    std::vector<boost::shared_ptr<mem::CDataFrame>> masks;
    const CDisplProcessFlow flow(document, false);
    CollectMasks(flow, flow.RootId(), masks);
    for (auto const& m : masks)
        extras.emplace_back(m, -1);

    std::int64_t next = 0;
    auto add = [&](boost::shared_ptr<mem::CDataFrame> const& frame, int layer, bool ome) {
        // A frame shared by two stacks is saved once.
        if (plan.ifdOf.count(frame.get()))
            return;
        const std::int64_t count = IfdCount(*frame);
        if (count == 0 || next + count > std::int64_t(INT32_MAX))
            return;
        plan.ifdOf[frame.get()] = int(next);
        plan.frames.push_back({frame, int(next)});
        plan.ome.push_back(ome);
        plan.layerIds.push_back(layer);
        next += count;
    };
    for (auto const& f : omeFrames)
        add(f.first, f.second, true);
    for (auto const& f : extras)
        add(f.first, f.second, false);
    return plan;
}

}  // namespace io
}  // namespace img

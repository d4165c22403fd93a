// Frames, data frames and samples of a layer; the active frame and the
// active dimension of its entry in the layer tree.
#include "imgscope/scope/base_scope.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_data_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

#include <algorithm>
#include <new>

namespace img {

// ---------------------------------------------------------------------------
// Pixel frames and vector frames

bool CBaseScope::AddPixFrame(int layer, boost::shared_ptr<CPixFrame> frame, geo::CiVecN const& index)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() && stack.SetFrame(utl::CIndexN(index), frame);
    });
}

bool CBaseScope::AddPixFrame(int layer, boost::shared_ptr<CPixFrame> frame, geo::CiVecN const& index,
                             utl::CPropSet const& props)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() && stack.SetFrame(utl::CIndexN(index), frame, props);
    });
}

boost::shared_ptr<CPixFrame> CBaseScope::GetPixFrame(int layer, geo::CiVecN const& index)
{
    return static_cast<CBaseScope const*>(this)->GetPixFrame(layer, index);
}

boost::shared_ptr<CPixFrame> CBaseScope::GetPixFrame(int layer, geo::CiVecN const& index) const
{
    return Guarded(boost::shared_ptr<CPixFrame>(), [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return boost::shared_ptr<CPixFrame>();
        return stack.GetPixFrame(utl::CIndexN(index));
    });
}

bool CBaseScope::SetVecFrame(int layer, boost::shared_ptr<CVecGraph> graphic)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() && graphic && stack.SetFrame(utl::CIndexN(), graphic);
    });
}

boost::shared_ptr<CVecGraph> CBaseScope::GetVecFrame(int layer)
{
    return static_cast<CBaseScope const*>(this)->GetVecFrame(layer);
}

boost::shared_ptr<CVecGraph> CBaseScope::GetVecFrame(int layer) const
{
    return Guarded(boost::shared_ptr<CVecGraph>(), [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return boost::shared_ptr<CVecGraph>();
        return stack.GetVecGraph(utl::CIndexN());
    });
}

// ---------------------------------------------------------------------------
// Data frames

boost::shared_ptr<mem::CDataFrame> CBaseScope::GetDataFrame(int layer, int n)
{
    return static_cast<CBaseScope const*>(this)->GetDataFrame(layer, n);
}

boost::shared_ptr<mem::CDataFrame> CBaseScope::GetDataFrame(int layer, int n) const
{
    return Guarded(boost::shared_ptr<mem::CDataFrame>(), [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return boost::shared_ptr<mem::CDataFrame>();
        return stack.GetDataFrame(n);
    });
}

boost::shared_ptr<mem::CDataFrame> CBaseScope::GetDataFrame(int layer)
{
    return GetDataFrame(layer, 0);
}

boost::shared_ptr<mem::CDataFrame> CBaseScope::GetDataFrame(int layer) const
{
    return GetDataFrame(layer, 0);
}

bool CBaseScope::SwapDataFrame(int layer, int n, boost::shared_ptr<mem::CDataFrame> frame)
{
    if (!frame)
        return false;
    CStack stack = ResolveStack(layer);
    if (!stack.IsValid())
        return false;
    boost::shared_ptr<mem::CDataFrame> const target =
        Guarded(boost::shared_ptr<mem::CDataFrame>(), [&] { return stack.GetDataFrame(n); });
    if (!target)
        return false;
    if (target.get() == frame.get())
        return true;  // already the stack's own data

    // The stack keeps its data-frame object either way, so that pixel frames
    // and caches made on it see the new content. A frame of the same shape
    // is exchanged in constant time and the caller gets the old pixels back;
    // any other frame is copied and the caller's stays as it was.
    bool const sameShape = target->GetDimension() == frame->GetDimension() &&
                           target->GetBoundary(0) == frame->GetBoundary(0) &&
                           target->GetElementInfo() == frame->GetElementInfo();
    if (sameShape) {
        target->Swap(*frame);
        return true;
    }
    // Out of memory, the assignment leaves the target as it was.
    return Guarded(false, [&] {
        *target = *frame;
        return true;
    });
}

bool CBaseScope::SwapDataFrame(int layer, boost::shared_ptr<mem::CDataFrame> frame)
{
    return SwapDataFrame(layer, 0, frame);
}

// ---------------------------------------------------------------------------
// Samples

int CBaseScope::AddSample(int layer, boost::shared_ptr<mem::CDataFrame> frame, ESampleFlag flag)
{
    return Guarded(-1, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() ? stack.AddSample(frame, flag) : -1;
    });
}

bool CBaseScope::RemoveSample(int layer, int sample)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        return stack.IsValid() && stack.RemoveSample(sample);
    });
}

int CBaseScope::GetFirstSample(int layer) const
{
    return Guarded(-1, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return -1;
        std::vector<int> const ids = stack.GetSampleIDs();
        return ids.empty() ? -1 : ids.front();
    });
}

int CBaseScope::GetNextSample(int layer, int sample) const
{
    return Guarded(-1, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return -1;
        // The list is fetched anew each time: samples may come and go
        // between the calls of a walk.
        std::vector<int> const ids = stack.GetSampleIDs();
        auto const it = std::find(ids.begin(), ids.end(), sample);
        if (it == ids.end() || it + 1 == ids.end())
            return -1;
        return *(it + 1);
    });
}

// ---------------------------------------------------------------------------
// Active frame and dimension of the layer's entry

bool CBaseScope::ActivateFrame(int layer, geo::CiVecN const& index)
{
    return Guarded(false, [&] {
        int const plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        // An index of the layer's order that names no frame would be shown
        // instead of a frame; it is refused before the tree changes. Indices
        // of another length are kept as given (views keep such indices; the
        // compositor does not show them).
        CStack const stack = ResolveStack(layer);
        const utl::CIndexN frame(index);
        if (static_cast<int>(index.size()) == stack.DimCount(0)) {
            const bool exists = stack.GetLayerType() == eLayerTypeVector ? bool(stack.GetVecGraph(frame))
                                                                         : bool(stack.GetPixFrame(frame));
            if (!exists)
                return false;
        }
        return renderer2D().SetProperty(plane, kPropActiveFrame, mem::CBin(frame));
    });
}

bool CBaseScope::GetActiveFrame(int layer, geo::CiVecN& index) const
{
    return Guarded(false, [&] {
        int const plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        CDisplProcessFlow const& flow = renderer2D();
        if (!flow.PropertyExists(plane, kPropActiveFrame))
            return false;
        mem::CBin value;
        flow.GetProperty(plane, kPropActiveFrame, value);
        utl::CIndexN const active = value.GetOr(utl::CIndexN(index));
        index = active.AsVecN();
        return true;
    });
}

bool CBaseScope::ActivateDimension(int layer, int dim)
{
    return Guarded(false, [&] {
        int const plane = FindPlaneID(layer);
        return plane != -1 && renderer2D().SetActiveStackDim(plane, dim);
    });
}

bool CBaseScope::GetActiveDimension(int layer, int& dim) const
{
    return Guarded(false, [&] {
        int const plane = FindPlaneID(layer);
        if (plane == -1)
            return false;
        CDisplProcessFlow const& flow = renderer2D();
        // Without an active frame the entry has never been shown at a
        // particular position, so its active dimension means nothing yet.
        if (!flow.PropertyExists(plane, kPropActiveFrame))
            return false;
        dim = flow.GetActiveStackDim(plane);
        return true;
    });
}

// ---------------------------------------------------------------------------
// Layer facts

bool CBaseScope::GetLayerOrder(int layer, int& order) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        order = stack.DimCount(0);
        return true;
    });
}

bool CBaseScope::GetModificationCount(int layer, unsigned int& count) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        count = stack.GetPixelModificationCount(-1);
        return true;
    });
}

bool CBaseScope::InvalidateRect(int layer, geo::CiRect const&)
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        // The stack invalidates as a whole; a finer region would buy nothing.
        stack.Invalidate();
        return true;
    });
}

bool CBaseScope::GetBoundary(int layer, geo::CiRect& rect) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        rect = stack.GetBoundary();
        return true;
    });
}

bool CBaseScope::GetPixelInfo(int layer, CPixelInfo& info) const
{
    return Guarded(false, [&] {
        CStack stack = ResolveStack(layer);
        if (!stack.IsValid())
            return false;
        info = stack.GetPixelInfo(0);
        return true;
    });
}

}  // namespace img

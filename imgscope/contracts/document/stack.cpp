// CStack: construction, identity, frames, data frames, samples and the
// pixel modification count. Properties, calibration and display settings
// are in stack_settings.cpp.
#include "imgscope/contracts/document/stack.h"

#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/contracts/document/stack_internal.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <vector>

namespace img {

namespace detail {

boost::shared_ptr<tDocument> tStack::Document() const
{
    return document.lock();
}

void tStack::Notify(EChange change) const
{
    if (boost::shared_ptr<tDocument> doc = Document()) {
        // A subscriber may drop the last handle of the document; the
        // notifier stays alive for the call.
        const boost::shared_ptr<CNotifier> messages = doc->messages;
        doc.reset();
        messages->Notify(change);
    }
}

geo::CiVolumeN PlanesOf(mem::CDataFrame const& frame)
{
    return frame.GetPlaneAssortment().GetBoundary();
}

std::vector<int> StackDimsOf(geo::CiVolumeN const& planes, bool keepUnitDims)
{
    std::vector<int> dims;
    for (int d = 0; d < planes.GetDimension(); ++d)
        if (keepUnitDims || planes.Size()[static_cast<std::size_t>(d)] != 1)
            dims.push_back(d);
    return dims;
}

bool PlaneInRange(geo::CiVolumeN const& planes, tFrameKey const& key)
{
    if (planes.GetDimension() == 0)
        return key.empty();
    return planes.Contains(key);
}

bool FrameKeyOf(tStack const& stack, utl::CIndexN const& index, tFrameKey& key)
{
    if (stack.type != eLayerTypeImage) {
        if (!index.empty())
            return false;
        key = tFrameKey();
        return true;
    }
    const geo::CiVolumeN planes = PlanesOf(*stack.dataFrames.at(0).frame);
    const std::size_t planeDims = static_cast<std::size_t>(planes.GetDimension());
    if (index.empty()) {
        key = planes.Position();
        return true;
    }
    if (index.size() == planeDims) {
        key = index.AsVecN();
        return true;
    }
    const std::vector<int> dims = StackDimsOf(planes, stack.keepUnitDims);
    if (index.size() != dims.size())
        return false;
    tFrameKey full = planes.Position();
    for (std::size_t i = 0; i < dims.size(); ++i)
        full[static_cast<std::size_t>(dims[i])] = index[i];
    key = full;
    return true;
}

unsigned int ObserveDataFrame(tStack& stack, tDataFrameEntry& entry)
{
    if (!entry.frame)
        return entry.modifications;
    void const* store = &entry.frame->Store();
    const std::uint64_t count = entry.frame->GetModificationCount();
    if (store != entry.seenStore || count != entry.seenCount) {
        entry.seenStore = store;
        entry.seenCount = count;
        ++entry.modifications;
        ++stack.modifications;
    }
    return entry.modifications;
}

}  // namespace detail

namespace {

using detail::tFrameKey;
using detail::tStack;

std::uint64_t NextStackInstance()
{
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

// Writes the pixels of `source` into plane `plane` of `target`. The sizes
// must agree; positions may differ.
bool CopyIntoPlane(CPixFrame const& source, mem::CDataFrame& target, geo::CiVecN const& plane)
{
    const boost::shared_ptr<mem::CDataFrame> sourceFrame = source.GetDataFrame();
    if (!sourceFrame)
        return false;
    const geo::CiRect from = source.GetBoundary();
    const geo::CiRect to = target.GetBoundary(0).Reduce();
    if (from.Size() != to.Size() || from.IsEmpty())
        return false;

    if (sourceFrame.get() == &target) {
        if (source.GetPlane() == plane)
            return true;
        // Copy hands out row pointers of both sides; on one data frame a write
        // may move the tile being read, so go through one row of our own.
        const std::int64_t rowBytes = std::int64_t(from.Width()) * target.GetElementInfo().Size();
        std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes));
        for (int y = 0; y < from.Height(); ++y) {
            const geo::CiRect src(from.left, from.top + y, from.right, from.top + y + 1);
            const geo::CiRect dst(to.left, to.top + y, to.right, to.top + y + 1);
            if (!target.ReadRect(src, source.GetPlane(), row.data(), 0) ||
                !target.WriteRect(dst, plane, row.data(), 0))
                return false;
        }
        return true;
    }

    geo::CiVecN boxPosition{from.left, from.top};
    geo::CiVecN boxSize{from.Width(), from.Height()};
    for (int c : source.GetPlane()) {
        boxPosition.Append(c);
        boxSize.Append(1);
    }
    geo::CiVecN targetPosition{to.left, to.top};
    targetPosition.Append(plane);
    return mem::Copy(*sourceFrame, target, geo::CiVolumeN::FromPositionSize(boxPosition, boxSize),
                     targetPosition, 0);
}

// Grows data frame 0 by the one plane `key` when that plane lies right
// before or right after the frame along its grow dimension: frames pushed
// at either end of a series land in the data frame itself. False, nothing
// changed, otherwise.
bool GrowToPlane(mem::CDataFrame& frame, tFrameKey const& key)
{
    const geo::CiVolumeN planes = detail::PlanesOf(frame);
    const int planeDims = planes.GetDimension();
    if (planeDims == 0 || key.GetDimension() != planeDims)
        return false;
    int growDim = frame.GetDimension() - 1;
    mem::CBin value;
    if (frame.GetCreationProperties().GetProperty(mem::ePropGrowDimension, value))
        value.Get(growDim);
    const int g = growDim - 2;
    if (g < 0 || g >= planeDims)
        return false;
    for (int d = 0; d < planeDims; ++d) {
        if (d == g)
            continue;
        const auto i = static_cast<std::size_t>(d);
        if (key[i] < planes.Position()[i] || std::int64_t(key[i]) >= std::int64_t(planes.Position()[i]) + planes.Size()[i])
            return false;
    }
    const auto gi = static_cast<std::size_t>(g);
    const std::int64_t begin = planes.Position()[gi];
    const std::int64_t end = begin + planes.Size()[gi];
    if (key[gi] == end)
        return frame.GrowPlanes(1);
    if (key[gi] == begin - 1)
        return frame.GrowPlanes(-1);
    return false;
}

}  // namespace

detail::tStack::tStack() : instance(NextStackInstance()) {}

detail::tStack* StackRecordOf(CStack const& stack)
{
    return stack.m_stack.get();
}

CStack::CStack() = default;

CStack::CStack(boost::shared_ptr<mem::CDataFrame> frame, bool keepUnitDims)
{
    if (!frame || frame->GetDimension() < 2 || !frame->GetElementInfo().IsValid())
        return;
    boost::shared_ptr<tStack> record(new tStack);
    record->type = eLayerTypeImage;
    record->keepUnitDims = keepUnitDims;
    detail::tDataFrameEntry& entry = record->dataFrames[0];
    entry.frame = frame;
    // What the frame holds now is the stack's starting point, not a change.
    entry.seenStore = &frame->Store();
    entry.seenCount = frame->GetModificationCount();
    m_stack = record;
}

CStack::CStack(boost::shared_ptr<CVecGraph> graphic)
{
    if (!graphic)
        return;
    boost::shared_ptr<tStack> record(new tStack);
    record->type = eLayerTypeVector;
    record->graphic = graphic;
    m_stack = record;
}

CStack::CStack(CStack const& other) = default;
CStack& CStack::operator=(CStack const& other) = default;
CStack::~CStack() = default;

bool CStack::IsValid() const
{
    return m_stack != nullptr;
}

int CStack::GetId() const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack && m_stack->Document() ? m_stack->id : -1;
}

std::uint64_t CStack::GetInstanceId() const
{
    return m_stack ? m_stack->instance : 0;
}

ELayerType CStack::GetLayerType() const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack ? m_stack->type : eLayerTypeImage;
}

CString CStack::GetName() const
{
    const auto guard = detail::Reading(m_stack.get());
    return m_stack ? m_stack->name : CString();
}

void CStack::SetName(CString const& name)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || m_stack->name == name)
        return;
    m_stack->name = name;
    m_stack->Notify(eChangeProperties);
}

int CStack::DimCount(int sample) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack)
        return -1;
    if (m_stack->type != eLayerTypeImage)
        return sample == 0 ? 0 : -1;
    auto it = m_stack->dataFrames.find(sample);
    if (it == m_stack->dataFrames.end())
        return -1;
    const geo::CiVolumeN planes = detail::PlanesOf(*it->second.frame);
    return static_cast<int>(detail::StackDimsOf(planes, m_stack->keepUnitDims).size());
}

utl::CIndexN CStack::FrameIndexBegin(int sample) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeImage)
        return utl::CIndexN();
    auto it = m_stack->dataFrames.find(sample);
    if (it == m_stack->dataFrames.end())
        return utl::CIndexN();
    const geo::CiVolumeN planes = detail::PlanesOf(*it->second.frame);
    utl::CIndexN index;
    for (int d : detail::StackDimsOf(planes, m_stack->keepUnitDims))
        index.Append(planes.Position()[static_cast<std::size_t>(d)]);
    return index;
}

geo::CiRect CStack::GetBoundary() const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack)
        return geo::CiRect();
    if (m_stack->type == eLayerTypeVector)
        return m_stack->graphic ? m_stack->graphic->GetBoundary() : geo::CiRect();
    auto it = m_stack->dataFrames.find(0);
    if (it != m_stack->dataFrames.end())
        return it->second.frame->GetBoundary(0).Reduce();
    if (!m_stack->looseFrames.empty())
        return m_stack->looseFrames.begin()->second->GetBoundary();
    return geo::CiRect();
}

CPixelInfo CStack::GetPixelInfo(int sample) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeImage)
        return CPixelInfo();
    auto it = m_stack->dataFrames.find(sample < 0 ? 0 : sample);
    return it == m_stack->dataFrames.end() ? CPixelInfo() : it->second.frame->GetElementInfo();
}

unsigned int CStack::GetPixelModificationCount(int sample) const
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack)
        return 0;
    if (sample < 0) {
        for (auto& entry : m_stack->dataFrames)
            detail::ObserveDataFrame(*m_stack, entry.second);
        return m_stack->modifications;
    }
    auto it = m_stack->dataFrames.find(sample);
    if (it == m_stack->dataFrames.end())
        return sample == 0 ? m_stack->modifications : 0;
    return detail::ObserveDataFrame(*m_stack, it->second);
}

void CStack::Invalidate()
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack)
        return;
    for (auto& entry : m_stack->dataFrames) {
        detail::ObserveDataFrame(*m_stack, entry.second);
        ++entry.second.modifications;
    }
    ++m_stack->modifications;
    m_stack->Notify(eChangePixels);
}

boost::shared_ptr<CPixFrame> CStack::GetPixFrame(utl::CIndexN const& index) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeImage)
        return boost::shared_ptr<CPixFrame>();
    tFrameKey key;
    if (!detail::FrameKeyOf(*m_stack, index, key))
        return boost::shared_ptr<CPixFrame>();
    const boost::shared_ptr<mem::CDataFrame>& frame = m_stack->dataFrames.at(0).frame;
    // Data frame 0 is authoritative for every plane it holds. The view is
    // made directly: running out of memory must not read as "no frame"
    // (a render would then leave the layer out and report success).
    if (detail::PlaneInRange(detail::PlanesOf(*frame), key))
        return boost::shared_ptr<CPixFrame>(new CPixFrame(frame, key));
    auto it = m_stack->looseFrames.find(key);
    return it == m_stack->looseFrames.end() ? boost::shared_ptr<CPixFrame>() : it->second;
}

boost::shared_ptr<CVecGraph> CStack::GetVecGraph(utl::CIndexN const& index) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeVector || !index.empty())
        return boost::shared_ptr<CVecGraph>();
    return m_stack->graphic;
}

bool CStack::SetFrame(utl::CIndexN const& index, boost::shared_ptr<CPixFrame> frame)
{
    const auto guard = detail::Changing(m_stack.get());
    return SetFrame(index, std::move(frame), utl::CPropSet());
}

bool CStack::SetFrame(utl::CIndexN const& index, boost::shared_ptr<CPixFrame> frame, utl::CPropSet const& frameProps)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeImage || !frame)
        return false;
    tStack& stack = *m_stack;
    detail::tDataFrameEntry& main = stack.dataFrames.at(0);
    mem::CDataFrame& target = *main.frame;
    if (frame->GetPixelInfo() != target.GetElementInfo())
        return false;
    if (frame->GetBoundary().Size() != target.GetBoundary(0).Reduce().Size())
        return false;
    tFrameKey key;
    if (!detail::FrameKeyOf(stack, index, key))
        return false;

    // Changes made behind the stack's back count on their own; the copy
    // below is this call's one change.
    detail::ObserveDataFrame(stack, main);
    if (!detail::PlaneInRange(detail::PlanesOf(target), key))
        GrowToPlane(target, key);
    if (detail::PlaneInRange(detail::PlanesOf(target), key)) {
        try {
            if (!CopyIntoPlane(*frame, target, key))
                return false;
        } catch (std::bad_alloc const&) {
            return false;  // the row buffer of a very wide frame
        }
        stack.looseFrames.erase(key);
    } else {
        // An index the data frame cannot grow to: keep the frame itself.
        stack.looseFrames[key] = frame;
    }
    main.seenStore = &target.Store();
    main.seenCount = target.GetModificationCount();
    ++main.modifications;
    ++stack.modifications;
    if (!frameProps.empty())
        stack.frameProperties[key].MergeProperties(frameProps);
    stack.Notify(eChangePixels);
    if (!frameProps.empty())
        stack.Notify(eChangeProperties);
    return true;
}

bool CStack::SetFrame(utl::CIndexN const& index, boost::shared_ptr<CVecGraph> graphic)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeVector || !index.empty() || !graphic)
        return false;
    m_stack->graphic = graphic;
    ++m_stack->modifications;
    m_stack->Notify(eChangePixels);
    return true;
}

boost::shared_ptr<mem::CDataFrame> CStack::GetDataFrame(int n) const
{
    const auto guard = detail::Reading(m_stack.get());
    if (!m_stack)
        return boost::shared_ptr<mem::CDataFrame>();
    auto it = m_stack->dataFrames.find(n);
    return it == m_stack->dataFrames.end() ? boost::shared_ptr<mem::CDataFrame>() : it->second.frame;
}

int CStack::AddSample(boost::shared_ptr<mem::CDataFrame> frame, ESampleFlag flag)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || m_stack->type != eLayerTypeImage || !frame || frame->GetDimension() < 2 ||
        !frame->GetElementInfo().IsValid())
        return -1;
    int id = 1;
    for (auto it = m_stack->dataFrames.upper_bound(0); it != m_stack->dataFrames.end() && it->first == id; ++it)
        ++id;
    detail::tDataFrameEntry& entry = m_stack->dataFrames[id];
    entry.frame = frame;
    entry.flag = flag;
    entry.seenStore = &frame->Store();
    entry.seenCount = frame->GetModificationCount();
    ++m_stack->modifications;
    m_stack->Notify(eChangePixels);
    return id;
}

bool CStack::RemoveSample(int sample)
{
    const auto guard = detail::Changing(m_stack.get());
    if (!m_stack || sample <= 0 || m_stack->dataFrames.erase(sample) == 0)
        return false;
    ++m_stack->modifications;
    m_stack->Notify(eChangePixels);
    return true;
}

std::vector<int> CStack::GetSampleIDs() const
{
    const auto guard = detail::Reading(m_stack.get());
    std::vector<int> ids;
    if (!m_stack)
        return ids;
    for (auto it = m_stack->dataFrames.upper_bound(0); it != m_stack->dataFrames.end(); ++it)
        ids.push_back(it->first);
    return ids;
}

bool CStack::GetSampleFlag(int sample, ESampleFlag& flag) const
{
    if (!m_stack || sample <= 0)
        return false;
    auto it = m_stack->dataFrames.find(sample);
    if (it == m_stack->dataFrames.end())
        return false;
    flag = it->second.flag;
    return true;
}

std::vector<utl::CIndexN> CStack::GetLooseFrameIndices() const
{
    std::vector<utl::CIndexN> indices;
    if (m_stack)
        for (auto const& entry : m_stack->looseFrames)
            indices.emplace_back(entry.first);
    return indices;
}

}  // namespace img

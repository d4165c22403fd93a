#include "imgscope/typed/simple_stack.h"

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"
#include "imgscope/typed/stack_family_internal.h"

#include <climits>
#include <initializer_list>
#include <memory>
#include <utility>

namespace img {

namespace {

// The one dimension a selection names: none means dimension 0.
int SelectedDimension(geo::CiVecN const& dimSel)
{
    if (dimSel.size() > 1)
        throw new CBadScopeException;
    return dimSel.empty() ? 0 : dimSel[0];
}

}  // namespace

geo::CiVolumeN SimpleStackVolume(geo::CiRect const& rect, int frameCount)
{
    // A stack without pixels or with a negative count is a caller's mistake
    // that the volume would silently turn into an empty stack.
    if (rect.IsEmpty() || frameCount < 0)
        throw new CBadScopeException;
    geo::CiVecN begin{rect.GetPoint(0).x, rect.GetPoint(0).y};
    geo::CiVecN end{rect.GetPoint(2).x, rect.GetPoint(2).y};
    begin.Append(0);
    end.Append(frameCount);
    return geo::CiVolumeN(begin, end);
}

void ReadFrameValue(CStack const& stack, geo::CiVecN const& index, int id, utl::TUnitValue<double>& value)
{
    mem::CBin bin;
    if (stack.GetProperty(utl::CIndexN(index), id, bin))
        bin.Get(value);
}

// Builds simple stacks and the typed stacks for the factories, which alone
// may call the constructors.
struct tSimpleStackFactory {
    // A typed part of a combined stack: the dimension it runs along and the
    // physical type it stands for.
    struct tPart {
        int dim;
        EPhysDim type;
    };

    template <class T, class... Args>
    static T* New(Args&&... args)
    {
        return new T(std::forward<Args>(args)...);
    }

    // The factory convention: a scope exception is deleted, anything else
    // swallowed; null either way.
    template <class Make>
    static auto Guard(Make make) -> decltype(make())
    {
        try {
            return make();
        } catch (CException* e) {
            e->Delete();
        } catch (...) {
        }
        return nullptr;
    }

    // Throws a new CBadScopeException unless every part opens on its own,
    // finds its dimension untyped or of its type, and no two parts share a
    // dimension. Runs before any part is built, so a refused combination
    // leaves the document's dimension types as they were.
    static CImg const& CheckParts(CImg const& img, int layerId, geo::CiVecN const& base,
                                  std::initializer_list<tPart> parts)
    {
        for (auto a = parts.begin(); a != parts.end(); ++a) {
            for (auto b = parts.begin(); b != a; ++b)
                if (a->dim == b->dim)
                    throw new CBadScopeException;
            const std::unique_ptr<CSimpleStack> probe(new CSimpleStack(img, layerId, base, a->dim));
            EPhysDim type = eDimNone;
            if (probe->GetDimensionType(type) && type != a->type)
                throw new CBadScopeException;
        }
        return img;
    }
};

// ---------------------------------------------------------------------------
// Construction

CSimpleStack::CSimpleStack(CImg img, int layerId, geo::CiVecN const& base, int dim)
    : CStackScope(img, layerId), m_baseIndex(base), m_stackDim(dim)
{
    // A base without an element at the stack dimension would address no
    // frame at all; refuse it here rather than fail every call later.
    if (m_stackDim < 0 || m_stackDim >= GetOrder() || static_cast<std::size_t>(m_stackDim) >= m_baseIndex.size())
        throw new CBadScopeException;
    GetFramePropertyID();
}

CSimpleStack::CSimpleStack(CImg img, int layerId, geo::CiVecN const& base, geo::CiVecN const& dimSel)
    : CSimpleStack(img, layerId, base, SelectedDimension(dimSel))
{
}

CSimpleStack::CSimpleStack(CImg img, geo::CiRect const& rect, int frameCount, CPixelInfo const& pixelInfo,
                           mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& frameProps,
                           utl::CPropSet const& documentProps, utl::CPropSet const& stackProps)
    : CStackScope(img, SimpleStackVolume(rect, frameCount), pixelInfo, memoryModel, align, frameProps)
{
    SetUpNewLayer(documentProps, stackProps);
}

CSimpleStack::CSimpleStack(CImg img, geo::CiRect const& rect, CPixelInfo const& pixelInfo,
                           mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& frameProps,
                           utl::CPropSet const& documentProps, utl::CPropSet const& stackProps)
    : CSimpleStack(img, rect, 0, pixelInfo, memoryModel, align, frameProps, documentProps, stackProps)
{
}

CSimpleStack::CSimpleStack(CImg img, boost::shared_ptr<mem::CDataFrame> frame, int /*unused*/,
                           utl::CPropSet const& documentProps, utl::CPropSet const& stackProps)
    : CStackScope(img, frame)
{
    SetUpNewLayer(documentProps, stackProps);
}

CSimpleStack::~CSimpleStack() = default;

void CSimpleStack::SetUpNewLayer(utl::CPropSet const& documentProps, utl::CPropSet const& stackProps)
{
    // The stack scope keeps a scope whose insertion failed; a simple stack
    // without a layer could only fail, so it is not made at all.
    if (GetLayerID() == -1)
        throw new CBadScopeException;
    m_baseIndex = geo::CiVecN{0};
    m_stackDim = 0;
    SetProperties(documentProps);
    SetStackProperties(stackProps);
    GetFramePropertyID();
}

bool CSimpleStack::GetFramePropertyID()
{
    // An unreadable type reads as "other", which keeps no frame values.
    EPhysDim type = eDimOther;
    CStackScope::GetDimensionType(m_stackDim, type);
    m_framePropId = FrameValuePropertyId(type, false);
    return m_framePropId != -1;
}

geo::CiVecN CSimpleStack::GetFrameIndex(int i) const
{
    geo::CiVecN index = m_baseIndex;
    if (static_cast<std::size_t>(m_stackDim) < index.size())
        index[static_cast<std::size_t>(m_stackDim)] = i;
    return index;
}

// ---------------------------------------------------------------------------
// Frames

bool CSimpleStack::ActivateFrame(int i)
{
    return CStackScope::ActivateFrame(GetFrameIndex(i));
}

bool CSimpleStack::GetActiveFrame(int& i) const
{
    geo::CiVecN active;
    if (!CStackScope::GetActiveFrame(active))
        return false;
    const std::size_t dim = static_cast<std::size_t>(m_stackDim);
    if (active.size() <= dim)
        return false;
    for (std::size_t k = 0; k < active.size(); ++k)
        if (k != dim && (k >= m_baseIndex.size() || active[k] != m_baseIndex[k]))
            return false;
    i = active[dim];
    return true;
}

boost::shared_ptr<CPixFrame> CSimpleStack::GetPixFrame(int i)
{
    return CStackScope::GetPixFrame(GetFrameIndex(i));
}

boost::shared_ptr<CPixFrame> CSimpleStack::GetPixFrame(int i) const
{
    return CStackScope::GetPixFrame(GetFrameIndex(i));
}

int CSimpleStack::PlaneBound(bool end) const
{
    return Guarded(0, [&] {
        const boost::shared_ptr<mem::CDataFrame> frame = CStackScope::GetDataFrame(0);
        if (!frame)
            return 0;
        const geo::CiVolumeN planes = frame->GetPlaneAssortment().GetBoundary();
        if (m_stackDim >= planes.GetDimension())
            return 0;
        const geo::CiVecN position = end ? *planes.end(m_stackDim) : *planes.begin(m_stackDim);
        return position[static_cast<std::size_t>(m_stackDim)];
    });
}

int CSimpleStack::GetBeginIndex() const
{
    return PlaneBound(false);
}

int CSimpleStack::GetEndIndex() const
{
    return PlaneBound(true);
}

bool CSimpleStack::AddPixFrame(boost::shared_ptr<CPixFrame> frame, int i)
{
    return CStackScope::AddPixFrame(frame, GetFrameIndex(i));
}

bool CSimpleStack::PushFront(boost::shared_ptr<CPixFrame> frame)
{
    if (!frame)
        return false;
    const int begin = GetBeginIndex();
    if (begin == INT_MIN)
        return false;  // no position left before the first frame
    return AddPixFrame(frame, begin - 1);
}

bool CSimpleStack::PushBack(boost::shared_ptr<CPixFrame> frame)
{
    return AddPixFrame(frame, GetEndIndex());
}

bool CSimpleStack::PushBack(boost::shared_ptr<CPixFrame> frame, utl::TUnitValue<double> const& value)
{
    if (!frame)
        return false;
    utl::CPropSet props;
    props.SetProperty(m_framePropId, mem::CBin(value));
    return CStackScope::AddPixFrame(frame, GetFrameIndex(GetEndIndex()), props);
}

// ---------------------------------------------------------------------------
// Frame values

bool CSimpleStack::FrameValueAddressable(CStack const& stack) const
{
    return stack.IsValid() && m_framePropId != -1 && m_stackDim >= 0 && m_stackDim <= stack.DimCount(0);
}

bool CSimpleStack::SetFrameProperty(int i, utl::TUnitValue<double> const& value)
{
    const bool addressable =
        Guarded(false, [&] { return FrameValueAddressable(GetCollection().FindStack(GetLayerID())); });
    if (!addressable)
        return false;
    return CStackScope::SetFrameProperty(GetFrameIndex(i), m_framePropId, mem::CBin(value));
}

bool CSimpleStack::GetFrameProperty(int i, utl::TUnitValue<double>& value) const
{
    return Guarded(false, [&] {
        const CStack stack = GetCollection().FindStack(GetLayerID());
        if (!FrameValueAddressable(stack))
            return false;
        ReadFrameValue(stack, GetFrameIndex(i), m_framePropId, value);
        return true;
    });
}

// ---------------------------------------------------------------------------
// The stack dimension

bool CSimpleStack::SetDimensionType(EPhysDim type)
{
    const bool written = CStackScope::SetDimensionType(m_stackDim, type);
    GetFramePropertyID();
    return written;
}

bool CSimpleStack::GetDimensionType(EPhysDim& type) const
{
    return CStackScope::GetDimensionType(m_stackDim, type);
}

bool CSimpleStack::GetDimensionName(CString& name) const
{
    return CStackScope::GetDimensionName(m_stackDim, name);
}

bool CSimpleStack::GetDimensionStepping(utl::TUnitValue<double>& first, utl::TUnitValue<double>& second) const
{
    return CStackScope::GetDimensionStepping(m_stackDim, first, second);
}

bool CSimpleStack::SetDimensionStepping(utl::TUnitValue<double> const& first, utl::TUnitValue<double> const& second)
{
    return CStackScope::SetDimensionStepping(m_stackDim, first, second);
}

bool CSimpleStack::GetDimensionFrameRate(utl::TUnitValue<double>& rate, bool variant) const
{
    return CStackScope::GetDimensionFrameRate(m_stackDim, rate, variant);
}

bool CSimpleStack::SetDimensionFrameRate(utl::TUnitValue<double> const& rate, bool variant)
{
    return CStackScope::SetDimensionFrameRate(m_stackDim, rate, variant);
}

bool CSimpleStack::GetDimensionChannelValue(int channel, utl::TUnitValue<double>& value) const
{
    return CStackScope::GetDimensionChannelValue(m_stackDim, channel, value);
}

bool CSimpleStack::SetDimensionChannelValue(int channel, utl::TUnitValue<double> const& value)
{
    return CStackScope::SetDimensionChannelValue(m_stackDim, channel, value);
}

// ---------------------------------------------------------------------------
// Typed stacks

void CSimpleStack::AdoptType(EPhysDim type)
{
    EPhysDim stored = eDimNone;
    if (GetDimensionType(stored)) {
        if (stored != type)
            throw new CBadScopeException;
        return;
    }
    if (!SetDimensionType(type))
        throw new CBadScopeException;
}

CZStack::CZStack(CImg img, int layerId, geo::CiVecN const& base, int dim)
    : CSimpleStack(img, layerId, base, dim), m_zDim(dim)
{
    AdoptType(eDimZ);
}

CZStack::~CZStack() = default;

CTStack::CTStack(CImg img, int layerId, geo::CiVecN const& base, int dim) : CSimpleStack(img, layerId, base, dim)
{
    AdoptType(eDimTime);
}

CTStack::~CTStack() = default;

CBStack::CBStack(CImg img, int layerId, geo::CiVecN const& base, int dim) : CSimpleStack(img, layerId, base, dim)
{
    AdoptType(eDimBlock);
}

CBStack::~CBStack() = default;

// Virtual bases are built by the most derived class, so the combined
// stacks construct every part themselves, after checking them all.
CTZStack::CTZStack(CImg img, int layerId, geo::CiVecN const& base, int tDim, int zDim)
    : CTStack(tSimpleStackFactory::CheckParts(img, layerId, base, {{tDim, eDimTime}, {zDim, eDimZ}}), layerId, base,
              tDim),
      CZStack(img, layerId, base, zDim)
{
}

CTZStack::~CTZStack() = default;

CBTZStack::CBTZStack(CImg img, int layerId, geo::CiVecN const& base, int bDim, int tDim, int zDim)
    : CTStack(tSimpleStackFactory::CheckParts(img, layerId, base,
                                              {{bDim, eDimBlock}, {tDim, eDimTime}, {zDim, eDimZ}}),
              layerId, base, tDim),
      CZStack(img, layerId, base, zDim), CBStack(img, layerId, base, bDim)
{
}

CBTZStack::~CBTZStack() = default;

// ---------------------------------------------------------------------------
// Factories

CSimpleStack* CreateSimpleStack(geo::CiRect const& rect, int frameCount, CPixelInfo const& pixelInfo,
                                mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& frameProps,
                                utl::CPropSet const& documentProps, utl::CPropSet const& stackProps, CImg img)
{
    return tSimpleStackFactory::Guard([&] {
        return tSimpleStackFactory::New<CSimpleStack>(img, rect, frameCount, pixelInfo, memoryModel, align,
                                                      frameProps, documentProps, stackProps);
    });
}

CSimpleStack* InsertSimpleStack(CImg& img, geo::CiRect const& rect, int frameCount, CPixelInfo const& pixelInfo,
                                mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& frameProps,
                                utl::CPropSet const& documentProps, utl::CPropSet const& stackProps)
{
    return CreateSimpleStack(rect, frameCount, pixelInfo, memoryModel, align, frameProps, documentProps, stackProps,
                             CImg(img));
}

CSimpleStack* CreateSimpleStack(CImg& img, int layerId, geo::CiVecN const& base, int dim)
{
    return tSimpleStackFactory::Guard(
        [&] { return tSimpleStackFactory::New<CSimpleStack>(img, layerId, base, geo::CiVecN{dim}); });
}

CSimpleStack const* CreateSimpleStack(CImg const& img, int layerId, geo::CiVecN const& base, int dim)
{
    return tSimpleStackFactory::Guard(
        [&] { return tSimpleStackFactory::New<CSimpleStack>(img, layerId, base, geo::CiVecN{dim}); });
}

CSimpleStack* CreateSimpleStack(CImg& img, boost::shared_ptr<mem::CDataFrame> frame, int unused)
{
    return tSimpleStackFactory::Guard([&] {
        return tSimpleStackFactory::New<CSimpleStack>(img, frame, unused, utl::CPropSet(), utl::CPropSet());
    });
}

bool TestSimpleStack(CImg const& img, int layerId, geo::CiVecN const& base, int dim)
{
    const std::unique_ptr<CSimpleStack const> stack(CreateSimpleStack(img, layerId, base, dim));
    return stack != nullptr;
}

CZStack* CreateZStack(CImg& img, int layerId, geo::CiVecN const& base, int dim)
{
    return tSimpleStackFactory::Guard([&] { return tSimpleStackFactory::New<CZStack>(img, layerId, base, dim); });
}

CTStack* CreateTStack(CImg& img, int layerId, geo::CiVecN const& base, int dim)
{
    return tSimpleStackFactory::Guard([&] { return tSimpleStackFactory::New<CTStack>(img, layerId, base, dim); });
}

CBStack* CreateBStack(CImg& img, int layerId, geo::CiVecN const& base, int dim)
{
    return tSimpleStackFactory::Guard([&] { return tSimpleStackFactory::New<CBStack>(img, layerId, base, dim); });
}

CTZStack* CreateTZStack(CImg& img, int layerId, geo::CiVecN const& base, int tDim, int zDim)
{
    return tSimpleStackFactory::Guard(
        [&] { return tSimpleStackFactory::New<CTZStack>(img, layerId, base, tDim, zDim); });
}

CBTZStack* CreateBTZStack(CImg& img, int layerId, geo::CiVecN const& base, int bDim, int tDim, int zDim)
{
    return tSimpleStackFactory::Guard(
        [&] { return tSimpleStackFactory::New<CBTZStack>(img, layerId, base, bDim, tDim, zDim); });
}

}  // namespace img

#include "imgscope/scope/base_scope.h"

#include "imgscope/scope/scope_data_internal.h"
#include "imgscope/scope/scope_factory_internal.h"
#include "imgscope/scope/scope_guard_internal.h"
#include "imgscope/scope/selection_scope.h"

namespace img {

CBadScopeException::~CBadScopeException() = default;

// ---------------------------------------------------------------------------
// Construction and the record

CBaseScope::CBaseScope(CImg img) : m_pData(new CScopeData(img)) {}

CBaseScope::~CBaseScope()
{
    delete m_pData;
}

CScopeData& CBaseScope::Prepared() const
{
    CScopeData& data = *m_pData;
    if (!data.ready) {
        // The flow built by the constructor saw the document before it was
        // initialised; rebuild it so the scope works on what Initialize made.
        data.document.Initialize();
        data.flow = CDisplProcessFlow(data.document, false);
        data.ready = true;
    }
    return data;
}

CDisplProcessFlow& CBaseScope::renderer2D()
{
    return Prepared().flow;
}

CDisplProcessFlow const& CBaseScope::renderer2D() const
{
    return Prepared().flow;
}

CStack CBaseScope::ResolveStack(int layer) const
{
    // A document that cannot look the ID up has no such layer for us.
    return Guarded(CStack(), [&] {
        CScopeData const& data = Prepared();
        CStack stack = data.document.FindStack(layer);
        if (!stack.IsValid() || (layer == data.boundLayer && stack.GetInstanceId() != data.boundStack))
            return CStack();
        return stack;
    });
}

// ---------------------------------------------------------------------------
// Document and flow

CImg& CBaseScope::GetCollection()
{
    return Prepared().document;
}

CImg const& CBaseScope::GetCollection() const
{
    return Prepared().document;
}

void CBaseScope::Assign(CImg img)
{
    Prepared().document = img;
}

bool CBaseScope::SetToRenderer2D(CDisplProcessFlow)
{
    // The scope's tree is always its own view of its document; a caller's
    // flow is never adopted, but derived scopes hear that one was offered.
    RendererChanged();
    return false;
}

CDisplProcessFlow CBaseScope::CopyRenderer2D() const
{
    return CDisplProcessFlow();
}

bool CBaseScope::ResetRenderer2D()
{
    return true;
}

boost::shared_ptr<void> CBaseScope::MuteImageMessages()
{
    return Prepared().document.MuteMessaging();
}

boost::shared_ptr<void> CBaseScope::MuteRenderMessages()
{
    return renderer2D().MuteMessaging();
}

boost::shared_ptr<CPixFrame> CBaseScope::AppendFrame(geo::CiVecN const&)
{
    return boost::shared_ptr<CPixFrame>();
}

void CBaseScope::RendererChanged() {}

// ---------------------------------------------------------------------------
// Resolution

bool CBaseScope::HasLayer(int layer) const
{
    return ResolveStack(layer).IsValid();
}

int CBaseScope::FirstLayerID() const
{
    return Guarded(-1, [&] { return Prepared().document.FirstStackId(); });
}

int CBaseScope::FindPlaneID(int layer) const
{
    return Guarded(-1, [&] {
        if (layer == m_pData->boundLayer && !ResolveStack(layer).IsValid())
            return -1;  // the bound layer is gone; its ID names someone else's now
        return renderer2D().FindLayer(layer);
    });
}

void CBaseScope::BindLayer(int layer)
{
    const std::uint64_t stack = layer == -1 ? 0 : Prepared().document.FindStack(layer).GetInstanceId();
    m_pData->boundLayer = stack != 0 ? layer : -1;
    m_pData->boundStack = stack;
}

bool CBaseScope::IsPlaneExisting(int plane) const
{
    return Guarded(false, [&] { return renderer2D().Exists(plane); });
}

bool CBaseScope::TestOrder(int layer, geo::CiVecN const& index) const
{
    CStack stack = ResolveStack(layer);
    if (!stack.IsValid())
        return false;
    return Guarded(false, [&] { return index.GetDimension() == stack.DimCount(0); });
}

CSelectionScope* CBaseScope::GetSelection() const
{
    CImg document = Prepared().document;
    return NewScopeOrNull([&] { return new CSelectionScope(document, 0, geo::CiVecN(), geo::CiVecN()); });
}

// ---------------------------------------------------------------------------
// Base stubs: operations that only some scopes support. They look nothing
// up and leave every out-parameter as the caller passed it.

void CBaseScope::DelSelectionMask() {}

boost::shared_ptr<CMask> CBaseScope::CreateSelectionMask()
{
    return boost::shared_ptr<CMask>();
}

boost::shared_ptr<CMask> CBaseScope::GetSelectionMask()
{
    return boost::shared_ptr<CMask>();
}

boost::shared_ptr<CMask> CBaseScope::GetSelectionMask() const
{
    return boost::shared_ptr<CMask>();
}

bool CBaseScope::FindProperty(int, geo::CiVecN const&, int, geo::CiVecN&) const
{
    return false;
}

bool CBaseScope::FindProperty(geo::CiVecN const&, int, geo::CiVecN&) const
{
    return false;
}

bool CBaseScope::FindProperty(int, int, geo::CiVecN&) const
{
    return false;
}

bool CBaseScope::GetIntensityCol(int, geo::CiVec2 const&, double*, double*) const
{
    return false;
}

bool CBaseScope::GetIntensityRow(int, geo::CiVec2 const&, double*, double*) const
{
    return false;
}

bool CBaseScope::GetIntensityValue(int, geo::CiVec2 const&, double&) const
{
    return false;
}

bool CBaseScope::GetIntensityCalibration(int, CIntensityCalibration&) const
{
    return false;
}

bool CBaseScope::SetIntensityCalibration(int, CIntensityCalibration const&)
{
    return false;
}

bool CBaseScope::DelIntensityCalibration(int)
{
    return false;
}

bool CBaseScope::HasIntensityCalibration(int) const
{
    return false;
}

bool CBaseScope::GetIntensityUnit(int, utl::CUnit&) const
{
    return false;
}

bool CBaseScope::ChainLayer(int)
{
    return false;
}

bool CBaseScope::UnchainLayer(int)
{
    return false;
}

bool CBaseScope::IsChained(int, bool&)
{
    return false;
}

bool CBaseScope::MoveChainedLayers(geo::CdVec2 const&)
{
    return false;
}

bool CBaseScope::SetLayerProtection(int, bool)
{
    return false;
}

bool CBaseScope::IsLayerProtected(int, bool&) const
{
    return false;
}

bool CBaseScope::DelLimits(int)
{
    return false;
}

bool CBaseScope::SetBoundary(int, geo::CiRect const&)
{
    return false;
}

bool CBaseScope::SetPixelOrigin(int, geo::CdVec2 const&)
{
    return false;
}

}  // namespace img

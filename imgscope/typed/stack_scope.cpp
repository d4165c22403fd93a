#include "imgscope/typed/stack_scope.h"

#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/contracts/foundation/tile_distributor.h"
#include "imgscope/scope/layer_flags_internal.h"
#include "imgscope/scope/property_ids_internal.h"
#include "imgscope/scope/scope_guard_internal.h"

#include <exception>

namespace img {

namespace {

// Fills in the defaults of a creation set the way a stack scope's own
// frames are made: an empty volume (a stack that grows frame by frame) gets
// sparse tiles as large as its plane.
utl::CPropSet CreationSet(utl::CPropSet const& props, geo::CiVolumeN const& volume, mem::EMemoryModel memoryModel,
                          mem::EAlign align)
{
    utl::CPropSet set(props);
    if (!set.PropertyExists(kPropAlign))
        set.SetProperty(kPropAlign, mem::CBin(static_cast<int>(align)));
    if (!set.PropertyExists(kPropMemoryModel))
        set.SetProperty(kPropMemoryModel, mem::CBin(static_cast<int>(memoryModel)));
    if (volume.Volume() == 0) {
        int model = mem::eMemoryDefault;
        if (mem::CBin const* bin = set.AccessProperty(kPropMemoryModel))
            bin->Get(model);
        if (model == mem::eMemoryDefault) {
            const geo::CiRect rect = volume.Reduce();
            set.SetProperty(kPropMemoryModel, mem::CBin(static_cast<int>(mem::eMemoryTiledSparse)));
            set.SetProperty(kPropTileSize, mem::CBin(geo::CiVec3(rect.right - rect.left, rect.bottom - rect.top, 1)));
            set.SetProperty(kPropCommitAtCreation, mem::CBin(false));
        }
        if (!set.PropertyExists(kPropGrowDimension))
            set.SetProperty(kPropGrowDimension, mem::CBin(2));
        if (!set.PropertyExists(kPropMemoryBudget))
            set.SetProperty(kPropMemoryBudget, mem::CBin(95));
    }
    return set;
}

CString LayerName(utl::CPropSet const& props)
{
    mem::CBin const* bin = props.AccessProperty(kPropLayerName);
    if (!bin)
        return CString(L"Layer 1");
    CString name;
    bin->GetPlainOrUnit(name);  // a value of another type names nothing
    return name;
}

}  // namespace

CStackScope::CStackScope(CImg img, int layerId) : CBaseScope(img), m_layerId(layerId)
{
    if (m_layerId == -1)
        m_layerId = FirstLayerID();
    if (!HasLayer(m_layerId))
        throw new CBadScopeException;
    BindLayer(m_layerId);
}

CStackScope::CStackScope(CImg img, boost::shared_ptr<mem::CDataFrame> frame) : CBaseScope(img)
{
    InsertLayer(m_layerId, frame, CString(L"Layer 1"), kPositionEnd, kFlagVisible | kFlagSelected, 0);
    BindLayer(m_layerId);
    ResetRenderer2D();
}

CStackScope::CStackScope(CImg img, geo::CiVolumeN const& volume, CPixelInfo const& pixelInfo,
                         mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& props)
    : CBaseScope(img)
{
    const utl::CPropSet set = CreationSet(props, volume, memoryModel, align);
    const boost::shared_ptr<mem::CDataFrame> frame = mem::CDataFrame::Create(volume, pixelInfo, set);
    if (!frame)
        throw new CBadScopeException;
    InsertLayer(m_layerId, frame, LayerName(set), kPositionEnd, kFlagVisible | kFlagSelected, 1);
    BindLayer(m_layerId);
    ResetRenderer2D();
}

CStackScope::~CStackScope() = default;

int CStackScope::GetOrder() const
{
    int order = -1;
    GetLayerOrder(m_layerId, order);
    return order;
}

CPixelInfo CStackScope::GetPixelInfo() const
{
    CPixelInfo info;
    CBaseScope::GetPixelInfo(m_layerId, info);
    return info;
}

geo::CiRect CStackScope::GetBoundary() const
{
    geo::CiRect rect;
    CBaseScope::GetBoundary(m_layerId, rect);
    return rect;
}

bool CStackScope::ResetRenderer2D()
{
    if (!CBaseScope::ResetRenderer2D())
        return false;
    // Without its layer the steps below would read default values and write
    // them over the canvas every scope of the document shares.
    if (!HasLayer(m_layerId))
        return false;
    utl::TUnitValue<geo::CdVec2> layerScale;
    geo::CdVec2 layerOrigin;
    CBaseScope::GetPixelCoords(m_layerId, layerScale, layerOrigin);

    utl::TUnitValue<geo::CdVec2> canvasScale;
    geo::CdVec2 canvasOrigin;
    if (!GetCanvasCoords(canvasScale, canvasOrigin)) {
        geo::CiRect rect;
        CBaseScope::GetBoundary(m_layerId, rect);
        SetCanvasPixelRect(rect);
        SetCanvasCoords(layerScale, layerOrigin);
        utl::TUnitValue<geo::CdRect> world;
        if (GetCanvasCoordsRect(world))
            SetCanvasRectangle(world.value);
    } else {
        // A canvas in pixels (or without a real unit) has no calibration of
        // its own worth keeping: it takes the layer's.
        const int code = canvasScale.unit.GetUnit();
        if (code == utl::eQuantityPixel || code == utl::eQuantityNone || code == utl::eQuantityArbitrary) {
            canvasScale = layerScale;
            canvasOrigin = layerOrigin;
        }
        SetCanvasCoords(canvasScale, canvasOrigin);
        CBaseScope::SetCanvasPlacement(m_layerId, canvasOrigin, layerScale.value);
    }
    bool hidden = true;
    CBaseScope::IsLayerHidden(m_layerId, hidden);
    if (hidden)
        UnhideLayer(m_layerId, -3, 1);
    SetLayerVisible(m_layerId, true);
    return true;
}

void CStackScope::GarbageCollection()
{
    const boost::shared_ptr<mem::CDataFrame> frame = GetDataFrame();
    if (!frame)
        return;
    if (mem::CTileDistributor* tiles = frame->GetTileDistributor())
        tiles->GarbageCollection();
}

void CStackScope::VirtualUnlock()
{
    const boost::shared_ptr<mem::CDataFrame> frame = GetDataFrame();
    if (!frame)
        return;
    mem::CTileDistributor* tiles = frame->GetTileDistributor();
    if (!tiles)
        return;
    // The walk's position lists may not be had; the walk then stops where it
    // is, as nothing reports back from here.
    Guarded(false, [&] {
        geo::CiVecN position = tiles->GetBegin(0);
        const geo::CiVecN end = tiles->GetEnd(0);
        if (position == end)
            return true;
        do {
            tiles->DecrementFlag(position, 0, mem::eTileFlagLocked, 1);
        } while (tiles->GetNextExisting(position, position, 0));
        return true;
    });
}

boost::shared_ptr<CMask> CStackScope::CreateTranspMask(unsigned char value)
{
    return CBaseScope::CreateTranspMask(m_layerId, value);
}

boost::shared_ptr<CMask> CStackScope::GetTranspMask()
{
    return CBaseScope::GetTranspMask(m_layerId);
}

boost::shared_ptr<CMask> CStackScope::GetTranspMask() const
{
    return CBaseScope::GetTranspMask(m_layerId);
}

bool CStackScope::SetDisplayFilter(boost::shared_ptr<CDisplayFilter> filter)
{
    return CBaseScope::SetDisplayFilter(m_layerId, filter);
}

bool CStackScope::GetLayerName(CString& name) const { return CBaseScope::GetLayerName(m_layerId, name); }
bool CStackScope::SetLayerName(CString const& name) { return CBaseScope::SetLayerName(m_layerId, name); }
bool CStackScope::GetStackProperties(utl::CPropSet& props) const { return CBaseScope::GetProperties(m_layerId, props); }
bool CStackScope::SetStackProperties(utl::CPropSet const& props) { return CBaseScope::SetProperties(m_layerId, props); }
bool CStackScope::SetStackProperty(int id, mem::CBin const& value) { return CBaseScope::SetProperty(m_layerId, id, value); }
bool CStackScope::StackPropertyExists(int id) const { return CBaseScope::PropertyExists(m_layerId, id); }

bool CStackScope::GetFrameProperties(geo::CiVecN const& index, utl::CPropSet& props) const
{
    return CBaseScope::GetProperties(m_layerId, index, props);
}

bool CStackScope::SetFrameProperties(geo::CiVecN const& index, utl::CPropSet const& props)
{
    return CBaseScope::SetProperties(m_layerId, index, props);
}

bool CStackScope::SetFrameProperty(geo::CiVecN const& index, int id, mem::CBin const& value)
{
    return CBaseScope::SetProperty(m_layerId, index, id, value);
}

bool CStackScope::FramePropertyExists(geo::CiVecN const& index, int id) const
{
    return CBaseScope::PropertyExists(m_layerId, index, id);
}

bool CStackScope::GetDeviceProperties(geo::CiVecN const& index, utl::CPropSet& props) const
{
    return CBaseScope::GetDeviceProperties(m_layerId, index, props);
}

bool CStackScope::SetDeviceProperties(geo::CiVecN const& index, utl::CPropSet const& props)
{
    return CBaseScope::SetDeviceProperties(m_layerId, index, props);
}

bool CStackScope::ActivateFrame(geo::CiVecN const& index) { return CBaseScope::ActivateFrame(m_layerId, index); }
bool CStackScope::GetActiveFrame(geo::CiVecN& index) const { return CBaseScope::GetActiveFrame(m_layerId, index); }
bool CStackScope::ActivateDimension(int dim) { return CBaseScope::ActivateDimension(m_layerId, dim); }
bool CStackScope::GetActiveDimension(int& dim) const { return CBaseScope::GetActiveDimension(m_layerId, dim); }

bool CStackScope::GetModificationCount(unsigned int& count) const
{
    return CBaseScope::GetModificationCount(m_layerId, count);
}

bool CStackScope::DelTranspMask() { return CBaseScope::DelTranspMask(m_layerId); }

bool CStackScope::GetDataLUT(std::vector<utl::CBGR8>& lut, int channel) const
{
    return CBaseScope::GetDataLUT(m_layerId, lut, channel);
}

bool CStackScope::SetDataLUT(std::vector<utl::CBGR8> const& lut, int channel)
{
    return CBaseScope::SetDataLUT(m_layerId, lut, channel);
}

bool CStackScope::DelDataLUT(int channel) { return CBaseScope::DelDataLUT(m_layerId, channel); }
bool CStackScope::HasDataLUT(int channel) const { return CBaseScope::HasDataLUT(m_layerId, channel); }

bool CStackScope::GetDisplayLUT(std::vector<utl::CBGR8>& lut, int channel) const
{
    return CBaseScope::GetDisplayLUT(m_layerId, lut, channel);
}

bool CStackScope::SetDisplayLUT(std::vector<utl::CBGR8> const& lut, int channel)
{
    return CBaseScope::SetDisplayLUT(m_layerId, lut, channel);
}

bool CStackScope::DelDisplayLUT(int channel) { return CBaseScope::DelDisplayLUT(m_layerId, channel); }
bool CStackScope::HasDisplayLUT(int channel) const { return CBaseScope::HasDisplayLUT(m_layerId, channel); }
bool CStackScope::UseLUT(int value) { return CBaseScope::UseLUT(m_layerId, value); }
bool CStackScope::SetLimits(utl::TInterval<double> const& limits) { return CBaseScope::SetLimits(m_layerId, limits); }
bool CStackScope::GetLimits(utl::TInterval<double>& limits) const { return CBaseScope::GetLimits(m_layerId, limits); }
bool CStackScope::DelLimits() { return CBaseScope::DelLimits(m_layerId); }

bool CStackScope::SetChannelColor(int channel, utl::CBGR8 color)
{
    return CBaseScope::SetChannelColor(m_layerId, channel, color);
}

bool CStackScope::GetChannelColor(int channel, utl::CBGR8& color) const
{
    return CBaseScope::GetChannelColor(m_layerId, channel, color);
}

bool CStackScope::DelChannelColor(int channel) { return CBaseScope::DelChannelColor(m_layerId, channel); }

bool CStackScope::SetChannelName(int channel, CString const& name)
{
    return CBaseScope::SetChannelName(m_layerId, channel, name);
}

bool CStackScope::GetChannelName(int channel, CString& name) const
{
    return CBaseScope::GetChannelName(m_layerId, channel, name);
}

bool CStackScope::ResetDisplayFilter() { return CBaseScope::ResetDisplayFilter(m_layerId); }
bool CStackScope::HasDisplayFilter() const { return CBaseScope::HasDisplayFilter(m_layerId); }

bool CStackScope::GetPixelWidth(utl::TUnitValue<double>& width) const
{
    return CBaseScope::GetPixelWidth(m_layerId, width);
}

bool CStackScope::GetPixelHeight(utl::TUnitValue<double>& height) const
{
    return CBaseScope::GetPixelHeight(m_layerId, height);
}

bool CStackScope::GetPixelSize(utl::CUnit& unit, double& width, double& height) const
{
    return CBaseScope::GetPixelSize(m_layerId, unit, width, height);
}

bool CStackScope::SetPixelSize(utl::CUnit const& unit, double width, double height)
{
    return CBaseScope::SetPixelSize(m_layerId, unit, width, height);
}

bool CStackScope::GetPixelSize(utl::TUnitValue<geo::CdVec2>& size) const
{
    return CBaseScope::GetPixelSize(m_layerId, size);
}

bool CStackScope::SetPixelSize(utl::TUnitValue<geo::CdVec2> const& size)
{
    return CBaseScope::SetPixelSize(m_layerId, size);
}

bool CStackScope::GetPixelCoords(utl::TUnitValue<geo::CdVec2>& scale, geo::CdVec2& origin) const
{
    return CBaseScope::GetPixelCoords(m_layerId, scale, origin);
}

bool CStackScope::SetPixelCoords(utl::TUnitValue<geo::CdVec2> const& scale, geo::CdVec2 const& origin)
{
    return CBaseScope::SetPixelCoords(m_layerId, scale, origin);
}

bool CStackScope::GetPixelCoordsRect(utl::TUnitValue<geo::CdRect>& rect) const
{
    return CBaseScope::GetPixelCoordsRect(m_layerId, rect);
}

bool CStackScope::SetPixelCoordsRect(utl::TUnitValue<geo::CdRect> const& rect)
{
    return CBaseScope::SetPixelCoordsRect(m_layerId, rect);
}

bool CStackScope::GetCanvasPlacement(geo::CdVec2& origin, geo::CdVec2& scale) const
{
    return CBaseScope::GetCanvasPlacement(m_layerId, origin, scale);
}

bool CStackScope::SetCanvasPlacement(geo::CdVec2 const& origin, geo::CdVec2 const& scale)
{
    return CBaseScope::SetCanvasPlacement(m_layerId, origin, scale);
}

bool CStackScope::Pixel2Lcs(geo::CdVec2 const& pixel, utl::TUnitValue<geo::CdVec2>& lcs) const
{
    return CBaseScope::Pixel2Lcs(m_layerId, pixel, lcs);
}

bool CStackScope::Pixel2Lcs(geo::CdRect const& pixel, utl::TUnitValue<geo::CdRect>& lcs) const
{
    return CBaseScope::Pixel2Lcs(m_layerId, pixel, lcs);
}

bool CStackScope::Lcs2Pixel(utl::TUnitValue<geo::CdVec2> const& lcs, geo::CdVec2& pixel) const
{
    return CBaseScope::Lcs2Pixel(m_layerId, lcs, pixel);
}

bool CStackScope::Lcs2Pixel(utl::TUnitValue<geo::CdRect> const& lcs, geo::CdRect& pixel) const
{
    return CBaseScope::Lcs2Pixel(m_layerId, lcs, pixel);
}

bool CStackScope::GetDimensionName(int dim, CString& name) const
{
    return CBaseScope::GetDimensionName(m_layerId, dim, name);
}

bool CStackScope::GetDimensionType(int dim, EPhysDim& type) const
{
    return CBaseScope::GetDimensionType(m_layerId, dim, type);
}

bool CStackScope::SetDimensionType(int dim, EPhysDim type)
{
    return CBaseScope::SetDimensionType(m_layerId, dim, type, 0);
}

bool CStackScope::GetDimensionStepping(int dim, utl::TUnitValue<double>& first, utl::TUnitValue<double>& second) const
{
    return CBaseScope::GetDimensionStepping(m_layerId, dim, first, second);
}

bool CStackScope::SetDimensionStepping(int dim, utl::TUnitValue<double> const& first,
                                       utl::TUnitValue<double> const& second)
{
    return CBaseScope::SetDimensionStepping(m_layerId, dim, first, second);
}

bool CStackScope::GetDimensionChannelValue(int dim, int channel, utl::TUnitValue<double>& value) const
{
    return CBaseScope::GetDimensionChannelValue(m_layerId, dim, channel, value);
}

bool CStackScope::SetDimensionChannelValue(int dim, int channel, utl::TUnitValue<double> const& value)
{
    return CBaseScope::SetDimensionChannelValue(m_layerId, dim, channel, value);
}

bool CStackScope::GetDimensionFrameRate(int dim, utl::TUnitValue<double>& rate, bool variant) const
{
    return CBaseScope::GetDimensionFrameRate(m_layerId, dim, rate, variant);
}

bool CStackScope::SetDimensionFrameRate(int dim, utl::TUnitValue<double> const& rate, bool variant)
{
    return CBaseScope::SetDimensionFrameRate(m_layerId, dim, rate, variant);
}

bool CStackScope::GetIntensityCalibration(CIntensityCalibration& calibration) const
{
    return CBaseScope::GetIntensityCalibration(m_layerId, calibration);
}

bool CStackScope::SetIntensityCalibration(CIntensityCalibration const& calibration)
{
    return CBaseScope::SetIntensityCalibration(m_layerId, calibration);
}

bool CStackScope::DelIntensityCalibration() { return CBaseScope::DelIntensityCalibration(m_layerId); }
bool CStackScope::HasIntensityCalibration() const { return CBaseScope::HasIntensityCalibration(m_layerId); }
bool CStackScope::GetIntensityUnit(utl::CUnit& unit) const { return CBaseScope::GetIntensityUnit(m_layerId, unit); }

bool CStackScope::GetIntensityValue(geo::CiVec2 const& point, double& value) const
{
    return CBaseScope::GetIntensityValue(m_layerId, point, value);
}

bool CStackScope::GetIntensityCol(geo::CiVec2 const& start, double* first, double* last) const
{
    return CBaseScope::GetIntensityCol(m_layerId, start, first, last);
}

bool CStackScope::GetIntensityRow(geo::CiVec2 const& start, double* first, double* last) const
{
    return CBaseScope::GetIntensityRow(m_layerId, start, first, last);
}

bool CStackScope::SetBoundary(geo::CiRect const& rect) { return CBaseScope::SetBoundary(m_layerId, rect); }

bool CStackScope::AddPixFrame(boost::shared_ptr<CPixFrame> frame, geo::CiVecN const& index)
{
    return CBaseScope::AddPixFrame(m_layerId, frame, index);
}

bool CStackScope::AddPixFrame(boost::shared_ptr<CPixFrame> frame, geo::CiVecN const& index,
                              utl::CPropSet const& props)
{
    return CBaseScope::AddPixFrame(m_layerId, frame, index, props);
}

boost::shared_ptr<CPixFrame> CStackScope::GetPixFrame(geo::CiVecN const& index)
{
    return CBaseScope::GetPixFrame(m_layerId, index);
}

boost::shared_ptr<CPixFrame> CStackScope::GetPixFrame(geo::CiVecN const& index) const
{
    return CBaseScope::GetPixFrame(m_layerId, index);
}

boost::shared_ptr<mem::CDataFrame> CStackScope::GetDataFrame(int n) { return CBaseScope::GetDataFrame(m_layerId, n); }

boost::shared_ptr<mem::CDataFrame> CStackScope::GetDataFrame(int n) const
{
    return CBaseScope::GetDataFrame(m_layerId, n);
}

boost::shared_ptr<mem::CDataFrame> CStackScope::GetDataFrame() { return CBaseScope::GetDataFrame(m_layerId); }
boost::shared_ptr<mem::CDataFrame> CStackScope::GetDataFrame() const { return CBaseScope::GetDataFrame(m_layerId); }

bool CStackScope::SwapDataFrame(int n, boost::shared_ptr<mem::CDataFrame> frame)
{
    return CBaseScope::SwapDataFrame(m_layerId, n, frame);
}

bool CStackScope::SwapDataFrame(boost::shared_ptr<mem::CDataFrame> frame)
{
    return CBaseScope::SwapDataFrame(m_layerId, frame);
}

bool CStackScope::InvalidateRect(geo::CiRect const& rect) { return CBaseScope::InvalidateRect(m_layerId, rect); }

CStackScope* CreateScope(CImg img, int layerId)
{
    try {
        return new CStackScope(img, layerId);
    } catch (CBadScopeException* e) {
        e->Delete();
    } catch (...) {
    }
    return nullptr;
}

CStackScope* InsertScope(CImg img, geo::CiVolumeN const& volume, CPixelInfo const& pixelInfo,
                         mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& props)
{
    return new CStackScope(img, volume, pixelInfo, memoryModel, align, props);
}

}  // namespace img

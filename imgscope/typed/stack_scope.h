// The stack scope: a scope bound to one layer of a document, with the
// single-layer forms of the scope core's operations.
#pragma once

#include "imgscope/contracts/foundation/memory_model.h"
#include "imgscope/scope/base_scope.h"
#include "imgscope/library/export.h"

namespace img {

// One layer: its stack and its entry in the scope's layer tree. Made by the
// factories below (or by a derived scope); the caller owns and deletes it.
// Deleting a scope leaves its layer in the document.
class IMGSCOPE_API CStackScope : public CBaseScope {
public:
    ~CStackScope() override;

    int GetLayerID() const { return m_layerId; }
    // The layer's number of stack dimensions; -1 once the layer is gone.
    int GetOrder() const;
    // A default description or rectangle when the layer is gone.
    CPixelInfo GetPixelInfo() const;
    geo::CiRect GetBoundary() const;

    // Places the layer on the canvas and shows it: an uncalibrated canvas
    // takes the layer's boundary and calibration; a calibrated one keeps its
    // own unless it is in pixels (or none, or arbitrary), and the layer's
    // placement becomes (canvas origin, layer pixel size).
    bool ResetRenderer2D();
    // Returns unused tiles of the layer's data frame to the store.
    void GarbageCollection();
    // Drops one lock (tile flag 2) from every existing tile of the layer's
    // data frame.
    void VirtualUnlock();

    boost::shared_ptr<CMask> CreateTranspMask(unsigned char value);
    boost::shared_ptr<CMask> GetTranspMask();
    boost::shared_ptr<CMask> GetTranspMask() const;
    bool SetDisplayFilter(boost::shared_ptr<CDisplayFilter> filter);

    bool GetLayerName(CString& name) const;
    bool SetLayerName(CString const& name);
    bool GetStackProperties(utl::CPropSet& props) const;
    bool SetStackProperties(utl::CPropSet const& props);
    bool SetStackProperty(int id, mem::CBin const& value);
    bool StackPropertyExists(int id) const;
    bool GetFrameProperties(geo::CiVecN const& index, utl::CPropSet& props) const;
    bool SetFrameProperties(geo::CiVecN const& index, utl::CPropSet const& props);
    bool SetFrameProperty(geo::CiVecN const& index, int id, mem::CBin const& value);
    bool FramePropertyExists(geo::CiVecN const& index, int id) const;
    bool GetDeviceProperties(geo::CiVecN const& index, utl::CPropSet& props) const;
    bool SetDeviceProperties(geo::CiVecN const& index, utl::CPropSet const& props);

    bool ActivateFrame(geo::CiVecN const& index);
    bool GetActiveFrame(geo::CiVecN& index) const;
    bool ActivateDimension(int dim);
    bool GetActiveDimension(int& dim) const;
    bool GetModificationCount(unsigned int& count) const;

    bool DelTranspMask();
    bool GetDataLUT(std::vector<utl::CBGR8>& lut, int channel) const;
    bool SetDataLUT(std::vector<utl::CBGR8> const& lut, int channel);
    bool DelDataLUT(int channel);
    bool HasDataLUT(int channel) const;
    bool GetDisplayLUT(std::vector<utl::CBGR8>& lut, int channel) const;
    bool SetDisplayLUT(std::vector<utl::CBGR8> const& lut, int channel);
    bool DelDisplayLUT(int channel);
    bool HasDisplayLUT(int channel) const;
    bool UseLUT(int value);
    bool SetLimits(utl::TInterval<double> const& limits);
    bool GetLimits(utl::TInterval<double>& limits) const;
    bool DelLimits();  // always false
    bool SetChannelColor(int channel, utl::CBGR8 color);  // always false
    bool GetChannelColor(int channel, utl::CBGR8& color) const;  // always false
    bool DelChannelColor(int channel);
    bool SetChannelName(int channel, CString const& name);
    bool GetChannelName(int channel, CString& name) const;
    bool ResetDisplayFilter();
    bool HasDisplayFilter() const;

    bool GetPixelWidth(utl::TUnitValue<double>& width) const;
    bool GetPixelHeight(utl::TUnitValue<double>& height) const;
    bool GetPixelSize(utl::CUnit& unit, double& width, double& height) const;
    bool SetPixelSize(utl::CUnit const& unit, double width, double height);
    bool GetPixelSize(utl::TUnitValue<geo::CdVec2>& size) const;
    bool SetPixelSize(utl::TUnitValue<geo::CdVec2> const& size);
    bool GetPixelCoords(utl::TUnitValue<geo::CdVec2>& scale, geo::CdVec2& origin) const;
    bool SetPixelCoords(utl::TUnitValue<geo::CdVec2> const& scale, geo::CdVec2 const& origin);
    bool GetPixelCoordsRect(utl::TUnitValue<geo::CdRect>& rect) const;
    bool SetPixelCoordsRect(utl::TUnitValue<geo::CdRect> const& rect);
    bool GetCanvasPlacement(geo::CdVec2& origin, geo::CdVec2& scale) const;
    bool SetCanvasPlacement(geo::CdVec2 const& origin, geo::CdVec2 const& scale);
    bool Pixel2Lcs(geo::CdVec2 const& pixel, utl::TUnitValue<geo::CdVec2>& lcs) const;
    bool Pixel2Lcs(geo::CdRect const& pixel, utl::TUnitValue<geo::CdRect>& lcs) const;
    bool Lcs2Pixel(utl::TUnitValue<geo::CdVec2> const& lcs, geo::CdVec2& pixel) const;
    bool Lcs2Pixel(utl::TUnitValue<geo::CdRect> const& lcs, geo::CdRect& pixel) const;

    bool GetDimensionName(int dim, CString& name) const;
    bool GetDimensionType(int dim, EPhysDim& type) const;
    // Also records the type's default value property (types 1 to 3).
    bool SetDimensionType(int dim, EPhysDim type);
    bool GetDimensionStepping(int dim, utl::TUnitValue<double>& first, utl::TUnitValue<double>& second) const;
    bool SetDimensionStepping(int dim, utl::TUnitValue<double> const& first, utl::TUnitValue<double> const& second);
    bool GetDimensionChannelValue(int dim, int channel, utl::TUnitValue<double>& value) const;
    bool SetDimensionChannelValue(int dim, int channel, utl::TUnitValue<double> const& value);
    bool GetDimensionFrameRate(int dim, utl::TUnitValue<double>& rate, bool variant) const;
    bool SetDimensionFrameRate(int dim, utl::TUnitValue<double> const& rate, bool variant);

    // Intensity calibration is not kept by stack scopes: always false.
    bool GetIntensityCalibration(CIntensityCalibration& calibration) const;
    bool SetIntensityCalibration(CIntensityCalibration const& calibration);
    bool DelIntensityCalibration();
    bool HasIntensityCalibration() const;
    bool GetIntensityUnit(utl::CUnit& unit) const;
    bool GetIntensityValue(geo::CiVec2 const& point, double& value) const;
    bool GetIntensityCol(geo::CiVec2 const& start, double* first, double* last) const;
    bool GetIntensityRow(geo::CiVec2 const& start, double* first, double* last) const;
    bool SetBoundary(geo::CiRect const& rect);  // always false

protected:
    // Opens layer `layerId` (-1: the document's first layer). Throws a new
    // CBadScopeException when there is no such layer.
    CStackScope(CImg img, int layerId);
    // Inserts a new layer "Layer 1" made from `frame`, visible and selected,
    // at the end of the root's list, and places it on the canvas.
    CStackScope(CImg img, boost::shared_ptr<mem::CDataFrame> frame);
    // Creates a data frame of `volume` and `pixelInfo` from the creation set
    // `props` (defaults filled in), inserts it as above and names it after
    // property 2030 of `props`, else "Layer 1". Throws a new
    // CBadScopeException when no data frame can be made.
    CStackScope(CImg img, geo::CiVolumeN const& volume, CPixelInfo const& pixelInfo, mem::EMemoryModel memoryModel,
                mem::EAlign align, utl::CPropSet const& props);

    bool AddPixFrame(boost::shared_ptr<CPixFrame> frame, geo::CiVecN const& index);
    bool AddPixFrame(boost::shared_ptr<CPixFrame> frame, geo::CiVecN const& index, utl::CPropSet const& props);
    boost::shared_ptr<CPixFrame> GetPixFrame(geo::CiVecN const& index);
    boost::shared_ptr<CPixFrame> GetPixFrame(geo::CiVecN const& index) const;
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int n);
    boost::shared_ptr<mem::CDataFrame> GetDataFrame(int n) const;
    boost::shared_ptr<mem::CDataFrame> GetDataFrame();
    boost::shared_ptr<mem::CDataFrame> GetDataFrame() const;
    bool SwapDataFrame(int n, boost::shared_ptr<mem::CDataFrame> frame);
    bool SwapDataFrame(boost::shared_ptr<mem::CDataFrame> frame);
    bool InvalidateRect(geo::CiRect const& rect);

private:
    friend IMGSCOPE_API CStackScope* CreateScope(CImg img, int layerId);
    friend IMGSCOPE_API CStackScope* InsertScope(CImg img, geo::CiVolumeN const& volume, CPixelInfo const& pixelInfo,
                                                 mem::EMemoryModel memoryModel, mem::EAlign align,
                                                 utl::CPropSet const& props);

    int m_layerId = -1;
};

// Opens layer `layerId` (-1: the first); null when there is none.
IMGSCOPE_API CStackScope* CreateScope(CImg img, int layerId);
// Inserts a new layer of `volume`; a CBadScopeException* from the
// constructor reaches the caller, who must Delete() it.
IMGSCOPE_API CStackScope* InsertScope(CImg img, geo::CiVolumeN const& volume, CPixelInfo const& pixelInfo,
                                      mem::EMemoryModel memoryModel, mem::EAlign align, utl::CPropSet const& props);

}  // namespace img

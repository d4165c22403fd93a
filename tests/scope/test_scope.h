// A scope that publishes every protected operation of CBaseScope, so that
// tests can drive the scope core directly over real documents.
#pragma once

#include "imgscope/scope/base_scope.h"

namespace imgscope_test {

class TestScope : public img::CBaseScope {
public:
    explicit TestScope(img::CImg img = img::CImg()) : img::CBaseScope(img) {}

    using B = img::CBaseScope;
    using B::Assign, B::ResetRenderer2D, B::HasLayer, B::FirstLayerID, B::FindPlaneID, B::IsPlaneExisting,
          B::TestOrder, B::GetSelection, B::SetProperty, B::PropertyExists, B::GetProperties, B::SetProperties,
          B::SetGroupProperty, B::GroupPropertyExists, B::SetDeviceProperties, B::GetDeviceProperties, B::FindProperty,
          B::AddPixFrame, B::GetPixFrame, B::SetVecFrame, B::GetVecFrame, B::GetDataFrame, B::SwapDataFrame, B::AddSample,
          B::RemoveSample, B::GetFirstSample, B::GetNextSample, B::ActivateFrame, B::GetActiveFrame, B::ActivateDimension,
          B::GetActiveDimension, B::GetLayerOrder, B::GetModificationCount, B::InvalidateRect, B::GetBoundary,
          B::GetPixelInfo, B::GetLayerName, B::SetLayerName, B::GetGroupName, B::SetGroupVisible, B::IsGroupVisible,
          B::IsGroupSingular, B::IsGroupLocked, B::IsOutsideGroup, B::IsLayerVisible, B::GetLayerFlags, B::IsLayerHidden,
          B::GetGroupOf, B::SetLayerXYFixed, B::IsLayerXYFixed, B::SetSelectedLayer, B::GetSelectedLayer, B::InsertLayer,
          B::InsertLayerMasked, B::CreateGroup, B::DelLayer, B::DelGroup, B::HideLayer, B::UnhideLayer, B::MoveLayer,
          B::AppendToGroup, B::PrependToGroup, B::MoveGroup, B::GetGroups, B::GetGroupMembers, B::AppendGroupLayers,
          B::GetLayers, B::SetLimits, B::GetLimits, B::DelLimits, B::GetFirstChannel, B::GetNextChannel,
          B::SetChannelColor, B::GetChannelColor, B::DelChannelColor, B::SetChannelName, B::GetChannelName, B::GetDataLUT,
          B::SetDataLUT, B::HasDataLUT, B::DelDataLUT, B::GetDisplayLUT, B::SetDisplayLUT, B::HasDisplayLUT,
          B::DelDisplayLUT, B::UseLUT, B::SetChannelVisible, B::IsChannelVisible, B::SetFunction, B::GetFunction,
          B::SetOpacity, B::GetOpacity, B::HasDisplayFilter, B::SetDisplayFilter, B::ResetDisplayFilter,
          B::CreateTranspMask, B::GetTranspMask, B::DelTranspMask, B::GetChannelIDs, B::GetSelectedChannels,
          B::SelectChannel, B::UnselectChannel, B::IsChannelSelected, B::GetFrameSelection, B::ResetFrameSelection,
          B::SelectFrame, B::UnselectFrame, B::SelectFrameRange, B::UnselectFrameRange, B::GetPixelWidth, B::GetPixelSize,
          B::SetPixelSize, B::GetPixelCoords, B::SetPixelCoords, B::GetPixelCoordsRect, B::SetPixelCoordsRect,
          B::GetPixelOrigin, B::SetPixelOrigin, B::GetCanvasPlacement, B::SetCanvasPlacement, B::RenderComplete,
          B::RenderLowerStack, B::RenderHigherStack, B::RenderSingleLayer, B::Pixel2Lcs, B::Lcs2Pixel, B::SetBoundary,
          B::GetDimensionType, B::SetDimensionType, B::GetDimensionName, B::GetDimensionStepping, B::SetDimensionStepping,
          B::GetDimensionFrameRate, B::SetDimensionFrameRate, B::GetDimensionChannelValue, B::SetDimensionChannelValue,
          B::GetIntensityCol, B::GetIntensityRow, B::GetIntensityValue, B::GetIntensityCalibration,
          B::SetIntensityCalibration, B::DelIntensityCalibration, B::HasIntensityCalibration, B::GetIntensityUnit,
          B::ChainLayer, B::UnchainLayer, B::IsChained, B::MoveChainedLayers, B::SetLayerProtection, B::IsLayerProtected,
          B::SetLayerVisible, B::SetGroupName, B::SetGroupSingular, B::LockGroup;

    // The virtual hooks, reachable and countable.
    boost::shared_ptr<img::CPixFrame> CallAppendFrame(geo::CiVecN const& index) { return AppendFrame(index); }
    int rendererChangedCalls = 0;

protected:
    void RendererChanged() override { ++rendererChangedCalls; }
};

}  // namespace imgscope_test

// A scope that publishes every protected operation of CBaseScope, so that
// tests can drive the scope core directly over real documents.
#pragma once

#include "imgscope/scope/base_scope.h"

namespace imgscope_test {

class TestScope : public img::CBaseScope {
public:
    explicit TestScope(img::CImg img = img::CImg()) : img::CBaseScope(img) {}

    using img::CBaseScope::Assign;
    using img::CBaseScope::ResetRenderer2D;
    using img::CBaseScope::HasLayer;
    using img::CBaseScope::FirstLayerID;
    using img::CBaseScope::FindPlaneID;
    using img::CBaseScope::IsPlaneExisting;
    using img::CBaseScope::TestOrder;
    using img::CBaseScope::GetSelection;
    using img::CBaseScope::SetProperty;
    using img::CBaseScope::PropertyExists;
    using img::CBaseScope::GetProperties;
    using img::CBaseScope::SetProperties;
    using img::CBaseScope::SetGroupProperty;
    using img::CBaseScope::GroupPropertyExists;
    using img::CBaseScope::SetDeviceProperties;
    using img::CBaseScope::GetDeviceProperties;
    using img::CBaseScope::FindProperty;
    using img::CBaseScope::AddPixFrame;
    using img::CBaseScope::GetPixFrame;
    using img::CBaseScope::SetVecFrame;
    using img::CBaseScope::GetVecFrame;
    using img::CBaseScope::GetDataFrame;
    using img::CBaseScope::SwapDataFrame;
    using img::CBaseScope::AddSample;
    using img::CBaseScope::RemoveSample;
    using img::CBaseScope::GetFirstSample;
    using img::CBaseScope::GetNextSample;
    using img::CBaseScope::ActivateFrame;
    using img::CBaseScope::GetActiveFrame;
    using img::CBaseScope::ActivateDimension;
    using img::CBaseScope::GetActiveDimension;
    using img::CBaseScope::GetLayerOrder;
    using img::CBaseScope::GetModificationCount;
    using img::CBaseScope::InvalidateRect;
    using img::CBaseScope::GetBoundary;
    using img::CBaseScope::GetPixelInfo;
    using img::CBaseScope::GetLayerName;
    using img::CBaseScope::SetLayerName;
    using img::CBaseScope::GetGroupName;
    using img::CBaseScope::SetGroupVisible;
    using img::CBaseScope::IsGroupVisible;
    using img::CBaseScope::IsGroupSingular;
    using img::CBaseScope::IsGroupLocked;
    using img::CBaseScope::IsOutsideGroup;
    using img::CBaseScope::IsLayerVisible;
    using img::CBaseScope::GetLayerFlags;
    using img::CBaseScope::IsLayerHidden;
    using img::CBaseScope::GetGroupOf;
    using img::CBaseScope::SetLayerXYFixed;
    using img::CBaseScope::IsLayerXYFixed;
    using img::CBaseScope::SetSelectedLayer;
    using img::CBaseScope::GetSelectedLayer;
    using img::CBaseScope::InsertLayer;
    using img::CBaseScope::InsertLayerMasked;
    using img::CBaseScope::CreateGroup;
    using img::CBaseScope::DelLayer;
    using img::CBaseScope::DelGroup;
    using img::CBaseScope::HideLayer;
    using img::CBaseScope::UnhideLayer;
    using img::CBaseScope::MoveLayer;
    using img::CBaseScope::AppendToGroup;
    using img::CBaseScope::PrependToGroup;
    using img::CBaseScope::MoveGroup;
    using img::CBaseScope::GetGroups;
    using img::CBaseScope::GetGroupMembers;
    using img::CBaseScope::AppendGroupLayers;
    using img::CBaseScope::GetLayers;
    using img::CBaseScope::SetLimits;
    using img::CBaseScope::GetLimits;
    using img::CBaseScope::DelLimits;
    using img::CBaseScope::GetFirstChannel;
    using img::CBaseScope::GetNextChannel;
    using img::CBaseScope::SetChannelColor;
    using img::CBaseScope::GetChannelColor;
    using img::CBaseScope::DelChannelColor;
    using img::CBaseScope::SetChannelName;
    using img::CBaseScope::GetChannelName;
    using img::CBaseScope::GetDataLUT;
    using img::CBaseScope::SetDataLUT;
    using img::CBaseScope::HasDataLUT;
    using img::CBaseScope::DelDataLUT;
    using img::CBaseScope::GetDisplayLUT;
    using img::CBaseScope::SetDisplayLUT;
    using img::CBaseScope::HasDisplayLUT;
    using img::CBaseScope::DelDisplayLUT;
    using img::CBaseScope::UseLUT;
    using img::CBaseScope::SetChannelVisible;
    using img::CBaseScope::IsChannelVisible;
    using img::CBaseScope::SetFunction;
    using img::CBaseScope::GetFunction;
    using img::CBaseScope::SetOpacity;
    using img::CBaseScope::GetOpacity;
    using img::CBaseScope::HasDisplayFilter;
    using img::CBaseScope::SetDisplayFilter;
    using img::CBaseScope::ResetDisplayFilter;
    using img::CBaseScope::CreateTranspMask;
    using img::CBaseScope::GetTranspMask;
    using img::CBaseScope::DelTranspMask;
    using img::CBaseScope::GetChannelIDs;
    using img::CBaseScope::GetSelectedChannels;
    using img::CBaseScope::SelectChannel;
    using img::CBaseScope::UnselectChannel;
    using img::CBaseScope::IsChannelSelected;
    using img::CBaseScope::GetFrameSelection;
    using img::CBaseScope::ResetFrameSelection;
    using img::CBaseScope::SelectFrame;
    using img::CBaseScope::UnselectFrame;
    using img::CBaseScope::SelectFrameRange;
    using img::CBaseScope::UnselectFrameRange;
    using img::CBaseScope::GetPixelWidth;
    using img::CBaseScope::GetPixelSize;
    using img::CBaseScope::SetPixelSize;
    using img::CBaseScope::GetPixelCoords;
    using img::CBaseScope::SetPixelCoords;
    using img::CBaseScope::GetPixelCoordsRect;
    using img::CBaseScope::SetPixelCoordsRect;
    using img::CBaseScope::GetPixelOrigin;
    using img::CBaseScope::SetPixelOrigin;
    using img::CBaseScope::GetCanvasPlacement;
    using img::CBaseScope::SetCanvasPlacement;
    using img::CBaseScope::RenderComplete;
    using img::CBaseScope::RenderLowerStack;
    using img::CBaseScope::RenderHigherStack;
    using img::CBaseScope::RenderSingleLayer;
    using img::CBaseScope::Pixel2Lcs;
    using img::CBaseScope::Lcs2Pixel;
    using img::CBaseScope::SetBoundary;
    using img::CBaseScope::GetDimensionType;
    using img::CBaseScope::SetDimensionType;
    using img::CBaseScope::GetDimensionName;
    using img::CBaseScope::GetDimensionStepping;
    using img::CBaseScope::SetDimensionStepping;
    using img::CBaseScope::GetDimensionFrameRate;
    using img::CBaseScope::SetDimensionFrameRate;
    using img::CBaseScope::GetDimensionChannelValue;
    using img::CBaseScope::SetDimensionChannelValue;
    using img::CBaseScope::GetIntensityCol;
    using img::CBaseScope::GetIntensityRow;
    using img::CBaseScope::GetIntensityValue;
    using img::CBaseScope::GetIntensityCalibration;
    using img::CBaseScope::SetIntensityCalibration;
    using img::CBaseScope::DelIntensityCalibration;
    using img::CBaseScope::HasIntensityCalibration;
    using img::CBaseScope::GetIntensityUnit;
    using img::CBaseScope::ChainLayer;
    using img::CBaseScope::UnchainLayer;
    using img::CBaseScope::IsChained;
    using img::CBaseScope::MoveChainedLayers;
    using img::CBaseScope::SetLayerProtection;
    using img::CBaseScope::IsLayerProtected;
    using img::CBaseScope::SetLayerVisible;
    using img::CBaseScope::SetGroupName;
    using img::CBaseScope::SetGroupSingular;
    using img::CBaseScope::LockGroup;

    // The virtual hooks, reachable and countable.
    boost::shared_ptr<img::CPixFrame> CallAppendFrame(geo::CiVecN const& index) { return AppendFrame(index); }
    int rendererChangedCalls = 0;

protected:
    void RendererChanged() override { ++rendererChangedCalls; }
};

}  // namespace imgscope_test

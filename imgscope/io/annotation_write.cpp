// Writing a document's state as our annotation: walks the document the way
// annotation_read.cpp rebuilds it.
#include "imgscope/io/annotation_internal.h"

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/io/pixel_write_internal.h"
#include "imgscope/io/value_text_internal.h"

#include <typeinfo>

namespace img {
namespace io {

namespace {

std::string Vec(geo::CiVecN const& v) { return FormatInts(v.Values()); }

std::string Doubles(std::initializer_list<double> values)
{
    std::string out;
    for (double v : values) {
        if (!out.empty())
            out += ' ';
        out += FormatDouble(v);
    }
    return out;
}

std::string Lut(std::vector<utl::CBGR8> const& lut) { return Base64Encode(lut.data(), lut.size() * sizeof(utl::CBGR8)); }

void WriteProps(CXmlWriter& w, char const* element, utl::CPropSet const& props)
{
    if (props.empty())
        return;
    w.Open(element);
    WritePropSet(w, props);
    w.Close();
}

void WriteDataFrame(CXmlWriter& w, mem::CDataFrame const& frame, tFramePlan const& plan)
{
    CPixelInfo const& info = frame.GetElementInfo();
    const geo::CiVolumeN box = frame.GetBoundary();
    w.Open("DataFrame");
    w.Attr("Type", info.GetElementType());
    w.Attr("Components", info.GetComponentCount());
    w.Attr("Alpha", info.GetAlphaCount());
    w.Attr("ColorSpace", info.GetColorSpace());
    w.Attr("Boundary", Vec(box.Position()) + "/" + Vec(box.Size()));
    w.Attr("Fill", Base64Encode(frame.GetFillValue(), std::size_t(info.Size())));
    auto it = plan.ifdOf.find(&frame);
    if (it != plan.ifdOf.end())
        w.Attr("IFD", it->second);
    WritePropSet(w, frame.GetCreationProperties());
    // Tiles of the store that the file's tiles do not match: which of them
    // were written, so that the others stay unwritten when read back.
    if (it != plan.ifdOf.end() && frame.GetTileDistributor() && TiffTileSize(frame) != frame.GetTileSize()) {
        const boost::shared_ptr<mem::CDataFrame> shared(const_cast<mem::CDataFrame*>(&frame), [](mem::CDataFrame*) {});
        for (geo::CiVecN const& key : PlaneKeys(frame)) {
            std::vector<int> positions;
            CTileDistributor walk(shared, key);
            for (auto t = walk.begin(), end = walk.end(); t != end; ++t) {
                positions.push_back(t->x);
                positions.push_back(t->y);
            }
            if (positions.empty())
                continue;
            w.Open("Tiles");
            w.Attr("Plane", Vec(key));
            w.Text(FormatInts(positions));
            w.Close();
        }
    }
    w.Close();
}

void WriteStack(CXmlWriter& w, CStack const& stack, tFramePlan const& plan)
{
    w.Open("Stack");
    w.Attr("Id", stack.GetId());
    w.Attr("Kind", stack.GetLayerType());
    WriteTextAttr(w, "Name", stack.GetName());
    w.Attr("XYFixed", stack.GetXYFixed() ? 1 : 0);
    w.Attr("ChannelDim", stack.GetChannelDim());
    const bool raster = stack.GetLayerType() == eLayerTypeImage;
    if (raster) {
        // Plane dimensions of extent 1 count as stack dimensions only when
        // the stack was made so; the dimension count tells.
        const auto frame = stack.GetDataFrame(0);
        const geo::CiVolumeN planes = frame->GetPlaneAssortment().GetBoundary();
        int nonUnit = 0;
        for (int s : planes.Size())
            nonUnit += s != 1 ? 1 : 0;
        w.Attr("KeepUnitDims", stack.DimCount(0) != nonUnit ? 1 : 0);
        WriteDataFrame(w, *frame, plan);
        for (int s : stack.GetSampleIDs()) {
            ESampleFlag flag = eSampleNone;
            stack.GetSampleFlag(s, flag);
            w.Open("Sample");
            w.Attr("Id", s);
            w.Attr("Flag", flag);
            WriteDataFrame(w, *stack.GetDataFrame(s), plan);
            w.Close();
        }
        for (utl::CIndexN const& index : stack.GetLooseFrameIndices()) {
            const auto pix = stack.GetPixFrame(index);
            w.Open("Loose");
            w.Attr("Index", Vec(index));
            w.Attr("Plane", Vec(pix->GetPlane()));
            WriteDataFrame(w, *pix->GetDataFrame(), plan);
            w.Close();
        }
    } else if (auto graphic = stack.GetVecGraph(utl::CIndexN())) {
        for (auto const& shape : graphic->Shapes()) {
            w.Open("Shape");
            w.Attr("Kind", shape.kind);
            w.Attr("Bounds", Doubles({shape.bounds.left, shape.bounds.top, shape.bounds.right, shape.bounds.bottom}));
            w.Attr("Colour", FormatInts({shape.blue, shape.green, shape.red}));
            w.Close();
        }
    }
    WriteProps(w, "Properties", stack.GetPropset());
    for (utl::CIndexN const& index : stack.GetFramePropertyIndices()) {
        utl::CPropSet props;
        stack.GetProperties(index, props);
        w.Open("FrameProperties");
        w.Attr("Index", Vec(index));
        WritePropSet(w, props);
        w.Close();
    }
    for (auto const& key : stack.GetDimPropertyKeys()) {
        utl::CPropSet props;
        stack.GetDimProperties(key.first, key.second, props);
        w.Open("DimProperties");
        w.Attr("Dim", key.first);
        w.Attr("Channel", key.second);
        WritePropSet(w, props);
        w.Close();
    }
    for (int id : stack.GetBlobIDs()) {
        mem::CBin value;
        stack.GetBlob(value, id);
        if (!IsSavable(value))
            continue;
        w.Open("Blob");
        w.Attr("Id", id);
        WriteValue(w, value);
        w.Close();
    }
    for (int dim : stack.GetCalibratedDims()) {
        double origin = 0.0, scale = 0.0;
        utl::CUnit unit;
        stack.GetDimOriginScale(EPhysDim(dim), origin, scale, unit);
        w.Open("Calibration");
        w.Attr("Dim", dim);
        w.Attr("Origin", FormatDouble(origin));
        w.Attr("Scale", FormatDouble(scale));
        w.Attr("Unit", FormatUnit(unit));
        w.Close();
    }
    if (!raster) {
        w.Close();
        return;
    }
    // Channel settings: the stack-wide value, then each channel that
    // differs from it.
    utl::TInterval<double> all;
    stack.GetDispLimits(all, -1);
    w.Open("Limits");
    w.Attr("Channel", -1);
    w.Attr("Value", Doubles({all.lower, all.upper}));
    w.Close();
    std::vector<utl::CBGR8> common;
    const bool hasCommon = stack.GetLUT(common, -1);
    if (hasCommon) {
        w.Open("Lut");
        w.Attr("Channel", -1);
        w.Attr("Value", Lut(common));
        w.Close();
    }
    for (int c = stack.FirstChannel(); c != -1; c = stack.NextChannel(c)) {
        utl::TInterval<double> limits;
        if (stack.GetDispLimits(limits, c) && limits != all) {
            w.Open("Limits");
            w.Attr("Channel", c);
            w.Attr("Value", Doubles({limits.lower, limits.upper}));
            w.Close();
        }
        std::vector<utl::CBGR8> lut;
        const bool has = stack.GetLUT(lut, c);
        if (has ? (!hasCommon || lut != common) : hasCommon) {
            w.Open("Lut");
            w.Attr("Channel", c);
            if (has)
                w.Attr("Value", Lut(lut));
            else
                w.Attr("None", 1);
            w.Close();
        }
        CString name;
        if (stack.GetChannelName(name, c)) {
            w.Open("ChannelName");
            w.Attr("Channel", c);
            WriteTextAttr(w, "Name", name);
            w.Close();
        }
    }
    w.Close();
}

void WriteEntryCommon(CXmlWriter& w, CDisplProcessFlow const& flow, int plane)
{
    w.Attr("Visible", flow.IsVisible(plane) ? 1 : 0);
    w.Attr("Hidden", flow.IsHidden(plane) ? 1 : 0);
}

void WriteLayerEntry(CXmlWriter& w, CDisplProcessFlow const& flow, int plane, tFramePlan const& plan)
{
    w.Open("Layer");
    w.Attr("Stack", flow.GetStackId(plane));
    WriteEntryCommon(w, flow, plane);
    int useLut = 1;
    flow.GetUseLUT(plane, useLut);
    w.Attr("UseLut", useLut);
    w.Attr("ActiveDim", flow.GetActiveStackDim(plane));
    const CStack stack = flow.GetStack(plane);
    const utl::CIndexN active = flow.GetActiveFrameIndex(plane);
    if (stack.IsValid() && active != stack.FrameIndexBegin(0))
        w.Attr("ActiveFrame", Vec(active));
    std::vector<int> selected;
    for (int c : flow.GetSelectedChannels(plane))
        selected.push_back(c);
    w.Attr("SelectedChannels", FormatInts(selected));
    geo::CdVec2 origin, scale;
    if (flow.GetLayerCanvasPlacement(plane, origin, scale))
        w.Attr("Placement", Doubles({origin.x, origin.y, scale.x, scale.y}));
    w.Attr("MaskActive", flow.IsTransparencyMaskActive(plane) ? 1 : 0);
    utl::CPropSet props;
    if (flow.GetProperties(plane, -1, props))
        WriteProps(w, "Properties", props);
    for (int c : flow.GetChannelList(plane, false)) {
        w.Open("Channel");
        w.Attr("C", c);
        w.Attr("Visible", flow.IsVisible(plane, c) ? 1 : 0);
        ELayerFunction function = eFunctionNormal;
        flow.GetFunction(plane, c, function);
        w.Attr("Function", function);
        std::vector<utl::CBGR8> lut;
        if (flow.GetLUT(plane, c, lut))
            w.Attr("Lut", Lut(lut));
        utl::CPropSet channelProps;
        if (flow.GetProperties(plane, c, channelProps))
            WritePropSet(w, channelProps);
        w.Close();
    }
    std::set<geo::CiVecN, geo::tiVecNLess> frames;
    flow.GetFrameSelection(plane, frames);
    for (geo::CiVecN const& f : frames) {
        w.Open("SelectedFrame");
        w.Attr("Index", Vec(f));
        w.Close();
    }
    boost::shared_ptr<CDisplayFilter> filter;
    CDisplayFilter const* shown = flow.GetDisplayFilter(plane, filter) ? filter.get() : nullptr;
    // Only the table of the library's own filter is data; a class derived
    // by an application is code and cannot be saved.
    if (shown && typeid(*shown) == typeid(CDisplayFilter)) {
        w.Open("Filter");
        w.Attr("Table", Base64Encode(filter->table, sizeof(filter->table)));
        w.Close();
    }
    if (auto mask = flow.GetTransparencyMask(plane)) {
        const geo::CiRect b = mask->GetBoundary();
        w.Open("Mask");
        w.Attr("Extent", FormatInts({b.left, b.top, b.right, b.bottom}));
        w.Attr("Initial", mask->GetInitialValue());
        WriteDataFrame(w, *mask->GetPixFrame()->GetDataFrame(), plan);
        w.Close();
    }
    w.Close();
}

void WriteUnits(CXmlWriter& w, CDisplProcessFlow const& flow, int parent, tFramePlan const& plan)
{
    for (int i = 0, n = flow.GetOpUnitCount(parent); i < n; ++i) {
        const int plane = flow.GetOpUnit(parent, i);
        if (!flow.IsGroup(plane)) {
            WriteLayerEntry(w, flow, plane, plan);
            continue;
        }
        w.Open("Group");
        WriteEntryCommon(w, flow, plane);
        CString name;
        flow.GetGroupName(plane, name);
        WriteTextAttr(w, "Name", name);
        bool locked = false, singular = false;
        flow.IsGroupLocked(plane, locked);
        flow.IsGroupSingular(plane, singular);
        w.Attr("Locked", locked ? 1 : 0);
        w.Attr("Singular", singular ? 1 : 0);
        utl::CPropSet props;
        if (flow.GetProperties(plane, -1, props))
            WriteProps(w, "Properties", props);
        WriteUnits(w, flow, plane, plan);
        w.Close();
    }
}

void WriteCanvas(CXmlWriter& w, CDisplProcessFlow const& flow)
{
    w.Open("Canvas");
    const geo::CiRect r = flow.GetImagePlaneRect();
    w.Attr("Rect", FormatInts({r.left, r.top, r.right, r.bottom}));
    geo::CdVec2 origin, scale;
    utl::CUnit2 units;
    if (flow.GetImagePlaneCalibration(origin, scale, units)) {
        w.Attr("Calibration", Doubles({origin.x, origin.y, scale.x, scale.y}));
        w.Attr("UnitX", FormatUnit(units.x));
        w.Attr("UnitY", FormatUnit(units.y));
    }
    geo::CdRect rect;
    if (flow.GetCanvasRectangle(rect))
        w.Attr("Rectangle", Doubles({rect.left, rect.top, rect.right, rect.bottom}));
    CCanvasColor background, border;
    flow.GetCanvasColors(background, border);
    w.Attr("Background", FormatInts({background[0], background[1], background[2]}));
    w.Attr("Border", FormatInts({border[0], border[1], border[2]}));
    w.Close();
}

}  // namespace

void WriteAnnotation(CXmlWriter& w, CImg const& document, tFramePlan const& plan)
{
    w.Open("Document");
    w.Attr("xmlns", kAnnotationNamespace);
    w.Attr("Version", 1);
    w.Attr("HighestId", document.GetHighestStackId());
    utl::CPropSet props;
    document.GetProperties(props);
    WriteProps(w, "Properties", props);
    for (auto const& set : GetDynPropStorage(document)) {
        w.Open("DynamicProperties");
        WritePropSet(w, *set);
        w.Close();
    }
    for (int id = document.FirstStackId(); id != -1; id = document.NextStackId(id))
        WriteStack(w, document.FindStack(id), plan);
    const CDisplProcessFlow flow(document, false);
    w.Open("Tree");
    WriteUnits(w, flow, flow.RootId(), plan);
    w.Close();
    for (ELayerType type : {eLayerTypeImage, eLayerTypeVector}) {
        const int stack = flow.GetActiveStackID(type);
        if (stack == -1)
            continue;
        w.Open("Selected");
        w.Attr("Type", type);
        w.Attr("Stack", stack);
        w.Close();
    }
    WriteCanvas(w, flow);
    w.Close();
}

}  // namespace io
}  // namespace img

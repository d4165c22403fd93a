// Rebuilding a document from our annotation, in the order the document
// model needs: stacks and their channel dimension before anything that
// depends on the channels, the tree after the stacks, the canvas last.
#include "imgscope/io/annotation_internal.h"

#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/mask.h"
#include "imgscope/contracts/document/pix_frame.h"
#include "imgscope/io/pixel_write_internal.h"
#include "imgscope/io/value_text_internal.h"

#include <boost/make_shared.hpp>

#include <cstring>

namespace img {
namespace io {

namespace {

// A broken annotation: the whole open fails as a corrupt file.
struct tCorrupt {};

void Check(bool ok)
{
    if (!ok)
        throw tCorrupt();
}

std::string const& Need(tXmlNode const& node, std::string_view name)
{
    std::string const* value = node.Attr(name);
    Check(value != nullptr);
    return *value;
}

int Int(tXmlNode const& node, std::string_view name)
{
    int v = 0;
    Check(ParseInt32(Need(node, name), v));
    return v;
}

int IntOr(tXmlNode const& node, std::string_view name, int fallback)
{
    return node.Attr(name) ? Int(node, name) : fallback;
}

bool Flag(tXmlNode const& node, std::string_view name) { return Int(node, name) != 0; }

std::vector<int> Ints(tXmlNode const& node, std::string_view name, std::size_t count = std::size_t(-1))
{
    std::vector<int> v;
    Check(ParseInts(Need(node, name), v));
    Check(count == std::size_t(-1) || v.size() == count);
    return v;
}

std::vector<double> Doubles(tXmlNode const& node, std::string_view name, std::size_t count)
{
    std::vector<double> v;
    Check(ParseDoubles(Need(node, name), v) && v.size() == count);
    return v;
}

utl::CUnit Unit(tXmlNode const& node, std::string_view name)
{
    utl::CUnit unit;
    Check(ParseUnit(Need(node, name), unit));
    return unit;
}

std::vector<utl::CBGR8> Lut(std::string const& text)
{
    std::vector<std::uint8_t> bytes;
    Check(Base64Decode(text, bytes) && !bytes.empty() && bytes.size() % 3 == 0);
    std::vector<utl::CBGR8> lut(bytes.size() / 3);
    std::memcpy(lut.data(), bytes.data(), bytes.size());
    return lut;
}

CString Text(tXmlNode const& node, std::string_view name)
{
    CString text;
    Check(ReadTextAttr(node, name, text));
    return text;
}

utl::CPropSet Props(tXmlNode const* node)
{
    utl::CPropSet props;
    if (node)
        Check(ReadPropSet(*node, props));
    return props;
}

// Hands every property of the set under `node` to `set(id, value)`,
// which must accept each.
template <class F>
void ApplyProps(tXmlNode const* node, F&& set)
{
    const utl::CPropSet props = Props(node);
    for (int id : props.GetPropertyList())
        Check(set(id, *props.AccessProperty(id)));
}

// Makes an empty data frame as described and notes where its pixels are.
boost::shared_ptr<mem::CDataFrame> MakeFrame(tXmlNode const& node, std::vector<tPendingPixels>& pixels)
{
    const CPixelInfo base(Int(node, "Type"), Int(node, "Components") - Int(node, "Alpha"), Int(node, "ColorSpace"));
    const CPixelInfo info = base.AddAlpha(Int(node, "Alpha"));
    Check(info.IsValid() && info.GetComponentCount() == Int(node, "Components"));
    std::string const& boundary = Need(node, "Boundary");
    const std::size_t slash = boundary.find('/');
    std::vector<int> pos, size;
    Check(slash != std::string::npos && ParseInts(std::string_view(boundary).substr(0, slash), pos) &&
          ParseInts(std::string_view(boundary).substr(slash + 1), size) && pos.size() == size.size() &&
          pos.size() >= 2);
    for (int s : size)
        Check(s >= 0);
    std::vector<std::uint8_t> fill;
    Check(Base64Decode(Need(node, "Fill"), fill) && fill.size() == std::size_t(info.Size()));
    utl::CPropSet creation = Props(&node);
    creation.SetValue(mem::ePropFillValue, static_cast<void*>(fill.data()));
    auto frame = mem::CDataFrame::Create(
        geo::CiVolumeN::FromPositionSize(geo::CiVecN(std::move(pos)), geo::CiVecN(std::move(size))), info, creation);
    Check(frame != nullptr);
    if (node.Attr("IFD")) {
        tPendingPixels pending;
        pending.frame = frame;
        pending.firstIfd = Int(node, "IFD");
        pending.listed = frame->GetTileDistributor() && TiffTileSize(*frame) != frame->GetTileSize();
        for (tXmlNode const& t : node.children) {
            if (t.LocalName() != "Tiles")
                continue;
            std::vector<int> xy;
            Check(ParseInts(t.text, xy) && xy.size() % 2 == 0);
            tTileSet& set = pending.tiles[geo::CiVecN(Ints(t, "Plane"))];
            for (std::size_t i = 0; i < xy.size(); i += 2)
                set.emplace(xy[i], xy[i + 1]);
        }
        pixels.push_back(std::move(pending));
    }
    return frame;
}

void ReadCalibrationAndProperties(tXmlNode const& s, CStack& stack)
{
    for (tXmlNode const& c : s.children) {
        const std::string_view name = c.LocalName();
        if (name == "Properties") {
            ApplyProps(&c, [&](int id, mem::CBin const& v) { return stack.SetProperty(id, v); });
        } else if (name == "FrameProperties") {
            const utl::CIndexN index(geo::CiVecN(Ints(c, "Index")));
            ApplyProps(&c, [&](int id, mem::CBin const& v) { return stack.SetProperty(index, id, v); });
        } else if (name == "DimProperties") {
            const int dim = Int(c, "Dim"), channel = Int(c, "Channel");
            ApplyProps(&c, [&](int id, mem::CBin const& v) { return stack.SetDimProperty(dim, channel, id, v); });
        } else if (name == "Blob") {
            mem::CBin value;
            Check(ReadValue(c, value) && stack.SetBlob(value, Int(c, "Id")));
        } else if (name == "Calibration") {
            const int dim = Int(c, "Dim");
            double origin = 0.0, scale = 0.0;
            Check(ParseDouble(Need(c, "Origin"), origin) && ParseDouble(Need(c, "Scale"), scale));
            Check(stack.SetDimOriginScale(EPhysDim(dim), origin, scale, Unit(c, "Unit")));
        }
    }
}

void ReadChannels(tXmlNode const& s, CStack& stack)
{
    // Stack-wide values first: setting them clears the per-channel ones.
    // Channels that opt out of the common LUT before channels with LUTs of
    // their own, as removing the last user of the common LUT drops it.
    for (int pass = 0; pass < 3; ++pass) {
        for (tXmlNode const& c : s.children) {
            const std::string_view name = c.LocalName();
            if (name != "Limits" && name != "Lut" && name != "ChannelName")
                continue;
            const int channel = Int(c, "Channel");
            if (name == "Limits" && pass == (channel == -1 ? 0 : 2)) {
                const auto v = Doubles(c, "Value", 2);
                Check(stack.SetDispLimits(utl::TInterval<double>(v[0], v[1]), channel));
            } else if (name == "Lut" && pass == (channel == -1 ? 0 : c.Attr("None") ? 1 : 2)) {
                if (c.Attr("None"))
                    Check(stack.RemoveLUT(channel));
                else
                    Check(stack.SetLUT(Lut(Need(c, "Value")), channel));
            } else if (name == "ChannelName" && pass == 2) {
                Check(stack.SetChannelName(Text(c, "Name"), channel));
            }
        }
    }
}

void ReadStack(tXmlNode const& s, CImg& document, std::vector<tPendingPixels>& pixels)
{
    const int id = Int(s, "Id");
    CStack stack;
    if (Int(s, "Kind") == eLayerTypeVector) {
        auto graphic = boost::make_shared<CVecGraph>();
        for (tXmlNode const& c : s.children) {
            if (c.LocalName() != "Shape")
                continue;
            CVecGraph::tShape shape;
            const int kind = Int(c, "Kind");
            Check(kind >= CVecGraph::eLine && kind <= CVecGraph::eEllipse);
            shape.kind = CVecGraph::EShape(kind);
            const auto b = Doubles(c, "Bounds", 4);
            shape.bounds = geo::CdRect(b[0], b[1], b[2], b[3]);
            const auto colour = Ints(c, "Colour", 3);
            for (int v : colour)
                Check(v >= 0 && v <= 255);
            shape.blue = static_cast<unsigned char>(colour[0]);
            shape.green = static_cast<unsigned char>(colour[1]);
            shape.red = static_cast<unsigned char>(colour[2]);
            graphic->Add(shape);
        }
        stack = CStack(graphic);
    } else {
        tXmlNode const* main = s.Child("DataFrame");
        Check(main != nullptr);
        stack = CStack(MakeFrame(*main, pixels), Flag(s, "KeepUnitDims"));
    }
    Check(stack.IsValid() && document.Add(id, stack) == id);
    stack.SetName(Text(s, "Name"));
    stack.SetXYFixed(Flag(s, "XYFixed"));
    const int channelDim = Int(s, "ChannelDim");
    stack.SetChannelDim(channelDim);
    Check(stack.GetChannelDim() == channelDim);

    // Samples keep their numbers: gaps left by removed samples are made
    // with stand-ins that go again once the real ones are in.
    std::vector<int> standIns;
    for (tXmlNode const& c : s.children) {
        if (c.LocalName() == "Sample") {
            const int sample = Int(c, "Id");
            tXmlNode const* frameNode = c.Child("DataFrame");
            Check(frameNode != nullptr && sample > 0);
            const int flag = Int(c, "Flag");
            Check(flag >= eSampleNone && flag <= eSamplePreview);
            for (;;) {
                const std::vector<int> ids = stack.GetSampleIDs();
                const int next = ids.empty() ? 1 : ids.back() + 1;
                Check(next <= sample);
                if (next == sample)
                    break;
                auto standIn = mem::CDataFrame::Create(geo::CiVolumeN(geo::CiRect(0, 0, 1, 1)),
                                                       CPixelInfo(utl::eUInt8, 1, eColorSpaceGray), utl::CPropSet());
                Check(standIn != nullptr);
                standIns.push_back(stack.AddSample(standIn, eSampleNone));
            }
            Check(stack.AddSample(MakeFrame(*frameNode, pixels), ESampleFlag(flag)) == sample);
        } else if (c.LocalName() == "Loose") {
            tXmlNode const* frameNode = c.Child("DataFrame");
            Check(frameNode != nullptr);
            auto pix = CPixFrame::Create(MakeFrame(*frameNode, pixels), geo::CiVecN(Ints(c, "Plane")));
            Check(pix && stack.SetFrame(utl::CIndexN(geo::CiVecN(Ints(c, "Index"))), pix));
        }
    }
    for (int standIn : standIns)
        stack.RemoveSample(standIn);
    ReadCalibrationAndProperties(s, stack);
    if (stack.GetLayerType() == eLayerTypeImage)
        ReadChannels(s, stack);
}

void ReadEntryCommon(tXmlNode const& e, CDisplProcessFlow& flow, int plane)
{
    Check(flow.SetVisibility(plane, Flag(e, "Visible")) && flow.SetHidden(plane, Flag(e, "Hidden")));
    ApplyProps(e.Child("Properties"), [&](int id, mem::CBin const& v) { return flow.SetProperty(plane, -1, id, v); });
}

void ReadLayerEntry(tXmlNode const& e, CDisplProcessFlow& flow, int parent, std::vector<tPendingPixels>& pixels)
{
    const int plane = flow.InsertLayer(parent, -3, Int(e, "Stack"), utl::CIndexN(), -1);
    Check(plane != -1);
    ReadEntryCommon(e, flow, plane);
    Check(flow.UseLUT(plane, Int(e, "UseLut")));
    const int activeDim = Int(e, "ActiveDim");
    Check(flow.SetActiveStackDim(plane, activeDim));
    if (e.Attr("ActiveFrame"))
        Check(flow.SetActiveFrameIndex(utl::CIndexN(geo::CiVecN(Ints(e, "ActiveFrame"))), plane));
    std::set<int> selected;
    for (int c : Ints(e, "SelectedChannels"))
        selected.insert(c);
    Check(flow.SetSelectedChannels(plane, selected));
    if (e.Attr("Placement")) {
        const auto p = Doubles(e, "Placement", 4);
        Check(flow.SetLayerCanvasPlacement(plane, geo::CdVec2(p[0], p[1]), geo::CdVec2(p[2], p[3])));
    }
    std::set<geo::CiVecN, geo::tiVecNLess> frames;
    for (tXmlNode const& c : e.children) {
        const std::string_view name = c.LocalName();
        if (name == "Channel") {
            const int channel = Int(c, "C");
            Check(flow.SetVisibility(plane, channel, Flag(c, "Visible")));
            const int function = Int(c, "Function");
            Check(flow.SetFunction(plane, channel, ELayerFunction(function)));
            if (c.Attr("Lut"))
                Check(flow.SetLUT(plane, channel, Lut(*c.Attr("Lut"))));
            ApplyProps(&c, [&](int id, mem::CBin const& v) { return flow.SetProperty(plane, channel, id, v); });
        } else if (name == "SelectedFrame") {
            frames.insert(geo::CiVecN(Ints(c, "Index")));
        } else if (name == "Filter") {
            std::vector<std::uint8_t> table;
            auto filter = boost::make_shared<CDisplayFilter>();
            Check(Base64Decode(Need(c, "Table"), table) && table.size() == sizeof(filter->table));
            std::memcpy(filter->table, table.data(), table.size());
            Check(flow.SetDisplayFilter(plane, filter));
        } else if (name == "Mask") {
            const int initial = Int(c, "Initial");
            Check(initial >= 0 && initial <= 255);
            auto mask = flow.CreateTransparencyMask(plane, static_cast<unsigned char>(initial));
            Check(mask != nullptr);
            // The mask is made over the layer as it is now; its saved pixels
            // go in when it covers the same rectangle as when it was saved.
            const auto extent = Ints(c, "Extent", 4);
            tXmlNode const* frameNode = c.Child("DataFrame");
            const geo::CiRect b = mask->GetBoundary();
            if (frameNode && frameNode->Attr("IFD") && b == geo::CiRect(extent[0], extent[1], extent[2], extent[3])) {
                tPendingPixels pending;
                pending.frame = mask->GetPixFrame()->GetDataFrame();
                pending.firstIfd = Int(*frameNode, "IFD");
                pixels.push_back(std::move(pending));
            }
        }
    }
    if (!frames.empty())
        Check(flow.SetFrameSelection(plane, frames));
    Check(flow.SetTransparencyMaskActive(plane, Flag(e, "MaskActive")));
}

void ReadUnits(tXmlNode const& node, CDisplProcessFlow& flow, int parent, std::vector<tPendingPixels>& pixels)
{
    for (tXmlNode const& c : node.children) {
        if (c.LocalName() == "Layer") {
            ReadLayerEntry(c, flow, parent, pixels);
        } else if (c.LocalName() == "Group") {
            Check(parent == -1);  // groups live only under the root
            const int group = flow.InsertGroup(-1, -3);
            Check(group != -1);
            ReadEntryCommon(c, flow, group);
            Check(flow.SetGroupName(group, Text(c, "Name")) && flow.LockGroup(group, Flag(c, "Locked")) &&
                  flow.SetGroupSingular(group, Flag(c, "Singular")));
            ReadUnits(c, flow, group, pixels);
        }
    }
}

void ReadCanvas(tXmlNode const& c, CDisplProcessFlow& flow)
{
    const auto r = Ints(c, "Rect", 4);
    flow.SetImagePlaneRect(geo::CiRect(r[0], r[1], r[2], r[3]));
    if (c.Attr("Calibration")) {
        const auto v = Doubles(c, "Calibration", 4);
        flow.SetImagePlaneCalibration(geo::CdVec2(v[0], v[1]), geo::CdVec2(v[2], v[3]),
                                      utl::CUnit2(Unit(c, "UnitX"), Unit(c, "UnitY")));
    }
    if (c.Attr("Rectangle")) {
        const auto v = Doubles(c, "Rectangle", 4);
        Check(flow.SetCanvasRectangle(geo::CdRect(v[0], v[1], v[2], v[3])));
    }
    CCanvasColor colours[2];
    const char* names[2] = {"Background", "Border"};
    for (int i = 0; i < 2; ++i) {
        const auto v = Ints(c, names[i], 3);
        for (int k = 0; k < 3; ++k) {
            Check(v[std::size_t(k)] >= 0 && v[std::size_t(k)] <= 255);
            colours[i][k] = static_cast<unsigned char>(v[std::size_t(k)]);
        }
    }
    flow.SetCanvasColors(colours[0], colours[1]);
}

}  // namespace

EFileResult ReadAnnotation(tXmlNode const& root, CImg& document, std::vector<tPendingPixels>& pixels)
{
    try {
        Check(root.LocalName() == "Document" && IntOr(root, "Version", 0) == 1);
        CImg doc;
        std::vector<tPendingPixels> pending;
        std::vector<boost::shared_ptr<utl::CPropSet>> dynamic;
        for (tXmlNode const& c : root.children) {
            const std::string_view name = c.LocalName();
            if (name == "Properties") {
                ApplyProps(&c, [&](int id, mem::CBin const& v) { return doc.SetProperty(id, v); });
            } else if (name == "DynamicProperties") {
                dynamic.push_back(boost::make_shared<utl::CPropSet>(Props(&c)));
            } else if (name == "Stack") {
                ReadStack(c, doc, pending);
            }
        }
        Check(SetDynPropStorage(doc, dynamic));
        // New layers continue after the highest ID the document ever gave
        // out, also after a layer removed before it was saved.
        const int highest = IntOr(root, "HighestId", 0);
        if (highest > doc.GetHighestStackId()) {
            auto standIn = mem::CDataFrame::Create(geo::CiVolumeN(geo::CiRect(0, 0, 1, 1)),
                                                   CPixelInfo(utl::eUInt8, 1, eColorSpaceGray), utl::CPropSet());
            Check(standIn && doc.Add(highest, CStack(standIn)) == highest && doc.Remove(highest));
        }
        CDisplProcessFlow flow(doc, false);
        if (tXmlNode const* tree = root.Child("Tree"))
            ReadUnits(*tree, flow, -1, pending);
        for (tXmlNode const& c : root.children) {
            if (c.LocalName() == "Selected") {
                const int plane = flow.FindLayer(Int(c, "Stack"));
                Check(plane != -1 && flow.SetActiveOpLayer(plane));
            }
        }
        if (tXmlNode const* canvas = root.Child("Canvas"))
            ReadCanvas(*canvas, flow);
        document = doc;
        pixels = std::move(pending);
        return eFileOk;
    } catch (tCorrupt const&) {
        return eFileCorrupt;
    } catch (std::bad_alloc const&) {
        return eFileNoMemory;
    } catch (std::exception const&) {
        return eFileCorrupt;  // a value the document model refused
    }
}

}  // namespace io
}  // namespace img

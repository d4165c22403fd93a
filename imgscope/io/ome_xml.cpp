#include "imgscope/io/ome_xml_internal.h"

#include "imgscope/io/value_text_internal.h"

#include <cmath>
#include <cstring>

namespace img {
namespace io {

namespace {

constexpr char kOmeNamespace[] = "http://www.openmicroscopy.org/Schemas/OME/2016-06";

// Length units OME names, by decimal prefix of the metre.
struct tUnitName {
    int prefix;
    char const* name;
};
constexpr tUnitName kLengthUnits[] = {{3, "km"},  {0, "m"},   {-1, "dm"},  {-2, "cm"},
                                      {-3, "mm"}, {-6, "µm"}, {-9, "nm"}, {-12, "pm"}};
constexpr tUnitName kTimeUnits[] = {{0, "s"}, {-3, "ms"}, {-6, "µs"}, {-9, "ns"}};

// A calibrated step as OME writes it: a positive number and a unit name of
// the quantity; false when the calibration has no such form.
template <std::size_t N>
bool PhysicalStep(CStack const& stack, int dim, int quantity, tUnitName const (&units)[N], double& value,
                  char const*& unitName)
{
    double origin = 0.0, scale = 0.0;
    utl::CUnit unit;
    if (!stack.GetDimOriginScale(EPhysDim(dim), origin, scale, unit) || unit.GetQuantity() != quantity ||
        unit.GetExponent() != 1 || !(scale > 0.0) || !std::isfinite(scale))
        return false;
    for (auto const& u : units) {
        if (u.prefix == unit.GetDecimalPrefix()) {
            value = scale;
            unitName = u.name;
            return true;
        }
    }
    // Another prefix: in micro-units (µm, µs), which OME knows for both.
    value = scale * std::pow(10.0, unit.GetDecimalPrefix() + 6);
    unitName = quantity == utl::eQuantityLength ? "µm" : "µs";
    return std::isfinite(value) && value > 0.0;
}

char const* OmePixelType(utl::EType type)
{
    switch (type) {
    case utl::eInt8: return "int8";
    case utl::eUInt8: return "uint8";
    case utl::eInt16: return "int16";
    case utl::eUInt16: return "uint16";
    case utl::eInt32: return "int32";
    case utl::eUInt32: return "uint32";
    case utl::eFloat: return "float";
    case utl::eDouble: return "double";
    default: return nullptr;
    }
}

// A name as OME's Name attribute may carry it: characters XML cannot hold
// become U+FFFD. The exact name lives in our annotation.
std::string XmlSafeName(CString const& name)
{
    std::string out = name.ToUtf8();
    if (IsXmlText(out))
        return out;
    std::wstring cleaned;
    for (wchar_t c : name.Str()) {
        const auto u = static_cast<std::uint32_t>(c);
        const bool ok = u == 9 || u == 10 || u == 13 || (u >= 0x20 && u < 0xD800) || (u >= 0xE000 && u <= 0xFFFD) ||
                        (u >= 0x10000 && u <= 0x10FFFF);
        cleaned += ok ? c : wchar_t(0xFFFD);
    }
    return CString(cleaned).ToUtf8();
}

void WriteImage(CXmlWriter& w, CStack const& stack, mem::CDataFrame const& frame, int index, int firstIfd)
{
    const tOmeAxes axes = OmeAxesOf(stack, frame);
    CPixelInfo const& info = frame.GetElementInfo();
    const int samples = info.GetComponentCount();
    const geo::CiVolumeN box = frame.GetBoundary();
    const std::string id = std::to_string(index);
    w.Open("Image");
    w.Attr("ID", "Image:" + id);
    w.Attr("Name", XmlSafeName(stack.GetName()));
    w.Open("Pixels");
    w.Attr("ID", "Pixels:" + id);
    w.Attr("DimensionOrder", axes.order);
    w.Attr("Type", OmePixelType(info.GetElementType()));
    w.Attr("SizeX", box.Size()[0]);
    w.Attr("SizeY", box.Size()[1]);
    w.Attr("SizeZ", axes.sizeZ);
    w.Attr("SizeC", std::int64_t(axes.sizeC) * samples);
    w.Attr("SizeT", axes.sizeT);
    w.Attr("BigEndian", "false");
    w.Attr("Interleaved", samples > 1 ? "true" : "false");
    double value = 0.0;
    char const* unit = nullptr;
    if (PhysicalStep(stack, eDimX, utl::eQuantityLength, kLengthUnits, value, unit)) {
        w.Attr("PhysicalSizeX", FormatDouble(value));
        w.Attr("PhysicalSizeXUnit", unit);
    }
    if (PhysicalStep(stack, eDimY, utl::eQuantityLength, kLengthUnits, value, unit)) {
        w.Attr("PhysicalSizeY", FormatDouble(value));
        w.Attr("PhysicalSizeYUnit", unit);
    }
    if (axes.sizeZ > 1 && PhysicalStep(stack, eDimZ, utl::eQuantityLength, kLengthUnits, value, unit)) {
        w.Attr("PhysicalSizeZ", FormatDouble(value));
        w.Attr("PhysicalSizeZUnit", unit);
    }
    if (axes.sizeT > 1 && PhysicalStep(stack, eDimTime, utl::eQuantityTime, kTimeUnits, value, unit)) {
        w.Attr("TimeIncrement", FormatDouble(value));
        w.Attr("TimeIncrementUnit", unit);
    }
    // Channel names: along the channel dimension when the C axis is it,
    // else the names of the pixel's components' first channel.
    int channelPlaneDim = -1;
    for (std::size_t d = 0; d < axes.axisOfDim.size(); ++d)
        if (axes.axisOfDim[d] == 'C')
            channelPlaneDim = channelPlaneDim == -1 ? int(d) : -2;
    const geo::CiVolumeN planes = frame.GetPlaneAssortment().GetBoundary();
    for (int c = 0; c < axes.sizeC; ++c) {
        w.Open("Channel");
        w.Attr("ID", "Channel:" + id + ":" + std::to_string(c));
        w.Attr("SamplesPerPixel", samples);
        CString name;
        const int channel = channelPlaneDim >= 0 ? planes.Position()[std::size_t(channelPlaneDim)] + c : c;
        if ((channelPlaneDim >= 0 || axes.sizeC == 1) && stack.GetChannelName(name, channel))
            w.Attr("Name", XmlSafeName(name));
        w.Close();
    }
    w.Open("TiffData");
    w.Attr("IFD", firstIfd);
    w.Attr("PlaneCount", std::int64_t(axes.sizeZ) * axes.sizeC * axes.sizeT);
    w.Close();
    w.Close();  // Pixels
    w.Close();  // Image
}

int AttrInt(tXmlNode const& node, char const* name, int fallback)
{
    int v = fallback;
    if (std::string const* s = node.Attr(name))
        if (!ParseInt32(*s, v))
            return fallback;
    return v;
}

double Micrometres(tXmlNode const& pixels, char const* size, char const* unitAttr)
{
    double v = 0.0;
    std::string const* s = pixels.Attr(size);
    if (!s || !ParseDouble(*s, v) || !(v > 0.0) || !std::isfinite(v))
        return 0.0;
    std::string const* u = pixels.Attr(unitAttr);
    if (!u || *u == "µm" || *u == "um")
        return v;
    for (auto const& unit : kLengthUnits)
        if (*u == unit.name)
            return v * std::pow(10.0, unit.prefix + 6);
    return 0.0;  // pixels, reference frames or unknown units carry no size
}

}  // namespace

tOmeAxes OmeAxesOf(CStack const& stack, mem::CDataFrame const& frame)
{
    tOmeAxes axes;
    const geo::CiVolumeN planes = frame.GetPlaneAssortment().GetBoundary();
    const int dims = planes.GetDimension();
    axes.axisOfDim.assign(std::size_t(dims), 0);
    // Stack dimension index of each plane dimension, as the stack counts
    // them (dimensions of extent 1 only when it keeps them).
    int nonUnit = 0;
    for (int s : planes.Size())
        nonUnit += s != 1 ? 1 : 0;
    const bool keepUnit = stack.DimCount(0) != nonUnit;
    std::vector<int> wanted(std::size_t(dims), 0);
    std::vector<int> varying;
    for (int d = 0, stackDim = 0; d < dims; ++d) {
        const int size = planes.Size()[std::size_t(d)];
        if (size == 1 && !keepUnit)
            continue;
        mem::CBin type;
        int t = 0;
        if (stack.GetDimProperty(stackDim, kDimTypeProperty, type))
            type.GetPlainOrUnit(t);
        const char axis = stack.GetChannelDim() == stackDim || t == eDimChannel ? 'C'
                          : t == eDimZ                                           ? 'Z'
                          : t == eDimTime                                        ? 'T'
                                                                                 : '?';
        ++stackDim;
        if (size != 1) {
            wanted[std::size_t(d)] = axis;
            varying.push_back(d);
        }
    }
    // Distinct axes for at most three varying dimensions; anything else is
    // laid out along time, in the same plane order.
    std::string used;
    bool distinct = varying.size() <= 3;
    for (int d : varying) {
        const char a = char(wanted[std::size_t(d)]);
        if (a != '?' && used.find(a) != std::string::npos)
            distinct = false;
        if (a != '?')
            used += a;
    }
    if (!distinct) {
        std::int64_t count = 1;
        for (int d : varying) {
            axes.axisOfDim[std::size_t(d)] = 'T';
            count *= planes.Size()[std::size_t(d)];
        }
        axes.sizeT = int(count);
        axes.order = "XYCZT";
        return axes;
    }
    for (int d : varying) {
        char a = char(wanted[std::size_t(d)]);
        if (a == '?') {
            for (char c : std::string("ZTC"))
                if (used.find(c) == std::string::npos) {
                    a = c;
                    break;
                }
            used += a;
        }
        axes.axisOfDim[std::size_t(d)] = a;
        const int size = planes.Size()[std::size_t(d)];
        (a == 'Z' ? axes.sizeZ : a == 'C' ? axes.sizeC : axes.sizeT) = size;
    }
    // Plane order is lexicographic, the last dimension fastest: OME lists
    // the fastest axis first.
    axes.order = "XY";
    for (auto it = varying.rbegin(); it != varying.rend(); ++it)
        axes.order += char(axes.axisOfDim[std::size_t(*it)]);
    for (char c : std::string("CZT"))
        if (axes.order.find(c) == std::string::npos)
            axes.order += c;
    return axes;
}

std::string BuildOmeXml(CImg const& document, tFramePlan const& plan)
{
    CXmlWriter w;
    w.Open("OME");
    w.Attr("xmlns", kOmeNamespace);
    w.Attr("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance");
    w.Attr("xsi:schemaLocation", std::string(kOmeNamespace) + " " + kOmeNamespace + "/ome.xsd");
    w.Attr("Creator", "imgscope");
    int image = 0;
    for (std::size_t i = 0; i < plan.frames.size(); ++i) {
        if (!plan.ome[i])
            continue;
        WriteImage(w, document.FindStack(plan.layerIds[i]), *plan.frames[i].frame, image++, plan.frames[i].firstIfd);
    }
    w.Open("StructuredAnnotations");
    w.Open("XMLAnnotation");
    w.Attr("ID", "Annotation:0");
    w.Attr("Namespace", kAnnotationNamespace);
    w.Open("Value");
    WriteAnnotation(w, document, plan);
    w.Close();
    w.Close();
    w.Close();
    w.Close();  // OME
    return w.Str();
}

tXmlNode const* FindAnnotation(tXmlNode const& ome)
{
    tXmlNode const* annotations = ome.Child("StructuredAnnotations");
    if (!annotations)
        return nullptr;
    for (tXmlNode const& a : annotations->children) {
        std::string const* ns = a.Attr("Namespace");
        if (a.LocalName() != "XMLAnnotation" || !ns || *ns != kAnnotationNamespace)
            continue;
        if (tXmlNode const* value = a.Child("Value"))
            return value->Child("Document");
    }
    return nullptr;
}

bool ReadOmeImages(tXmlNode const& ome, std::vector<tOmeImage>& images)
{
    if (ome.LocalName() != "OME")
        return false;
    std::vector<tOmeImage> result;
    for (tXmlNode const& node : ome.children) {
        if (node.LocalName() != "Image")
            continue;
        tXmlNode const* pixels = node.Child("Pixels");
        if (!pixels)
            continue;
        tOmeImage img;
        if (std::string const* n = node.Attr("Name"))
            img.name = *n;
        img.sizeX = AttrInt(*pixels, "SizeX", 0);
        img.sizeY = AttrInt(*pixels, "SizeY", 0);
        img.sizeZ = AttrInt(*pixels, "SizeZ", 1);
        const int sizeC = AttrInt(*pixels, "SizeC", 1);
        img.sizeT = AttrInt(*pixels, "SizeT", 1);
        if (std::string const* o = pixels->Attr("DimensionOrder"))
            img.order = *o;
        if (img.order.size() != 5 || img.order.substr(0, 2) != "XY" || img.sizeX <= 0 || img.sizeY <= 0 ||
            img.sizeZ <= 0 || sizeC <= 0 || img.sizeT <= 0)
            continue;
        for (tXmlNode const& c : pixels->children) {
            if (c.LocalName() != "Channel")
                continue;
            if (img.channelNames.empty())
                img.samples = std::max(1, AttrInt(c, "SamplesPerPixel", 1));
            std::string const* name = c.Attr("Name");
            img.channelNames.push_back(name ? *name : std::string());
        }
        if (sizeC % img.samples != 0)
            img.samples = 1;
        img.sizeC = sizeC / img.samples;
        img.physicalX = Micrometres(*pixels, "PhysicalSizeX", "PhysicalSizeXUnit");
        img.physicalY = Micrometres(*pixels, "PhysicalSizeY", "PhysicalSizeYUnit");
        img.physicalZ = Micrometres(*pixels, "PhysicalSizeZ", "PhysicalSizeZUnit");
        const std::int64_t planes = std::int64_t(img.sizeZ) * img.sizeC * img.sizeT;
        if (planes > (std::int64_t(1) << 24))
            continue;
        img.ifdOfPlane.assign(std::size_t(planes), -1);
        // Plane index in DimensionOrder from z, c, t.
        auto linear = [&](int z, int c, int t) {
            std::int64_t index = 0, stride = 1;
            for (char a : img.order.substr(2)) {
                const int v = a == 'Z' ? z : a == 'C' ? c : t;
                const int n = a == 'Z' ? img.sizeZ : a == 'C' ? img.sizeC : img.sizeT;
                index += v * stride;
                stride *= n;
            }
            return index;
        };
        bool anyTiffData = false;
        for (tXmlNode const& td : pixels->children) {
            if (td.LocalName() != "TiffData")
                continue;
            anyTiffData = true;
            const int ifd = AttrInt(td, "IFD", 0);
            const int z = AttrInt(td, "FirstZ", 0), c = AttrInt(td, "FirstC", 0), t = AttrInt(td, "FirstT", 0);
            const int count = AttrInt(td, "PlaneCount", td.Attr("IFD") ? 1 : int(planes));
            if (ifd < 0 || count < 0 || z < 0 || c < 0 || t < 0 || z >= img.sizeZ || c >= img.sizeC || t >= img.sizeT)
                continue;
            const std::int64_t start = linear(z, c, t);
            for (std::int64_t k = 0; k < count && start + k < planes; ++k)
                img.ifdOfPlane[std::size_t(start + k)] = int(std::min<std::int64_t>(ifd + k, INT32_MAX));
        }
        if (!anyTiffData)
            for (std::int64_t k = 0; k < planes; ++k)
                img.ifdOfPlane[std::size_t(k)] = int(k);
        result.push_back(std::move(img));
    }
    images = std::move(result);
    return true;
}

}  // namespace io
}  // namespace img

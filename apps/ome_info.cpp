// ome_info FILE...: opens each file as a document and prints its layers:
// ID, name, size, pixel type, planes, written tiles and calibration, then
// the layer tree. A look into a saved scan without writing code.
#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/foundation/data_frame.h"
#include "imgscope/io/ome_tiff.h"

#include <cstdio>
#include <string>

namespace {

char const* TypeName(int type)
{
    static char const* const kNames[] = {"none",   "int8",   "uint8", "int16", "uint16", "int32",
                                         "uint32", "int64", "uint64", "float", "double"};
    return type >= 0 && type <= 10 ? kNames[type] : "?";
}

void PrintTree(img::CDisplProcessFlow const& flow, int parent, int depth)
{
    for (int i = 0; i < flow.GetOpUnitCount(parent); ++i) {
        const int unit = flow.GetOpUnit(parent, i);
        CString name;
        if (flow.IsGroup(unit)) {
            flow.GetGroupName(unit, name);
            std::printf("%*sgroup \"%s\"%s\n", 2 * depth + 2, "", name.ToUtf8().c_str(), flow.IsHidden(unit) ? " hidden" : "");
            PrintTree(flow, unit, depth + 1);
        } else {
            std::printf("%*slayer %d%s%s\n", 2 * depth + 2, "", flow.GetStackId(unit),
                        flow.IsVisible(unit) ? "" : " invisible", flow.IsHidden(unit) ? " hidden" : "");
        }
    }
}

void Print(img::CImg const& doc)
{
    for (int id = doc.FirstStackId(); id != -1; id = doc.NextStackId(id)) {
        const img::CStack stack = doc.FindStack(id);
        std::printf("layer %d \"%s\"", id, stack.GetName().ToUtf8().c_str());
        if (stack.GetLayerType() == img::eLayerTypeVector) {
            std::printf(": vector graphic\n");
            continue;
        }
        const auto frame = stack.GetDataFrame(0);
        const geo::CiVolumeN box = frame->GetBoundary();
        img::CPixelInfo const& info = frame->GetElementInfo();
        std::printf(": %d x %d", box.Size()[0], box.Size()[1]);
        for (int d = 2; d < box.GetDimension(); ++d)
            std::printf(" x %d", box.Size()[std::size_t(d)]);
        std::printf(", %s x %d%s, %lld tiles written", TypeName(info.GetElementType()), info.GetComponentCount(),
                    info.HasAlpha() ? " (alpha)" : "", static_cast<long long>(frame->GetTileCount()));
        double origin = 0.0, scale = 0.0;
        utl::CUnit unit;
        if (stack.GetDimOriginScale(img::eDimX, origin, scale, unit) && unit.GetQuantity() == utl::eQuantityLength)
            std::printf(", %g e%d m per pixel", scale, unit.GetDecimalPrefix());
        std::printf("\n");
    }
    const img::CDisplProcessFlow flow(doc, false);
    std::printf("tree:\n");
    PrintTree(flow, flow.RootId(), 0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: ome_info FILE...\n");
        return 2;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        img::CImg doc;
        const img::EFileResult r = img::OpenDocument(argv[i], doc);
        std::printf("%s: %s\n", argv[i], img::DescribeFileResult(r));
        if (r != img::eFileOk) {
            ++failed;
            continue;
        }
        Print(doc);
    }
    return failed ? 1 : 0;
}

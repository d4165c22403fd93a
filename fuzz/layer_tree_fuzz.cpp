// Random sequences of layer-tree operations (insert, group, move, hide,
// remove, delete the layer, insert-then-remove as an undo) on a document's
// tree, mirrored on a plain model of ordered lists. After every step the tree
// must show the model's order, parents, flags and layer lookups.
#include "imgscope/contracts/document/display_flow.h"
#include "imgscope/contracts/document/image.h"
#include "imgscope/contracts/document/stack.h"
#include "imgscope/contracts/foundation/data_frame.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

void Check(bool ok, char const* what)
{
    if (!ok) {
        std::fprintf(stderr, "layer_tree_fuzz: %s\n", what);
        std::abort();
    }
}

struct tNode {
    bool group = false;
    int layer = -1;
    int parent = 0;
    std::vector<int> children;
    bool hidden = false;
    bool visible = true;
};

class CModel {
public:
    explicit CModel(int root) : m_root(root) { m_nodes[root].group = true; }

    int Root() const { return m_root; }
    bool Has(int plane) const { return m_nodes.count(plane) != 0; }
    tNode const& Node(int plane) const { return m_nodes.at(plane); }
    std::map<int, tNode> const& Nodes() const { return m_nodes; }

    // A parent argument as the tree reads it: -1 names the root.
    int ParentOf(int argument) const { return argument == -1 ? m_root : argument; }
    bool IsContainer(int plane) const { return Has(plane) && m_nodes.at(plane).group; }

    static int Resolve(int position, std::size_t count)
    {
        if (position == -3)
            return static_cast<int>(count);
        if (position == -2)
            return 0;
        return std::clamp(position, 0, static_cast<int>(count));
    }

    void Insert(int plane, int parent, int position, bool group, int layer)
    {
        tNode n;
        n.group = group;
        n.layer = layer;
        n.parent = parent;
        auto& list = m_nodes[parent].children;
        list.insert(list.begin() + Resolve(position, list.size()), plane);
        m_nodes[plane] = n;
    }

    // True when the move is allowed; changes the model then.
    bool Move(int plane, int parentArg, int position)
    {
        if (!Has(plane) || plane == m_root)
            return false;
        const int parent = ParentOf(parentArg);
        if (!IsContainer(parent) || (m_nodes[plane].group && parent != m_root))
            return false;
        auto& from = m_nodes[m_nodes[plane].parent].children;
        auto& to = m_nodes[parent].children;
        int index = Resolve(position, to.size());
        const int current = static_cast<int>(std::find(from.begin(), from.end(), plane) - from.begin());
        if (&from == &to) {
            if (index == current || index == current + 1)
                return true;
            if (index > current)
                --index;
        }
        from.erase(from.begin() + current);
        to.insert(to.begin() + index, plane);
        m_nodes[plane].parent = parent;
        return true;
    }

    bool Remove(int plane)
    {
        if (!Has(plane) || plane == m_root)
            return false;
        auto& siblings = m_nodes[m_nodes[plane].parent].children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), plane));
        for (int child : std::vector<int>(m_nodes[plane].children))
            m_nodes.erase(child);
        m_nodes.erase(plane);
        return true;
    }

    int PlaneOfLayer(int layer) const
    {
        for (auto const& [id, n] : m_nodes)
            if (!n.group && n.layer == layer)
                return id;
        return -1;
    }

    void SetHidden(int plane, bool hidden) { m_nodes[plane].hidden = hidden; }
    void SetVisible(int plane, bool visible) { m_nodes[plane].visible = visible; }

private:
    int m_root;
    std::map<int, tNode> m_nodes;
};

// The whole tree as the flow shows it, compared with the model.
void CheckTree(img::CDisplProcessFlow const& flow, CModel const& model, std::vector<int> const& layers,
               std::vector<int> const& planes)
{
    const int root = model.Root();
    Check(flow.RootId() == root, "root id");
    std::size_t seen = 1;
    for (auto const& [id, node] : model.Nodes()) {
        Check(flow.Exists(id), "entry missing");
        if (id == root)
            continue;
        Check(flow.IsGroup(id) == node.group, "group flag");
        Check(flow.GetStackId(id) == (node.group ? -1 : node.layer), "layer of entry");
        int position = -99;
        Check(flow.GetParentGroup(id, position) == node.parent, "parent");
        auto const& siblings = model.Node(node.parent).children;
        const int index = static_cast<int>(std::find(siblings.begin(), siblings.end(), id) - siblings.begin());
        Check(position == index && flow.GetZOrder(id) == index, "position");
        Check(flow.IsHidden(id) == node.hidden && flow.IsVisible(id) == node.visible, "flags");
        if (node.group)
            Check(node.parent == root, "group below a group");
        ++seen;
    }
    // Walking the lists reaches exactly the model's entries, in its order.
    std::size_t walked = 1;
    for (auto const& [id, node] : model.Nodes()) {
        if (!node.group)
            continue;
        Check(flow.GetOpUnitCount(id) == static_cast<int>(node.children.size()), "child count");
        for (std::size_t i = 0; i < node.children.size(); ++i)
            Check(flow.GetOpUnit(id, static_cast<int>(i)) == node.children[i], "child order");
        Check(flow.GetOpUnit(id, static_cast<int>(node.children.size())) == -1, "past the list");
        walked += node.children.size();
    }
    Check(walked == seen, "entries outside the lists");
    for (int layer : layers)
        Check(flow.FindLayer(layer) == model.PlaneOfLayer(layer), "layer lookup");
    for (int plane : planes)
        Check(flow.Exists(plane) == model.Has(plane), "removed entry still there");
}

std::vector<int> Snapshot(img::CDisplProcessFlow const& flow, int root)
{
    std::vector<int> out;
    for (int i = 0; i < flow.GetOpUnitCount(root); ++i) {
        const int unit = flow.GetOpUnit(root, i);
        out.push_back(unit);
        if (flow.IsGroup(unit)) {
            out.push_back(-10);
            for (int j = 0; j < flow.GetOpUnitCount(unit); ++j)
                out.push_back(flow.GetOpUnit(unit, j));
            out.push_back(-11);
        }
    }
    return out;
}

int AddLayer(img::CImg& doc)
{
    auto frame = boost::shared_ptr<mem::CDataFrame>(new mem::CDataFrame(
        geo::CiVolumeN::FromPositionSize(geo::CiVecN{0, 0}, geo::CiVecN{4, 3}),
        img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray)));
    return doc.Add(img::CStack(frame));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    img::CImg doc;
    img::CDisplProcessFlow flow(doc, false);
    CModel model(flow.RootId());
    std::vector<int> layers;  // every layer ID handed out, deleted ones included
    for (int i = 0; i < 4; ++i)
        layers.push_back(AddLayer(doc));
    std::vector<int> planes;  // every plane ID seen, removed ones included

    // An ID to pass: mostly one the tree knows, sometimes a stale, a layer or
    // a made-up one.
    const auto pickPlane = [&]() -> int {
        switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: return model.Root();
        case 1: return -1;
        case 2: return layers[in.ConsumeIntegralInRange<std::size_t>(0, layers.size() - 1)];
        case 3: return in.ConsumeIntegral<int>();
        default:
            return planes.empty() ? model.Root() : planes[in.ConsumeIntegralInRange<std::size_t>(0, planes.size() - 1)];
        }
    };
    const auto pickPosition = [&]() { return in.ConsumeIntegralInRange(-4, 6); };

    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange(0, 8)) {
        case 0: {  // a layer entry
            const int parent = pickPlane(), position = pickPosition();
            const int layer = in.ConsumeBool() ? layers[in.ConsumeIntegralInRange<std::size_t>(0, layers.size() - 1)]
                                               : in.ConsumeIntegralInRange(-2, 40);
            const bool valid = doc.FindStack(layer).IsValid() && model.PlaneOfLayer(layer) < 0 &&
                               model.IsContainer(model.ParentOf(parent));
            const int plane = flow.InsertLayer(parent, position, layer, utl::CIndexN(), -1);
            Check((plane >= 0) == valid, "InsertLayer result");
            if (plane >= 0) {
                Check(!model.Has(plane) && std::find(planes.begin(), planes.end(), plane) == planes.end(),
                      "plane ID handed out twice");
                model.Insert(plane, model.ParentOf(parent), position, false, layer);
                planes.push_back(plane);
            }
            break;
        }
        case 1: {  // a group
            const int parent = pickPlane(), position = pickPosition();
            const int plane = flow.InsertGroup(parent, position);
            Check((plane >= 0) == (model.ParentOf(parent) == model.Root()), "InsertGroup result");
            if (plane >= 0) {
                Check(!model.Has(plane) && std::find(planes.begin(), planes.end(), plane) == planes.end(),
                      "plane ID handed out twice");
                model.Insert(plane, model.Root(), position, true, -1);
                planes.push_back(plane);
            }
            break;
        }
        case 2:
        case 3: {
            const int plane = pickPlane(), parent = pickPlane(), position = pickPosition();
            Check(flow.MoveTo(plane, parent, position) == model.Move(plane, parent, position), "MoveTo result");
            break;
        }
        case 4: {
            const int plane = pickPlane();
            Check(flow.Remove(plane) == model.Remove(plane), "Remove result");
            break;
        }
        case 5: {  // hide or show
            const int plane = pickPlane();
            if (!model.Has(plane) || plane == model.Root())
                break;
            const bool value = in.ConsumeBool();
            if (in.ConsumeBool()) {
                Check(flow.SetHidden(plane, value), "SetHidden");
                model.SetHidden(plane, value);
            } else {
                Check(flow.SetVisibility(plane, value), "SetVisibility");
                model.SetVisible(plane, value);
            }
            break;
        }
        case 6: {  // deleting the layer from the document takes its entry along
            const int layer = layers[in.ConsumeIntegralInRange<std::size_t>(0, layers.size() - 1)];
            const bool known = doc.FindStack(layer).IsValid();
            Check(doc.Remove(layer) == known, "document Remove result");
            if (known && model.PlaneOfLayer(layer) >= 0)
                model.Remove(model.PlaneOfLayer(layer));
            break;
        }
        case 7:
            if (layers.size() < 12)
                layers.push_back(AddLayer(doc));
            break;
        default: {  // undo by delete: insert, remove, and the tree is as before
            const auto before = Snapshot(flow, model.Root());
            const int position = pickPosition();
            int plane = -1;
            if (in.ConsumeBool()) {
                plane = flow.InsertGroup(-1, position);
            } else {
                const int layer = AddLayer(doc);
                layers.push_back(layer);
                const int parent = pickPlane();
                plane = flow.InsertLayer(parent, position, layer, utl::CIndexN(), -1);
            }
            if (plane >= 0) {
                planes.push_back(plane);
                Check(flow.Remove(plane), "removing what was inserted");
            }
            Check(Snapshot(flow, model.Root()) == before, "insert and remove changed the tree");
            break;
        }
        }
        CheckTree(flow, model, layers, planes);
    }
    return 0;
}

#include "imgscope/contracts/foundation/prop_set.h"

#include <mutex>
#include <set>
#include <utility>

namespace utl {

CPropSet::CPropSet() = default;
CPropSet::CPropSet(CPropSet const& other) = default;
CPropSet& CPropSet::operator=(CPropSet const& other) = default;
CPropSet::CPropSet(CPropSet&& other) noexcept = default;
CPropSet& CPropSet::operator=(CPropSet&& other) noexcept = default;
namespace {

// Moves every nested set that only `values` holds into `out`, leaving the
// value empty.
void DetachSoleNested(std::map<int, mem::CBin>& values, std::vector<boost::shared_ptr<CPropSet>>& out) noexcept
{
    for (auto& entry : values) {
        boost::shared_ptr<CPropSet> nested;
        if (!entry.second.Get(nested) || !nested || nested.use_count() != 2)
            continue;  // not a set, or someone else holds it too
        try {
            out.push_back(nested);
        } catch (...) {
            continue;  // freed the ordinary way below
        }
        entry.second.Clear();
    }
}

}  // namespace

CPropSet::~CPropSet()
{
    // Nested sets that die with this one are taken apart one level at a
    // time: freeing a long chain by plain recursion goes as deep as the
    // chain and overflows the stack.
    std::vector<boost::shared_ptr<CPropSet>> dying;
    DetachSoleNested(m_values, dying);
    while (!dying.empty()) {
        const boost::shared_ptr<CPropSet> set = std::move(dying.back());
        dying.pop_back();
        DetachSoleNested(set->m_values, dying);
    }
}

bool CPropSet::GetProperty(int id, mem::CBin& out) const
{
    auto it = m_values.find(id);
    if (it == m_values.end())
        return false;
    out = it->second;
    return true;
}

bool CPropSet::SetProperty(int id, mem::CBin const& value)
{
    if (value.IsEmpty())
        return false;
    m_values[id] = value;
    return true;
}

bool CPropSet::PropertyExists(int id) const
{
    return m_values.count(id) != 0;
}

bool CPropSet::DeleteProperty(int id)
{
    return m_values.erase(id) != 0;
}

mem::CBin* CPropSet::AccessProperty(int id)
{
    auto it = m_values.find(id);
    return it == m_values.end() ? nullptr : &it->second;
}

mem::CBin const* CPropSet::AccessProperty(int id) const
{
    auto it = m_values.find(id);
    return it == m_values.end() ? nullptr : &it->second;
}

std::vector<int> CPropSet::GetPropertyList() const
{
    std::vector<int> ids;
    ids.reserve(m_values.size());
    for (auto const& entry : m_values)
        ids.push_back(entry.first);
    return ids;
}

void CPropSet::MergeProperties(CPropSet const& other)
{
    if (&other == this)
        return;
    for (auto const& entry : other.m_values)
        m_values[entry.first] = entry.second;
}

namespace {

struct tRegistry {
    std::mutex mutex;
    std::map<int, std::pair<CString, int>> byId;
    std::map<CString, int> byName;
};

tRegistry& Registry()
{
    static tRegistry registry;
    return registry;
}

}  // namespace

bool CPropSet::SearchProperty(int id, int typeCode, mem::CBin& out) const
{
    // Depth-first with a stack of our own: nesting is bounded by memory, not
    // by the call stack (a chain of 70000 sets overflowed it). `seen` stops
    // the walk at a cycle and visits a set reached twice once.
    using tNext = std::map<int, mem::CBin>::const_iterator;
    std::vector<std::pair<CPropSet const*, tNext>> path;
    std::set<CPropSet const*> seen;
    const auto enter = [&](CPropSet const& set) {
        if (!seen.insert(&set).second)
            return false;
        if (mem::CBin const* bin = set.AccessProperty(id); bin && bin->GetType().GetCode() == typeCode) {
            out = *bin;
            return true;
        }
        path.emplace_back(&set, set.m_values.begin());
        return false;
    };
    if (enter(*this))
        return true;
    while (!path.empty()) {
        CPropSet const* set = path.back().first;
        tNext& next = path.back().second;
        if (next == set->m_values.end()) {
            path.pop_back();
            continue;
        }
        mem::CBin const& value = (next++)->second;
        // The parent keeps the nested set alive while the walk is below it.
        boost::shared_ptr<CPropSet> nested;
        if (value.Get(nested) && nested && enter(*nested))
            return true;
    }
    return false;
}

bool RegisterProperty(CString const& name, int id, int type)
{
    if (name.IsEmpty())
        return false;
    tRegistry& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto byId = reg.byId.find(id);
    auto byName = reg.byName.find(name);
    if (byId != reg.byId.end() || byName != reg.byName.end()) {
        return byId != reg.byId.end() && byName != reg.byName.end() && byName->second == id &&
               byId->second.second == type;
    }
    reg.byId.emplace(id, std::make_pair(name, type));
    reg.byName.emplace(name, id);
    return true;
}

bool GetPropertyName(int id, CString& name)
{
    tRegistry& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.byId.find(id);
    if (it == reg.byId.end())
        return false;
    name = it->second.first;
    return true;
}

int FindPropertyId(CString const& name)
{
    tRegistry& reg = Registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.byName.find(name);
    return it == reg.byName.end() ? -1 : it->second;
}

}  // namespace utl

namespace prop {

bool ValuesEqual(boost::shared_ptr<utl::CPropSet> const& a, boost::shared_ptr<utl::CPropSet> const& b)
{
    if (a == b)
        return true;
    if (!a || !b)
        return false;
    // Sets may hold each other; past this depth only identity counts, so a
    // comparison of two cyclic structures ends.
    static thread_local int depth = 0;
    if (depth >= 64)
        return false;
    ++depth;
    const bool equal = *a == *b;
    --depth;
    return equal;
}

}  // namespace prop

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
CPropSet::~CPropSet() = default;

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

// Nested sets may refer to each other; `seen` stops the walk at a cycle.
bool Search(CPropSet const& set, int id, int typeCode, mem::CBin& out, std::set<CPropSet const*>& seen)
{
    if (!seen.insert(&set).second)
        return false;
    if (mem::CBin const* bin = set.AccessProperty(id)) {
        if (bin->GetType().GetCode() == typeCode) {
            out = *bin;
            return true;
        }
    }
    for (int key : set.GetPropertyList()) {
        boost::shared_ptr<CPropSet> nested;
        if (set.AccessProperty(key)->Get(nested) && nested && Search(*nested, id, typeCode, out, seen))
            return true;
    }
    return false;
}

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
    std::set<CPropSet const*> seen;
    return Search(*this, id, typeCode, out, seen);
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

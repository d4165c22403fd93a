// Property sets: integer property IDs mapped to typed values, and the
// process-wide register of property names.
#pragma once

#include "imgscope/contracts/foundation/value.h"
#include "imgscope/library/export.h"

#include <map>
#include <vector>

namespace utl {

// An ordered map from property ID to value. Listing is in ascending ID order.
class IMGSCOPE_API CPropSet {
public:
    CPropSet();
    CPropSet(CPropSet const& other);
    CPropSet& operator=(CPropSet const& other);
    CPropSet(CPropSet&& other) noexcept;
    CPropSet& operator=(CPropSet&& other) noexcept;
    ~CPropSet();

    // Copies the value of `id` into `out`; false (and `out` untouched) when
    // the set has no such property.
    bool GetProperty(int id, mem::CBin& out) const;
    // Stores a copy of `value` under `id`, replacing an older value. False
    // for an empty value, which is not stored.
    bool SetProperty(int id, mem::CBin const& value);
    bool PropertyExists(int id) const;
    bool DeleteProperty(int id);
    // The stored value, or null; valid until the set changes.
    mem::CBin* AccessProperty(int id);
    mem::CBin const* AccessProperty(int id) const;
    // IDs in ascending order.
    std::vector<int> GetPropertyList() const;
    // Copies every property of `other` into this set; where both have an ID,
    // the value of `other` wins.
    void MergeProperties(CPropSet const& other);
    // Finds `id` whose value has the element type code `typeCode` (with or
    // without unit): in this set first, then depth-first in the nested sets
    // of property-set values, in ascending ID order. `out` changes only when
    // found.
    bool SearchProperty(int id, int typeCode, mem::CBin& out) const;

    // Typed convenience: exactly T, `out` untouched otherwise.
    template <class T>
    bool GetValue(int id, T& out) const
    {
        mem::CBin const* bin = AccessProperty(id);
        return bin && bin->Get(out);
    }
    template <class T>
    bool SetValue(int id, T const& value)
    {
        return SetProperty(id, mem::CBin(value));
    }

    std::size_t size() const { return m_values.size(); }
    bool empty() const { return m_values.empty(); }
    void Clear() { m_values.clear(); }

    // Same IDs with equal values; nested sets compare by content.
    bool operator==(CPropSet const& other) const { return m_values == other.m_values; }
    bool operator!=(CPropSet const& other) const { return !(*this == other); }

private:
    std::map<int, mem::CBin> m_values;
};

// Names property `id` as `name` with value type code `type`. True when the
// entry is new or repeats an existing one exactly; false when the ID or the
// name is already registered otherwise, or the name is empty.
IMGSCOPE_API bool RegisterProperty(CString const& name, int id, int type);
// The registered name of `id`; false when it has none.
IMGSCOPE_API bool GetPropertyName(int id, CString& name);
// The ID registered under `name`, or -1.
IMGSCOPE_API int FindPropertyId(CString const& name);

}  // namespace utl

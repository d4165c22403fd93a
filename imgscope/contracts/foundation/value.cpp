#include "imgscope/contracts/foundation/value.h"

namespace prop {

CValue::CValue(CValue const& other) : m_holder(other.m_holder ? other.m_holder->Clone() : nullptr) {}

CValue& CValue::operator=(CValue const& other)
{
    if (this != &other)
        m_holder.reset(other.m_holder ? other.m_holder->Clone() : nullptr);
    return *this;
}

CValue::~CValue() = default;

bool CValue::operator==(CValue const& other) const
{
    if (!m_holder || !other.m_holder)
        return !m_holder && !other.m_holder;
    return m_holder->Equals(*other.m_holder);
}

}  // namespace prop

namespace mem {

bool CBin::GetUnit(utl::CUnit& unit) const
{
    if (utl::CUnit const* u = UnitPtr()) {
        unit = *u;
        return true;
    }
    return false;
}

}  // namespace mem

// Typed values: the type descriptor, the type-erased value and mem::CBin,
// the one value that property sets, blobs and creation sets hold.
#pragma once

#include "imgscope/contracts/foundation/geometry.h"
#include "imgscope/contracts/foundation/index.h"
#include "imgscope/contracts/foundation/units.h"
#include "imgscope/contracts/platform/string.h"
#include "imgscope/library/export.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>
#include <type_traits>

namespace utl {
class CPropSet;
}

namespace prop {

// Describes the type of a value: its type code (utl::EType) and whether a
// unit comes with it. Two values are of one type when both agree.
class CType {
public:
    constexpr CType() = default;
    constexpr CType(int code, bool withUnit) : m_code(code), m_withUnit(withUnit) {}

    constexpr int GetCode() const { return m_code; }
    constexpr bool HasUnit() const { return m_withUnit; }
    constexpr bool IsEmpty() const { return m_code == utl::eTypeNone; }

private:
    int m_code = utl::eTypeNone;
    bool m_withUnit = false;
};

constexpr bool operator==(CType const& a, CType const& b)
{
    return a.GetCode() == b.GetCode() && a.HasUnit() == b.HasUnit();
}
constexpr bool operator!=(CType const& a, CType const& b) { return !(a == b); }

// Type code of each storable plain type; other types do not compile.
template <class T> struct TTypeCode;
template <> struct TTypeCode<signed char> { static constexpr int value = utl::eInt8; };
template <> struct TTypeCode<unsigned char> { static constexpr int value = utl::eUInt8; };
template <> struct TTypeCode<short> { static constexpr int value = utl::eInt16; };
template <> struct TTypeCode<unsigned short> { static constexpr int value = utl::eUInt16; };
template <> struct TTypeCode<int> { static constexpr int value = utl::eInt32; };
template <> struct TTypeCode<unsigned int> { static constexpr int value = utl::eUInt32; };
template <> struct TTypeCode<std::int64_t> { static constexpr int value = utl::eInt64; };
template <> struct TTypeCode<std::uint64_t> { static constexpr int value = utl::eUInt64; };
template <> struct TTypeCode<float> { static constexpr int value = utl::eFloat; };
template <> struct TTypeCode<double> { static constexpr int value = utl::eDouble; };
template <> struct TTypeCode<bool> { static constexpr int value = utl::eBool; };
template <> struct TTypeCode<CString> { static constexpr int value = utl::eString; };
template <> struct TTypeCode<void*> { static constexpr int value = utl::ePointer; };
template <> struct TTypeCode<geo::CiVec2> { static constexpr int value = utl::eIVec2; };
template <> struct TTypeCode<geo::CiVec3> { static constexpr int value = utl::eIVec3; };
template <> struct TTypeCode<geo::CdVec2> { static constexpr int value = utl::eDVec2; };
template <> struct TTypeCode<geo::CdVec3> { static constexpr int value = utl::eDVec3; };
template <> struct TTypeCode<geo::CiVecN> { static constexpr int value = utl::eIVecN; };
template <> struct TTypeCode<utl::CIndexN> { static constexpr int value = utl::eIndexN; };
template <> struct TTypeCode<geo::CiRect> { static constexpr int value = utl::eIRect; };
template <> struct TTypeCode<geo::CdRect> { static constexpr int value = utl::eDRect; };
template <> struct TTypeCode<geo::CiVolumeN> { static constexpr int value = utl::eIVolumeN; };
template <> struct TTypeCode<utl::TInterval<double>> { static constexpr int value = utl::eDInterval; };
template <> struct TTypeCode<utl::TInterval<int>> { static constexpr int value = utl::eIInterval; };
template <> struct TTypeCode<boost::shared_ptr<utl::CPropSet>> { static constexpr int value = utl::ePropSet; };

template <class T, class = void>
struct TIsPlain : std::false_type {};
template <class T>
struct TIsPlain<T, std::void_t<decltype(TTypeCode<T>::value)>> : std::true_type {};

template <class T>
struct TIsUnitValue : std::false_type {};
template <class T>
struct TIsUnitValue<utl::TUnitValue<T>> : TIsPlain<T> {};

// Plain types and unit values of plain types can be stored.
template <class T>
struct TIsStorable : std::integral_constant<bool, TIsPlain<T>::value || TIsUnitValue<T>::value> {};

template <class T>
constexpr CType TypeOf()
{
    if constexpr (TIsUnitValue<T>::value)
        return CType(TTypeCode<decltype(T::value)>::value, true);
    else
        return CType(TTypeCode<T>::value, false);
}

// One value of any storable type, or nothing. Copies are deep.
class IMGSCOPE_API CValue {
public:
    CValue() = default;
    CValue(CValue const& other);
    CValue(CValue&& other) noexcept = default;
    CValue& operator=(CValue const& other);
    CValue& operator=(CValue&& other) noexcept = default;
    ~CValue();

    CType GetType() const { return m_holder ? m_holder->type : CType(); }
    bool IsEmpty() const { return !m_holder; }
    void Clear() { m_holder.reset(); }

    // The bytes of the value (of the value part for a unit value); null
    // when empty. For a void* value this points at the stored pointer.
    void const* GetRawPointer() const { return m_holder ? m_holder->Raw() : nullptr; }
    void* GetRawPointer() { return m_holder ? m_holder->Raw() : nullptr; }

    bool operator==(CValue const& other) const;
    bool operator!=(CValue const& other) const { return !(*this == other); }

protected:
    struct IHolder {
        explicit IHolder(CType t) : type(t) {}
        virtual ~IHolder() = default;
        virtual IHolder* Clone() const = 0;
        virtual void* Raw() const = 0;
        virtual bool Equals(IHolder const& other) const = 0;
        CType type;
    };

    template <class T>
    struct THolder final : IHolder {
        explicit THolder(T const& v) : IHolder(TypeOf<T>()), value(v) {}
        IHolder* Clone() const override { return new THolder(value); }
        void* Raw() const override
        {
            if constexpr (TIsUnitValue<T>::value)
                return const_cast<void*>(static_cast<void const*>(&value.value));
            else
                return const_cast<void*>(static_cast<void const*>(&value));
        }
        bool Equals(IHolder const& other) const override
        {
            return other.type == type && static_cast<THolder const&>(other).value == value;
        }
        T value;
    };

    // The stored value when it is exactly of type T, else null. Types are
    // told apart by their descriptor, which is one-to-one with T.
    template <class T>
    T const* Peek() const
    {
        if (!m_holder || m_holder->type != TypeOf<T>())
            return nullptr;
        return &static_cast<THolder<T> const*>(m_holder.get())->value;
    }

    template <class T>
    void Store(T const& v)
    {
        m_holder.reset(new THolder<T>(v));
    }

private:
    std::unique_ptr<IHolder> m_holder;
};

}  // namespace prop

namespace mem {

// One typed value, optionally with a unit. It never converts: reading it as
// another type fails and leaves the target as it was. The ...PlainOrUnit
// readers accept both T and utl::TUnitValue<T>, as property readers that
// take "a value, plain or with a unit" need.
class IMGSCOPE_API CBin : public prop::CValue {
public:
    CBin() = default;
    template <class T, class = std::enable_if_t<prop::TIsStorable<T>::value>>
    explicit CBin(T const& value)
    {
        Store(value);
    }
    explicit CBin(wchar_t const* text) { Store(CString(text)); }
    // A value with a unit: stored as utl::TUnitValue<T>.
    template <class T, class = std::enable_if_t<prop::TIsPlain<T>::value>>
    CBin(T const& value, utl::CUnit const& unit)
    {
        Store(utl::TUnitValue<T>(unit, value));
    }

    template <class T>
    std::enable_if_t<prop::TIsStorable<T>::value> Set(T const& value)
    {
        Store(value);
    }

    template <class T>
    bool Is() const
    {
        return Peek<T>() != nullptr;
    }

    // Exactly type T; `out` untouched otherwise.
    template <class T>
    bool Get(T& out) const
    {
        if (T const* p = Peek<T>()) {
            out = *p;
            return true;
        }
        return false;
    }

    // The value of type T or the value part of a utl::TUnitValue<T>.
    template <class T>
    bool GetPlainOrUnit(T& out) const
    {
        if (T const* p = Peek<T>()) {
            out = *p;
            return true;
        }
        if (auto const* u = Peek<utl::TUnitValue<T>>()) {
            out = u->value;
            return true;
        }
        return false;
    }

    // A utl::TUnitValue<T>, or a plain T read with the default unit.
    template <class T>
    bool GetUnitValueOrPlain(utl::TUnitValue<T>& out) const
    {
        if (auto const* u = Peek<utl::TUnitValue<T>>()) {
            out = *u;
            return true;
        }
        if (T const* p = Peek<T>()) {
            out = utl::TUnitValue<T>(utl::CUnit(), *p);
            return true;
        }
        return false;
    }

    // The value, or `fallback` when it is of another type.
    template <class T>
    T GetOr(T const& fallback) const
    {
        T const* p = Peek<T>();
        return p ? *p : fallback;
    }

    bool HasUnit() const { return GetType().HasUnit(); }
};

}  // namespace mem

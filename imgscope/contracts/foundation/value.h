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
template <> struct TTypeCode<std::int8_t> { static constexpr int value = utl::eInt8; };
template <> struct TTypeCode<std::uint8_t> { static constexpr int value = utl::eUInt8; };
template <> struct TTypeCode<std::int16_t> { static constexpr int value = utl::eInt16; };
template <> struct TTypeCode<std::uint16_t> { static constexpr int value = utl::eUInt16; };
template <> struct TTypeCode<std::int32_t> { static constexpr int value = utl::eInt32; };
template <> struct TTypeCode<std::uint32_t> { static constexpr int value = utl::eUInt32; };
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

// The type a value is kept as. Integers are kept as the fixed-width type of
// their size and sign, so `long long` and `std::int64_t` are one type on
// every platform (they are different C++ types on Linux, the same on
// Windows), and values with a unit keep their number the same way.
template <class T, class = void>
struct TStored { using type = T; };
template <class T>
struct TStored<T, std::enable_if_t<std::is_integral<T>::value && !std::is_same<T, bool>::value &&
                                   !std::is_same<T, char>::value && !std::is_same<T, wchar_t>::value &&
                                   !std::is_same<T, char16_t>::value && !std::is_same<T, char32_t>::value>> {
    using type = std::conditional_t<
        std::is_signed<T>::value,
        std::conditional_t<sizeof(T) == 1, std::int8_t,
                           std::conditional_t<sizeof(T) == 2, std::int16_t,
                                              std::conditional_t<sizeof(T) == 4, std::int32_t, std::int64_t>>>,
        std::conditional_t<sizeof(T) == 1, std::uint8_t,
                           std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                              std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>>;
};
template <class T>
struct TStored<utl::TUnitValue<T>, void> { using type = utl::TUnitValue<typename TStored<T>::type>; };
template <class T>
using TStoredT = typename TStored<T>::type;

template <class T, class = void>
struct TIsPlain : std::false_type {};
template <class T>
struct TIsPlain<T, std::void_t<decltype(TTypeCode<TStoredT<T>>::value)>> : std::true_type {};

template <class T>
struct TIsUnitValue : std::false_type {};
template <class T>
struct TIsUnitValue<utl::TUnitValue<T>> : TIsPlain<T> {};

// Plain types and unit values of plain types can be stored.
template <class T>
struct TIsStorable : std::integral_constant<bool, TIsPlain<T>::value || TIsUnitValue<T>::value> {};

// The descriptor of a storable type: its code and whether a unit comes
// with it. `TypeOf<long long>() == TypeOf<std::int64_t>()`.
template <class T>
constexpr CType TypeOf()
{
    if constexpr (TIsUnitValue<T>::value)
        return CType(TTypeCode<TStoredT<decltype(T::value)>>::value, true);
    else
        return CType(TTypeCode<TStoredT<T>>::value, false);
}

// Equality of stored values. Nested property sets compare by content, so
// two sets built apart from the same values are equal.
template <class T>
bool ValuesEqual(T const& a, T const& b)
{
    return a == b;
}
IMGSCOPE_API bool ValuesEqual(boost::shared_ptr<utl::CPropSet> const& a, boost::shared_ptr<utl::CPropSet> const& b);
template <>
inline bool ValuesEqual(utl::TUnitValue<boost::shared_ptr<utl::CPropSet>> const& a,
                        utl::TUnitValue<boost::shared_ptr<utl::CPropSet>> const& b)
{
    return a.unit == b.unit && ValuesEqual(a.value, b.value);
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
    // when empty. Valid until the value changes. For a void* value this
    // points at the stored pointer, not at what it points to.
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
        virtual utl::CUnit const* Unit() const = 0;
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
        utl::CUnit const* Unit() const override
        {
            if constexpr (TIsUnitValue<T>::value)
                return &value.unit;
            else
                return nullptr;
        }
        bool Equals(IHolder const& other) const override
        {
            return other.type == type && ValuesEqual(static_cast<THolder const&>(other).value, value);
        }
        T value;
    };

    // The stored value when it is of type T, else null. Types are told
    // apart by their descriptor, which is one-to-one with the stored type.
    template <class T>
    TStoredT<T> const* Peek() const
    {
        using S = TStoredT<T>;
        if (!m_holder || m_holder->type != TypeOf<S>())
            return nullptr;
        return &static_cast<THolder<S> const*>(m_holder.get())->value;
    }

    utl::CUnit const* UnitPtr() const { return m_holder ? m_holder->Unit() : nullptr; }

    template <class T>
    void Store(T const& v)
    {
        using S = TStoredT<T>;
        if constexpr (TIsUnitValue<T>::value)
            m_holder.reset(new THolder<S>(S(v.unit, static_cast<decltype(S::value)>(v.value))));
        else
            m_holder.reset(new THolder<S>(static_cast<S>(v)));
    }

private:
    std::unique_ptr<IHolder> m_holder;
};

}  // namespace prop

namespace mem {

// One typed value, optionally with a unit. It never converts: reading it as
// another type fails and leaves the target as it was. The ...PlainOrUnit
// readers accept both T and utl::TUnitValue<T>, as property readers that
// take "a value, plain or with a unit" need. Integer types of equal size
// and sign are one type (see prop::TStored).
class IMGSCOPE_API CBin : public prop::CValue {
public:
    CBin() = default;
    template <class T, class = std::enable_if_t<prop::TIsStorable<T>::value>>
    explicit CBin(T const& value)
    {
        Store(value);
    }
    // Text is kept as CString; a null pointer gives an empty string. There
    // is deliberately no narrow-text constructor: a char* fill buffer must
    // not turn into a string (pass it as void*).
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
    std::enable_if_t<prop::TIsPlain<T>::value> Set(T const& value, utl::CUnit const& unit)
    {
        Store(utl::TUnitValue<T>(unit, value));
    }
    void Set(wchar_t const* text) { Store(CString(text)); }

    template <class T>
    bool Is() const
    {
        return Peek<T>() != nullptr;
    }

    // Exactly type T; `out` untouched otherwise.
    template <class T>
    bool Get(T& out) const
    {
        if (auto const* p = Peek<T>()) {
            Assign(out, *p);
            return true;
        }
        return false;
    }

    // The value of type T or the value part of a utl::TUnitValue<T>.
    template <class T>
    bool GetPlainOrUnit(T& out) const
    {
        if (auto const* p = Peek<T>()) {
            Assign(out, *p);
            return true;
        }
        if (auto const* u = Peek<utl::TUnitValue<T>>()) {
            out = static_cast<T>(u->value);
            return true;
        }
        return false;
    }

    // A utl::TUnitValue<T>, or a plain T read with the default unit.
    template <class T>
    bool GetUnitValueOrPlain(utl::TUnitValue<T>& out) const
    {
        if (auto const* u = Peek<utl::TUnitValue<T>>()) {
            out = utl::TUnitValue<T>(u->unit, static_cast<T>(u->value));
            return true;
        }
        if (auto const* p = Peek<T>()) {
            out = utl::TUnitValue<T>(utl::CUnit(), static_cast<T>(*p));
            return true;
        }
        return false;
    }

    // The value, or `fallback` when it is of another type.
    template <class T>
    T GetOr(T const& fallback) const
    {
        T out = fallback;
        Get(out);
        return out;
    }
    // The value plain or with a unit, or `fallback` when it is neither.
    template <class T>
    T GetPlainOrUnitOr(T const& fallback) const
    {
        T out = fallback;
        GetPlainOrUnit(out);
        return out;
    }

    bool HasUnit() const { return GetType().HasUnit(); }
    // The unit of a value with a unit; false (and `unit` untouched) for a
    // plain or empty value.
    bool GetUnit(utl::CUnit& unit) const;

private:
    // Copies a stored value out, casting only where the caller's type is
    // another spelling of the stored one (long long for int64_t).
    template <class T, class S>
    static void Assign(T& out, S const& stored)
    {
        if constexpr (std::is_same<T, S>::value)
            out = stored;
        else
            out = static_cast<T>(stored);
    }
};

}  // namespace mem

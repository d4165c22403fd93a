#include "imgscope/io/value_text_internal.h"

#include <boost/make_shared.hpp>

#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

namespace img {
namespace io {

namespace {

// Property sets nest through shared pointers and may even contain
// themselves; deeper nesting than this is not saved.
constexpr int kMaxPropDepth = 64;

template <class T>
struct tTag {
    using type = T;
};

// Calls f(tTag<T>()) with the stored type of a value type code.
template <class F>
bool VisitCode(int code, F&& f)
{
    switch (code) {
    case utl::eInt8: return f(tTag<std::int8_t>());
    case utl::eUInt8: return f(tTag<std::uint8_t>());
    case utl::eInt16: return f(tTag<std::int16_t>());
    case utl::eUInt16: return f(tTag<std::uint16_t>());
    case utl::eInt32: return f(tTag<std::int32_t>());
    case utl::eUInt32: return f(tTag<std::uint32_t>());
    case utl::eInt64: return f(tTag<std::int64_t>());
    case utl::eUInt64: return f(tTag<std::uint64_t>());
    case utl::eFloat: return f(tTag<float>());
    case utl::eDouble: return f(tTag<double>());
    case utl::eBool: return f(tTag<bool>());
    case utl::eString: return f(tTag<CString>());
    case utl::eIVec2: return f(tTag<geo::CiVec2>());
    case utl::eIVec3: return f(tTag<geo::CiVec3>());
    case utl::eDVec2: return f(tTag<geo::CdVec2>());
    case utl::eDVec3: return f(tTag<geo::CdVec3>());
    case utl::eIVecN: return f(tTag<geo::CiVecN>());
    case utl::eIndexN: return f(tTag<utl::CIndexN>());
    case utl::eIRect: return f(tTag<geo::CiRect>());
    case utl::eDRect: return f(tTag<geo::CdRect>());
    case utl::eDInterval: return f(tTag<utl::TInterval<double>>());
    case utl::eIInterval: return f(tTag<utl::TInterval<int>>());
    case utl::eIVolumeN: return f(tTag<geo::CiVolumeN>());
    case utl::ePropSet: return f(tTag<boost::shared_ptr<utl::CPropSet>>());
    default: return false;  // pointers and unknown codes
    }
}

std::string Join(std::initializer_list<std::string> parts)
{
    std::string out;
    for (auto const& p : parts) {
        if (!out.empty())
            out += ' ';
        out += p;
    }
    return out;
}

std::vector<std::string_view> Split(std::string_view text)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const std::size_t space = text.find(' ', start);
        const std::size_t end = space == std::string_view::npos ? text.size() : space;
        parts.push_back(text.substr(start, end - start));
        if (space == std::string_view::npos)
            break;
        start = space + 1;
    }
    return parts;
}

// Numbers of one scalar type: integers, floating point or bool.
template <class T>
std::string FormatScalar(T v)
{
    if constexpr (std::is_same<T, double>::value)
        return FormatDouble(v);
    else if constexpr (std::is_same<T, float>::value)
        return FormatFloat(v);
    else if constexpr (std::is_same<T, bool>::value)
        return v ? "1" : "0";
    else if constexpr (std::is_signed<T>::value)
        return std::to_string(static_cast<long long>(v));
    else
        return std::to_string(static_cast<unsigned long long>(v));
}

template <class T>
bool ParseScalar(std::string_view text, T& v)
{
    if constexpr (std::is_same<T, double>::value) {
        return ParseDouble(text, v);
    } else if constexpr (std::is_same<T, float>::value) {
        return ParseFloat(text, v);
    } else if constexpr (std::is_same<T, bool>::value) {
        if (text != "0" && text != "1")
            return false;
        v = text == "1";
        return true;
    } else if constexpr (std::is_signed<T>::value) {
        long long x;
        if (!ParseInt(text, x) || x < std::numeric_limits<T>::min() || x > std::numeric_limits<T>::max())
            return false;
        v = static_cast<T>(x);
        return true;
    } else {
        unsigned long long x;
        if (!ParseUInt(text, x) || x > std::numeric_limits<T>::max())
            return false;
        v = static_cast<T>(x);
        return true;
    }
}

template <class T>
bool ParseScalars(std::vector<std::string_view> const& parts, std::size_t count, T* out)
{
    if (parts.size() != count)
        return false;
    for (std::size_t i = 0; i < count; ++i)
        if (!ParseScalar(parts[i], out[i]))
            return false;
    return true;
}

// ---- one value's content as text ------------------------------------------

template <class T>
std::string FormatContent(T const& v)
{
    if constexpr (std::is_arithmetic<T>::value) {
        return FormatScalar(v);
    } else if constexpr (std::is_same<T, geo::CiVec2>::value || std::is_same<T, geo::CdVec2>::value) {
        return Join({FormatScalar(v.x), FormatScalar(v.y)});
    } else if constexpr (std::is_same<T, geo::CiVec3>::value || std::is_same<T, geo::CdVec3>::value) {
        return Join({FormatScalar(v.x), FormatScalar(v.y), FormatScalar(v.z)});
    } else if constexpr (std::is_same<T, geo::CiVecN>::value || std::is_same<T, utl::CIndexN>::value) {
        return FormatInts(v.Values());
    } else if constexpr (std::is_same<T, geo::CiRect>::value || std::is_same<T, geo::CdRect>::value) {
        return Join({FormatScalar(v.left), FormatScalar(v.top), FormatScalar(v.right), FormatScalar(v.bottom)});
    } else if constexpr (std::is_same<T, utl::TInterval<double>>::value || std::is_same<T, utl::TInterval<int>>::value) {
        return Join({FormatScalar(v.lower), FormatScalar(v.upper)});
    } else {
        static_assert(std::is_same<T, geo::CiVolumeN>::value, "no text form");
        return FormatInts(v.Position().Values()) + "/" + FormatInts(v.Size().Values());
    }
}

template <class T>
bool ParseContent(std::string_view text, T& v)
{
    if constexpr (std::is_arithmetic<T>::value) {
        return ParseScalar(text, v);
    } else if constexpr (std::is_same<T, geo::CiVec2>::value || std::is_same<T, geo::CdVec2>::value) {
        decltype(v.x) a[2];
        if (!ParseScalars(Split(text), 2, a))
            return false;
        v = T(a[0], a[1]);
        return true;
    } else if constexpr (std::is_same<T, geo::CiVec3>::value || std::is_same<T, geo::CdVec3>::value) {
        decltype(v.x) a[3];
        if (!ParseScalars(Split(text), 3, a))
            return false;
        v = T(a[0], a[1], a[2]);
        return true;
    } else if constexpr (std::is_same<T, geo::CiVecN>::value || std::is_same<T, utl::CIndexN>::value) {
        std::vector<int> values;
        if (!ParseInts(text, values))
            return false;
        v = T(geo::CiVecN(std::move(values)));
        return true;
    } else if constexpr (std::is_same<T, geo::CiRect>::value || std::is_same<T, geo::CdRect>::value) {
        decltype(v.left) a[4];
        if (!ParseScalars(Split(text), 4, a))
            return false;
        v = T(a[0], a[1], a[2], a[3]);
        return true;
    } else if constexpr (std::is_same<T, utl::TInterval<double>>::value || std::is_same<T, utl::TInterval<int>>::value) {
        decltype(v.lower) a[2];
        if (!ParseScalars(Split(text), 2, a))
            return false;
        v = T(a[0], a[1]);
        return true;
    } else {
        const std::size_t slash = text.find('/');
        std::vector<int> pos, size;
        if (slash == std::string_view::npos || !ParseInts(text.substr(0, slash), pos) ||
            !ParseInts(text.substr(slash + 1), size) || pos.size() != size.size())
            return false;
        for (int s : size)
            if (s < 0)
                return false;
        v = geo::CiVolumeN::FromPositionSize(geo::CiVecN(std::move(pos)), geo::CiVecN(std::move(size)));
        return true;
    }
}

bool IsSavableAt(mem::CBin const& value, int depth);

bool IsSavableSet(boost::shared_ptr<utl::CPropSet> const& set, int depth)
{
    if (!set)
        return true;
    if (depth >= kMaxPropDepth)
        return false;
    for (int id : set->GetPropertyList())
        if (!IsSavableAt(*set->AccessProperty(id), depth + 1))
            return false;
    return true;
}

bool IsSavableAt(mem::CBin const& value, int depth)
{
    const int code = value.GetType().GetCode();
    if (code == utl::ePropSet) {
        boost::shared_ptr<utl::CPropSet> set;
        utl::TUnitValue<boost::shared_ptr<utl::CPropSet>> withUnit;
        if (value.Get(set))
            return IsSavableSet(set, depth);
        return value.Get(withUnit) && IsSavableSet(withUnit.value, depth);
    }
    return VisitCode(code, [](auto) { return true; });
}

void WritePropSetAt(CXmlWriter& writer, utl::CPropSet const& props, int depth);

bool WriteValueAt(CXmlWriter& writer, mem::CBin const& value, int depth)
{
    if (!IsSavableAt(value, depth))
        return false;
    const prop::CType type = value.GetType();
    writer.Attr("T", type.GetCode());
    utl::CUnit unit;
    if (value.GetUnit(unit))
        writer.Attr("U", FormatUnit(unit));
    return VisitCode(type.GetCode(), [&](auto tag) {
        using T = typename decltype(tag)::type;
        T v{};
        if (type.HasUnit()) {
            utl::TUnitValue<T> u;
            value.Get(u);
            v = u.value;
        } else {
            value.Get(v);
        }
        if constexpr (std::is_same<T, CString>::value) {
            WriteTextAttr(writer, "S", v);
        } else if constexpr (std::is_same<T, boost::shared_ptr<utl::CPropSet>>::value) {
            if (!v)
                writer.Attr("Null", 1);
            else
                WritePropSetAt(writer, *v, depth + 1);
        } else {
            writer.Text(FormatContent(v));
        }
        return true;
    });
}

void WritePropSetAt(CXmlWriter& writer, utl::CPropSet const& props, int depth)
{
    for (int id : props.GetPropertyList()) {
        mem::CBin const& value = *props.AccessProperty(id);
        if (!IsSavableAt(value, depth))
            continue;
        writer.Open("P");
        writer.Attr("I", id);
        WriteValueAt(writer, value, depth);
        writer.Close();
    }
}

bool ReadPropSetAt(tXmlNode const& node, utl::CPropSet& props, int depth);

bool ReadValueAt(tXmlNode const& node, mem::CBin& value, int depth)
{
    std::string const* t = node.Attr("T");
    int code = 0;
    if (!t || !ParseInt32(*t, code))
        return false;
    utl::CUnit unit;
    std::string const* u = node.Attr("U");
    if (u && !ParseUnit(*u, unit))
        return false;
    return VisitCode(code, [&](auto tag) {
        using T = typename decltype(tag)::type;
        T v{};
        if constexpr (std::is_same<T, CString>::value) {
            if (!ReadTextAttr(node, "S", v))
                return false;
        } else if constexpr (std::is_same<T, boost::shared_ptr<utl::CPropSet>>::value) {
            if (!node.Attr("Null")) {
                if (depth >= kMaxPropDepth)
                    return false;
                v = boost::make_shared<utl::CPropSet>();
                if (!ReadPropSetAt(node, *v, depth + 1))
                    return false;
            }
        } else {
            if (!ParseContent(node.text, v))
                return false;
        }
        mem::CBin result;
        if (u)
            result.Set(utl::TUnitValue<T>(unit, v));
        else
            result.Set(v);
        value = std::move(result);
        return true;
    });
}

bool ReadPropSetAt(tXmlNode const& node, utl::CPropSet& props, int depth)
{
    utl::CPropSet result;
    for (tXmlNode const& child : node.children) {
        if (child.LocalName() != "P")
            continue;
        std::string const* i = child.Attr("I");
        int id = 0;
        mem::CBin value;
        if (!i || !ParseInt32(*i, id) || !ReadValueAt(child, value, depth) || !result.SetProperty(id, value))
            return false;
    }
    props = std::move(result);
    return true;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string FormatDouble(double value)
{
    if (std::isnan(value))
        return "nan";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, result.ptr);
}

std::string FormatFloat(float value)
{
    if (std::isnan(value))
        return "nan";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, result.ptr);
}

// The whole text as one number of type T; `value` untouched otherwise.
template <class T>
bool ParseNumber(std::string_view text, T& value)
{
    T v{};
    auto result = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return false;
    value = v;
    return true;
}

bool ParseDouble(std::string_view text, double& value) { return ParseNumber(text, value); }
bool ParseFloat(std::string_view text, float& value) { return ParseNumber(text, value); }
bool ParseInt(std::string_view text, long long& value) { return ParseNumber(text, value); }
bool ParseUInt(std::string_view text, unsigned long long& value) { return ParseNumber(text, value); }

bool ParseInt32(std::string_view text, int& value)
{
    long long v = 0;
    if (!ParseInt(text, v) || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(v);
    return true;
}

std::string FormatInts(std::vector<int> const& values)
{
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += ' ';
        out += std::to_string(values[i]);
    }
    return out;
}

bool ParseInts(std::string_view text, std::vector<int>& values)
{
    std::vector<int> result;
    for (std::string_view part : Split(text)) {
        int v;
        if (!ParseInt32(part, v))
            return false;
        result.push_back(v);
    }
    values = std::move(result);
    return true;
}

bool ParseDoubles(std::string_view text, std::vector<double>& values)
{
    std::vector<double> result;
    for (std::string_view part : Split(text)) {
        double v;
        if (!ParseDouble(part, v))
            return false;
        result.push_back(v);
    }
    values = std::move(result);
    return true;
}

std::string Base64Encode(void const* data, std::size_t size)
{
    auto const* p = static_cast<std::uint8_t const*>(data);
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t v = (std::uint32_t(p[i]) << 16) | (std::uint32_t(p[i + 1]) << 8) | p[i + 2];
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i < size) {
        std::uint32_t v = std::uint32_t(p[i]) << 16;
        if (i + 1 < size)
            v |= std::uint32_t(p[i + 1]) << 8;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < size ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool Base64Decode(std::string_view text, std::vector<std::uint8_t>& bytes)
{
    if (text.size() % 4 != 0)
        return false;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t v = 0;
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + std::size_t(k)];
            std::uint32_t d;
            if (c >= 'A' && c <= 'Z')
                d = std::uint32_t(c - 'A');
            else if (c >= 'a' && c <= 'z')
                d = std::uint32_t(c - 'a' + 26);
            else if (c >= '0' && c <= '9')
                d = std::uint32_t(c - '0' + 52);
            else if (c == '+')
                d = 62;
            else if (c == '/')
                d = 63;
            else if (c == '=' && i + 4 == text.size() && k >= 2) {
                d = 0;
                ++pad;
            } else {
                return false;
            }
            if (pad && c != '=')
                return false;
            v = (v << 6) | d;
        }
        out.push_back(std::uint8_t(v >> 16));
        if (pad < 2)
            out.push_back(std::uint8_t(v >> 8));
        if (pad < 1)
            out.push_back(std::uint8_t(v));
    }
    bytes = std::move(out);
    return true;
}

std::string FormatUnit(utl::CUnit const& unit)
{
    return FormatInts({unit.GetQuantity(), unit.GetExponent(), unit.GetDecimalPrefix()});
}

bool ParseUnit(std::string_view text, utl::CUnit& unit)
{
    std::vector<int> v;
    if (!ParseInts(text, v) || v.size() != 3)
        return false;
    unit = utl::CUnit(v[0], v[1], v[2]);
    return true;
}

void WriteTextAttr(CXmlWriter& writer, std::string_view name, CString const& text)
{
    const std::string utf8 = text.ToUtf8();
    // A round trip through UTF-8 proves that every unit is a valid scalar
    // value (lone surrogates are not).
    if (IsXmlText(utf8) && CString::FromUtf8(utf8).Str() == text.Str()) {
        writer.Attr(name, utf8);
        return;
    }
    std::vector<std::uint8_t> bytes;
    for (wchar_t c : text.Str()) {
        const auto u = static_cast<std::uint32_t>(c);
        for (int k = 0; k < 4; ++k)
            bytes.push_back(std::uint8_t(u >> (8 * k)));
    }
    writer.Attr(std::string(name) + "32", Base64Encode(bytes.data(), bytes.size()));
}

bool ReadTextAttr(tXmlNode const& node, std::string_view name, CString& text)
{
    if (std::string const* plain = node.Attr(name)) {
        text = CString::FromUtf8(*plain);
        return true;
    }
    std::string const* coded = node.Attr(std::string(name) + "32");
    std::vector<std::uint8_t> bytes;
    if (!coded || !Base64Decode(*coded, bytes) || bytes.size() % 4 != 0)
        return false;
    std::wstring result;
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const std::uint32_t u = std::uint32_t(bytes[i]) | (std::uint32_t(bytes[i + 1]) << 8) |
                                (std::uint32_t(bytes[i + 2]) << 16) | (std::uint32_t(bytes[i + 3]) << 24);
        if (sizeof(wchar_t) < 4 && u > 0xFFFF)
            return false;
        result += static_cast<wchar_t>(u);
    }
    text = CString(std::move(result));
    return true;
}

bool IsSavable(mem::CBin const& value) { return IsSavableAt(value, 0); }

bool WriteValue(CXmlWriter& writer, mem::CBin const& value) { return WriteValueAt(writer, value, 0); }

bool ReadValue(tXmlNode const& node, mem::CBin& value) { return ReadValueAt(node, value, 0); }

void WritePropSet(CXmlWriter& writer, utl::CPropSet const& props) { WritePropSetAt(writer, props, 0); }

bool ReadPropSet(tXmlNode const& node, utl::CPropSet& props) { return ReadPropSetAt(node, props, 0); }

}  // namespace io
}  // namespace img

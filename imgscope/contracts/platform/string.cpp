#include "imgscope/contracts/platform/string.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// Widths and precisions, written or passed by `*`, are capped here: a width
// of INT_MAX would allocate gigabytes of padding.
constexpr int kMaxFieldWidth = 1 << 20;

// Length modifiers of a conversion, MSVC's I64/I32/I included.
enum class ELength { eNone, eChar, eShort, eLong, eLongLong, eLongDouble, eIntMax, eSize, ePtrDiff, eWide };

// One conversion of a format: flags, width, precision, length, letter.
struct tConversion {
    std::string flags;
    int width = -1;
    int precision = -1;
    ELength length = ELength::eNone;
    wchar_t letter = 0;
};

std::wstring Widen(std::string const& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// printf of one number: the C library's own rules for digits, signs,
// exponents and padding, narrow so that no locale conversion of text is
// involved.
template <class T>
std::wstring FormatNumber(tConversion const& c, char const* lengthText, char letter, T value)
{
    std::string format = "%" + c.flags;
    if (c.width >= 0)
        format += std::to_string(c.width);
    if (c.precision >= 0)
        format += "." + std::to_string(c.precision);
    format += lengthText;
    format += letter;
    const int n = std::snprintf(nullptr, 0, format.c_str(), value);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), value);
    out.resize(static_cast<std::size_t>(n));
    return Widen(out);
}

// Pads text to the conversion's width, left-aligned for the '-' flag.
std::wstring Pad(tConversion const& c, std::wstring text)
{
    if (c.width > 0 && text.size() < static_cast<std::size_t>(c.width)) {
        const std::size_t fill = static_cast<std::size_t>(c.width) - text.size();
        if (c.flags.find('-') != std::string::npos)
            text.append(fill, L' ');
        else
            text.insert(0, fill, L' ');
    }
    return text;
}

bool IsNarrow(tConversion const& c)
{
    // The framework's dialect: %s and %c are wide, %hs/%hc and %S/%C narrow.
    if (c.length == ELength::eShort)
        return true;
    if (c.length == ELength::eLong || c.length == ELength::eWide)
        return false;
    return c.letter == L'S' || c.letter == L'C';
}

std::wstring VFormat(wchar_t const* format, va_list argsIn)
{
    std::wstring out;
    if (!format)
        return out;
    va_list args;
    va_copy(args, argsIn);
    wchar_t const* p = format;
    while (*p) {
        if (*p != L'%') {
            out += *p++;
            continue;
        }
        wchar_t const* const start = p++;
        if (*p == L'%') {
            out += *p++;
            continue;
        }
        tConversion c;
        while (*p && std::wcschr(L"-+ #0'", *p))
            c.flags += static_cast<char>(*p++);
        if (*p == L'*') {
            const int width = va_arg(args, int);
            if (width < 0)
                c.flags += '-';  // a negative width left-aligns
            c.width = width == INT_MIN ? kMaxFieldWidth : std::min(width < 0 ? -width : width, kMaxFieldWidth);
            ++p;
        } else {
            while (*p >= L'0' && *p <= L'9')
                c.width = std::min(std::max(c.width, 0) * 10 + static_cast<int>(*p++ - L'0'), kMaxFieldWidth);
        }
        if (*p == L'.') {
            ++p;
            if (*p == L'*') {
                c.precision = std::min(va_arg(args, int), kMaxFieldWidth);  // negative: as if omitted
                ++p;
            } else {
                c.precision = 0;
                while (*p >= L'0' && *p <= L'9')
                    c.precision = std::min(c.precision * 10 + static_cast<int>(*p++ - L'0'), kMaxFieldWidth);
            }
        }
        if (p[0] == L'h' && p[1] == L'h') {
            c.length = ELength::eChar, p += 2;
        } else if (p[0] == L'l' && p[1] == L'l') {
            c.length = ELength::eLongLong, p += 2;
        } else if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            c.length = ELength::eLongLong, p += 3;
        } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
            c.length = ELength::eNone, p += 3;
        } else if (*p && std::wcschr(L"hlLqjztIw", *p)) {
            switch (*p++) {
            case L'h': c.length = ELength::eShort; break;
            case L'l': c.length = ELength::eLong; break;
            case L'L': c.length = ELength::eLongDouble; break;
            case L'q': c.length = ELength::eLongLong; break;
            case L'j': c.length = ELength::eIntMax; break;
            case L'z':
            case L'I': c.length = ELength::eSize; break;
            case L't': c.length = ELength::ePtrDiff; break;
            default: c.length = ELength::eWide; break;
            }
        }
        c.letter = *p;
        if (!c.letter) {
            out.append(start, p);  // a format cut off after '%' stays as written
            break;
        }
        ++p;
        switch (c.letter) {
        case L'd':
        case L'i': {
            long long v = 0;
            switch (c.length) {
            case ELength::eChar: v = static_cast<signed char>(va_arg(args, int)); break;
            case ELength::eShort: v = static_cast<short>(va_arg(args, int)); break;
            case ELength::eLong: v = va_arg(args, long); break;
            case ELength::eLongLong: v = va_arg(args, long long); break;
            case ELength::eIntMax: v = va_arg(args, std::intmax_t); break;
            case ELength::eSize: v = static_cast<long long>(va_arg(args, std::size_t)); break;
            case ELength::ePtrDiff: v = va_arg(args, std::ptrdiff_t); break;
            default: v = va_arg(args, int); break;
            }
            out += FormatNumber(c, "ll", 'd', v);
            break;
        }
        case L'u':
        case L'o':
        case L'x':
        case L'X': {
            unsigned long long v = 0;
            switch (c.length) {
            case ELength::eChar: v = static_cast<unsigned char>(va_arg(args, unsigned int)); break;
            case ELength::eShort: v = static_cast<unsigned short>(va_arg(args, unsigned int)); break;
            case ELength::eLong: v = va_arg(args, unsigned long); break;
            case ELength::eLongLong: v = va_arg(args, unsigned long long); break;
            case ELength::eIntMax: v = va_arg(args, std::uintmax_t); break;
            case ELength::eSize: v = va_arg(args, std::size_t); break;
            case ELength::ePtrDiff: v = static_cast<unsigned long long>(va_arg(args, std::ptrdiff_t)); break;
            default: v = va_arg(args, unsigned int); break;
            }
            out += FormatNumber(c, "ll", static_cast<char>(c.letter), v);
            break;
        }
        case L'f':
        case L'F':
        case L'e':
        case L'E':
        case L'g':
        case L'G':
        case L'a':
        case L'A':
            // %lf is %f: a float argument arrives as a double either way.
            if (c.length == ELength::eLongDouble)
                out += FormatNumber(c, "L", static_cast<char>(c.letter), va_arg(args, long double));
            else
                out += FormatNumber(c, "", static_cast<char>(c.letter), va_arg(args, double));
            break;
        case L'p': {
            tConversion pc = c;
            pc.precision = -1;
            out += FormatNumber(pc, "", 'p', va_arg(args, void*));
            break;
        }
        case L'c':
        case L'C': {
            wchar_t ch = 0;
            if (IsNarrow(c))
                ch = static_cast<wchar_t>(static_cast<unsigned char>(va_arg(args, int)));
            else
                ch = static_cast<wchar_t>(va_arg(args, int));  // wchar_t arrives promoted
            out += Pad(c, std::wstring(1, ch));
            break;
        }
        case L's':
        case L'S': {
            std::wstring text;
            if (IsNarrow(c)) {
                char const* narrow = va_arg(args, char const*);
                text = narrow ? CString::FromUtf8(narrow).Str() : std::wstring(L"(null)");
            } else {
                wchar_t const* wide = va_arg(args, wchar_t const*);
                text = wide ? std::wstring(wide) : std::wstring(L"(null)");
            }
            if (c.precision >= 0 && text.size() > static_cast<std::size_t>(c.precision))
                text.resize(static_cast<std::size_t>(c.precision));
            out += Pad(c, std::move(text));
            break;
        }
        case L'n':
            // Writing through an argument pointer is refused, as the
            // framework's runtime does by default; the argument is skipped.
            (void)va_arg(args, void*);
            break;
        default:
            out.append(start, p);  // unknown conversion: kept as written
            break;
        }
    }
    va_end(args);
    return out;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendWide(std::wstring& out, char32_t cp)
{
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(cp);
}

}  // namespace

CString::CString(wchar_t const* text)
{
    if (text)
        m_text = text;
}

CString::CString(wchar_t const* text, std::size_t length)
{
    if (text)
        m_text.assign(text, length);
}

CString CString::FromUtf8(std::string const& utf8)
{
    std::wstring out;
    const auto* s = reinterpret_cast<unsigned char const*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, min = 0x10000;
        } else {
            AppendWide(out, kReplacement);
            ++i;
            continue;
        }
        std::size_t j = 1;
        for (; j <= static_cast<std::size_t>(extra); ++j) {
            if (i + j >= n || (s[i + j] & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (s[i + j] & 0x3F);
        }
        if (j <= static_cast<std::size_t>(extra) || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendWide(out, kReplacement);
            i += j;  // skip the lead byte and the continuation bytes read
            continue;
        }
        AppendWide(out, cp);
        i += j;
    }
    return CString(std::move(out));
}

CString CString::FromUtf8(char const* utf8)
{
    return FromUtf8(std::string(utf8 ? utf8 : ""));
}

std::string CString::ToUtf8() const
{
    std::string out;
    out.reserve(m_text.size());
    for (std::size_t i = 0; i < m_text.size(); ++i) {
        char32_t cp = static_cast<char32_t>(m_text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < m_text.size()) {
                const char32_t lo = static_cast<char32_t>(m_text[i + 1]);
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    ++i;
                }
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}

void CString::Format(wchar_t const* format, ...)
{
    va_list args;
    va_start(args, format);
    m_text = VFormat(format, args);
    va_end(args);
}

void CString::AppendFormat(wchar_t const* format, ...)
{
    va_list args;
    va_start(args, format);
    m_text += VFormat(format, args);
    va_end(args);
}

int CString::Find(wchar_t const* sub, int start) const
{
    if (!sub || start < 0 || static_cast<std::size_t>(start) > m_text.size())
        return -1;
    const auto pos = m_text.find(sub, static_cast<std::size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(wchar_t ch, int start) const
{
    if (start < 0 || static_cast<std::size_t>(start) > m_text.size())
        return -1;
    const auto pos = m_text.find(ch, static_cast<std::size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int count) const
{
    if (count <= 0)
        return CString();
    return CString(m_text.substr(0, static_cast<std::size_t>(count)));
}

CString CString::Right(int count) const
{
    if (count <= 0)
        return CString();
    const std::size_t n = std::min(m_text.size(), static_cast<std::size_t>(count));
    return CString(m_text.substr(m_text.size() - n));
}

CString CString::Mid(int first, int count) const
{
    if (first < 0)
        first = 0;
    if (static_cast<std::size_t>(first) >= m_text.size() || count == 0)
        return CString();
    const std::size_t n = count < 0 ? std::wstring::npos : static_cast<std::size_t>(count);
    return CString(m_text.substr(static_cast<std::size_t>(first), n));
}

CString& CString::MakeUpper()
{
    for (wchar_t& c : m_text)
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return *this;
}

CString& CString::MakeLower()
{
    for (wchar_t& c : m_text)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return *this;
}

CString& CString::Trim()
{
    auto isSpace = [](wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; };
    const auto first = std::find_if_not(m_text.begin(), m_text.end(), isSpace);
    const auto last = std::find_if_not(m_text.rbegin(), m_text.rend(), isSpace).base();
    m_text = first < last ? std::wstring(first, last) : std::wstring();
    return *this;
}

int CString::Compare(wchar_t const* other) const
{
    return m_text.compare(other ? other : L"");
}

int CString::CompareNoCase(wchar_t const* other) const
{
    CString a(*this);
    CString b(other);
    a.MakeLower();
    b.MakeLower();
    return a.m_text.compare(b.m_text);
}

CString& CString::operator+=(wchar_t const* o)
{
    if (o)
        m_text += o;
    return *this;
}

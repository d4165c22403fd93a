#include "imgscope/contracts/platform/string.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The framework's formats take wide strings for %s and %c; the C library's
// wide printf takes narrow ones there. Rewrite the conversions so that the
// same format text means the same thing: %s → %ls, %hs → %s, %S → %s.
std::wstring TranslateFormat(wchar_t const* format)
{
    std::wstring out;
    for (wchar_t const* p = format; *p; ++p) {
        out += *p;
        if (*p != L'%')
            continue;
        ++p;
        if (*p == L'%') {
            out += *p;
            continue;
        }
        while (*p && std::wcschr(L"-+ #0'", *p))
            out += *p++;
        while (*p && (std::iswdigit(*p) || *p == L'*' || *p == L'.'))
            out += *p++;
        std::wstring length;
        while (*p && std::wcschr(L"hlLqjzt", *p))
            length += *p++;
        if (!*p) {
            out += length;
            break;
        }
        const wchar_t conv = *p;
        if (conv == L's' || conv == L'c') {
            if (length.empty())
                out += L'l';
            else if (length != L"h")
                out += length;
            out += conv;
        } else if (conv == L'S' || conv == L'C') {
            out += static_cast<wchar_t>(std::towlower(conv));
        } else {
            out += length;
            out += conv;
        }
    }
    return out;
}

std::wstring VFormat(wchar_t const* format, va_list args)
{
    if (!format)
        return {};
    const std::wstring fmt = TranslateFormat(format);
    std::vector<wchar_t> buffer(256);
    // vswprintf reports a short buffer only by failing; grow until it fits,
    // but stop at a bound so a failing conversion cannot loop forever.
    while (buffer.size() <= (std::size_t(1) << 26)) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vswprintf(buffer.data(), buffer.size(), fmt.c_str(), copy);
        va_end(copy);
        if (n >= 0 && static_cast<std::size_t>(n) < buffer.size())
            return std::wstring(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 4);
    }
    return {};
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

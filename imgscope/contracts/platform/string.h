// The framework's wide-character string.
#pragma once

#include "imgscope/library/export.h"

#include <cstddef>
#include <ostream>
#include <string>

// A wide string with printf-style formatting. Every name in the interface
// is a CString; conversions to and from UTF-8 serve files and terminals.
class IMGSCOPE_API CString {
public:
    CString() = default;
    CString(wchar_t const* text);  // null gives an empty string
    CString(wchar_t const* text, std::size_t length);
    CString(std::wstring text) : m_text(std::move(text)) {}

    // Decodes UTF-8; invalid sequences become U+FFFD.
    static CString FromUtf8(char const* utf8);
    static CString FromUtf8(std::string const& utf8);
    // Encodes as UTF-8; unpaired or out-of-range code points become U+FFFD.
    std::string ToUtf8() const;

    // Replaces the content by the formatted text, in the framework's
    // dialect: `%s` and `%c` take wide arguments (`%hs`, `%S`, `%hc`, `%C`
    // narrow ones, read as UTF-8); `%I64d` is `%lld`. Numbers follow printf
    // (`%.2lfx` gives "1.25x" for 1.25). A null string argument prints
    // "(null)"; `%n` writes nothing; an unknown conversion is copied as
    // written. A null format gives an empty string.
    void Format(wchar_t const* format, ...);
    void AppendFormat(wchar_t const* format, ...);

    std::size_t GetLength() const { return m_text.size(); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    wchar_t const* GetString() const { return m_text.c_str(); }
    operator wchar_t const*() const { return m_text.c_str(); }
    std::wstring const& Str() const { return m_text; }

    wchar_t GetAt(std::size_t i) const { return m_text.at(i); }
    // Position of the first occurrence at or after `start`, or -1.
    int Find(wchar_t const* sub, int start = 0) const;
    int Find(wchar_t ch, int start = 0) const;
    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first, int count = -1) const;
    CString& MakeUpper();
    CString& MakeLower();
    CString& Trim();

    // Ordinal comparison: <0, 0 or >0.
    int Compare(wchar_t const* other) const;
    int CompareNoCase(wchar_t const* other) const;

    CString& operator+=(CString const& o) { m_text += o.m_text; return *this; }
    CString& operator+=(wchar_t const* o);
    CString& operator+=(wchar_t ch) { m_text += ch; return *this; }

    friend CString operator+(CString a, CString const& b) { a += b; return a; }
    friend CString operator+(CString a, wchar_t const* b) { a += b; return a; }
    friend CString operator+(CString a, wchar_t b) { a += b; return a; }
    friend CString operator+(wchar_t const* a, CString const& b) { CString r(a); r += b; return r; }

    // Ordinal (code unit) order, as Compare. A null pointer equals "".
    friend bool operator==(CString const& a, CString const& b) { return a.m_text == b.m_text; }
    friend bool operator!=(CString const& a, CString const& b) { return a.m_text != b.m_text; }
    friend bool operator<(CString const& a, CString const& b) { return a.m_text < b.m_text; }
    friend bool operator>(CString const& a, CString const& b) { return b.m_text < a.m_text; }
    friend bool operator<=(CString const& a, CString const& b) { return !(b.m_text < a.m_text); }
    friend bool operator>=(CString const& a, CString const& b) { return !(a.m_text < b.m_text); }
    friend bool operator==(CString const& a, wchar_t const* b) { return a.Compare(b) == 0; }
    friend bool operator!=(CString const& a, wchar_t const* b) { return a.Compare(b) != 0; }
    friend bool operator==(wchar_t const* a, CString const& b) { return b.Compare(a) == 0; }
    friend bool operator!=(wchar_t const* a, CString const& b) { return b.Compare(a) != 0; }

    // Writes the text as UTF-8 (logs, test failure messages).
    friend std::ostream& operator<<(std::ostream& os, CString const& s) { return os << s.ToUtf8(); }

private:
    std::wstring m_text;
};

#include "imgscope/io/xml_internal.h"

#include "imgscope/contracts/platform/string.h"

#include <cstdint>

namespace img {
namespace io {

namespace {

std::string_view StripPrefix(std::string_view name)
{
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsNameChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == ':' ||
           u == '-' || u == '.' || u >= 0x80;
}

// The platform's string does the encoding.
void AppendUtf8(std::string& out, std::uint32_t cp)
{
    std::wstring wide;
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
        wide += wchar_t(0xD800 + ((cp - 0x10000) >> 10));
        wide += wchar_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        wide += wchar_t(cp);
    }
    out += CString(std::move(wide)).ToUtf8();
}

bool IsXmlChar(std::uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
           (cp >= 0x10000 && cp <= 0x10FFFF);
}

// The parser walks the text once with an explicit stack of open elements,
// so nesting depth costs no recursion.
class CParser {
public:
    explicit CParser(std::string_view xml) : m_s(xml) {}

    bool Run(tXmlNode& root)
    {
        if (!IsXmlText(m_s))
            return false;
        if (!SkipProlog())
            return false;
        if (!Peek('<'))
            return false;
        std::vector<tXmlNode*> open;
        bool done = false;
        root = tXmlNode();
        while (!done) {
            if (m_pos >= m_s.size())
                return false;  // unclosed elements
            if (m_s[m_pos] != '<') {
                if (open.empty() || !ReadText(open.back()->text))
                    return false;
                continue;
            }
            if (StartsWith("<!--")) {
                if (!SkipPast("-->"))
                    return false;
            } else if (StartsWith("<![CDATA[")) {
                const std::size_t start = m_pos + 9;
                const std::size_t end = m_s.find("]]>", start);
                if (open.empty() || end == std::string_view::npos)
                    return false;
                open.back()->text.append(m_s.substr(start, end - start));
                m_pos = end + 3;
            } else if (StartsWith("<?")) {
                if (!SkipPast("?>"))
                    return false;
            } else if (StartsWith("</")) {
                m_pos += 2;
                const std::string_view name = ReadName();
                SkipSpace();
                if (open.empty() || name.empty() || !Peek('>') || name != open.back()->name)
                    return false;
                ++m_pos;
                open.pop_back();
                done = open.empty();
            } else {
                ++m_pos;
                tXmlNode* node = nullptr;
                if (open.empty()) {
                    node = &root;
                } else {
                    if (static_cast<int>(open.size()) >= kMaxXmlDepth)
                        return false;
                    open.back()->children.emplace_back();
                    node = &open.back()->children.back();
                }
                bool selfClosing = false;
                if (!ReadStartTag(*node, selfClosing))
                    return false;
                if (selfClosing)
                    done = open.empty();
                else
                    open.push_back(node);
            }
        }
        // Only comments, processing instructions and space may follow.
        return SkipMisc() && m_pos == m_s.size();
    }

private:
    bool Peek(char c) const { return m_pos < m_s.size() && m_s[m_pos] == c; }
    bool StartsWith(std::string_view p) const { return m_s.substr(m_pos, p.size()) == p; }
    void SkipSpace()
    {
        while (m_pos < m_s.size() && IsSpace(m_s[m_pos]))
            ++m_pos;
    }
    bool SkipPast(std::string_view end)
    {
        const std::size_t at = m_s.find(end, m_pos);
        if (at == std::string_view::npos)
            return false;
        m_pos = at + end.size();
        return true;
    }
    bool SkipMisc()
    {
        for (;;) {
            SkipSpace();
            if (StartsWith("<!--")) {
                if (!SkipPast("-->"))
                    return false;
            } else if (StartsWith("<?")) {
                if (!SkipPast("?>"))
                    return false;
            } else {
                return true;
            }
        }
    }
    bool SkipProlog()
    {
        if (StartsWith("\xEF\xBB\xBF"))
            m_pos += 3;
        if (!SkipMisc())
            return false;
        if (StartsWith("<!DOCTYPE")) {
            // Entity definitions in an internal subset are the door to
            // entity expansion attacks; OME files never need one.
            const std::size_t end = m_s.find('>', m_pos);
            if (end == std::string_view::npos || m_s.substr(m_pos, end - m_pos).find('[') != std::string_view::npos)
                return false;
            m_pos = end + 1;
            return SkipMisc();
        }
        return true;
    }
    std::string_view ReadName()
    {
        const std::size_t start = m_pos;
        while (m_pos < m_s.size() && IsNameChar(m_s[m_pos]))
            ++m_pos;
        return m_s.substr(start, m_pos - start);
    }
    // Character data up to the next '<', entities resolved.
    bool ReadText(std::string& out)
    {
        const std::size_t end = m_s.find('<', m_pos);
        if (end == std::string_view::npos)
            return false;
        const bool ok = Unescape(m_s.substr(m_pos, end - m_pos), out);
        m_pos = end;
        return ok;
    }
    static bool Unescape(std::string_view in, std::string& out)
    {
        for (std::size_t i = 0; i < in.size();) {
            const char c = in[i];
            if (c != '&') {
                out += c;
                ++i;
                continue;
            }
            const std::size_t semi = in.find(';', i);
            if (semi == std::string_view::npos || semi - i > 12)
                return false;
            const std::string_view ent = in.substr(i + 1, semi - i - 1);
            if (ent == "lt")
                out += '<';
            else if (ent == "gt")
                out += '>';
            else if (ent == "amp")
                out += '&';
            else if (ent == "quot")
                out += '"';
            else if (ent == "apos")
                out += '\'';
            else if (ent.size() > 1 && ent[0] == '#') {
                std::uint32_t cp = 0;
                const bool hex = ent[1] == 'x';
                const std::string_view digits = ent.substr(hex ? 2 : 1);
                if (digits.empty())
                    return false;
                for (char d : digits) {
                    std::uint32_t v;
                    if (d >= '0' && d <= '9')
                        v = std::uint32_t(d - '0');
                    else if (hex && d >= 'a' && d <= 'f')
                        v = std::uint32_t(d - 'a' + 10);
                    else if (hex && d >= 'A' && d <= 'F')
                        v = std::uint32_t(d - 'A' + 10);
                    else
                        return false;
                    cp = cp * (hex ? 16 : 10) + v;
                    if (cp > 0x10FFFF)
                        return false;
                }
                if (!IsXmlChar(cp))
                    return false;
                AppendUtf8(out, cp);
            } else {
                return false;
            }
            i = semi + 1;
        }
        return true;
    }
    bool ReadStartTag(tXmlNode& node, bool& selfClosing)
    {
        const std::string_view name = ReadName();
        if (name.empty())
            return false;
        node.name = std::string(name);
        for (;;) {
            const std::size_t before = m_pos;
            SkipSpace();
            if (StartsWith("/>")) {
                m_pos += 2;
                selfClosing = true;
                return true;
            }
            if (Peek('>')) {
                ++m_pos;
                selfClosing = false;
                return true;
            }
            if (m_pos == before)
                return false;  // attributes need space between them
            const std::string_view attr = ReadName();
            SkipSpace();
            if (attr.empty() || !Peek('='))
                return false;
            ++m_pos;
            SkipSpace();
            if (m_pos >= m_s.size() || (m_s[m_pos] != '"' && m_s[m_pos] != '\''))
                return false;
            const char quote = m_s[m_pos++];
            const std::size_t end = m_s.find(quote, m_pos);
            if (end == std::string_view::npos)
                return false;
            const std::string_view raw = m_s.substr(m_pos, end - m_pos);
            if (raw.find('<') != std::string_view::npos)
                return false;
            std::string value;
            if (!Unescape(raw, value))
                return false;
            node.attributes.emplace_back(std::string(attr), std::move(value));
            m_pos = end + 1;
        }
    }

    std::string_view m_s;
    std::size_t m_pos = 0;
};

void Escape(std::string& out, std::string_view text, bool attribute)
{
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        // Readers normalise line ends and attribute white space; character
        // references survive both.
        case '\r': out += "&#13;"; break;
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        default: out += c;
        }
    }
}

}  // namespace

std::string_view tXmlNode::LocalName() const { return StripPrefix(name); }

std::string const* tXmlNode::Attr(std::string_view localName) const
{
    for (auto const& a : attributes)
        if (StripPrefix(a.first) == localName)
            return &a.second;
    return nullptr;
}

tXmlNode const* tXmlNode::Child(std::string_view localName) const
{
    for (auto const& c : children)
        if (c.LocalName() == localName)
            return &c;
    return nullptr;
}

bool ParseXml(std::string_view xml, tXmlNode& root)
{
    return CParser(xml).Run(root);
}

bool IsXmlText(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t cp;
        int extra;
        if (b < 0x80) {
            cp = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (i + std::size_t(extra) >= s.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto cb = static_cast<unsigned char>(s[i + std::size_t(k)]);
            if ((cb & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cb & 0x3F);
        }
        // Overlong forms and surrogates are not UTF-8.
        static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || (cp >= 0xD800 && cp <= 0xDFFF) || !IsXmlChar(cp))
            return false;
        i += std::size_t(extra) + 1;
    }
    return true;
}

CXmlWriter::CXmlWriter() { m_out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"; }

void CXmlWriter::EndStartTag()
{
    if (m_inStartTag) {
        m_out += '>';
        m_inStartTag = false;
    }
}

void CXmlWriter::Open(std::string_view name)
{
    EndStartTag();
    m_out += '<';
    m_out.append(name);
    m_open.emplace_back(name);
    m_inStartTag = true;
}

void CXmlWriter::Attr(std::string_view name, std::string_view value)
{
    m_out += ' ';
    m_out.append(name);
    m_out += "=\"";
    Escape(m_out, value, true);
    m_out += '"';
}

void CXmlWriter::Attr(std::string_view name, long long value) { Attr(name, std::to_string(value)); }

void CXmlWriter::Text(std::string_view text)
{
    EndStartTag();
    Escape(m_out, text, false);
}

void CXmlWriter::Close()
{
    if (m_open.empty())
        return;
    if (m_inStartTag) {
        m_out += "/>";
        m_inStartTag = false;
    } else {
        m_out += "</";
        m_out += m_open.back();
        m_out += '>';
    }
    m_open.pop_back();
}

}  // namespace io
}  // namespace img

// A small XML reader and writer for OME-XML: elements, attributes and
// text, namespaces matched by local name. Not installed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace img {
namespace io {

// One element with its attributes, the text directly inside it and its
// child elements in document order. Names keep their prefix; lookups
// compare local names, so "ome:Image" and "Image" are found alike.
struct tXmlNode {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<tXmlNode> children;

    std::string_view LocalName() const;
    // The attribute's value, or null.
    std::string const* Attr(std::string_view localName) const;
    // The first child of that local name, or null.
    tXmlNode const* Child(std::string_view localName) const;
};

// Elements may nest this deep; deeper documents are refused so that a
// hostile file cannot exhaust the stack of the tree's destructor.
constexpr int kMaxXmlDepth = 200;

// Parses a whole document (prolog, comments, one root element). False for
// malformed XML, a document type with an internal subset, unknown entities
// or nesting past kMaxXmlDepth; `root` is then unspecified.
bool ParseXml(std::string_view xml, tXmlNode& root);

// True when every character of the UTF-8 text may stand in an XML 1.0
// document (escaped where needed): valid UTF-8 without control characters
// other than tab, line feed and carriage return.
bool IsXmlText(std::string_view utf8);

// Builds a document as a string. Attributes follow Open before any text or
// child; Close ends the innermost open element.
class CXmlWriter {
public:
    CXmlWriter();
    void Open(std::string_view name);
    void Attr(std::string_view name, std::string_view value);
    void Attr(std::string_view name, long long value);
    void Text(std::string_view text);
    void Close();
    std::string const& Str() const { return m_out; }

private:
    void EndStartTag();

    std::string m_out;
    std::vector<std::string> m_open;
    bool m_inStartTag = false;
};

}  // namespace io
}  // namespace img

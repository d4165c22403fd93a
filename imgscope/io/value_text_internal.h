// Typed values as XML: numbers that read back bit for bit, base64, texts
// that survive any character, and mem::CBin values and property sets of
// every type code. Not installed.
#pragma once

#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/foundation/units.h"
#include "imgscope/contracts/foundation/value.h"
#include "imgscope/contracts/platform/string.h"
#include "imgscope/io/xml_internal.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace img {
namespace io {

// Shortest text that reads back as the same number; "nan", "inf", "-inf".
std::string FormatDouble(double value);
std::string FormatFloat(float value);
bool ParseDouble(std::string_view text, double& value);
bool ParseFloat(std::string_view text, float& value);
// Whole decimal numbers that fit the target type.
bool ParseInt(std::string_view text, long long& value);
bool ParseUInt(std::string_view text, unsigned long long& value);
bool ParseInt32(std::string_view text, int& value);
// Numbers separated by single spaces; an empty text is an empty list.
std::string FormatInts(std::vector<int> const& values);
bool ParseInts(std::string_view text, std::vector<int>& values);
bool ParseDoubles(std::string_view text, std::vector<double>& values);

std::string Base64Encode(void const* data, std::size_t size);
bool Base64Decode(std::string_view text, std::vector<std::uint8_t>& bytes);

// A unit as "quantity exponent prefix".
std::string FormatUnit(utl::CUnit const& unit);
bool ParseUnit(std::string_view text, utl::CUnit& unit);

// Writes a text as attribute `name`, or, when it holds characters XML
// cannot carry, as base64 of its UTF-32 code units in attribute `name`
// followed by "32" (Name32="...").
void WriteTextAttr(CXmlWriter& writer, std::string_view name, CString const& text);
// Reads what WriteTextAttr wrote; false when neither attribute is there or
// the encoding is broken.
bool ReadTextAttr(tXmlNode const& node, std::string_view name, CString& text);

// Values a file can hold: everything but pointers, also inside nested
// property sets.
bool IsSavable(mem::CBin const& value);
// Writes the value's type ("T", with "U" for a unit) and content into the
// element opened last: text for plain values, <P> children for property
// sets. False, nothing written, for a value IsSavable refuses.
bool WriteValue(CXmlWriter& writer, mem::CBin const& value);
bool ReadValue(tXmlNode const& node, mem::CBin& value);

// A property set as <P I="id" ...> children of the element opened last;
// values IsSavable refuses are left out.
void WritePropSet(CXmlWriter& writer, utl::CPropSet const& props);
// Replaces `props` by the <P> children of `node`; false for a broken entry.
bool ReadPropSet(tXmlNode const& node, utl::CPropSet& props);

}  // namespace io
}  // namespace img

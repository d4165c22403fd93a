// 8-bit colours in both byte orders.
#pragma once

namespace utl {

class CRGB8;

// Blue, green, red: the byte order of LUT entries.
class CBGR8 {
public:
    unsigned char b = 0;
    unsigned char g = 0;
    unsigned char r = 0;

    constexpr CBGR8() = default;
    constexpr CBGR8(unsigned char blue, unsigned char green, unsigned char red) : b(blue), g(green), r(red) {}
    constexpr explicit CBGR8(CRGB8 const& c);

    constexpr bool operator==(CBGR8 const& o) const { return b == o.b && g == o.g && r == o.r; }
    constexpr bool operator!=(CBGR8 const& o) const { return !(*this == o); }
};

// Red, green, blue.
class CRGB8 {
public:
    unsigned char r = 0;
    unsigned char g = 0;
    unsigned char b = 0;

    constexpr CRGB8() = default;
    constexpr CRGB8(unsigned char red, unsigned char green, unsigned char blue) : r(red), g(green), b(blue) {}
    constexpr explicit CRGB8(CBGR8 const& c) : r(c.r), g(c.g), b(c.b) {}

    constexpr bool operator==(CRGB8 const& o) const { return r == o.r && g == o.g && b == o.b; }
    constexpr bool operator!=(CRGB8 const& o) const { return !(*this == o); }
};

constexpr CBGR8::CBGR8(CRGB8 const& c) : b(c.b), g(c.g), r(c.r) {}

// LUTs are handed around as byte arrays of three bytes per entry.
static_assert(sizeof(CBGR8) == 3 && sizeof(CRGB8) == 3, "colours must be packed byte triples");

}  // namespace utl

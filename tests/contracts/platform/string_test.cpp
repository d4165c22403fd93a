#include "imgscope/contracts/platform/string.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <sstream>

namespace {

TEST(StringFormatTest, FrameworkDialectWidthsPrecisionsAndLengths)
{
    CString s;
    struct Case {
        char const* what;
        CString produced;
        wchar_t const* expected;
    };
    auto fmt = [](wchar_t const* format, auto... args) {
        CString out(L"old");
        out.Format(format, args...);
        return out;
    };
    const Case cases[] = {
        {"magnifications round as printf does", fmt(L"%.0lfx|%.0lfx|%.1lfx|%.2lfx|%.0lfx|%.2lfx", 10.0, 0.999, 2.5, 1.25,
                                                    1.999, 0.25),
         L"10x|1x|2.5x|1.25x|2x|0.25x"},
        {"layer name", fmt(L"%s FocusMap %d%%", L"10x", 50), L"10x FocusMap 50%"},
        {"wide width", fmt(L"[%5s|%-5s]", L"ab", L"cd"), L"[   ab|cd   ]"},
        {"precision cuts text", fmt(L"%.3s", L"Overview"), L"Ove"},
        {"narrow text is UTF-8", fmt(L"%hs/%S", "\xC2\xB5m", "nm"), L"\x00B5m/nm"},
        {"null strings", fmt(L"%s %hs", static_cast<wchar_t const*>(nullptr), static_cast<char const*>(nullptr)),
         L"(null) (null)"},
        {"chars", fmt(L"%c%hc%C%lc", L'\x00B5', 'a', 'b', L'z'), L"\x00B5" L"abz"},
        {"64-bit", fmt(L"%I64d %lld %llu", INT64_MIN, -1LL, ~0ULL),
         L"-9223372036854775808 -1 18446744073709551615"},
        {"sizes", fmt(L"%zu %Iu %hd %hhu", std::size_t(7), std::size_t(8), 70000, 257), L"7 8 4464 1"},
        {"hex and padding", fmt(L"%#x %08.3f %+d %X", 255, -3.14159, 5, 0xABCu), L"0xff -003.142 +5 ABC"},
        {"star width and precision", fmt(L"[%*d|%-*d|%.*f]", 4, 7, -4, 7, 1, 2.25), L"[   7|7   |2.2]"},
        {"percent, unknown, cut off", fmt(L"100%% %y %"), L"100% %y %"},
        {"exponent and long double", fmt(L"%.2e %Lg", 12345.678, 0.5L), L"1.23e+04 0.5"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.produced, c.expected);
    }

    int written = -1;
    s.Format(L"ab%n", &written);
    EXPECT_EQ(s, L"ab");
    EXPECT_EQ(written, -1);
    s.Format(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    s.Format(L"%.0lfx", 1e300);  // 301 digits and the x
    EXPECT_EQ(s.GetLength(), 302u);
    s.AppendFormat(L"%05d", 42);
    EXPECT_EQ(s.Right(6), L"x00042");
}

TEST(StringFormatTest, StarWidthsAndPrecisionsAreCappedLikeWrittenOnes)
{
    // Capped at 2^20 characters, whether written or passed; a negative `*`
    // width left-aligns, INT_MIN included.
    constexpr unsigned kCap = 1u << 20;
    CString s;
    s.Format(L"%*d", INT_MAX, 7);
    EXPECT_EQ(s.GetLength(), kCap);
    EXPECT_EQ(s.Right(2), L" 7");
    s.Format(L"%*d", INT_MIN, 7);
    EXPECT_EQ(s.GetLength(), kCap);
    EXPECT_EQ(s.Left(2), L"7 ");
    s.Format(L"%*s|", static_cast<int>(kCap) + 1, L"x");
    EXPECT_EQ(s.GetLength(), kCap + 1);
    s.Format(L"%*s|", static_cast<int>(kCap) - 1, L"x");
    EXPECT_EQ(s.GetLength(), kCap);
    s.Format(L"%99999999d", 7);
    EXPECT_EQ(s.GetLength(), kCap);
    s.Format(L"%.*f", INT_MAX, 0.5);
    EXPECT_EQ(s.GetLength(), kCap + 2);  // "0." and the capped digits
    s.Format(L"%.*f", INT_MIN, 0.5);
    EXPECT_EQ(s, L"0.500000");  // negative: as if omitted
}

TEST(StringTest, Utf8RoundTripAndInvalidInput)
{
    const std::string text = "\xC2\xB5m \xE6\x97\xA5 \xF0\x9F\x94\xAC";  // µm, a CJK sign, an emoji
    const CString wide = CString::FromUtf8(text);
    EXPECT_EQ(wide.GetLength(), sizeof(wchar_t) == 4 ? 6u : 7u);
    EXPECT_EQ(wide.ToUtf8(), text);

    // A stray continuation byte and a truncated sequence become U+FFFD.
    const CString bad = CString::FromUtf8(std::string("a\x80" "b\xE6\x97", 5));
    EXPECT_EQ(bad, CString(L"a\xFFFD" L"b\xFFFD"));
    EXPECT_EQ(CString::FromUtf8(static_cast<char const*>(nullptr)), CString());
}

TEST(StringTest, ComparisonConcatenationAndSlicing)
{
    const CString layer = CString(L"Layer") + L' ' + L"1";
    EXPECT_TRUE(L"Layer 1" == layer);
    EXPECT_TRUE(CString(L"Layer") < layer && layer > CString(L"Lay"));
    EXPECT_NE(layer.Compare(L"layer 1"), 0);
    EXPECT_EQ(layer.CompareNoCase(L"LAYER 1"), 0);
    EXPECT_EQ(layer.Find(L"1"), 6);
    EXPECT_EQ(layer.Find(L"1", 7), -1);
    EXPECT_EQ(layer.Mid(2, 3), L"yer");
    EXPECT_EQ(layer.Mid(50), CString());
    EXPECT_EQ(layer.Left(100), layer);
    EXPECT_EQ(CString(static_cast<wchar_t const*>(nullptr)), CString());
    std::ostringstream os;
    os << CString::FromUtf8("\xC2\xB5m");
    EXPECT_EQ(os.str(), "\xC2\xB5m");
}

}  // namespace

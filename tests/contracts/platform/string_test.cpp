#include "imgscope/contracts/platform/string.h"

#include <gtest/gtest.h>

namespace {

TEST(StringFormatTest, MagnificationFormatsRoundAsPrintfDoes)
{
    struct Case {
        wchar_t const* format;
        double value;
        wchar_t const* expected;
    };
    const Case cases[] = {
        {L"%.0lfx", 10.0, L"10x"},   {L"%.0lfx", 0.999, L"1x"},  {L"%.1lfx", 2.5, L"2.5x"},
        {L"%.2lfx", 1.25, L"1.25x"}, {L"%.0lfx", 1.999, L"2x"}, {L"%.2lfx", 0.25, L"0.25x"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value);
        CString s;
        s.Format(c.format, c.value);
        EXPECT_EQ(s, CString(c.expected));
    }
}

TEST(StringFormatTest, StringArgumentsAreWideAndLongOutputGrows)
{
    CString s;
    s.Format(L"%s FocusMap %d%% %c %hs", L"10x", 50, L'z', "narrow");
    EXPECT_EQ(s, CString(L"10x FocusMap 50% z narrow"));

    const std::wstring longText(5000, L'a');
    s.Format(L"<%s>", longText.c_str());
    EXPECT_EQ(s.GetLength(), 5002u);

    s.AppendFormat(L"%05d", 42);
    EXPECT_EQ(s.Right(5), CString(L"00042"));
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
    CString a(L"Layer");
    const CString b = a + L" 1";
    EXPECT_EQ(b, L"Layer 1");
    EXPECT_TRUE(a < b);
    EXPECT_NE(a.Compare(L"layer"), 0);
    EXPECT_EQ(a.CompareNoCase(L"LAYER"), 0);
    EXPECT_EQ(b.Find(L"1"), 6);
    EXPECT_EQ(b.Find(L"x"), -1);
    EXPECT_EQ(b.Mid(2, 3), L"yer");
    EXPECT_EQ(b.Left(100), b);
    EXPECT_EQ(b.Mid(50), CString());
    EXPECT_EQ(CString(static_cast<wchar_t const*>(nullptr)), CString());
    CString t(L"  x y \t");
    EXPECT_EQ(t.Trim(), L"x y");
}

}  // namespace

// CString::Format and AppendFormat on random conversions: flags, written and
// `*` widths and precisions, every length modifier, known and unknown
// letters, cut-off conversions, with arguments of the types the dialect
// reads for them. The text around a conversion must come through unchanged,
// padding must reach the width, and the result must survive UTF-8.
#include "imgscope/contracts/platform/string.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool ok, char const* what)
{
    if (!ok) {
        std::fprintf(stderr, "format_fuzz: %s\n", what);
        std::abort();
    }
}

// Widths and precisions, written or passed through `*`, are capped at 2^20
// characters. One `*` argument in eight takes any int, so the cap itself is
// exercised; the rest stay small, so that a run tries many conversions.
constexpr long long kWidthCap = 1 << 20;

int StarArgument(FuzzedDataProvider& in)
{
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        return in.ConsumeIntegral<int>();
    return in.ConsumeIntegralInRange(-4096, 4096);
}

enum class EArg { eNone, eInt, eLong, eLongLong, eIntMax, eSize, ePtrDiff, eUInt, eULong, eULongLong, eUIntMax,
                  eDouble, eLongDouble, ePointer, eNarrow, eWide };

struct tConversion {
    std::wstring text;
    std::vector<int> stars;  // arguments for `*`, in order
    EArg arg = EArg::eNone;
    int width = 0;        // as the conversion reads it; 0 when none
    bool padded = false;  // the letter pads its text to the width
};

wchar_t LiteralChar(FuzzedDataProvider& in)
{
    // Mostly printable, sometimes anything but '%' and the terminator.
    const wchar_t c = in.ConsumeBool() ? static_cast<wchar_t>(in.ConsumeIntegralInRange<int>(' ', '~'))
                                       : static_cast<wchar_t>(in.ConsumeIntegralInRange<std::uint32_t>(1, 0x10FFFF + 8));
    return c == L'%' ? L'!' : c;
}

int Digits(FuzzedDataProvider& in, std::wstring& text)
{
    const int count = in.ConsumeIntegralInRange(0, 31) == 0 ? in.ConsumeIntegralInRange(5, 9) : in.ConsumeIntegralInRange(1, 3);
    long long value = 0;
    for (int i = 0; i < count; ++i) {
        const int d = in.ConsumeIntegralInRange(0, 9);
        text += static_cast<wchar_t>(L'0' + d);
        value = std::min(value * 10 + d, kWidthCap);
    }
    return static_cast<int>(value);
}

EArg IntegerArg(std::wstring const& length, bool isUnsigned)
{
    if (length == L"l")
        return isUnsigned ? EArg::eULong : EArg::eLong;
    if (length == L"ll" || length == L"q" || length == L"I64")
        return isUnsigned ? EArg::eULongLong : EArg::eLongLong;
    if (length == L"j")
        return isUnsigned ? EArg::eUIntMax : EArg::eIntMax;
    if (length == L"z" || length == L"I")
        return EArg::eSize;
    if (length == L"t")
        return EArg::ePtrDiff;
    return isUnsigned ? EArg::eUInt : EArg::eInt;
}

tConversion MakeConversion(FuzzedDataProvider& in, bool& cut)
{
    tConversion s;
    s.text = L"%";
    std::wstring flags;
    for (int i = in.ConsumeIntegralInRange(0, 3); i > 0; --i)
        flags += L"-+ #0'"[in.ConsumeIntegralInRange(0, 5)];
    s.text += flags;
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 1: s.width = Digits(in, s.text); break;
    case 2: {
        s.text += L'*';
        const int w = StarArgument(in);
        s.stars.push_back(w);
        s.width = static_cast<int>(std::min(std::llabs(static_cast<long long>(w)), kWidthCap));
        break;
    }
    default: break;
    }
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 1:
        s.text += L'.';
        Digits(in, s.text);
        break;
    case 2:
        s.text += L".*";
        s.stars.push_back(StarArgument(in));
        break;
    default: break;
    }
    static wchar_t const* const lengths[] = {L"", L"hh", L"h", L"l", L"ll", L"L", L"q", L"j", L"z", L"t", L"I", L"I64", L"I32", L"w"};
    const std::wstring length = lengths[in.ConsumeIntegralInRange(0, 13)];
    s.text += length;
    // A conversion cut off by the end of the format stays as written.
    if (in.ConsumeIntegralInRange(0, 15) == 0) {
        cut = true;
        return s;
    }
    static wchar_t const letters[] = L"diuoxXfFeEgGaApcCsSn";
    wchar_t letter = 0;
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        // Unknown letters take no argument; avoid what would continue the conversion.
        letter = LiteralChar(in);
        if (std::wstring(L"0123456789.*-+ #'hlLqjztIw").find(letter) != std::wstring::npos ||
            std::wstring(letters).find(letter) != std::wstring::npos)
            letter = L'y';
    } else {
        letter = letters[in.ConsumeIntegralInRange(0, 19)];
    }
    s.text += letter;
    switch (letter) {
    case L'd':
    case L'i': s.arg = IntegerArg(length, false); break;
    case L'u':
    case L'o':
    case L'x':
    case L'X': s.arg = IntegerArg(length, true); break;
    case L'f':
    case L'F':
    case L'e':
    case L'E':
    case L'g':
    case L'G':
    case L'a':
    case L'A': s.arg = length == L"L" ? EArg::eLongDouble : EArg::eDouble; break;
    case L'p':
    case L'n': s.arg = EArg::ePointer; break;
    case L'c':
    case L'C': s.arg = EArg::eInt; break;
    case L's':
    case L'S': {
        const bool narrow = length == L"h" || (length != L"l" && length != L"w" && letter == L'S');
        s.arg = narrow ? EArg::eNarrow : EArg::eWide;
        break;
    }
    default: break;
    }
    s.padded = letter != L'n' && s.arg != EArg::eNone;
    return s;
}

template <class... A>
void Call(CString& out, bool append, wchar_t const* format, A... args)
{
    if (append)
        out.AppendFormat(format, args...);
    else
        out.Format(format, args...);
}

template <class... A>
void CallWithStars(CString& out, bool append, wchar_t const* format, std::vector<int> const& stars, A... args)
{
    switch (stars.size()) {
    case 0: Call(out, append, format, args...); break;
    case 1: Call(out, append, format, stars[0], args...); break;
    default: Call(out, append, format, stars[0], stars[1], args...); break;
    }
}

void Run(CString& out, bool append, tConversion const& s, std::wstring const& format, FuzzedDataProvider& in,
         std::string const& narrow, std::wstring const& wide)
{
    wchar_t const* f = format.c_str();
    const auto bits = in.ConsumeIntegral<std::uint64_t>();
    switch (s.arg) {
    case EArg::eNone: CallWithStars(out, append, f, s.stars); break;
    case EArg::eInt: CallWithStars(out, append, f, s.stars, static_cast<int>(bits)); break;
    case EArg::eLong: CallWithStars(out, append, f, s.stars, static_cast<long>(bits)); break;
    case EArg::eLongLong: CallWithStars(out, append, f, s.stars, static_cast<long long>(bits)); break;
    case EArg::eIntMax: CallWithStars(out, append, f, s.stars, static_cast<std::intmax_t>(bits)); break;
    case EArg::eSize: CallWithStars(out, append, f, s.stars, static_cast<std::size_t>(bits)); break;
    case EArg::ePtrDiff: CallWithStars(out, append, f, s.stars, static_cast<std::ptrdiff_t>(bits)); break;
    case EArg::eUInt: CallWithStars(out, append, f, s.stars, static_cast<unsigned>(bits)); break;
    case EArg::eULong: CallWithStars(out, append, f, s.stars, static_cast<unsigned long>(bits)); break;
    case EArg::eULongLong: CallWithStars(out, append, f, s.stars, static_cast<unsigned long long>(bits)); break;
    case EArg::eUIntMax: CallWithStars(out, append, f, s.stars, static_cast<std::uintmax_t>(bits)); break;
    case EArg::eDouble: {
        double v;
        std::memcpy(&v, &bits, sizeof v);
        CallWithStars(out, append, f, s.stars, v);
        break;
    }
    case EArg::eLongDouble: {
        double v;
        std::memcpy(&v, &bits, sizeof v);
        CallWithStars(out, append, f, s.stars, static_cast<long double>(v));
        break;
    }
    case EArg::ePointer:
        CallWithStars(out, append, f, s.stars, reinterpret_cast<void*>(static_cast<std::uintptr_t>(bits)));
        break;
    case EArg::eNarrow: CallWithStars(out, append, f, s.stars, (bits & 7) == 0 ? nullptr : narrow.c_str()); break;
    case EArg::eWide: CallWithStars(out, append, f, s.stars, (bits & 7) == 0 ? nullptr : wide.c_str()); break;
    }
}

bool StartsWith(std::wstring const& s, std::wstring const& p)
{
    return s.size() >= p.size() && s.compare(0, p.size(), p) == 0;
}

bool EndsWith(std::wstring const& s, std::wstring const& p)
{
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string narrow = in.ConsumeRandomLengthString(24);
    std::wstring wide;
    for (int i = in.ConsumeIntegralInRange(0, 12); i > 0; --i)
        wide += LiteralChar(in);
    CString out;
    std::wstring before;  // what AppendFormat must keep
    for (int step = 0; step < 8 && in.remaining_bytes() > 0; ++step) {
        std::wstring prefix, suffix;
        for (int i = in.ConsumeIntegralInRange(0, 6); i > 0; --i)
            prefix += LiteralChar(in);
        for (int i = in.ConsumeIntegralInRange(0, 6); i > 0; --i)
            suffix += LiteralChar(in);
        bool cut = false;
        const tConversion conversion = MakeConversion(in, cut);
        const std::wstring format = prefix + conversion.text + (cut ? L"" : suffix);
        const bool append = in.ConsumeBool();
        if (!append)
            before.clear();
        Run(out, append, conversion, format, in, narrow, wide);
        const std::wstring& got = out.Str();
        Check(StartsWith(got, before), "AppendFormat lost what was there");
        const std::wstring mine = got.substr(before.size());
        Check(StartsWith(mine, prefix), "text before the conversion");
        if (cut) {
            Check(mine == prefix + conversion.text, "a cut-off conversion stays as written");
        } else {
            Check(EndsWith(mine, suffix) && mine.size() >= prefix.size() + suffix.size(), "text after the conversion");
            if (conversion.padded)
                Check(mine.size() - prefix.size() - suffix.size() >= static_cast<std::size_t>(conversion.width),
                      "padding short of the width");
        }
        // Without surrogates, NULs or code points past Unicode, UTF-8 round-trips.
        const bool plain = std::all_of(got.begin(), got.end(), [](wchar_t c) {
            const auto u = static_cast<std::uint32_t>(c);
            return u != 0 && u <= 0x10FFFF && (u < 0xD800 || u > 0xDFFF);
        });
        if (plain)
            Check(CString::FromUtf8(out.ToUtf8()) == out, "UTF-8 round trip");
        before = got;
    }
    return 0;
}

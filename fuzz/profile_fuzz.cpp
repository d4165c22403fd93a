// The profile's INI reader on arbitrary file contents and section and key
// names. A probe section appended after the fuzzed text must still be found:
// no line, however malformed, may swallow the lines after it.
#include "imgscope/contracts/platform/profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string& ProfilePath()
{
    static std::string path;
    return path;
}

bool ContainsNoCase(std::string const& text, std::string const& word)
{
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
        return s;
    };
    return lower(text).find(lower(word)) != std::string::npos;
}

std::size_t LongestLine(std::string const& text)
{
    std::size_t longest = 0, start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        longest = std::max(longest, end - start);
    return std::max(longest, text.size() - start);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char name[] = "/tmp/imgscope_profile_fuzz_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        std::abort();
    close(fd);
    ProfilePath() = name;
    setenv("IMGSCOPE_PROFILE", name, 1);
    std::atexit([] { std::remove(ProfilePath().c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    std::wstring section, key;
    for (int i = in.ConsumeIntegralInRange(0, 12); i > 0; --i)
        section += static_cast<wchar_t>(in.ConsumeIntegralInRange<std::uint32_t>(0, 0x10FFFF + 16));
    for (int i = in.ConsumeIntegralInRange(0, 12); i > 0; --i)
        key += static_cast<wchar_t>(in.ConsumeIntegralInRange<std::uint32_t>(0, 0x10FFFF + 16));
    const int fallback = in.ConsumeIntegral<int>();
    const std::string text = in.ConsumeRemainingBytesAsString();
    const std::string probe = "\n[Fuzz Probe]\nprobe key = \"-1234\" ; set\n";

    FILE* file = std::fopen(ProfilePath().c_str(), "wb");
    if (!file)
        std::abort();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fwrite(probe.data(), 1, probe.size(), file);
    std::fclose(file);

    (void)appGetProfileInt(section.c_str(), key.c_str(), fallback, 3, 0);
    if (appGetProfileInt(nullptr, key.c_str(), fallback, 3, 0) != fallback) {
        std::fprintf(stderr, "profile_fuzz: a null section read a value\n");
        std::abort();
    }
    // Lines far longer than any profile's may be refused as a whole file.
    if (!ContainsNoCase(text, "fuzz probe") && LongestLine(text) <= 1000) {
        if (appGetProfileInt(L"fuzz PROBE", L"Probe Key", fallback, 3, 0) != -1234) {
            std::fprintf(stderr, "profile_fuzz: the probe after the fuzzed text was not found\n");
            std::abort();
        }
    }
    return 0;
}

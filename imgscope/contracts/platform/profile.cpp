#include "imgscope/contracts/platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

// A profile is a few lines written by hand. Anything larger (or a device
// such as /dev/zero, or a pipe) is not one, and reading it must neither
// block nor grow a line without bound.
constexpr std::size_t kMaxProfileBytes = std::size_t(1) << 20;
constexpr std::size_t kMaxLineBytes = 4096;

// The whole file, or false when it is not a regular file of at most
// kMaxProfileBytes.
bool ReadProfile(std::string const& path, std::string& text)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::uint64_t>(info.st_size) <= kMaxProfileBytes;
    std::string data;
    if (ok) {
        // Read one byte past the limit to notice a file that grew meanwhile.
        data.resize(kMaxProfileBytes + 1);
        std::size_t got = 0;
        while (got < data.size()) {
            const ssize_t n = read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        ok = ok && got <= kMaxProfileBytes;
        data.resize(got);
    }
    close(fd);
    if (ok)
        text = std::move(data);
    return ok;
}

std::string ProfilePath()
{
    if (char const* explicitPath = std::getenv("IMGSCOPE_PROFILE"); explicitPath && *explicitPath)
        return explicitPath;
    std::string base;
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base
    // directory rules require.
    if (char const* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        base = xdg;
    else if (char const* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        return {};
    return base + "/imgscope/profile.ini";
}

std::string Trim(std::string const& s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// Section and key names compare as the profile API always did: ignoring
// the case of ASCII letters.
bool EqualNoCase(std::string const& a, std::string const& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The value part of a `key = value` line: an inline comment (`;` or `#`
// after a blank) is cut off and one pair of surrounding double quotes
// removed, as hand-edited profiles use both.
std::string ValueText(std::string const& raw)
{
    std::string t = raw;
    for (std::size_t i = 1; i < t.size(); ++i) {
        if ((t[i] == ';' || t[i] == '#') && (t[i - 1] == ' ' || t[i - 1] == '\t')) {
            t.resize(i);
            break;
        }
    }
    t = Trim(t);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
        t = Trim(t.substr(1, t.size() - 2));
    return t;
}

bool ParseInt(std::string const& text, int& out)
{
    const std::string t = ValueText(text);
    if (t.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || end != t.c_str() + t.size() || v < INT_MIN || v > INT_MAX)
        return false;
    if (!std::isdigit(static_cast<unsigned char>(t.back())))
        return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

int appGetProfileInt(wchar_t const* section, wchar_t const* key, int defaultValue, int /*scope*/, int /*flags*/)
{
    if (!section || !key)
        return defaultValue;
    const std::string path = ProfilePath();
    if (path.empty())
        return defaultValue;
    std::string text;
    if (!ReadProfile(path, text))
        return defaultValue;
    const std::string wantSection = CString(section).ToUtf8();
    const std::string wantKey = CString(key).ToUtf8();
    std::istringstream file(text);
    std::string line;
    bool inSection = false;
    bool firstLine = true;
    while (std::getline(file, line)) {
        if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);  // editors on Windows write a UTF-8 byte order mark
        firstLine = false;
        if (line.size() > kMaxLineBytes)
            continue;  // no key or section of a profile is that long
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t[0] == '[') {
            const auto close = t.find(']');
            inSection = close != std::string::npos && EqualNoCase(Trim(t.substr(1, close - 1)), wantSection);
            continue;
        }
        if (!inSection)
            continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos || !EqualNoCase(Trim(t.substr(0, eq)), wantKey))
            continue;
        int value = 0;
        return ParseInt(t.substr(eq + 1), value) ? value : defaultValue;
    }
    return defaultValue;
}

CString imgGetDimName(img::EPhysDim type, void const* /*reserved*/)
{
    switch (type) {
    case img::eDimNone: return CString(L"None");
    case img::eDimZ: return CString(L"Z");
    case img::eDimTime: return CString(L"Time");
    case img::eDimLambda: return CString(L"Lambda");
    case img::eDimChannel: return CString(L"Channel");
    case img::eDimOther: return CString(L"Other");
    case img::eDimX: return CString(L"X");
    case img::eDimY: return CString(L"Y");
    case img::eDimBlock: return CString(L"Block");
    case img::eDimPhase: return CString(L"Phase");
    case img::eDimAngle: return CString(L"Angle");
    }
    CString name;
    name.Format(L"Dimension %d", static_cast<int>(type));
    return name;
}

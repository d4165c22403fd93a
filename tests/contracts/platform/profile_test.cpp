#include "imgscope/contracts/platform/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Points IMGSCOPE_PROFILE at a scratch file for the duration of a test.
class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/imgscope_profile_XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        m_path = pattern;
        setenv("IMGSCOPE_PROFILE", m_path.c_str(), 1);
    }
    void TearDown() override
    {
        std::remove(m_path.c_str());
        unsetenv("IMGSCOPE_PROFILE");
    }
    void Write(std::string const& text) { std::ofstream(m_path) << text; }

    std::string m_path;
};

TEST_F(ProfileTest, MalformedValuesAndFilesGiveTheDefault)
{
    Write("[Mosaik]\nA=12abc\nB=\nC=99999999999\nD=1.5\nE\nG=5;no blank before\nH=-\nI=0x10\n[Broken\nF=3\n");
    for (wchar_t const* key : {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H", L"I"}) {
        SCOPED_TRACE(CString(key).ToUtf8());
        EXPECT_EQ(appGetProfileInt(L"Mosaik", key, 42, 3, 0), 42);
    }
    std::remove(m_path.c_str());
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"A", 42, 3, 0), 42);
    EXPECT_EQ(appGetProfileInt(nullptr, L"A", 43, 3, 0), 43);
}

TEST_F(ProfileTest, DevicesPipesHugeFilesAndLongLinesAreNoProfile)
{
    // A device and a pipe with no writer: read at once as no profile,
    // never without end nor blocking.
    for (char const* path : {"/dev/zero", "/dev/urandom"}) {
        setenv("IMGSCOPE_PROFILE", path, 1);
        EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 42, 3, 0), 42) << path;
    }
    const std::string fifo = m_path + ".fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    setenv("IMGSCOPE_PROFILE", fifo.c_str(), 1);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 42, 3, 0), 42);
    std::remove(fifo.c_str());
    setenv("IMGSCOPE_PROFILE", m_path.c_str(), 1);

    // Up to 1 MiB is a profile; one byte more is not.
    const std::string head = "[Mosaik]\nSyncMask=5\n;";
    const std::size_t limit = std::size_t(1) << 20;
    Write(head + std::string(limit - head.size(), 'x'));
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 42, 3, 0), 5);
    Write(head + std::string(limit - head.size() + 1, 'x'));
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 42, 3, 0), 42);

    // A line of more than 4096 bytes is skipped, its neighbours are read.
    // The first matching key counts, so the second SyncMask tells whether
    // the long one was read (too large an int: the default) or skipped.
    Write("[Mosaik]\nSyncMask=" + std::string(4096 - 9, '1') + "\nSyncMask=4\nUseAlphaNoMask=3\n");
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 42, 3, 0), 42) << "4096 bytes: read";
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"UseAlphaNoMask", 42, 3, 0), 3);
    Write("[Mosaik]\nSyncMask=" + std::string(4096 - 8, '1') + "\nSyncMask=4\n");
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 42, 3, 0), 4) << "4097 bytes: skipped";
}

TEST_F(ProfileTest, ReadsIntegersOfTheRightSectionWithMarkCommentsQuotesAndTheFirstKey)
{
    Write("; settings\n[Other]\nSyncMask=7\n\n[ mosaik ]\n  syncmask = 0 \nUseAlphaNoMask=-12\r\n");
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 1, 3, 0), 0);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"UseAlphaNoMask", 0, 3, 0), -12);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"Missing", 5, 3, 0), 5);
    EXPECT_EQ(appGetProfileInt(L"Absent", L"SyncMask", 9, 3, 0), 9);

    Write("\xEF\xBB\xBF[Mosaik]\nSyncMask = 0 ; off for slow disks\nUseAlphaNoMask=\"1\"\n"
          "UseAlphaNoMask=0\nC=+4\n[Mosaik]\nLate=8\n");
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 1, 3, 0), 0);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"UseAlphaNoMask", 7, 3, 0), 1);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"C", 7, 3, 0), 4);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"Late", 7, 3, 0), 8);
}

// Restores an environment variable when the test ends.
class CEnvGuard {
public:
    explicit CEnvGuard(char const* name) : m_name(name)
    {
        if (char const* v = std::getenv(name))
            m_old = v, m_had = true;
    }
    ~CEnvGuard() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

private:
    char const* m_name;
    std::string m_old;
    bool m_had = false;
};

TEST_F(ProfileTest, WithoutAnExplicitPathTheUserConfigDirectoryIsRead)
{
    const CEnvGuard xdg("XDG_CONFIG_HOME"), home("HOME");
    char pattern[] = "/tmp/imgscope_home_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    for (auto [sub, value] : {std::pair<char const*, int>{"/xdg", 3}, {"/.config", 4}, {"/rel", 9}}) {
        ASSERT_TRUE(std::filesystem::create_directories(dir + sub + "/imgscope"));
        std::ofstream(dir + sub + "/imgscope/profile.ini") << "[Mosaik]\nSyncMask=" << value << "\n";
    }
    char oldCwd[4096];
    ASSERT_NE(getcwd(oldCwd, sizeof oldCwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);

    unsetenv("IMGSCOPE_PROFILE");
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/xdg").c_str(), 1);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 1, 3, 0), 3);
    setenv("XDG_CONFIG_HOME", "rel", 1);  // relative: ignored, ~/.config is read
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 1, 3, 0), 4);
    // A directory where the file should be counts as a missing file.
    setenv("IMGSCOPE_PROFILE", dir.c_str(), 1);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 6, 3, 0), 6);

    ASSERT_EQ(chdir(oldCwd), 0);
    std::filesystem::remove_all(dir);
}

TEST(DimNameTest, KnownTypesHaveNamesAndOthersAGenericOne)
{
    EXPECT_EQ(imgGetDimName(img::eDimZ, nullptr), L"Z");
    EXPECT_EQ(imgGetDimName(img::eDimChannel, nullptr), L"Channel");
    EXPECT_EQ(imgGetDimName(static_cast<img::EPhysDim>(77), nullptr), L"Dimension 77");
}

}  // namespace

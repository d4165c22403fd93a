#include "imgscope/contracts/platform/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
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

TEST_F(ProfileTest, ReadsIntegersOfTheRightSectionOnly)
{
    Write("; settings\n[Other]\nSyncMask=7\n\n[ mosaik ]\n  syncmask = 0 \nUseAlphaNoMask=-12\r\n");
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"SyncMask", 1, 3, 0), 0);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"UseAlphaNoMask", 0, 3, 0), -12);
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"Missing", 5, 3, 0), 5);
    EXPECT_EQ(appGetProfileInt(L"Absent", L"SyncMask", 9, 3, 0), 9);
}

TEST_F(ProfileTest, MalformedValuesAndFilesGiveTheDefault)
{
    Write("[Mosaik]\nA=12abc\nB=\nC=99999999999\nD=1.5\nE\n[Broken\nF=3\n");
    for (wchar_t const* key : {L"A", L"B", L"C", L"D", L"E", L"F"}) {
        SCOPED_TRACE(CString(key).ToUtf8());
        EXPECT_EQ(appGetProfileInt(L"Mosaik", key, 42, 3, 0), 42);
    }
    std::remove(m_path.c_str());
    EXPECT_EQ(appGetProfileInt(L"Mosaik", L"A", 42, 3, 0), 42);
    EXPECT_EQ(appGetProfileInt(nullptr, L"A", 43, 3, 0), 43);
}

TEST(DimNameTest, KnownTypesHaveNamesAndOthersAGenericOne)
{
    EXPECT_EQ(imgGetDimName(img::eDimZ, nullptr), L"Z");
    EXPECT_EQ(imgGetDimName(img::eDimChannel, nullptr), L"Channel");
    EXPECT_EQ(imgGetDimName(static_cast<img::EPhysDim>(77), nullptr), L"Dimension 77");
}

}  // namespace

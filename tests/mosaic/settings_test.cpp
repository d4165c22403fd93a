// The two "Mosaik" profile settings are read once, when the library is
// loaded: each case starts the probe program in a fresh process with
// IMGSCOPE_PROFILE pointing at its own profile and reads what it reports.
#include "imgscope/contracts/foundation/prop_set.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

struct tReport {
    int alpha = -1, mask = -1, pasted = -1, untouched = -1;
    unsigned long long modifications = 0;
};

// Runs the probe under `profile` (null: a profile file that does not exist).
tReport Probe(char const* profile)
{
    char path[] = "/tmp/imgscope_mosaik_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    if (profile)
        std::ofstream(path) << profile;
    else
        std::remove(path);
    const std::string command = std::string("IMGSCOPE_PROFILE='") + path + "' '" MOSAIC_SETTINGS_PROBE "'";
    tReport r;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        const int read = std::fscanf(pipe, "alpha=%d mask=%d modifications=%llu pasted=%d untouched=%d", &r.alpha,
                                     &r.mask, &r.modifications, &r.pasted, &r.untouched);
        EXPECT_EQ(read, 5);
        EXPECT_EQ(pclose(pipe), 0) << "the probe failed";
    } else {
        ADD_FAILURE() << "cannot start " << MOSAIC_SETTINGS_PROBE;
    }
    std::remove(path);
    return r;
}

TEST(MosaicSettingsTest, UseAlphaNoMaskChoosesAlphaOnlyForExactlyOne)
{
    struct tCase {
        char const* profile;
        int alpha;
    };
    for (tCase c : {tCase{nullptr, 0}, {"[Mosaik]\nUseAlphaNoMask=1\n", 1}, {"[Mosaik]\nUseAlphaNoMask=2\n", 0},
                    {"[Mosaik]\nUseAlphaNoMask=-1\n", 0}, {"[Other]\nUseAlphaNoMask=1\n", 0},
                    {"[Mosaik]\nSyncMask=0\nUseAlphaNoMask=1\n", 1}}) {
        SCOPED_TRACE(c.profile ? c.profile : "no profile");
        const tReport r = Probe(c.profile);
        EXPECT_EQ(r.alpha, c.alpha);
        EXPECT_EQ(r.mask, 1 - c.alpha);
        // Either way what was pasted is opaque and the rest transparent.
        EXPECT_EQ(r.pasted, 255);
        EXPECT_EQ(r.untouched, 0);
    }
}

TEST(MosaicSettingsTest, AnyNonZeroSyncMaskWritesThePasteBack)
{
    // The write-back counts one modification of its own on top of the copy's.
    const tReport off = Probe("[Mosaik]\nSyncMask=0\n");
    for (char const* on : {static_cast<char const*>(nullptr), "[Mosaik]\nSyncMask=1\n", "[Mosaik]\nSyncMask=7\n",
                           "[mosaik]\nsyncmask=-1\n"}) {
        SCOPED_TRACE(on ? on : "no profile");
        EXPECT_EQ(Probe(on).modifications, off.modifications + 1);
    }
}

TEST(MosaicSettingsTest, StackTypeIsRegisteredWhenTheLibraryLoads)
{
    EXPECT_EQ(utl::FindPropertyId(CString(L"StackType")), 2074);
    CString name;
    ASSERT_TRUE(utl::GetPropertyName(2074, name));
    EXPECT_EQ(name, L"StackType");
}

}  // namespace

// Saving and opening documents: what comes back equals what was saved.
#include "tests/io/io_documents.h"

namespace {

using namespace io_test;

class RoundTripTest : public ::testing::Test {
protected:
    ScratchDir dir;
};

TEST_F(RoundTripTest, RichDocumentComesBackEqual)
{
    const img::CImg doc = BuildRichDocument();
    const img::CImg opened = RoundTrip(doc, dir.File("rich.ome.tif"));
    std::string difference;
    EXPECT_TRUE(img::CompareDocuments(doc, opened, &difference)) << difference;
}

}  // namespace

// Files that are not what they claim, and saves that cannot finish: a
// clear result, the caller's document untouched, no partial file left.
#include "tests/io/io_documents.h"

#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <random>

namespace {

using namespace io_test;

std::vector<char> ReadFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(std::string const& path, std::vector<char> const& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

void Put16(std::vector<char>& b, std::uint16_t v)
{
    b.push_back(char(v & 0xFF));
    b.push_back(char(v >> 8));
}

void Put32(std::vector<char>& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(char((v >> (8 * i)) & 0xFF));
}

// A classic little-endian TIFF of one stripped 8-bit page whose tags say
// what the test wants, whatever they mean.
std::vector<char> HandMadeTiff(std::uint32_t width, std::uint32_t height, std::uint32_t stripOffset,
                               std::uint32_t stripBytes)
{
    std::vector<char> b = {'I', 'I', 42, 0};
    Put32(b, 8);
    const std::uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const std::uint32_t values[] = {width, height, 8, 1, 1, stripOffset, 1, height, stripBytes};
    Put16(b, 9);
    for (int i = 0; i < 9; ++i) {
        Put16(b, tags[i][0]);
        Put16(b, tags[i][1]);
        Put32(b, 1);
        if (tags[i][1] == 3) {
            Put16(b, std::uint16_t(values[i]));
            Put16(b, 0);
        } else {
            Put32(b, values[i]);
        }
    }
    Put32(b, 0);
    b.resize(b.size() + 64, 7);  // some pixel bytes
    return b;
}

class BadFilesTest : public ::testing::Test {
protected:
    ScratchDir dir;
    img::CImg before = BuildRichDocument();

    // Opens into a document that holds the rich document and checks that a
    // failure leaves it as it was.
    img::EFileResult Open(std::string const& path)
    {
        img::CImg doc = before;
        const img::EFileResult r = img::OpenDocument(path, doc);
        if (r != img::eFileOk) {
            EXPECT_TRUE(doc == before);
        }
        return r;
    }
};

TEST_F(BadFilesTest, MissingForeignAndImpossibleFilesFailByName)
{
    EXPECT_EQ(Open(""), img::eFileBadArgument);
    EXPECT_EQ(Open(dir.File("none.tif")), img::eFileNotFound);
    EXPECT_EQ(Open(dir.Path().string()), img::eFileNotFound);  // a folder
    // eFileOk stands for any failure: sizes past what can be held may fail
    // as corrupt or as out of memory.
    const struct {
        char const* what;
        std::vector<char> bytes;
        img::EFileResult expected;
    } cases[] = {
        {"empty", {}, img::eFileNotTiff},
        {"png", {'\x89', 'P', 'N', 'G', '\r', '\n', 26, '\n'}, img::eFileNotTiff},
        {"header only", {'I', 'I', 42, 0}, img::eFileCorrupt},
        {"directory without entries", {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}, img::eFileCorrupt},
        {"wide", HandMadeTiff(0xFFFFFFFFu, 1, 200, 64), img::eFileOk},
        {"huge", HandMadeTiff(1u << 29, 1u << 29, 200, 64), img::eFileOk},
        {"strip past the end", HandMadeTiff(8, 8, 1u << 30, 64), img::eFileCorrupt},
        {"strip 2 bytes short", HandMadeTiff(8, 8, 124, 64), img::eFileCorrupt},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir.File("bad.tif"), c.bytes);
        if (c.expected == img::eFileOk)
            EXPECT_NE(Open(dir.File("bad.tif")), img::eFileOk);
        else
            EXPECT_EQ(Open(dir.File("bad.tif")), c.expected);
    }
    // The same page, whole: opens as one plain layer.
    WriteFile(dir.File("good.tif"), HandMadeTiff(8, 8, 122, 64));
    img::CImg doc;
    ASSERT_EQ(img::OpenDocument(dir.File("good.tif"), doc), img::eFileOk);
    EXPECT_EQ(doc.GetStackCount(), 1u);
}

TEST_F(BadFilesTest, TruncatedOwnFilesNeverOpen)
{
    const std::string path = dir.File("rich.ome.tif");
    ASSERT_EQ(img::SaveDocument(before, path), img::eFileOk);
    const std::vector<char> whole = ReadFile(path);
    for (double share : {0.0001, 0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99, 0.9999}) {
        SCOPED_TRACE(share);
        WriteFile(dir.File("cut.tif"), std::vector<char>(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() * share)));
        EXPECT_NE(Open(dir.File("cut.tif")), img::eFileOk);
    }
}

TEST_F(BadFilesTest, DamagedAnnotationIsCorrupt)
{
    const std::string path = dir.File("rich.ome.tif");
    ASSERT_EQ(img::SaveDocument(before, path), img::eFileOk);
    const std::vector<char> whole = ReadFile(path);
    const std::string text(whole.begin(), whole.end());
    // Changes of equal length inside the XML: a layer ID that is no number,
    // an IFD past the file's, a value that does not parse, broken markup.
    const std::pair<std::string, std::string> edits[] = {{"<Stack Id=\"1\"", "<Stack Id=\"x\""},
                                                         {"IFD=\"0\">", "IFD=\"8\">"},
                                                         {"T=\"10\">-0<", "T=\"10\">-z<"},
                                                         {"<Tree>", "<Tree "},
                                                         {"Fill=\"", "Fill=\"!"}};
    for (auto const& e : edits) {
        SCOPED_TRACE(e.first);
        const std::size_t at = text.find(e.first);
        ASSERT_NE(at, std::string::npos);
        std::vector<char> bytes = whole;
        std::copy(e.second.begin(), e.second.end(), bytes.begin() + std::ptrdiff_t(at));
        WriteFile(dir.File("edited.tif"), bytes);
        EXPECT_NE(Open(dir.File("edited.tif")), img::eFileOk);
    }
}

TEST_F(BadFilesTest, FlippedBytesNeverCrash)
{
    // A small document, so that the flips reach tables and markup often.
    img::CImg small;
    auto frame = MakeFrame({0, 0, 0}, {40, 30, 2}, img::CPixelInfo(utl::eUInt16, 3, img::eColorSpaceBGR), TileProps(16));
    Paint(*frame, geo::CiRect(0, 0, 40, 30), {1}, 3);
    small.Add(img::CStack(frame));
    img::CDisplProcessFlow flow(small, false);
    flow.CreateTransparencyMask(flow.InsertLayer(-1, -3, 1, utl::CIndexN(), -1), 9);
    const std::string path = dir.File("small.ome.tif");
    ASSERT_EQ(img::SaveDocument(small, path), img::eFileOk);
    const std::vector<char> whole = ReadFile(path);
    std::mt19937 random(1234);
    int opened = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<char> bytes = whole;
        for (int k = 0; k < 1 + round % 4; ++k)
            bytes[random() % bytes.size()] ^= char(1 << (random() % 8));
        WriteFile(dir.File("flipped.tif"), bytes);
        img::CImg doc;
        opened += img::OpenDocument(dir.File("flipped.tif"), doc) == img::eFileOk ? 1 : 0;
    }
    // Flips in pixel bytes still open; flips in structure do not.
    EXPECT_GT(opened, 0);
    EXPECT_LT(opened, 300);
}

TEST_F(BadFilesTest, BadSaveArgumentsAreRefused)
{
    img::tSaveOptions options;
    options.compression = img::ECompression(7);
    EXPECT_EQ(img::SaveDocument(before, dir.File("a.tif"), options), img::eFileBadArgument);
    options.compression = img::eCompressionDeflate;
    options.level = 10;
    EXPECT_EQ(img::SaveDocument(before, dir.File("a.tif"), options), img::eFileBadArgument);
    options.compression = img::eCompressionZstd;
    options.level = 0;
    EXPECT_EQ(img::SaveDocument(before, dir.File("a.tif"), options), img::eFileBadArgument);
    EXPECT_EQ(img::SaveDocument(before, ""), img::eFileBadArgument);
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(BadFilesTest, FailedSavesLeaveNoFileBehind)
{
    EXPECT_EQ(img::SaveDocument(before, dir.File("no/such/folder.tif")), img::eFileCannotCreate);
    EXPECT_EQ(img::SaveDocument(before, "/proc/imgscope.ome.tif"), img::eFileCannotCreate);
    // The target is a folder that is not empty: the rename fails.
    std::filesystem::create_directories(dir.Path() / "folder" / "inside");
    EXPECT_EQ(img::SaveDocument(before, (dir.Path() / "folder").string()), img::eFileCannotCreate);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"folder"});
}

TEST_F(BadFilesTest, DiskFullKeepsTheFileThatWasThere)
{
    const std::string path = dir.File("kept.ome.tif");
    img::CImg small;
    small.Add(img::CStack(MakeFrame({0, 0}, {8, 8}, img::CPixelInfo(utl::eUInt8, 1, img::eColorSpaceGray))));
    ASSERT_EQ(img::SaveDocument(small, path), img::eFileOk);
    const std::vector<char> old = ReadFile(path);

    // A file size limit makes writes past 1 MiB fail as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1 << 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const img::EFileResult r = img::SaveDocument(before, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(r, img::eFileWriteFailed);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"kept.ome.tif"});
}

}  // namespace

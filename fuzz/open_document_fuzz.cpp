// OpenDocument on any bytes: starting from small files of ours, plain
// TIFFs and a foreign OME-TIFF, mutated. It must answer with a result and
// never crash, leak or leave the caller's document changed on failure;
// what opens must save and open again to a document the equality walk
// cannot tell from it.
#include "imgscope/io/document_compare.h"
#include "imgscope/io/ome_tiff.h"
#include "imgscope/contracts/foundation/data_frame.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool ok, char const* what)
{
    if (!ok) {
        std::fprintf(stderr, "open_document_fuzz: %s\n", what);
        std::abort();
    }
}

std::string Scratch(char const* name)
{
    return "/tmp/imgscope_open_fuzz_" + std::to_string(::getpid()) + "_" + name;
}

// The scratch files of one input, gone again on every way out: each run
// has a process of its own, and /tmp would keep one file per run.
struct tScratch {
    const std::string input = Scratch("in.tif");
    const std::string again = Scratch("again.ome.tif");
    ~tScratch()
    {
        std::remove(input.c_str());
        std::remove(again.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    const tScratch scratch;
    std::string const& input = scratch.input;
    std::FILE* f = std::fopen(input.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    img::CImg before;
    img::CImg doc = before;
    const img::EFileResult r = img::OpenDocument(input, doc);
    Check(r >= img::eFileOk && r <= img::eFileNoMemory, "a result outside the list");
    if (r != img::eFileOk) {
        Check(doc == before, "a failed open replaced the document");
        return 0;
    }
    // Huge sparse layers open at once but take long to write: the round
    // trip is for documents of a size a run can afford.
    std::int64_t pixels = 0;
    for (int id = doc.FirstStackId(); id != -1; id = doc.NextStackId(id)) {
        const auto frame = doc.FindStack(id).GetDataFrame(0);
        if (frame)
            pixels += frame->GetBoundary().Volume();
    }
    if (pixels > (std::int64_t(1) << 26))
        return 0;
    std::string const& again = scratch.again;
    img::tSaveOptions options;
    options.pyramid = false;  // never read back; keeps each run short
    if (img::SaveDocument(doc, again, options) == img::eFileOk) {
        img::CImg reopened;
        Check(img::OpenDocument(again, reopened) == img::eFileOk, "a saved document does not open");
        std::string difference;
        if (!img::CompareDocuments(doc, reopened, &difference)) {
            std::fprintf(stderr, "open_document_fuzz: round trip differs at %s\n", difference.c_str());
            std::abort();
        }
    }
    return 0;
}

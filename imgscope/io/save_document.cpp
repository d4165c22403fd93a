// SaveDocument: plan the frames, write the OME-XML and every plane under a
// temporary name, point shared tiles at one copy, rename.
#include "imgscope/io/ome_tiff.h"

#include "imgscope/io/annotation_internal.h"
#include "imgscope/io/ome_xml_internal.h"
#include "imgscope/io/pixel_write_internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>

namespace img {

namespace {

// Creates a file beside `path` that no one else uses; -1 when the folder
// cannot take one.
int CreateTemporary(std::string const& path, std::string& name)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

EFileResult WriteFile(CImg const& document, int fd, std::string const& name, tSaveOptions const& options)
{
    const io::tFramePlan plan = io::PlanFrames(document);
    const std::string xml = io::BuildOmeXml(document, plan);
    std::unique_ptr<io::CTiffFile> file = io::CTiffFile::CreateWrite(fd, name);
    if (!file) {
        ::close(fd);
        return eFileWriteFailed;
    }
    io::CPixelWriter writer(*file, options, xml);
    for (std::size_t i = 0; i < plan.frames.size(); ++i) {
        if (writer.IfdCount() != plan.frames[i].firstIfd)
            return eFileWriteFailed;  // the plan and the file disagree: never expected
        const EFileResult r = writer.WriteFrame(*plan.frames[i].frame, plan.ome[i], plan.layerIds[i] == -1);
        if (r != eFileOk)
            return r;
    }
    if (writer.IfdCount() == 0) {
        const EFileResult r = writer.WritePlaceholder();
        if (r != eFileOk)
            return r;
    }
    if (!file->Close())
        return eFileWriteFailed;
    if (!io::PatchTileAliases(file->Fd(), writer.Aliases()))
        return eFileWriteFailed;
    return eFileOk;
}

}  // namespace

char const* DescribeFileResult(EFileResult result)
{
    switch (result) {
    case eFileOk: return "ok";
    case eFileBadArgument: return "bad argument";
    case eFileCannotCreate: return "cannot create the file";
    case eFileWriteFailed: return "write failed";
    case eFileNotFound: return "file not found";
    case eFileNotTiff: return "not a TIFF file";
    case eFileCorrupt: return "corrupt file";
    case eFileUnsupported: return "unsupported TIFF layout";
    case eFileTooLarge: return "too large";
    case eFileNoMemory: return "out of memory";
    }
    return "unknown result";
}

EFileResult SaveDocument(CImg const& document, std::string const& path, tSaveOptions const& options)
{
    if (path.empty() || path.back() == '/')
        return eFileBadArgument;
    switch (options.compression) {
    case eCompressionNone: break;
    case eCompressionDeflate:
        if (options.level != -1 && (options.level < 1 || options.level > 9))
            return eFileBadArgument;
        break;
    case eCompressionZstd:
        if (options.level != -1 && (options.level < 1 || options.level > 22))
            return eFileBadArgument;
        break;
    default: return eFileBadArgument;
    }
    std::string temporary;
    const int fd = CreateTemporary(path, temporary);
    if (fd < 0)
        return eFileCannotCreate;
    EFileResult result;
    try {
        result = WriteFile(document, fd, temporary, options);
    } catch (std::bad_alloc const&) {
        result = eFileNoMemory;
    } catch (std::exception const&) {
        result = eFileWriteFailed;
    }
    if (result == eFileOk && std::rename(temporary.c_str(), path.c_str()) != 0)
        result = eFileCannotCreate;
    if (result != eFileOk)
        ::unlink(temporary.c_str());
    return result;
}

}  // namespace img

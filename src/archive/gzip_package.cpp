#include "archive/gzip_package.h"

#include <zlib.h>

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/crash_point.h"
#include "platform/fs.h"

namespace skiv {

namespace {

// Any chunk size gives the same bytes; a large one keeps the pass count low.
constexpr unsigned kChunk = 128 * 1024;

// Owns a gzFile; Close reports gzclose's verdict, which is where buffered
// write errors surface.
class GzFile {
public:
    // Takes over fd (closed here when zlib cannot adopt it); -1 stays closed.
    GzFile(int fd, const char* mode) : m_f(fd >= 0 ? gzdopen(fd, mode) : nullptr) {
        if (m_f)
            gzbuffer(m_f, kChunk);
        else if (fd >= 0)
            ::close(fd);
    }
    ~GzFile() { Close(); }
    GzFile(const GzFile&) = delete;
    GzFile& operator=(const GzFile&) = delete;
    explicit operator bool() const { return m_f != nullptr; }
    gzFile get() const { return m_f; }
    int Close() {
        if (!m_f)
            return Z_OK;
        int r = gzclose(m_f);
        m_f = nullptr;
        return r;
    }

private:
    gzFile m_f;
};

// Targets are always new files of ours: whatever has the name (a stale
// package, or a link, removed as a link) goes first, so nothing is written
// through a link planted in the target's place. Returns -1 on failure.
int CreateTarget(const std::string& path) {
    auto file = fs::NoShareFile::CreateNew(path);
    return file ? file->Release() : -1;
}

}  // namespace

ResultCode CompressFile(const std::string& source, const std::string& target, LogSink& log) {
    auto in = fs::OpenFile(source, "rb");
    if (!in) {
        log.Write("[CompressFile]fopen Fail");
        return ResultCode::CannotOpenFile;
    }
    GzFile out(CreateTarget(target), "wb");
    if (!out) {
        log.Write("[CompressFile]gzopen Fail");
        return ResultCode::CannotOpenGzip;
    }
    std::vector<char> buf(kChunk);
    ResultCode result = ResultCode::Ok;
    for (;;) {
        std::size_t n = std::fread(buf.data(), 1, buf.size(), in.get());
        if (n < buf.size() && std::ferror(in.get())) {
            log.Write("[CompressFile]fread Fail");
            result = ResultCode::ReadFailed;
            break;
        }
        if (n > 0 && gzwrite(out.get(), buf.data(), static_cast<unsigned>(n)) == 0) {
            log.Write("[CompressFile]gzwrite Fail");
            result = ResultCode::GzWriteFailed;
            break;
        }
        CrashPoint("compress.chunk");
        if (n < buf.size())
            break;
    }
    // The last buffered block and the trailer are written here; a full disk
    // shows up now and must not pass for success.
    if (out.Close() != Z_OK && result == ResultCode::Ok) {
        log.Write("[CompressFile]gzwrite Fail");
        result = ResultCode::GzWriteFailed;
    }
    return result;
}

ResultCode DecompressFile(const std::string& source, const std::string& target, LogSink& log) {
    // Opened through the platform layer, which knows the system's path
    // encoding; no other writer may change the package while it is read.
    auto package = fs::NoShareFile::OpenRead(source);
    GzFile in(package ? package->Release() : -1, "rb");
    if (!in) {
        log.Write("[DecompressFile]gzopen Fail");
        return ResultCode::CannotOpenGzip;
    }
    fs::UniqueFile out;
    if (int fd = CreateTarget(target); fd >= 0) {
        out.reset(::fdopen(fd, "wb"));
        if (!out)
            ::close(fd);
    }
    if (!out) {
        log.Write("[DecompressFile]fopen Fail");
        return ResultCode::CannotOpenFile;
    }
    std::vector<char> buf(kChunk);
    ResultCode result = ResultCode::Ok;
    for (;;) {
        int n = gzread(in.get(), buf.data(), kChunk);
        if (n > 0) {
            if (std::fwrite(buf.data(), 1, std::size_t(n), out.get()) < std::size_t(n)) {
                log.Write("[DecompressFile]fwrite Fail");
                result = ResultCode::WriteFailed;
                break;
            }
            CrashPoint("decompress.chunk");
        } else if (n == 0) {
            // zlib ends a stream cut short like a complete one and keeps the
            // "unexpected end of file" aside; a cut package must not pass.
            int err = Z_OK;
            gzerror(in.get(), &err);
            if (err != Z_OK) {
                log.Write("[DecompressFile]gzread Fail:(%d)", err);
                result = ResultCode::GzReadFailed;
            }
            break;
        } else {
            log.Write("[DecompressFile]gzread Fail:(%d)", n);
            result = ResultCode::GzReadFailed;
            break;
        }
    }
    in.Close();
    // Buffered bytes reach the disk here.
    std::FILE* raw = out.release();
    if (std::fclose(raw) != 0 && result == ResultCode::Ok) {
        log.Write("[DecompressFile]fwrite Fail");
        result = ResultCode::WriteFailed;
    }
    return result;
}

}  // namespace skiv

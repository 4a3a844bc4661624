// The archive reader on arbitrary bytes: the head, every table record, one
// entry's extraction, and the whole unpacking into a game folder. The
// unpacked tree must be exactly what a plain reading of the table says
// (entries in order, unsafe names skipped, last writer wins), and nothing
// may appear anywhere else under the scratch folder.

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>

#include "archive/tar_format.h"
#include "archive/tar_reader.h"
#include "fuzz_util.h"
#include "platform/result_codes.h"
#include "workspace/addon_set.h"
#include "workspace/operation_log.h"

namespace {

namespace stdfs = std::filesystem;
using skiv::fuzz::Check;

struct Node {
    bool folder = false;
    std::string bytes;
};
using Tree = std::map<std::string, Node>;

// "a//b/c" -> "a/b/c": the file system ignores empty segments.
std::string Normalize(const std::string& path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            if (!out.empty())
                out += '/';
            out.append(path, start, end - start);
        }
        start = end + 1;
    }
    return out;
}

// The file system refuses a name longer than NAME_MAX bytes: such a folder
// cannot be made and such a file cannot be opened.
bool LastNameTooLong(const std::string& normalized) {
    const std::size_t slash = normalized.rfind('/');
    return normalized.size() - (slash == std::string::npos ? 0 : slash + 1) > NAME_MAX;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file and folder under base, by normalized relative path; links and
// other kinds of file are a failure in themselves.
Tree Snapshot(const std::string& base) {
    Tree tree;
    for (const auto& item : stdfs::recursive_directory_iterator(base)) {
        std::string rel = stdfs::relative(item.path(), base).string();
        auto status = item.symlink_status();
        if (stdfs::is_directory(status)) {
            tree[rel].folder = true;
        } else if (stdfs::is_regular_file(status)) {
            tree[rel].bytes = ReadWhole(item.path().string());
        } else {
            skiv::fuzz::Fail("unpacking left something that is neither file nor folder", rel);
        }
    }
    return tree;
}

// What the controller must leave under base for this archive, and the code
// it must return: a table or folder fault stops at once with its code; an
// entry that is skipped lets the rest land, and the first skip's code is
// the result.
Tree Expected(const std::string& base, const std::uint8_t* data, std::size_t size, int& rc) {
    Tree tree;
    rc = 0;
    // A short head reads as zeros past the end of the file.
    std::uint8_t head[skiv::kTarHeaderSize] = {};
    std::memcpy(head, data, std::min<std::size_t>(size, skiv::kTarHeaderSize));
    const std::int32_t count = skiv::DecodeHeader(head).count;
    if (count < 0) {
        rc = Number(skiv::ResultCode::UnpackNoArchive);
        return tree;
    }
    const std::int64_t fits = size < skiv::kTarHeaderSize
                                  ? 0
                                  : std::int64_t(size - skiv::kTarHeaderSize) / skiv::kTarEntrySize;
    int skipped = 0;
    auto skip = [&skipped](int code) {
        if (skipped == 0)
            skipped = code;
    };
    for (std::int32_t i = 0; i < count; ++i) {
        if (i >= fits) {
            rc = Number(skiv::ResultCode::UnpackNoArchive);
            return tree;
        }
        skiv::TarEntry e =
            skiv::DecodeEntry(data + skiv::kTarHeaderSize + std::size_t(i) * skiv::kTarEntrySize);
        if (!skiv::IsSafeEntryPath(e.folder, e.fileName)) {
            skip(Number(skiv::ResultCode::UnpackUnsafeName));
            continue;
        }
        for (std::size_t k = 0; k < e.folder.size(); ++k) {
            if (e.folder[k] != '/')
                continue;
            std::string prefix = e.folder.substr(0, k + 1);
            std::string key = Normalize(prefix);
            if (key.empty())
                continue;
            auto it = tree.find(key);
            if ((base + prefix).size() >= 1024 || LastNameTooLong(key) ||
                (it != tree.end() && !it->second.folder)) {
                rc = Number(skiv::ResultCode::CannotCreateFolder);
                return tree;
            }
            tree[key].folder = true;
        }
        if (e.dataOffset < 0 || e.dataSize < 0 ||
            std::int64_t(e.dataOffset) + e.dataSize > std::int64_t(size)) {
            skip(Number(skiv::ResultCode::UnpackCannotCopy));
            continue;
        }
        std::string key = Normalize(e.folder + e.fileName);
        auto it = tree.find(key);
        if ((it != tree.end() && it->second.folder) || LastNameTooLong(key)) {
            // Neither a folder nor an over-long name can be opened for writing.
            skip(Number(skiv::ResultCode::UnpackNoOutput));
            continue;
        }
        Node file;
        file.bytes.assign(reinterpret_cast<const char*>(data) + e.dataOffset,
                          std::size_t(e.dataSize));
        tree[key] = std::move(file);
    }
    rc = skipped;
    return tree;
}

struct World {
    skiv::fuzz::ScratchFolder root{"archive"};
    // The game folder sits three levels down, so that an entry climbing out
    // of it still lands inside root, where the check below sees it.
    std::string game = root / "up1/up2/game/";
    std::string archive = root / "archive.bin";
    std::string single = root / "single.out";
    skiv::OperationLog log;
    unsigned runs = 0;

    World() { log.SetFolder(root / "log/"); }
};

void CheckSingleEntryCalls(World& w, const std::uint8_t* data, std::size_t size) {
    skiv::ArchiveReader reader;
    Check(reader.Open(w.archive) == skiv::ReadOutcome::Ok, "Open refused an existing archive");
    const skiv::TarHeader head = reader.Header();
    const std::int64_t fits = size < skiv::kTarHeaderSize
                                  ? 0
                                  : std::int64_t(size - skiv::kTarHeaderSize) / skiv::kTarEntrySize;
    for (std::int64_t wide :
         {std::int64_t(-1), std::int64_t(0), std::int64_t(1), std::int64_t(head.count) - 1,
          std::int64_t(head.count), std::int64_t(2147483647)}) {
        if (wide < -2147483648LL)
            continue;
        const int index = static_cast<int>(wide);
        skiv::TarEntry entry;
        int r = Number(ToResultCode(reader.Entry(index, entry)));
        const bool inside = index >= 0 && index < head.count && index < fits;
        Check((r == 0) == inside, "Entry disagrees with the table's extent",
              std::to_string(index) + " -> " + std::to_string(r));
        if (!inside || index > 3)
            continue;

        // The output path is fixed, so even an unsafe entry is safe to copy.
        stdfs::remove(w.single);
        r = Number(ToResultCode(reader.Extract(entry, w.single)));
        const bool inRange = entry.dataOffset >= 0 && entry.dataSize >= 0 &&
                             std::int64_t(entry.dataOffset) + entry.dataSize <= std::int64_t(size);
        if (!inRange) {
            Check(r == Number(skiv::ResultCode::UnpackCannotCopy),
                  "Extract accepted bytes outside the archive");
        } else {
            Check(r == 0, "Extract failed on a readable entry", std::to_string(r));
            std::string want(reinterpret_cast<const char*>(data) + entry.dataOffset,
                             std::size_t(entry.dataSize));
            Check(ReadWhole(w.single) == want, "Extract wrote other bytes than the entry's");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World w;
    {
        std::ofstream out(w.archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        Check(bool(out), "cannot write the archive");
    }
    CheckSingleEntryCalls(w, data, size);

    std::error_code ec;
    stdfs::remove_all(w.root / "up1", ec);
    stdfs::create_directories(w.game);
    int expectedRc = 0;
    Tree expected = Expected(w.game, data, size, expectedRc);
    int rc = Number(skiv::UnpackArchive(w.archive, w.game, w.log));
    Check(rc == expectedRc, "UnTarFile returned an unexpected code",
          std::to_string(rc) + " instead of " + std::to_string(expectedRc));
    Tree actual = Snapshot(w.game);
    for (const auto& [path, node] : actual) {
        auto it = expected.find(path);
        Check(it != expected.end(), "unpacking made something the table does not name", path);
        Check(it->second.folder == node.folder && it->second.bytes == node.bytes,
              "unpacked content differs from the table", path);
    }
    Check(actual.size() == expected.size(), "an entry of the table was not unpacked");

    // Nothing beside the game folder: only the files this target made.
    for (const auto& item : stdfs::recursive_directory_iterator(w.root.path())) {
        std::string rel = stdfs::relative(item.path(), w.root.path()).string();
        if (rel == "archive.bin" || rel == "single.out" || rel == "log" ||
            rel.rfind("log/", 0) == 0 || rel == "up1" || rel == "up1/up2" ||
            rel == "up1/up2/game" || rel.rfind("up1/up2/game/", 0) == 0) {
            continue;
        }
        skiv::fuzz::Fail("unpacking wrote outside the game folder", rel);
    }
    // The log gathers a line per refused entry; keep it small.
    if (++w.runs % 4096 == 0)
        stdfs::remove_all(w.root / "log", ec);
    return 0;
}

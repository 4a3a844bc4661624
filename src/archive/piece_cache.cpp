#include "archive/piece_cache.h"

#include <cstdio>
#include <optional>
#include <sstream>

#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/sha256.h"

namespace skiv {

namespace {

constexpr const char* kMagic = "skiv-piece-cache 2";

std::string ToHex(const std::string& s) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

bool FromHex(const std::string& hex, std::string& out) {
    if (hex.size() % 2)
        return false;
    out.clear();
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
    };
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi << 4 | lo);
    }
    return true;
}

// Creates folder and whichever of its parents are missing.
bool EnsureFolders(const std::string& folder) {
    for (std::size_t at = folder.find_first_of("/\\", 1); at != std::string::npos;
         at = folder.find_first_of("/\\", at + 1)) {
        fs::EnsureFolder(folder.substr(0, at));  // an ancestor may be the root or a drive
    }
    fs::EnsureFolder(folder);
    return fs::IsFolder(folder);
}

bool CopyWhole(const std::string& from, const std::string& to) {
    auto in = fs::OpenRegularRead(from);
    auto out = fs::NoShareFile::CreateNew(to);
    if (!in || !out)
        return false;
    std::vector<char> buf(1 << 20);
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), in.get())) {
        if (!out->WriteAll(buf.data(), n))
            return false;
    }
    return !std::ferror(in.get());
}

}  // namespace

std::string PieceCache::FolderFor(const std::string& gameFolder, const std::string& cacheRoot) {
    std::string root = cacheRoot.empty() ? paths::GetCacheFolder() : fs::WithSlash(cacheRoot);
    return root + "skivaddon/pieces/" +
           Sha256::HexOf(gameFolder.data(), gameFolder.size()).substr(0, 16) + "/";
}

std::string PieceCache::SpanKey(const PieceSpan& s) {
    return s.path + '\n' + std::to_string(s.fileSize) + ' ' + std::to_string(s.mtime) + ' ' +
           std::to_string(s.offset) + ' ' + std::to_string(s.length);
}

bool PieceCache::Load(const std::string& folder, const std::string& gameFolder) {
    *this = PieceCache{};
    // Several MB at 10,240 entries; far more is not an index of ours.
    const std::optional<std::string> text = fs::ReadWholeFile(folder + "index", 256 << 20);
    if (!text)
        return false;
    std::istringstream in(*text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic)
        return false;
    std::string word, value, sha;
    std::int64_t packageBytes = -1;
    if (!std::getline(in, line))
        return false;
    std::istringstream game(line);
    if (!(game >> word >> value) || word != "game" || !FromHex(value, word) || word != gameFolder)
        return false;
    if (!std::getline(in, line))
        return false;
    std::istringstream pkg(line);
    if (!(pkg >> word >> packageBytes >> sha) || word != "package")
        return false;
    std::vector<Piece> pieces;
    std::int64_t at = 0;
    bool ended = false;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        ls >> word;
        if (word == "piece") {
            Piece p;
            int shared = 0;
            std::size_t spans = 0;
            if (!(ls >> p.sha256 >> p.crc32 >> p.bytes >> p.rawBytes >> shared >> spans) ||
                !IsSha256Hex(p.sha256) || p.bytes <= 0) {
                return false;
            }
            p.shared = shared != 0;
            p.offset = at;
            at += p.bytes;
            for (std::size_t k = 0; k < spans; ++k) {
                PieceSpan s;
                std::string path;
                if (!std::getline(in, line))
                    return false;
                std::istringstream ss(line);
                if (!(ss >> word >> s.fileSize >> s.mtime >> s.changed >> s.inode >> s.offset >>
                      s.length >> path) ||
                    word != "span" || !FromHex(path, s.path)) {
                    return false;
                }
                p.spans.push_back(std::move(s));
            }
            pieces.push_back(std::move(p));
        } else if (word == "end") {
            std::size_t n = 0;
            ended = (ls >> n) && n == pieces.size();
            break;
        } else {
            return false;
        }
    }
    m_package = folder + "package";
    if (!ended || at != packageBytes || fs::FileSize(m_package).value_or(-1) != packageBytes)
        return false;
    m_pieces = std::move(pieces);
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
        const Piece& p = m_pieces[i];
        m_byHash.emplace(p.sha256, i);
        if (!p.spans.empty())
            m_bySpans.emplace(SpanKey(p.spans.front()), i);
        for (const PieceSpan& s : p.spans)
            m_files[s.path] = {s.fileSize, s.mtime};
    }
    m_loaded = true;
    return true;
}

const Piece* PieceCache::FindSame(const Piece& planned) const {
    if (planned.spans.empty())
        return nullptr;
    auto it = m_bySpans.find(SpanKey(planned.spans.front()));
    if (it == m_bySpans.end())
        return nullptr;
    const Piece& p = m_pieces[it->second];
    // A file whose time is unknown is never taken for unchanged.
    if (p.spans != planned.spans || planned.spans.front().mtime == kUnknownTime)
        return nullptr;
    return &p;
}

const Piece* PieceCache::FindHash(const std::string& sha256) const {
    auto it = m_byHash.find(sha256);
    return it == m_byHash.end() ? nullptr : &m_pieces[it->second];
}

int PieceCache::ChangedFiles(const PackagePlan& plan) const {
    if (!m_loaded)
        return -1;
    int changed = 0, present = 0;
    for (const Piece& p : plan.pieces) {
        for (const PieceSpan& s : p.spans) {
            if (s.offset != 0)
                continue;
            auto it = m_files.find(s.path);
            if (it != m_files.end())
                ++present;
            if (it == m_files.end() || it->second != std::make_pair(s.fileSize, s.mtime))
                ++changed;
        }
    }
    // Files of the cached package that are no more.
    return changed + static_cast<int>(m_files.size()) - present;
}

bool PieceCache::Store(const std::string& folder, const std::string& gameFolder,
                       const PackagePlan& plan, const PackageResult& result,
                       const std::string& packagePath, LogSink& log) {
    if (!EnsureFolders(folder)) {
        log.Write("[PieceCache]CreateDirectory Fail:(%d)", fs::LastError());
        return false;
    }
    const std::string package = folder + "package", index = folder + "index";
    // The index goes first: a package without its index is never read.
    fs::DeleteFile(index);
    const std::string part = package + ".part";
    fs::DeleteFile(part);
    if (!fs::HardLink(packagePath, part) && !CopyWhole(packagePath, part)) {
        log.Write("[PieceCache]Copy Fail:(%d)", fs::LastError());
        fs::DeleteFile(part);
        return false;
    }
    // Replacing: on Windows a plain rename fails over an existing file.
    if (!fs::RenameReplacing(part, package))
        return false;
    std::ostringstream text;
    text << kMagic << "\ngame " << ToHex(gameFolder) << "\npackage " << result.bytes << ' '
         << result.sha256 << '\n';
    for (const Piece& p : plan.pieces) {
        text << "piece " << p.sha256 << ' ' << p.crc32 << ' ' << p.bytes << ' ' << p.rawBytes << ' '
             << (p.shared ? 1 : 0) << ' ' << p.spans.size() << '\n';
        for (const PieceSpan& s : p.spans) {
            text << "span " << s.fileSize << ' ' << s.mtime << ' ' << s.changed << ' ' << s.inode
                 << ' ' << s.offset << ' ' << s.length << ' ' << ToHex(s.path) << '\n';
        }
    }
    text << "end " << plan.pieces.size() << '\n';
    if (!fs::WriteWholeFile(index, text.str())) {
        log.Write("[PieceCache]WriteFile Fail:(%d)", fs::LastError());
        return false;
    }
    return true;
}

}  // namespace skiv

// The delta side of an install: the package assembled from cached and
// fetched pieces and checked whole before anything of the game folder is
// touched, and the piece cache refreshed from what was unpacked.

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "archive/gzip_member.h"
#include "archive/piece_cache.h"
#include "archive/piece_package.h"
#include "archive/tar_reader.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/sha256.h"
#include "service/delta_exchange.h"
#include "service/exchanges.h"
#include "workspace/flows.h"

namespace skiv::flow {

namespace {

// Pieces fetched at once, and how far ahead of the writer they may run.
constexpr std::size_t kFetchers = 8;
constexpr std::size_t kWindow = 32;
// Beyond this many pieces to fetch, most of the package comes as one download.
constexpr std::size_t kManyPieces = 64;

// The piece's bytes from the cached package, checked against its hash;
// false when the cache does not hold it whole.
bool FromCache(const PieceCache& cache, fs::UniqueFile& file, const ManifestPiece& want,
               std::vector<std::uint8_t>& out) {
    const Piece* p = cache.FindHash(want.sha256);
    if (!p || p->bytes != want.bytes)
        return false;
    if (!file)
        file = fs::OpenRegularRead(cache.PackagePath());
    out.resize(static_cast<std::size_t>(p->bytes));
    return file && ::fseeko(file.get(), p->offset, SEEK_SET) == 0 &&
           std::fread(out.data(), 1, out.size(), file.get()) == out.size() &&
           Sha256::HexOf(out.data(), out.size()) == want.sha256;
}

}  // namespace

ResultCode FetchDeltaPackage(const Context& c, const std::string& target, int version,
                             Manifest& m) {
    SessionState& s = c.session;
    DeltaClient client(s.deltaBase, c.log);
    ResultCode r = client.GetManifest(version > 0 ? version : 1, m);
    if (r != ResultCode::Ok)
        return r;
    const std::string folder = target + "Backup/";
    if (!fs::EnsureOwnFolder(folder)) {
        c.log.Write("[DownloadFile]다운로드 디렉토리 생성실패");
        return ResultCode::CannotCreateFolder;
    }
    // Assembled beside its name, which it replaces only once it checks.
    const std::string package = folder + kPackageName;
    const std::string part = package + ".part";
    auto out = fs::NoShareFile::CreateNew(part);
    if (!out) {
        c.log.Write("[DownloadFile]CreateFile Fail:(%d)", fs::LastError());
        return ResultCode::CannotCreatePackage;
    }
    struct PartGuard {
        const std::string& name;
        bool keep = false;
        ~PartGuard() {
            if (!keep)
                fs::DeleteFile(name);
        }
    } guard{part};

    PieceCache cache;
    cache.Load(PieceCache::FolderFor(s.gameFolder), s.gameFolder);
    const std::size_t count = m.pieces.size();
    std::vector<char> atHand(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const Piece* p = cache.FindHash(m.pieces[i].sha256);
        atHand[i] = p && p->bytes == m.pieces[i].bytes;
    }

    // Most of a large package not at hand (a first install of the current
    // version): the classic download streams the same bytes in one request;
    // they are checked against the manifest all the same.
    std::size_t missingCount = 0;
    std::int64_t missingBytes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!atHand[i]) {
            ++missingCount;
            missingBytes += m.pieces[i].bytes;
        }
    }
    if (version <= 1 && missingCount > kManyPieces && missingBytes * 2 > m.packageBytes) {
        out->Close();
        if (r = DownloadExchange({s.downloadUrl, s.memberId, s.fileSize, target}, c.log,
                                 [&c](int p) { c.window.SetProgress(p); });
            r != ResultCode::Ok) {
            return r;
        }
        Sha256 whole;
        std::int64_t size = 0;
        if (auto in = fs::OpenRegularRead(package)) {
            std::vector<char> buf(1 << 20);
            while (std::size_t n = std::fread(buf.data(), 1, buf.size(), in.get())) {
                whole.Update(buf.data(), n);
                size += static_cast<std::int64_t>(n);
            }
        }
        if (size != m.packageBytes || Sha256::Hex(whole.Finish()) != m.packageSha256) {
            c.log.Write("[DownloadFile]Package Mismatch");
            fs::DeleteFile(package);
            return ResultCode::DeltaPieceMismatch;
        }
        s.lastFetchedBytes = size;
        return ResultCode::Ok;
    }

    // Fetchers bring the pieces not at hand, a bounded window ahead of the
    // writer, which puts every piece in its place in order.
    struct Slot {
        std::vector<std::uint8_t> bytes;
        bool ready = false;
        ResultCode result = ResultCode::Ok;
    };
    std::vector<Slot> slots(count);
    std::mutex mu;
    std::condition_variable cv;
    std::size_t nextFetch = 0, written = 0;
    bool stop = false;
    auto fetcher = [&] {
        DeltaClient own(s.deltaBase, c.log);
        for (;;) {
            std::size_t i;
            {
                std::unique_lock lock(mu);
                cv.wait(lock, [&] {
                    return stop || nextFetch >= count || nextFetch < written + kWindow;
                });
                while (nextFetch < count && atHand[nextFetch])
                    ++nextFetch;
                if (stop || nextFetch >= count)
                    return;
                i = nextFetch++;
            }
            std::vector<std::uint8_t> bytes;
            const ResultCode r = own.GetPiece(m.pieces[i], bytes);
            std::lock_guard lock(mu);
            slots[i].bytes = std::move(bytes);
            slots[i].result = r;
            slots[i].ready = true;
            cv.notify_all();
        }
    };
    std::vector<std::thread> fetchers;
    for (std::size_t t = 0; t < kFetchers; ++t)
        fetchers.emplace_back(fetcher);
    struct Join {
        std::vector<std::thread>& threads;
        std::mutex& mu;
        std::condition_variable& cv;
        bool& stop;
        ~Join() {
            {
                std::lock_guard lock(mu);
                stop = true;
            }
            cv.notify_all();
            for (auto& t : threads)
                t.join();
        }
    } join{fetchers, mu, cv, stop};

    fs::UniqueFile cached;
    Sha256 whole;
    std::int64_t bytesWritten = 0, fetched = 0;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < count; ++i) {
        const ManifestPiece& piece = m.pieces[i];
        if (atHand[i] && !FromCache(cache, cached, piece, bytes)) {
            // The cached copy did not check: fetched after all.
            if (r = client.GetPiece(piece, bytes); r != ResultCode::Ok)
                return r;
            fetched += piece.bytes;
        } else if (!atHand[i]) {
            std::unique_lock lock(mu);
            cv.wait(lock, [&] { return slots[i].ready; });
            if (slots[i].result != ResultCode::Ok)
                return slots[i].result;
            bytes = std::move(slots[i].bytes);
            slots[i].bytes = {};
            fetched += piece.bytes;
        }
        if (!out->WriteAll(bytes.data(), bytes.size())) {
            c.log.Write("[DownloadFile]WriteFile Fail:(%d)", fs::LastError());
            return ResultCode::PackageWriteFailed;
        }
        whole.Update(bytes.data(), bytes.size());
        bytesWritten += piece.bytes;
        {
            std::lock_guard lock(mu);
            written = i + 1;
        }
        cv.notify_all();
        CrashPoint("fetch.piece");
        c.window.SetProgress(
            10 + static_cast<int>(m.packageBytes > 0 ? bytesWritten * 80 / m.packageBytes : 80));
    }
    // The cached package may be the very file the package's name still
    // links to (the cache hard-links what it keeps): Windows refuses to
    // replace a name whose file is held open.
    cached.reset();
    if (bytesWritten != m.packageBytes || Sha256::Hex(whole.Finish()) != m.packageSha256) {
        c.log.Write("[DownloadFile]Package Mismatch");
        return ResultCode::DeltaPieceMismatch;
    }
    if (!out->Sync()) {
        c.log.Write("[DownloadFile]WriteFile Fail:(%d)", fs::LastError());
        return ResultCode::PackageWriteFailed;
    }
    out->Close();
    if (!fs::RenameReplacing(part, package)) {
        c.log.Write("[DownloadFile]WriteFile Fail:(%d)", fs::LastError());
        return ResultCode::PackageWriteFailed;
    }
    guard.keep = true;
    s.lastFetchedBytes = fetched;
    return ResultCode::Ok;
}

void RememberInstalledPieces(const Context& c, const std::string& archive, const Manifest& m) {
    const std::string& game = c.session.gameFolder;
    ArchiveReader reader;
    if (reader.Open(archive) != ReadOutcome::Ok)
        return;
    std::vector<TarEntry> entries(static_cast<std::size_t>(reader.Header().count));
    for (int i = 0; i < reader.Header().count; ++i) {
        if (reader.Entry(i, entries[std::size_t(i)]) != ReadOutcome::Ok)
            return;
        entries[std::size_t(i)].sourceFolder = game + entries[std::size_t(i)].folder;
    }
    // The pieces as this client would cut them; they name the package's
    // pieces only when each holds as many bytes as the member there does.
    PackagePlan plan = PlanPackage(reader.Header(), entries);
    const std::string package = game + "Backup/" + kPackageName;
    auto in = fs::OpenRegularRead(package);
    if (!in)
        return;
    Sha256 whole;
    std::int64_t offset = 0;
    std::vector<std::uint8_t> bytes;
    // The member boundaries are the manifest's, which the package was
    // checked against.
    if (m.pieces.size() != plan.pieces.size())
        return;
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        Piece& p = plan.pieces[i];
        bytes.resize(static_cast<std::size_t>(m.pieces[i].bytes));
        std::uint32_t crc = 0, length = 0;
        if (std::fread(bytes.data(), 1, bytes.size(), in.get()) != bytes.size() ||
            !MemberTrailer(bytes.data(), bytes.size(), crc, length) ||
            length != static_cast<std::uint32_t>(p.rawBytes)) {
            return;
        }
        whole.Update(bytes.data(), bytes.size());
        p.sha256 = m.pieces[i].sha256;
        p.crc32 = GzipCrc32(bytes.data(), bytes.size());
        p.bytes = m.pieces[i].bytes;
        p.offset = offset;
        offset += p.bytes;
    }
    PackageResult result;
    result.bytes = offset;
    result.sha256 = Sha256::Hex(whole.Finish());
    PieceCache::Store(PieceCache::FolderFor(game), game, plan, result, package, c.log);
}

}  // namespace skiv::flow

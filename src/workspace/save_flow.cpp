#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "archive/piece_cache.h"
#include "archive/piece_package.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "service/delta_exchange.h"
#include "service/exchanges.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"

namespace skiv::flow {

namespace {

// Pieces sent at once by a delta save.
constexpr std::size_t kSenders = 8;

std::string NowText() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return buf;
}

std::string ComputerName() {
    char name[256] = {};
#ifdef _WIN32
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size))
        return {};
#else
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
#endif
    return name;
}

Manifest ManifestOf(const PackagePlan& plan, const PackageResult& made, int changed) {
    Manifest m;
    m.packageBytes = made.bytes;
    m.packageSha256 = made.sha256;
    m.files = plan.files;
    m.unpackedBytes = plan.archiveBytes;
    m.changed = changed;
    m.computer = ComputerName();
    for (const Piece& p : plan.pieces)
        m.pieces.push_back({p.sha256, p.bytes, p.shared});
    return m;
}

// Sends the package as its manifest and the pieces the service lacks, each
// read back from the package file; the commit makes it current.
ResultCode DeltaUpload(const Context& c, const PackagePlan& plan, const PackageResult& made,
                       int changed, const std::string& package, int fileType) {
    SessionState& s = c.session;
    DeltaClient client(s.deltaBase, c.log);
    std::string token;
    std::vector<std::string> missing;
    ResultCode r =
        client.PostMissing(FormatManifest(ManifestOf(plan, made, changed)), token, missing);
    if (r != ResultCode::Ok)
        return r;
    CrashPoint("delta.after-missing");
    std::int64_t total = 0;
    std::vector<const Piece*> toSend;
    for (const std::string& sha : missing) {
        for (const Piece& p : plan.pieces) {
            if (p.sha256 == sha) {
                toSend.push_back(&p);
                total += p.bytes;
                break;
            }
        }
    }
    // Each request waits on the network far more than on this computer:
    // several go at once, each sender with its own connection and file.
    std::mutex mu;
    std::size_t next = 0;
    std::int64_t sent = 0;
    ResultCode failed = ResultCode::Ok;
    auto sender = [&] {
        DeltaClient own(s.deltaBase, c.log);
        auto in = fs::OpenRegularRead(package);
        std::vector<std::uint8_t> bytes;
        for (;;) {
            const Piece* p;
            {
                std::lock_guard lock(mu);
                if (failed != ResultCode::Ok || next >= toSend.size())
                    return;
                p = toSend[next++];
            }
            ResultCode r = ResultCode::Ok;
            bytes.resize(static_cast<std::size_t>(p->bytes));
            if (!in || ::fseeko(in.get(), p->offset, SEEK_SET) != 0 ||
                std::fread(bytes.data(), 1, bytes.size(), in.get()) != bytes.size()) {
                c.log.Write("[SaveAddOn]fread Fail");
                r = ResultCode::ReadFailed;
            } else {
                r = own.PutPiece(token, p->sha256, bytes);
            }
            std::lock_guard lock(mu);
            if (r != ResultCode::Ok) {
                if (failed == ResultCode::Ok)
                    failed = r;
                return;
            }
            sent += p->bytes;
            CrashPoint("delta.piece");
            c.window.SetProgress(10 + static_cast<int>(total > 0 ? sent * 80 / total : 80));
        }
    };
    std::vector<std::thread> senders;
    for (std::size_t t = 0; t < std::min<std::size_t>(kSenders, toSend.size()); ++t)
        senders.emplace_back(sender);
    for (auto& t : senders)
        t.join();
    if (failed != ResultCode::Ok)
        return failed;
    s.lastSentBytes = sent;
    return client.Commit(token, fileType);
}

}  // namespace

ResultCode SaveSet(const Context& c, SaveScope scope) {
    c.window.SetProgress(2);
    ProgressToEnd end{c.window};
    SessionState& s = c.session;
    AddOnSet set(s.gameFolder, c.log);
    ResultCode r = set.Collect(scope, [&](const std::string&, ResultCode code) {
        c.log.Write("[SaveAddOn]AddFileToTar Fail:(%d)", Number(code));
    });
    if (r != ResultCode::Ok)
        return r;
    CrashPoint("save.after-pack");
    const std::string backup = s.gameFolder + "Backup/";
    if (!fs::EnsureOwnFolder(backup)) {
        c.log.Write("[SaveAddOn]Backup 디렉토리 생성실패");
        return ResultCode::CannotCreateFolder;
    }
    c.window.SetProgress(5);
    // The archive is never written whole: its head, table and files go
    // straight into the package's pieces.
    PackagePlan plan = PlanPackage(set.Archive());
    CrashPoint("save.after-archive");
    c.window.SetProgress(7);
    const std::string package = backup + kPackageName;
    const std::string cacheFolder = PieceCache::FolderFor(s.gameFolder);
    PieceCache cache;
    const bool cached = cache.Load(cacheFolder, s.gameFolder);
    PackageResult made;
    if (r = WritePackage(plan, package, cached ? &cache : nullptr, made, c.log);
        r != ResultCode::Ok) {
        c.log.Write("[SaveAddOn]CompressFile Fail:(%d)", Number(r));
        return r;
    }
    const int changed = cache.ChangedFiles(plan);
    // A cache that cannot be kept only costs the next save its reuse.
    PieceCache::Store(cacheFolder, s.gameFolder, plan, made, package, c.log);
    s.lastPiecesCompressed = made.compressed;
    s.lastPiecesReused = made.reused;
    CrashPoint("save.after-compress");
    c.window.SetProgress(10);
    const std::int32_t type = scope == SaveScope::WithCacheAndFonts ? kTypeFull : kTypeBasic;
    if (!s.deltaBase.empty()) {
        r = DeltaUpload(c, plan, made, changed, package, type);
    } else {
        r = UploadExchange({s.uploadUrl, s.memberId, s.memberKey, package, type}, c.log,
                           [&c](int p) { c.window.SetProgress(p); });
        s.lastSentBytes = made.bytes;
    }
    if (r != ResultCode::Ok) {
        c.log.Write("[SaveAddOn]UploadFile Fail:(%d)", Number(r));
        return r;
    }
    CrashPoint("save.after-upload");
    s.fileType = type;
    if (made.bytes <= INT32_MAX)
        s.fileSize = static_cast<std::int32_t>(made.bytes);
    s.saveDate = NowText();
    return ResultCode::Ok;
}

}  // namespace skiv::flow

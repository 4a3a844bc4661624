#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>

#include "archive/piece_cache.h"
#include "archive/piece_package.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/sha256.h"
#include "service/delta_exchange.h"
#include "service/exchanges.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"
#include "workspace/saved_variables_check.h"

namespace skiv::flow {

namespace {

// Pieces sent at once by a delta save.
constexpr std::size_t kSenders = 8;
// Pieces a sender is started for: below this a connection of its own costs
// more than it saves.
constexpr std::size_t kPiecesPerSender = 8;

std::string NowText() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return buf;
}

// "10,175"
std::string Grouped(std::int64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

std::string MegabytesText(std::int64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return buf;
}

// True to go on. Asks when the new set has less than half the stored set's
// files (when the service told their number) or less than half its
// compressed size: a set that shrank that much is more often a wrong or
// emptied folder than a clean-up.
bool ConfirmShrink(const Context& c, std::int64_t entries, std::int64_t packageBytes) {
    const SessionState& s = c.session;
    if (s.fileType == kTypeNone)
        return true;
    const std::int64_t storedEntries = s.packageCheck ? s.packageCheck->entries : -1;
    const bool fewerFiles = storedEntries > 0 && entries * 2 < storedEntries;
    const bool smaller = s.fileSize > 0 && packageBytes * 2 < s.fileSize;
    if (!fewerFiles && !smaller)
        return true;
    std::string stored = "서버에 저장된 설정은 ";
    std::string now = "지금 저장할 설정은 ";
    if (storedEntries > 0) {
        stored += "파일 " + Grouped(storedEntries) + "개, ";
        now += "파일 " + Grouped(entries) + "개, ";
    }
    stored += MegabytesText(s.fileSize);
    now += MegabytesText(packageBytes);
    c.log.Write("[SaveAddOn]저장된 설정보다 작음: %lld/%lld files, %lld/%d bytes",
                static_cast<long long>(entries), static_cast<long long>(storedEntries),
                static_cast<long long>(packageBytes), s.fileSize);
    return c.window.AskYesNo(
        stored + "인데, " + now + "입니다.\n저장된 설정을 이 설정으로 바꾸시겠습니까?",
        "Kelbo Skiv Addon", true);
}

Manifest ManifestOf(const PackagePlan& plan, const PackageResult& made, int changed) {
    Manifest m;
    m.packageBytes = made.bytes;
    m.packageSha256 = made.sha256;
    m.files = plan.files;
    m.unpackedBytes = plan.archiveBytes;
    m.changed = changed;
    m.computer = paths::ThisComputerName();
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
    auto sender = [&](DeltaClient* given) {
        std::optional<DeltaClient> made;
        DeltaClient& own = given ? *given : made.emplace(s.deltaBase, c.log);
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
    // A connection costs a TLS handshake: a few pieces go over the one the
    // manifest took (idle until the commit), more get more senders.
    const std::size_t count =
        std::min(kSenders, (toSend.size() + kPiecesPerSender - 1) / kPiecesPerSender);
    std::vector<std::thread> senders;
    for (std::size_t t = 0; t < count; ++t)
        senders.emplace_back(sender, t == 0 ? &client : nullptr);
    for (auto& t : senders)
        t.join();
    if (failed != ResultCode::Ok)
        return failed;
    s.lastSentBytes = sent;
    return client.Commit(token, fileType, s.flavor, s.gameVersion);
}

}  // namespace

ResultCode SaveSet(const Context& c, SaveScope scope) {
    c.window.SetProgress(2);
    ProgressToEnd end{c.window};
    SessionState& s = c.session;
    if (const auto damaged = FindDamagedSavedVariables(s.gameFolder); !damaged.empty()) {
        for (const DamagedSavedVariables& d : damaged)
            c.log.Write("[SaveAddOn]SavedVariables 손상: %s:%d: %s", d.path.c_str(), d.line,
                        d.reason.c_str());
        if (!c.window.AskYesNo(DamagedSavedVariablesQuestion(damaged), "Kelbo Skiv Addon", true))
            return ResultCode::SaveDeclined;
    }
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
    // The cache is written while the upload waits on the network (both
    // only read the plan); one that cannot be kept only costs the next save
    // its reuse. Joined before this function returns.
    std::jthread cacheWriter(
        [&] { PieceCache::Store(cacheFolder, s.gameFolder, plan, made, package, c.log); });
    s.lastPiecesCompressed = made.compressed;
    s.lastPiecesReused = made.reused;
    CrashPoint("save.after-compress");
    if (!ConfirmShrink(c, static_cast<std::int64_t>(set.Archive().Entries().size()),
                       fs::FileSize(package).value_or(0)))
        return ResultCode::SaveDeclined;
    c.window.SetProgress(10);
    const std::int32_t type = scope == SaveScope::WithCacheAndFonts ? kTypeFull : kTypeBasic;
    if (!s.deltaBase.empty()) {
        r = DeltaUpload(c, plan, made, changed, package, type);
    } else {
        r = UploadExchange(
            {s.uploadUrl, s.memberId, s.memberKey, package, type, s.flavor, s.gameVersion}, c.log,
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
    s.savedFlavor = s.flavor;
    s.savedGameVersion = s.gameVersion;
    // The next install of this session checks against what was just sent,
    // as the service recorded it. A delta save has no such record (its
    // manifest is the check).
    s.packageCheck.reset();
    if (s.deltaBase.empty()) {
        s.packageCheck = PackageCheck{made.sha256, set.Archive().Header().count,
                                      static_cast<std::int64_t>(plan.archiveBytes)};
    }
    return ResultCode::Ok;
}

}  // namespace skiv::flow

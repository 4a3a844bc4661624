#include <cstdio>
#include <ctime>

#include "archive/gzip_package.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/sha256.h"
#include "service/exchanges.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"
#include "workspace/saved_variables_check.h"

namespace skiv::flow {

namespace {

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
    if (r = set.Write(kSetArchiveName, backup); r != ResultCode::Ok) {
        c.log.Write("[SaveAddOn]AddFileToTar Fail:(%d)", Number(r));
        return r;
    }
    CrashPoint("save.after-archive");
    c.window.SetProgress(7);
    const std::string package = backup + kPackageName;
    if (r = CompressFile(backup + kSetArchiveName, package, c.log); r != ResultCode::Ok) {
        c.log.Write("[SaveAddOn]CompressFile Fail:(%d)", Number(r));
        return r;
    }
    CrashPoint("save.after-compress");
    if (!ConfirmShrink(c, static_cast<std::int64_t>(set.Archive().Entries().size()),
                       fs::FileSize(package).value_or(0)))
        return ResultCode::SaveDeclined;
    c.window.SetProgress(10);
    const std::int32_t type = scope == SaveScope::WithCacheAndFonts ? kTypeFull : kTypeBasic;
    r = UploadExchange(
        {s.uploadUrl, s.memberId, s.memberKey, package, type, s.flavor, s.gameVersion}, c.log,
        [&c](int p) { c.window.SetProgress(p); });
    if (r != ResultCode::Ok) {
        c.log.Write("[SaveAddOn]UploadFile Fail:(%d)", Number(r));
        return r;
    }
    CrashPoint("save.after-upload");
    s.fileType = type;
    if (auto size = fs::FileSize(package); size && *size <= INT32_MAX)
        s.fileSize = static_cast<std::int32_t>(*size);
    s.saveDate = NowText();
    s.savedFlavor = s.flavor;
    s.savedGameVersion = s.gameVersion;
    // The next install of this session checks against what was just sent,
    // as the service recorded it; a package that cannot be read again is
    // simply not checked.
    s.packageCheck.reset();
    if (auto digest = Sha256OfFile(package)) {
        s.packageCheck = PackageCheck{*digest, set.Archive().Header().count,
                                      fs::FileSize(backup + kSetArchiveName).value_or(-1)};
    }
    return ResultCode::Ok;
}

}  // namespace skiv::flow

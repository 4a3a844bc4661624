#include <cstdio>
#include <ctime>

#include "archive/gzip_package.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/sha256.h"
#include "service/exchanges.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"

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
    c.window.SetProgress(10);
    const std::int32_t type = scope == SaveScope::WithCacheAndFonts ? kTypeFull : kTypeBasic;
    r = UploadExchange({s.uploadUrl, s.memberId, s.memberKey, package, type}, c.log,
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

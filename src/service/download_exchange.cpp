#include <memory>

#include "http/form_client.h"
#include "http/http_error.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/result_codes.h"
#include "service/exchanges.h"

namespace skiv {

ResultCode DownloadExchange(const DownloadRequest& request, LogSink& log,
                            const ProgressFn& progress) {
    const std::string folder = request.loadFolder + "Backup/";
    const std::string packagePath = folder + "SkivAddon.ksp";
    if (!fs::EnsureFolder(folder)) {
        log.Write("[DownloadFile]다운로드 디렉토리 생성실패");
        return ResultCode::CannotCreateFolder;
    }
    auto file = fs::NoShareFile::CreateWrite(packagePath);
    if (!file) {
        log.Write("[DownloadFile]CreateFile Fail:(%d)", fs::LastError());
        return ResultCode::CannotCreatePackage;
    }
    ResultCode result = ResultCode::Ok;
    try {
        http::FormClient client("Skiv Addon Download");
        client.SetUseUtf8(true);
        const http::ResponsePtr response =
            client.Get(request.downloadUrl + request.memberId + ".cab");
        const auto status = response->Status();
        if (status != 200) {
            log.Write("[DownloadFile]DownloadFile Resp Status Error:(%d:%s)",
                      static_cast<int>(status), response->StatusText().c_str());
            result = ResultCode::HttpStatus;
        } else {
            std::vector<unsigned char> buf(8192);
            double total = 0;
            for (;;) {
                std::fill(buf.begin(), buf.end(), 0);
                auto n = response->Read(buf.data(), static_cast<std::uint32_t>(buf.size()));
                if (n == 0)
                    break;
                if (!file->WriteAll(buf.data(), n)) {
                    log.Write("[DownloadFile]WriteFile Fail:(%d)", fs::LastError());
                    result = ResultCode::PackageWriteFailed;
                    break;
                }
                CrashPoint("download.chunk");
                total += n;
                int p = request.fileSize > 0
                            ? static_cast<int>(total / request.fileSize * 100.0 + 10.0)
                            : 10;
                progress(p <= 10 ? 10 : (p < 90 ? p : 90));
            }
            // The package must be on the disk before it is reported whole.
            if (result == ResultCode::Ok && !file->Sync()) {
                log.Write("[DownloadFile]WriteFile Fail:(%d)", fs::LastError());
                result = ResultCode::PackageWriteFailed;
            }
        }
    } catch (const http::HttpError& e) {
        log.Write("[DownloadFile]DownloadFile Exception:(%s)", e.what());
        result = ResultCode::HttpException;
    }
    return result;
}

}  // namespace skiv

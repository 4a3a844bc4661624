#include <memory>

#include "http/form/http_client.h"
#include "http/form/http_error.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/result_codes.h"
#include "service/exchanges.h"

namespace skiv {

ResultCode DownloadExchange(const DownloadRequest& request, LogSink& log,
                            const ProgressFn& progress) {
    Vutra::CHttpClientT<char> client;
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
    Vutra::CHttpClientT<char>::ResponsePtr response;
    ResultCode result = ResultCode::Ok;
    try {
        client.ConfigureInternet("Skiv Addon Download", 0, nullptr, nullptr, 0);
        client.SetUseUtf8(1);
        const std::string address = request.downloadUrl + request.memberId + ".cab";
        response = client.SendGetRequest(address.c_str(), 0);
        const auto status = response->GetStatus();
        if (status != 200) {
            log.Write("[DownloadFile]DownloadFile Resp Status Error:(%d:%s)",
                      static_cast<int>(status), response->GetStatusText());
            result = ResultCode::HttpStatus;
        } else {
            std::vector<unsigned char> buf(8192);
            double total = 0;
            for (;;) {
                std::fill(buf.begin(), buf.end(), 0);
                auto n = response->ReadContent(buf.data(), static_cast<std::uint32_t>(buf.size()));
                if (n == 0) {
                    client.AbortPostContext();
                    break;
                }
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
    } catch (const Vutra::httpclientexceptionA& e) {
        log.Write("[DownloadFile]DownloadFile Exception:(%s)", e.errmsg());
        client.AbortPostContext();
        result = ResultCode::HttpException;
    }
    return result;
}

}  // namespace skiv

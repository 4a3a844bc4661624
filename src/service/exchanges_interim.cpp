// Interim: the HTTP clients are not part of this build yet, so every
// exchange reports that it could not reach the service.

#include "platform/result_codes.h"
#include "service/exchanges.h"

namespace skiv {

int LoginExchange(const std::string&, const std::string&, const std::string&, LoginFields,
                  LogSink& log) {
    log.Write("[Login]W3CClient Connect Fail");
    return rc::kLoginConnect;
}

int UploadExchange(const UploadRequest&, LogSink& log, const ProgressFn&) {
    log.Write("[UploadFile]UploadFile Exception:(%s)", "no HTTP client in this build");
    return rc::kHttpException;
}

int DownloadExchange(const DownloadRequest&, LogSink& log, const ProgressFn&) {
    log.Write("[DownloadFile]DownloadFile Exception:(%s)", "no HTTP client in this build");
    return rc::kHttpException;
}

}  // namespace skiv

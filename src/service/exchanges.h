#pragma once
// The three exchanges with the member service. Each reports by result code
// and writes its failures to the log; nothing is thrown out of them (the
// form client's exceptions stop here).

#include <cstdint>
#include <functional>
#include <string>

#include "platform/log_sink.h"
#include "service/tag_reply.h"

namespace skiv {

// Sets the window's progress position; called from the calling thread.
using ProgressFn = std::function<void(int)>;

// Posts the member ID and password to the login page of baseUrl (an https
// address, no trailing '/') and stores the reply's values in `out`.
// 0, 1015, 1016, 1017, 1018, or a code of ValidateLoginResponse.
int LoginExchange(const std::string& baseUrl, const std::string& memberId,
                  const std::string& password, LoginFields out, LogSink& log);

struct UploadRequest {
    std::string uploadUrl;
    std::string memberId;
    std::string memberKey;
    std::string packagePath;
    int fileType = 1;
};

// Sends the package as a multipart form; the position moves within 10-90
// while the file part is sent. 0, 1018, 1019, 1020, 1027-1032, 1035.
int UploadExchange(const UploadRequest& request, LogSink& log, const ProgressFn& progress);

struct DownloadRequest {
    std::string downloadUrl;  // prefix; the member ID and ".cab" follow
    std::string memberId;
    std::int32_t fileSize = 0;  // expected bytes, for the progress only
    std::string loadFolder;     // ends with '/'; the package lands in its Backup/
};

// Fetches the stored package into loadFolder + "Backup/SkivAddon.ksp"; the
// position moves within 10-90 as bytes arrive. 0, 1003, 1032, 1033, 1035,
// 1036.
int DownloadExchange(const DownloadRequest& request, LogSink& log, const ProgressFn& progress);

}  // namespace skiv

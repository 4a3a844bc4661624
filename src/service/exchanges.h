#pragma once
// The three exchanges with the member service. Each reports by result code
// and writes its failures to the log; nothing is thrown out of them (the
// form client's exceptions stop here, and the transport's own error numbers
// never leave it).

#include <cstdint>
#include <functional>
#include <string>

#include "platform/log_sink.h"
#include "platform/result_codes.h"
#include "service/tag_reply.h"

namespace skiv {

// Sets the window's progress position; called from the calling thread.
using ProgressFn = std::function<void(int)>;

// Posts the member ID and password to the login page of baseUrl (an https
// address, no trailing '/') and stores the reply's values in `out`.
// Ok; LoginConnect, LoginRequest or LoginResponse when the exchange itself
// fails; AllocFailed; or an outcome of ValidateLoginResponse. replyText,
// when given, receives the reply as read (for LoginExtraTag).
ResultCode LoginExchange(const std::string& baseUrl, const std::string& memberId,
                         const std::string& password, LoginFields out, LogSink& log,
                         std::string* replyText = nullptr);

struct UploadRequest {
    std::string uploadUrl;
    std::string memberId;
    std::string memberKey;
    std::string packagePath;
    int fileType = 1;
};

// Sends the package as a multipart form; the position moves within 10-90
// while the file part is sent. Ok; HttpException when the form client
// fails; HttpStatus for a status other than 200; AllocFailed; or an outcome
// of ValidateUploadResponse.
ResultCode UploadExchange(const UploadRequest& request, LogSink& log, const ProgressFn& progress);

struct DownloadRequest {
    std::string downloadUrl;  // prefix; the member ID and ".cab" follow
    std::string memberId;
    std::int32_t fileSize = 0;  // expected bytes, for the progress only
    std::string loadFolder;     // ends with '/'; the package lands in its Backup/
};

// Fetches the stored package into loadFolder + "Backup/SkivAddon.ksp"; the
// position moves within 10-90 as bytes arrive. Ok; CannotCreateFolder or
// CannotCreatePackage before the exchange; HttpException when the form
// client fails; HttpStatus for a status other than 200; PackageWriteFailed.
ResultCode DownloadExchange(const DownloadRequest& request, LogSink& log,
                            const ProgressFn& progress);

}  // namespace skiv

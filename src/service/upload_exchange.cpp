#include <memory>
#include <string>

#include "http/form_client.h"
#include "http/http_error.h"
#include "platform/crash_point.h"
#include "platform/result_codes.h"
#include "service/exchanges.h"

namespace skiv {

// Replies are short tag texts; a longer one is refused rather than grown
// without bound.
constexpr std::size_t kMaxUploadReply = 4 * 1024 * 1024;

ResultCode UploadExchange(const UploadRequest& request, LogSink& log, const ProgressFn& progress) {
    try {
        http::FormClient client("Skiv Addon Upload");
        client.AddParam("avsMemberID", request.memberId);
        client.AddParam("avsMemberKey", request.memberKey);
        client.AddParam("aviFileType", std::to_string(request.fileType));
        if (!request.flavor.empty())
            client.AddParam("avsFlavor", request.flavor);
        if (!request.gameVersion.empty())
            client.AddParam("avsGameVersion", request.gameVersion);
        client.AddFile("avoFileName", request.packagePath);
        client.OpenUpload(request.uploadUrl);
        http::ResponsePtr response;
        while (!response) {
            const http::UploadProgress stat = client.Progress();
            if (stat.currentIsFile) {
                const double total = stat.currentBytes;
                const int p =
                    total > 0 ? static_cast<int>(stat.currentSent / total * 100.0 + 10.0) : 10;
                progress(p <= 10 ? 10 : (p >= 90 ? 90 : p));
            }
            response = client.Proceed(1024);
            CrashPoint("upload.chunk");
        }
        const auto status = response->Status();
        if (status != 200) {
            log.Write("[UploadFile]UploadFile Resp Status Error:(%d:%s)", static_cast<int>(status),
                      response->StatusText().c_str());
            return ResultCode::HttpStatus;
        }
        std::string reply;
        unsigned char chunk[8192];
        while (const auto n = response->Read(chunk, sizeof chunk)) {
            if (n > kMaxUploadReply - reply.size()) {
                log.Write("[UploadFile]Mem Alloc Fail");
                return ResultCode::AllocFailed;
            }
            reply.append(reinterpret_cast<const char*>(chunk), n);
        }
        const ResultCode result =
            ValidateUploadResponse(reply.empty() ? nullptr : reply.c_str(), log);
        if (result != ResultCode::Ok)
            log.Write("[UploadFile]ValidateUploadResponse Fail:(%d)", Number(result));
        return result;
    } catch (const http::HttpError& e) {
        log.Write("[UploadFile]UploadFile Exception:(%s)", e.what());
        return ResultCode::HttpException;
    }
}

}  // namespace skiv

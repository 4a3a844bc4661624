#include <memory>

#include "http/form/http_client.h"
#include "http/form/http_error.h"
#include "platform/crash_point.h"
#include "platform/result_codes.h"
#include "service/exchanges.h"
#include "service/reply_buffer.h"

namespace skiv {

ResultCode UploadExchange(const UploadRequest& request, LogSink& log, const ProgressFn& progress) {
    Vutra::CHttpClientT<char> client;
    Vutra::CHttpPostStatT<char> stat;
    Vutra::CHttpClientT<char>::ResponsePtr response;
    ResultCode result = ResultCode::Ok;
    try {
        client.ConfigureInternet("Skiv Addon Upload", 0, nullptr, nullptr, 0);
        char type[16];
        std::snprintf(type, sizeof type, "%d", request.fileType);
        client.AddParam("avsMemberID", request.memberId.c_str(), 0);
        client.AddParam("avsMemberKey", request.memberKey.c_str(), 0);
        client.AddParam("aviFileType", type, 0);
        client.AddParam("avoFileName", request.packagePath.c_str(), Vutra::ParamFile);
        client.OpenUpload(request.uploadUrl.c_str(), 0);
        while (!response) {
            client.GetPostStat(stat);
            if (stat.CurrParamIsFile()) {
                const double total = stat.CurrParamTotalByte();
                const int p =
                    total > 0 ? static_cast<int>(stat.CurrParamPostedByte() / total * 100.0 + 10.0)
                              : 10;
                progress(p <= 10 ? 10 : (p >= 90 ? 90 : p));
            }
            response = client.ProceedContext(1024);
            CrashPoint("upload.chunk");
        }
        const auto status = response->GetStatus();
        if (status != 200) {
            log.Write("[UploadFile]UploadFile Resp Status Error:(%d:%s)", static_cast<int>(status),
                      response->GetStatusText());
            result = ResultCode::HttpStatus;
        } else {
            ReplyBuffer reply;
            unsigned char chunk[8192];
            for (;;) {
                std::fill(std::begin(chunk), std::end(chunk), 0);
                auto n = response->ReadContent(chunk, sizeof chunk);
                if (n == 0)
                    break;
                if (!reply.Append(reinterpret_cast<const char*>(chunk), n)) {
                    log.Write("[UploadFile]Mem Alloc Fail");
                    result = ResultCode::AllocFailed;
                    break;
                }
            }
            if (result == ResultCode::Ok) {
                client.AbortPostContext();
                result = ValidateUploadResponse(reply.Text(), log);
                if (result != ResultCode::Ok)
                    log.Write("[UploadFile]ValidateUploadResponse Fail:(%d)", Number(result));
            }
        }
    } catch (const Vutra::httpclientexceptionA& e) {
        log.Write("[UploadFile]UploadFile Exception:(%s)", e.errmsg());
        client.AbortPostContext();
        result = ResultCode::HttpException;
    }
    return result;
}

}  // namespace skiv

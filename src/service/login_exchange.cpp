#include "http/simple/w3c_client.h"
#include "platform/result_codes.h"
#include "service/exchanges.h"
#include "service/reply_buffer.h"

namespace skiv {

ResultCode LoginExchange(const std::string& baseUrl, const std::string& memberId,
                         const std::string& password, LoginFields out, LogSink& log) {
    W3CClient client;
    if (!client.Connect((baseUrl + "/").c_str(), nullptr, nullptr, "Mozilla/4.0 (compatible; )")) {
        log.Write("[Login]W3CClient Connect Fail");
        client.Close();
        return ResultCode::LoginConnect;
    }
    client.AddPostArgument("avsMemberID", memberId.c_str());
    client.AddPostArgument("avsPassword", password.c_str());
    if (!client.Request("/skivaddon/actskivaddonlogin.aspx", W3CClient::Post, nullptr)) {
        log.Write("[Login]W3CClient Request Fail");
        client.Close();
        return ResultCode::LoginRequest;
    }
    ReplyBuffer reply;
    char chunk[8192];
    for (;;) {
        std::fill(std::begin(chunk), std::end(chunk), '\0');
        std::size_t n = client.Response(reinterpret_cast<unsigned char*>(chunk), sizeof chunk);
        if (n == 0)
            break;
        if (!reply.Append(chunk, n)) {
            log.Write("[Login]Mem Alloc Fail");
            client.Close();
            return ResultCode::AllocFailed;
        }
    }
    // A read that failed is not the end of the reply: a cut reply must not be
    // judged as if it were whole.
    const bool readFailed = client.ResponseFailed();
    client.Close();
    if (readFailed) {
        log.Write("[Login]W3CClient Response Fail");
        return ResultCode::LoginResponse;
    }
    ResultCode r = ValidateLoginResponse(reply.Text(), out, log);
    if (r != ResultCode::Ok)
        log.Write("[Login]ValidateLoginResponse Fail:(%d)", Number(r));
    return r;
}

}  // namespace skiv

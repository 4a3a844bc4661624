#include "http/simple_client.h"
#include "platform/codepage.h"
#include "platform/result_codes.h"
#include "service/exchanges.h"

namespace skiv {

// Replies are short tag texts; a longer one is refused rather than grown
// without bound.
constexpr std::size_t kMaxLoginReply = 4 * 1024 * 1024;

ResultCode LoginExchange(const std::string& baseUrl, const std::string& memberId,
                         const std::string& password, LoginFields out, LogSink& log,
                         std::string* replyText, std::optional<PackageCheck>* check) {
    http::SimpleClient client;
    if (!client.Connect(baseUrl + "/", "Mozilla/4.0 (compatible; )")) {
        log.Write("[Login]W3CClient Connect Fail");
        client.Close();
        return ResultCode::LoginConnect;
    }
    // The form goes out in the exchange code page, not the program's UTF-8;
    // text it cannot express is sent as it is.
    auto exchangeText = [](const std::string& text) {
        std::string out;
        return ConvertCodePage(CP_UTF8, kExchangeCodePage, text, out) ? out : text;
    };
    client.AddField("avsMemberID", exchangeText(memberId));
    client.AddField("avsPassword", exchangeText(password));
    if (!client.PostForm("/skivaddon/actskivaddonlogin.aspx")) {
        log.Write("[Login]W3CClient Request Fail");
        client.Close();
        return ResultCode::LoginRequest;
    }
    std::string reply;
    unsigned char chunk[8192];
    for (;;) {
        const std::size_t n = client.Read(chunk, sizeof chunk);
        if (n == 0)
            break;
        if (n > kMaxLoginReply - reply.size()) {
            log.Write("[Login]Mem Alloc Fail");
            client.Close();
            return ResultCode::AllocFailed;
        }
        reply.append(reinterpret_cast<const char*>(chunk), n);
    }
    // A read that failed is not the end of the reply: a cut reply must not be
    // judged as if it were whole.
    const bool readFailed = client.ReadFailed();
    client.Close();
    if (readFailed) {
        log.Write("[Login]W3CClient Response Fail");
        return ResultCode::LoginResponse;
    }
    if (replyText)
        *replyText = reply;
    ResultCode r = ValidateLoginResponse(reply.empty() ? nullptr : reply.c_str(), out, log);
    if (r != ResultCode::Ok)
        log.Write("[Login]ValidateLoginResponse Fail:(%d)", Number(r));
    if (r == ResultCode::Ok && check)
        *check = ReadPackageCheck(reply.c_str());
    if (replyText)
        *replyText = std::move(reply);
    return r;
}

}  // namespace skiv

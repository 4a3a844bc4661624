// The login exchange's form on the wire: the member ID and password leave in
// code page 949 whatever this computer's code page is.

#include <gtest/gtest.h>

#include "service/exchanges.h"
#include "support/log_lines.h"
#include "support/wire_server.h"

namespace skiv {
namespace {

TEST(LoginWire, KoreanPasswordIsSentAsCodePage949AndAsciiAsItIs) {
    test::WireServer server;
    const std::string ok = "<error>1</error><errormsg>x</errormsg>";
    server.Push({.reply = test::WireServer::Reply(200, "OK", ok)});
    server.Push({.reply = test::WireServer::Reply(200, "OK", ok)});
    test::RecordingLog log;
    std::int32_t size = 0, type = 0;
    std::string date, key, up, down;
    const std::string base = server.Url("");
    LoginExchange(base, "kim", "비밀번호한글", {size, date, type, key, up, down}, log);
    LoginExchange(base, "kim", "p&ss w", {size, date, type, key, up, down}, log);
    // From iconv -t CP949, percent-encoded.
    const std::string korean = "avsMemberID=kim&avsPassword=%BA%F1%B9%D0%B9%F8%C8%A3%C7%D1%B1%DB";
    const std::string ascii = "avsMemberID=kim&avsPassword=p%26ss+w";
    EXPECT_TRUE(server.WaitRequest(0).ends_with("\r\n\r\n" + korean));
    EXPECT_TRUE(server.WaitRequest(1).ends_with("\r\n\r\n" + ascii));
}

}  // namespace
}  // namespace skiv

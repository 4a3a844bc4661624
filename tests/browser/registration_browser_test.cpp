// A person registers on the service's page in a real browser (Debian's
// headless chromium, driven by register.mjs), then the new member logs in
// the way the program does, here with the curl command-line program.
//
// Missing chromium, node or node_modules is a failure, not a skip:
// scripts/setup installs all three, so their absence is a broken machine.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/process.h"
#include "support/service_launcher.h"
#include "support/temp_dir.h"

namespace skiv::test {
namespace {

const char* Chromium() {
    const char* env = std::getenv("CHROMIUM");
    return env && *env ? env : "/usr/bin/chromium";
}

std::string BrowserFolder() {
    return SourceDir() + "/tests/browser";
}

// Exit status and output of a curl login; the reply body is the output.
ProcessResult CurlLogin(const ServiceLauncher& svc, const std::string& id,
                        const std::string& password) {
    return RunCommand("curl -sS --fail --cacert " + ShellQuote(svc.CaFile()) +
                      " --data-urlencode " + ShellQuote("avsMemberID=" + id) +
                      " --data-urlencode " + ShellQuote("avsPassword=" + password) + " " +
                      ShellQuote(svc.BaseUrl() + "/skivaddon/actskivaddonlogin.aspx"));
}

class RegistrationInBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::access(Chromium(), X_OK), 0)
            << Chromium() << " is missing: run scripts/setup (installs chromium)";
        ASSERT_EQ(RunCommand("node --version").status, 0)
            << "node is missing: run scripts/setup (installs nodejs and npm)";
        ASSERT_EQ(::access((BrowserFolder() + "/node_modules/playwright-core/package.json").c_str(),
                           R_OK),
                  0)
            << BrowserFolder() << "/node_modules is missing: run scripts/setup (runs npm ci)";
    }

    ProcessResult Drive(const std::string& newId, const std::string& password,
                        const std::string& mismatchId) {
        return RunCommand("cd " + ShellQuote(BrowserFolder()) + " && node register.mjs " +
                          ShellQuote(svc.BaseUrl()) + " " + ShellQuote(svc.CaFile()) + " " +
                          ShellQuote(newId) + " " + ShellQuote(password) + " " +
                          ShellQuote(mismatchId));
    }

    ServiceLauncher svc;
};

TEST_F(RegistrationInBrowser, NewMemberRegistersOnThePageAndLogsInWithCurl) {
    const std::string id = "browser_player-1";
    const std::string password = "비밀번호 long enough";  // multi-byte UTF-8 through the form

    ProcessResult page = Drive(id, password, "mismatch_player");
    ASSERT_EQ(page.status, 0) << page.output << "\n--- service log ---\n" << svc.LogText();
    // The driver says what it saw; the service's log shows the four page
    // requests really reached it, with the refusals' statuses.
    EXPECT_NE(page.output.find("registered " + id), std::string::npos) << page.output;
    const std::string log = svc.LogText();
    EXPECT_NE(log.find("GET /Member/Common/frmMemberRegist.aspx 200"), std::string::npos) << log;
    EXPECT_NE(log.find("POST /Member/Common/frmMemberRegist.aspx 200"), std::string::npos) << log;
    EXPECT_NE(log.find("POST /Member/Common/frmMemberRegist.aspx 400"), std::string::npos) << log;
    EXPECT_NE(log.find("POST /Member/Common/frmMemberRegist.aspx 409"), std::string::npos) << log;

    ProcessResult login = CurlLogin(svc, id, password);
    ASSERT_EQ(login.status, 0) << login.output;
    EXPECT_NE(login.output.find("<error>0</error>"), std::string::npos) << login.output;
    EXPECT_NE(login.output.find("<memberkey>"), std::string::npos) << login.output;

    // The password the taken-ID attempt typed was not set on the member,
    // and the refused registration made no member.
    ProcessResult other = CurlLogin(svc, id, "another password");
    EXPECT_NE(other.output.find("<error>3</error>"), std::string::npos) << other.output;
    ProcessResult refused = CurlLogin(svc, "mismatch_player", password);
    EXPECT_NE(refused.output.find("<error>3</error>"), std::string::npos) << refused.output;
}

}  // namespace
}  // namespace skiv::test

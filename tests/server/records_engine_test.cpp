// The service on a PostgreSQL server: its records survive the database
// going away under it. Skips when PostgreSQL is not installed.

#include <gtest/gtest.h>
#include <signal.h>

#include "service_test_util.h"
#include "support/engine_cluster.h"

namespace skiv::test {
namespace {

TEST(PostgresRecordsTest, DatabaseRestartAnswersBusyThenServesWhatWasStored) {
    EngineCluster pg("pg_cluster");
    if (pg.Missing())
        GTEST_SKIP() << pg.Why();
    ASSERT_TRUE(pg.Running()) << pg.Why();
    ServiceLauncher svc({"--store", pg.Url(), "--db-pool", "3"});
    std::string output;
    ASSERT_EQ(svc.RunAdmin({"--store", pg.Url(), "member", "add", "alice"}, "password1\n", &output),
              0)
        << output;
    LoginReply session = Login(svc, "alice", "password1");
    ASSERT_EQ(session.error, "0") << session.http.body;
    UploadForm form;
    form.fileBytes = std::string(50000, 'k') + "end of package";
    form.memberId = "alice";
    form.memberKey = session.memberkey;
    ASSERT_EQ(TagValue(Upload(svc, session.uploadUrl, form).body, "error"), "0");

    pg.Stop();
    // Every request that needs the records fails plainly, and the service
    // stays up.
    EXPECT_EQ(Login(svc, "alice", "password1").error, "2");
    HttpReply down = Fetch(svc, session.downloadUrl + "alice.cab");
    EXPECT_GE(down.status, 500);
    EXPECT_EQ(::kill(svc.Pid(), 0), 0) << svc.LogText();

    pg.Start();
    // A new connection is made; nothing stored before was lost.
    LoginReply back = Login(svc, "alice", "password1");
    ASSERT_EQ(back.error, "0") << back.http.body << svc.LogText();
    EXPECT_EQ(back.filesize, std::to_string(form.fileBytes.size()));
    EXPECT_TRUE(Fetch(svc, back.downloadUrl + "alice.cab").body == form.fileBytes);
    ASSERT_EQ(svc.RunAdmin({"--store", pg.Url(), "member", "list"}, "", &output), 0);
    EXPECT_NE(output.find("alice\tactive\t" + std::to_string(form.fileBytes.size())),
              std::string::npos)
        << output;
}

}  // namespace
}  // namespace skiv::test

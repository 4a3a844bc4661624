// The form client against a real loopback listener: what reaches the wire
// for a GET and for a multipart upload, byte for byte, and how a long
// response body comes back in pieces.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "http/form_client.h"
#include "http/http_error.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/wire_server.h"

namespace skiv::http {
namespace {

using skiv::test::WireServer;
using Client = FormClient;
using Stat = UploadProgress;

std::string HostLine(const WireServer& server) {
    return "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
}

std::string ReadAll(Response& response, int* reads = nullptr) {
    std::string body;
    unsigned char buf[8192];
    for (;;) {
        const std::uint32_t n = response.Read(buf, sizeof buf);
        if (n == 0)
            break;
        if (reads)
            ++*reads;
        body.append(reinterpret_cast<const char*>(buf), n);
    }
    return body;
}

TEST(FormWire, DownloadReadsAMultiMegabyteBodyInPieces) {
    WireServer server;
    const std::string package = skiv::test::RandomBytes(3 * 1024 * 1024 + 123, 5);
    server.Push({.reply = WireServer::Reply(200, "OK", package)});

    Client client("Skiv Addon Download");
    client.SetUseUtf8(true);
    ResponsePtr response = client.Get(server.Url("/dl/abc.cab"));
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->Status(), 200u);
    EXPECT_EQ(response->StatusText(), "OK");
    int reads = 0;
    const std::string body = ReadAll(*response, &reads);
    EXPECT_EQ(body.size(), package.size());
    EXPECT_TRUE(body == package);
    EXPECT_GE(reads, static_cast<int>(package.size() / 8192));
    EXPECT_FALSE(client.AbortUpload());

    const std::string head = WireServer::HeadOf(server.WaitRequest(0));
    EXPECT_EQ(head.rfind("GET /dl/abc.cab HTTP/1.1\r\n" + HostLine(server) +
                             "User-Agent: Skiv Addon Download\r\nAccept: */*\r\n",
                         0),
              0u)
        << head;
    EXPECT_NE(head.find("Cache-Control: no-cache\r\n"), std::string::npos) << head;
    EXPECT_EQ(WireServer::BodyOf(server.WaitRequest(0)), "");
}

TEST(FormWire, GetStatusTextAndQueryBuilding) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(404, "Not Found", "gone")});
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    {
        Client client;
        client.AddParam("b", "x y");
        client.AddParam("A", "1&2");
        auto response = client.Get(server.Url("/p?x=1"), true);
        EXPECT_EQ(response->Status(), 404u);
        EXPECT_EQ(response->StatusText(), "Not Found");
        EXPECT_EQ(ReadAll(*response), "gone");
        const std::string head = WireServer::HeadOf(server.WaitRequest(0));
        EXPECT_EQ(head.rfind("GET /p?x=1&A=1%262&b=x+y HTTP/1.1\r\n", 0), 0u) << head;
        EXPECT_NE(head.find("User-Agent: Vutra HTTP Client Class\r\n"), std::string::npos);
        // With the cache allowed no no-cache header is added.
        EXPECT_EQ(head.find("Cache-Control"), std::string::npos) << head;
    }
    {
        // No path: the object is "/"; a query with no path gets "/" in front.
        Client client;
        const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
        client.Get(base);
        client.Get(base + "?q=1");
        EXPECT_EQ(server.WaitRequest(1).rfind("GET / HTTP/1.1\r\n", 0), 0u);
        EXPECT_EQ(server.WaitRequest(2).rfind("GET /?q=1 HTTP/1.1\r\n", 0), 0u);
    }
}

TEST(FormWire, UnreachableServerFailsWithTheSendCodeAndLeavesTheClientUsable) {
    // A port that was free a moment ago: the listener is gone.
    std::string url;
    {
        WireServer gone;
        url = gone.Url("/x");
    }
    Client client;
    try {
        client.Get(url);
        FAIL();
    } catch (const HttpError& e) {
        EXPECT_EQ(static_cast<int>(e.code()), 406);
        EXPECT_NE(e.systemError(), 0u);
    }
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "again")});
    EXPECT_EQ(ReadAll(*client.Get(server.Url("/y"))), "again");
}

// Expected multipart body, built independently of the client.
struct Part {
    std::string name;
    std::string value;  // file parameters: the path
    bool isFile = false;
    std::string mime;
    std::string content;
};

Part Value(const std::string& name, const std::string& value) {
    return Part{name, value, false, "", ""};
}

Part FilePart(const std::string& name, const std::string& path, const std::string& mime,
              const std::string& content) {
    return Part{name, path, true, mime, content};
}

std::string ExpectedBody(const std::string& b, const std::vector<Part>& parts) {
    if (parts.empty())
        return "\r\n--" + b + "--\r\n";
    std::string body;
    for (const Part& p : parts) {
        body += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + p.name;
        if (p.isFile) {
            body += "\"; filename=\"" + p.value + "\"\r\nContent-Type: " + p.mime + "\r\n\r\n" +
                    p.content + "\r\n";
        } else {
            body += "\"\r\n\r\n" + p.value + "\r\n";
        }
    }
    return body + "--" + b + "--\r\n";
}

// Drives Proceed with a budget until the response comes; counts the
// calls that returned nothing.
ResponsePtr Drive(Client& client, std::uint32_t budget, int* calls) {
    for (int guard = 0; guard < 1000000; ++guard) {
        ResponsePtr r = client.Proceed(budget);
        if (r)
            return r;
        ++*calls;
    }
    ADD_FAILURE() << "the upload never ended";
    return nullptr;
}

std::string ContentTypeLine(const Client& c) {
    return std::string("Content-Type: multipart/form-data; boundary=") + c.Boundary() + "\r\n";
}

TEST(FormWire, TwoValuesAreSentInNameOrderWithTheComputedLength) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "<error>0</error>")});
    Client client;
    client.AddParam("b", "2");
    client.AddParam("A", "1");
    client.OpenUpload(server.Url("/up"));
    Stat stat = client.Progress();
    EXPECT_EQ(stat.bodyBytes, 237u);
    int calls = 0;
    auto response = Drive(client, 1024, &calls);
    EXPECT_EQ(calls, 5);  // header A, data A, header b, data b, trailer
    EXPECT_EQ(ReadAll(*response), "<error>0</error>");

    const std::string request = server.WaitRequest(0);
    const std::string head = WireServer::HeadOf(request);
    EXPECT_EQ(head.rfind("POST /up HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find(ContentTypeLine(client)), std::string::npos) << head;
    EXPECT_NE(head.find("Content-Length: 237\r\n"), std::string::npos) << head;
    EXPECT_EQ(WireServer::BodyOf(request),
              ExpectedBody(client.Boundary(), {Value("A", "1"), Value("b", "2")}));
}

TEST(FormWire, NoParametersSendsTheEmptyBody) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    Client client;
    client.OpenUpload(server.Url("/up"));
    Stat stat = client.Progress();
    EXPECT_EQ(stat.bodyBytes, 43u + 8u);
    EXPECT_EQ(stat.paramCount, 0u);
    int calls = 0;
    auto response = Drive(client, 1024, &calls);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(response->Status(), 200u);
    EXPECT_EQ(WireServer::BodyOf(server.WaitRequest(0)), ExpectedBody(client.Boundary(), {}));
}

class UploadTest : public ::testing::Test {
protected:
    std::string File(const std::string& name, const std::string& bytes) {
        const std::string path = m_dir / name;
        skiv::test::WriteFile(path, bytes);
        return path;
    }
    skiv::test::TempDir m_dir;
    WireServer m_server;
};

// The upload the save flow performs: four fields, the package as a file
// part, a budget of 1,024 bytes per step, progress read between steps.
TEST_F(UploadTest, PackageUploadIsByteExactWithProgressAndCallSequence) {
    const std::string package = skiv::test::RandomBytes(5000, 11);  // 5 data steps
    const std::string path = File("Backup/SkivAddon.ksp", package);
    m_server.Push({.reply = WireServer::Reply(200, "OK", "<error>0</error>")});

    Client client("Skiv Addon Upload");
    client.AddParam("avsMemberID", "member01");
    client.AddParam("avsMemberKey", "k3y");
    client.AddParam("aviFileType", "2");
    client.AddFile("avoFileName", path);
    client.OpenUpload(m_server.Url("/skivaddon/upload.aspx"));

    const std::string mime = "application/octet-stream";
    Stat stat = client.Progress();  // the preview: first parameter already current
    const std::uint32_t declared = 492 + path.size() + mime.size() + package.size() + 8 + 3;
    EXPECT_EQ(stat.bodyBytes, declared);
    EXPECT_EQ(stat.dataBytes, 1 + package.size() + 8 + 3);
    EXPECT_EQ(stat.paramCount, 4u);
    EXPECT_EQ(stat.fileCount, 1u);
    EXPECT_EQ(stat.paramsStarted, 1u);
    EXPECT_EQ(stat.currentName, "aviFileType");
    EXPECT_FALSE(stat.currentIsFile);
    EXPECT_EQ(stat.currentBytes, 1u);

    // While a context is open the parameters and the UTF-8 setting are fixed.
    try {
        client.AddParam("late", "x");
        FAIL();
    } catch (const HttpError& e) {
        EXPECT_EQ(static_cast<int>(e.code()), 0);
        EXPECT_STREQ(e.what(),
                     "CHttpClientT::AddParam: It is not allowed to call this method if the POST "
                     "context is active.");
    }
    try {
        client.SetUseUtf8(true);
        FAIL();
    } catch (const HttpError& e) {
        EXPECT_STREQ(e.what(),
                     "CHttpClientT::SetUseUtf8: It is not allowed to call this method if the "
                     "POST context is active.");
    }
    EXPECT_FALSE(client.UseUtf8());
    // A zero budget is refused and changes nothing.
    try {
        client.Proceed(0);
        FAIL();
    } catch (const HttpError& e) {
        EXPECT_EQ(static_cast<int>(e.code()), 0);
        EXPECT_STREQ(e.what(), "CHttpClientT::_ProceedUploadContext: nDesired can not be zero.");
    }

    std::vector<std::string> steps;  // what each step left as current
    std::vector<std::uint32_t> filePosted;
    ResponsePtr response;
    while (!response) {
        stat = client.Progress();
        if (stat.currentIsFile) {
            EXPECT_EQ(stat.currentBytes, package.size());
            filePosted.push_back(stat.currentSent);
        }
        response = client.Proceed(1024);
        if (!response) {
            stat = client.Progress();
            steps.push_back(stat.currentName + ":" + std::to_string(stat.currentSent));
        }
    }
    EXPECT_EQ(steps, (std::vector<std::string>{
                         "aviFileType:0", "aviFileType:1", "avoFileName:0", "avoFileName:1024",
                         "avoFileName:2048", "avoFileName:3072", "avoFileName:4096",
                         "avoFileName:5000", "avsMemberID:0", "avsMemberID:8", "avsMemberKey:0",
                         "avsMemberKey:3", "avsMemberKey:3"}));
    EXPECT_EQ(filePosted, (std::vector<std::uint32_t>{0, 1024, 2048, 3072, 4096, 5000}));
    EXPECT_EQ(response->Status(), 200u);
    EXPECT_EQ(ReadAll(*response), "<error>0</error>");
    // The context ended with the response; the statistics are inactive again.
    EXPECT_FALSE(client.Progress().active);
    EXPECT_FALSE(client.AbortUpload());

    const std::string request = m_server.WaitRequest(0);
    const std::string head = WireServer::HeadOf(request);
    EXPECT_EQ(head.rfind("POST /skivaddon/upload.aspx HTTP/1.1\r\n" + HostLine(m_server) +
                             "User-Agent: Skiv Addon Upload\r\n",
                         0),
              0u)
        << head;
    EXPECT_NE(head.find("Content-Length: " + std::to_string(declared) + "\r\n"), std::string::npos);
    EXPECT_EQ(head.find("Expect:"), std::string::npos);
    EXPECT_EQ(WireServer::BodyOf(request),
              ExpectedBody(client.Boundary(),
                           {Value("aviFileType", "2"), FilePart("avoFileName", path, mime, package),
                            Value("avsMemberID", "member01"), Value("avsMemberKey", "k3y")}));
}

TEST_F(UploadTest, EdgePartsEmptyValuesExactBudgetMissingFilesAndTypedContent) {
    const std::string exact = skiv::test::RandomBytes(1024, 3);
    const std::string exactPath = File("exact.bin", exact);
    const std::string gz = std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10) + "data";
    const std::string gzPath = File("p.ksp", gz);
    const std::string emptyPath = File("empty.bin", "");
    const std::string missing = m_dir / "no-such-file";
    m_server.Push({.reply = WireServer::Reply(200, "OK", "")});

    Client client;
    client.AddParam("a_empty", "");
    client.AddFile("b_exact", exactPath);
    client.AddFile("c_gz", gzPath);
    client.AddFile("d_missing", missing);
    client.AddFile("e_emptyfile", emptyPath);
    client.AddParam("f_null");
    client.OpenUpload(m_server.Url("/up"));
    int calls = 0;
    auto response = Drive(client, 1024, &calls);
    // a: header only; b: header + 1 data step; c: header + 1; d, e, f:
    // header only; trailer.
    EXPECT_EQ(calls, 1 + 2 + 2 + 1 + 1 + 1 + 1);
    EXPECT_EQ(response->Status(), 200u);
    const std::string octet = "application/octet-stream";
    EXPECT_EQ(WireServer::BodyOf(m_server.WaitRequest(0)),
              ExpectedBody(client.Boundary(),
                           {Value("a_empty", ""), FilePart("b_exact", exactPath, octet, exact),
                            FilePart("c_gz", gzPath, "application/gzip", gz),
                            FilePart("d_missing", missing, octet, ""),
                            FilePart("e_emptyfile", emptyPath, "application/x-empty", ""),
                            Value("f_null", "")}));
}

TEST_F(UploadTest, LargeFileStreamsWithSmallBudgets) {
    const std::string big = skiv::test::RandomBytes(300 * 1024 + 7, 17);
    const std::string path = File("big.bin", big);
    m_server.Push({.reply = WireServer::Reply(200, "OK", "done")});
    Client client;
    client.AddFile("f", path);
    client.OpenUpload(m_server.Url("/up"));
    int calls = 0;
    auto response = Drive(client, 4096, &calls);
    EXPECT_EQ(calls, 1 + (static_cast<int>(big.size()) + 4095) / 4096 + 1);
    EXPECT_EQ(ReadAll(*response), "done");
    EXPECT_TRUE(
        WireServer::BodyOf(m_server.WaitRequest(0)) ==
        ExpectedBody(client.Boundary(), {FilePart("f", path, "application/octet-stream", big)}));
}

// A parser that is not ours must read the body as the client meant it:
// Python's MIME parser, strict about defects, on the exact request bytes.
// The file holds CR LF pairs and boundary-like dashes, so a sloppy
// delimiter would split or trim it.
TEST_F(UploadTest, StandardMultipartParserReadsTheBody) {
    std::string content = skiv::test::RandomBytes(40000, 23);
    content.replace(100, 12, "\r\n--\r\n\r\n----VU");
    content += "\r\n";
    const std::string path = File("세트 package.ksp", content);
    m_server.Push({.reply = WireServer::Reply(200, "OK", "<error>0</error>")});
    Client client;
    client.AddParam("avsMemberID", "mina_01");
    client.AddParam("avsMemberKey", "a+b=c&d%20");
    client.AddParam("aviFileType", "1");
    client.AddFile("avoFileName", path);
    client.AddParam("zz_note", "한글 값");
    client.OpenUpload(m_server.Url("/up"));
    int calls = 0;
    ASSERT_NE(Drive(client, 1024, &calls), nullptr);

    const std::string captured = m_dir / "request.bin";
    skiv::test::WriteFile(captured, m_server.WaitRequest(0));
    const auto parsed = skiv::test::RunCommand(
        "python3 " +
        skiv::test::ShellQuote(skiv::test::SourceDir() + "/tests/http_form/read_multipart.py") +
        " " + skiv::test::ShellQuote(captured));
    ASSERT_EQ(parsed.status, 0) << parsed.output;

    auto hex = [](const std::string& bytes) {
        static const char digits[] = "0123456789abcdef";
        std::string out;
        for (unsigned char c : bytes) {
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        return out;
    };
    const std::string expected =
        "aviFileType\t-\ttext/plain\t" + hex("1") + "\n" + "avoFileName\t" + path +
        "\tapplication/octet-stream\t" + hex(content) + "\n" + "avsMemberID\t-\ttext/plain\t" +
        hex("mina_01") + "\n" + "avsMemberKey\t-\ttext/plain\t" + hex("a+b=c&d%20") + "\n" +
        "zz_note\t-\ttext/plain\t" + hex("한글 값") + "\n";
    EXPECT_TRUE(parsed.output == expected) << parsed.output.substr(0, 2000);
}

// The Content-Length is fixed when the context opens; a file that changes
// size before its part is sent would make the body disagree with it. The
// upload stops with 105 instead, and nothing stays open.
TEST_F(UploadTest, FileChangingSizeBeforeItsPartStopsTheUpload) {
    const std::string path = File("grows.bin", std::string(100, 'x'));
    m_server.Push({.reply = "", .never_answer = true});
    Client client;
    client.AddParam("a", "1");
    client.AddFile("f", path);
    client.OpenUpload(m_server.Url("/up"));
    EXPECT_EQ(client.Proceed(1024), nullptr);  // header of a
    EXPECT_EQ(client.Proceed(1024), nullptr);  // data of a
    skiv::test::WriteFile(path, std::string(200, 'y'));
    try {
        client.Proceed(1024);
        FAIL();
    } catch (const HttpError& e) {
        EXPECT_EQ(static_cast<int>(e.code()), 105);
        EXPECT_STREQ(e.what(), "Couldn't read expected bytes from a file.");
    }
    EXPECT_FALSE(client.AbortUpload());
    try {
        client.Proceed(1024);
        FAIL();
    } catch (const HttpError& e) {
        EXPECT_EQ(static_cast<int>(e.code()), 104);
    }
}

TEST_F(UploadTest, AbortClosesTheContextAndANewUploadStartsFresh) {
    const std::string path = File("f.bin", std::string(3000, 'z'));
    // The aborted request may or may not have reached the listener far
    // enough to take a script; either way the second one gets a reply.
    m_server.Push({.reply = WireServer::Reply(200, "OK", "second")});
    m_server.Push({.reply = WireServer::Reply(200, "OK", "second")});
    Client client;
    client.AddFile("f", path);
    client.OpenUpload(m_server.Url("/first"));
    EXPECT_EQ(client.Proceed(1024), nullptr);
    EXPECT_EQ(client.Proceed(1024), nullptr);
    EXPECT_TRUE(client.AbortUpload());
    EXPECT_FALSE(client.AbortUpload());

    client.AddParam("g", "1");  // allowed again
    client.OpenUpload(m_server.Url("/second"));
    int calls = 0;
    auto response = Drive(client, 1024, &calls);
    EXPECT_EQ(ReadAll(*response), "second");
    std::string second;
    for (const std::string& r : m_server.Requests()) {
        if (r.rfind("POST /second ", 0) == 0)
            second = r;
    }
    EXPECT_EQ(
        WireServer::BodyOf(second),
        ExpectedBody(client.Boundary(),
                     {FilePart("f", path, "text/plain", std::string(3000, 'z')), Value("g", "1")}));
}

}  // namespace
}  // namespace skiv::http

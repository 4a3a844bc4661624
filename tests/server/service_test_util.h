#pragma once
// Steps the service tests share: log in as the client does and read the
// tag reply, upload a package, fetch a package.

#include <string>

#include "https_client.h"
#include "support/service_launcher.h"

namespace skiv::test {

struct LoginReply {
    HttpReply http;
    std::string error, errormsg, filesize, savedate, filetype, memberkey, uploadUrl, downloadUrl;
};

// True when `text` matches `pattern`, where '#' stands for a decimal digit
// and 'x' for a lower-case hex digit; every other character is literal.
inline bool Shaped(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool digit = c >= '0' && c <= '9';
        if (pattern[i] == '#') {
            if (!digit)
                return false;
        } else if (pattern[i] == 'x') {
            if (!digit && !(c >= 'a' && c <= 'f'))
                return false;
        } else if (pattern[i] != c) {
            return false;
        }
    }
    return true;
}

// `from`: the local (loopback) address the login comes from; empty for any.
inline LoginReply LoginRaw(const ServiceLauncher& svc, const std::string& body,
                           const std::string& from = "") {
    HttpCall call;
    call.caFile = svc.CaFile();
    call.fromAddress = from;
    call.http10 = true;
    LoginReply r;
    r.http = PostForm(svc.BaseUrl() + "/skivaddon/actskivaddonlogin.aspx", body, call);
    const std::string& b = r.http.body;
    r.error = TagValue(b, "error");
    r.errormsg = TagValue(b, "errormsg");
    r.filesize = TagValue(b, "filesize");
    r.savedate = TagValue(b, "savedate");
    r.filetype = TagValue(b, "filetype");
    r.memberkey = TagValue(b, "memberkey");
    r.uploadUrl = TagValue(b, "uploadURL");
    r.downloadUrl = TagValue(b, "downloadURL");
    return r;
}

inline LoginReply Login(const ServiceLauncher& svc, const std::string& id,
                        const std::string& password, const std::string& from = "") {
    return LoginRaw(svc, "avsMemberID=" + FormEncode(id) + "&avsPassword=" + FormEncode(password),
                    from);
}

inline HttpReply Upload(const ServiceLauncher& svc, const std::string& url, const UploadForm& form,
                        long long cutAfter = -1) {
    HttpCall call;
    call.caFile = svc.CaFile();
    call.cutAfter = cutAfter;
    return PostMultipart(url, TestBoundary(), BuildUploadBody(form, TestBoundary()), call);
}

inline HttpReply Fetch(const ServiceLauncher& svc, const std::string& url) {
    HttpCall call;
    call.caFile = svc.CaFile();
    return Get(url, call);
}

}  // namespace skiv::test

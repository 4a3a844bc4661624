#pragma once
// One multipart upload as its parts arrive. The file part comes before the
// member ID and key, so its bytes go to a temporary file as they arrive;
// only when the whole body has been read are the member and key checked,
// and then the file is either stored or thrown away.
//
// When the upload came with a pass (see upload_gate.h), `passMember` is the
// member it names and the body's member ID must be that member.
//
// Feed: BeginPart() for each part header, Data() for its bytes, then
// Finish() once, telling whether the whole body arrived. A false return
// from BeginPart() or Data() asks the reader to stop reading the body.

#include <cstdint>
#include <optional>
#include <string>

#include "member_desk.h"
#include "package_digest.h"
#include "package_shelf.h"
#include "tag_reply.h"

namespace skiv::server {

class UploadReceiver {
public:
    explicit UploadReceiver(MemberDesk& desk, std::optional<std::string> passMember = {});

    bool BeginPart(const std::string& name, const std::string& filename);
    bool Data(const char* data, std::size_t size);
    // The tag reply. With bodyComplete false nothing is stored.
    std::string Finish(bool bodyComplete);

    UploadError outcome() const { return m_outcome; }
    // A short reason for the service log when the outcome is not Ok.
    const std::string& detail() const { return m_detail; }

private:
    std::string Refuse(UploadError error, const char* message, std::string detail);

    MemberDesk& m_desk;
    std::optional<std::string> m_passMember;
    enum class Part { None, File, Text, Ignored } m_part = Part::None;
    std::string* m_text = nullptr;  // value being collected for a text part
    std::optional<std::string> m_fileType, m_memberId, m_memberKey;
    // Where the set was saved; newer clients only.
    std::optional<std::string> m_flavor, m_gameVersion;
    std::optional<IncomingFile> m_file;
    // Fed the file part's bytes as they are written.
    PackageDigester m_digest;
    bool m_sawFile = false;
    bool m_tooLarge = false;
    bool m_malformed = false;
    bool m_writeFailed = false;
    std::int64_t m_bodyBytes = 0;
    int m_parts = 0;
    UploadError m_outcome = UploadError::Ok;
    std::string m_detail;
};

}  // namespace skiv::server

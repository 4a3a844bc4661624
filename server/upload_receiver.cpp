#include "upload_receiver.h"

#include <cerrno>
#include <cstring>
#include <exception>

namespace skiv::server {

namespace {

constexpr std::size_t kMaxTextPart = 1024;
constexpr int kMaxParts = 16;

bool SameMember(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

UploadReceiver::UploadReceiver(MemberDesk& desk, std::optional<std::string> passMember)
    : m_desk(desk), m_passMember(std::move(passMember)) {}

bool UploadReceiver::BeginPart(const std::string& name, const std::string& /*filename*/) {
    if (++m_parts > kMaxParts) {
        m_malformed = true;
        return false;
    }
    m_text = nullptr;
    m_part = Part::Ignored;
    std::optional<std::string>* slot = nullptr;
    if (name == "avoFileName") {
        if (m_sawFile) {
            m_malformed = true;
            return false;
        }
        m_sawFile = true;
        m_part = Part::File;
        try {
            m_file.emplace(m_desk.shelf().Begin());
        } catch (const std::exception& e) {
            m_writeFailed = true;
            m_detail = e.what();
        }
        return true;
    }
    if (name == "aviFileType")
        slot = &m_fileType;
    if (name == "avsMemberID")
        slot = &m_memberId;
    if (name == "avsMemberKey")
        slot = &m_memberKey;
    if (name == "avsFlavor")
        slot = &m_flavor;
    if (name == "avsGameVersion")
        slot = &m_gameVersion;
    if (slot) {
        if (slot->has_value()) {
            m_malformed = true;
            return false;
        }
        slot->emplace();
        m_text = &**slot;
        m_part = Part::Text;
    }
    return true;
}

bool UploadReceiver::Data(const char* data, std::size_t size) {
    m_bodyBytes += static_cast<std::int64_t>(size);
    switch (m_part) {
        case Part::File: {
            if (m_tooLarge || m_writeFailed)
                break;
            if (m_file->size() + static_cast<std::int64_t>(size) >
                m_desk.policy().maxPackageBytes) {
                // Keep reading (and dropping) the rest, so the client gets
                // to read the answer instead of a reset connection.
                m_tooLarge = true;
                m_file.reset();
                break;
            }
            if (!m_file->Write(data, size)) {
                m_writeFailed = true;
                m_detail = std::string("write failed: ") + std::strerror(errno);
                m_file.reset();
                break;
            }
            m_digest.Feed(data, size);
            break;
        }
        case Part::Text:
            if (m_text->size() + size > kMaxTextPart) {
                m_malformed = true;
                return false;
            }
            m_text->append(data, size);
            break;
        case Part::Ignored:
            if (m_bodyBytes > 2 * m_desk.policy().maxPackageBytes)
                return false;
            break;
        case Part::None:
            m_malformed = true;
            return false;
    }
    // Bytes beyond twice the limit are not worth draining any more.
    return m_bodyBytes <= 2 * m_desk.policy().maxPackageBytes + (1 << 20);
}

std::string UploadReceiver::Refuse(UploadError error, const char* message, std::string detail) {
    m_outcome = error;
    if (m_detail.empty())
        m_detail = std::move(detail);
    m_file.reset();
    return ErrorReply(static_cast<int>(error), message);
}

std::string UploadReceiver::Finish(bool bodyComplete) {
    if (!bodyComplete || m_malformed)
        return Refuse(UploadError::Malformed, text::kUploadMalformed,
                      "body incomplete or malformed");
    if (!m_sawFile || !m_fileType || !m_memberId || !m_memberKey)
        return Refuse(UploadError::Malformed, text::kUploadMalformed, "a part is missing");
    if (*m_fileType != "1" && *m_fileType != "2")
        return Refuse(UploadError::Malformed, text::kUploadMalformed, "bad file type");
    if (m_passMember && !SameMember(*m_passMember, *m_memberId))
        return Refuse(UploadError::NotAuthorised, text::kNotAuthorised,
                      "member differs from the upload pass");
    try {
        if (!m_desk.UploadAllowed(*m_memberId, *m_memberKey))
            return Refuse(UploadError::NotAuthorised, text::kNotAuthorised,
                          "member or key refused");
    } catch (const std::exception& e) {
        return Refuse(UploadError::StorageFault, text::kStorageFault, e.what());
    }
    if (m_tooLarge)
        return Refuse(UploadError::TooLarge, text::kTooLarge, "package too large");
    if (m_writeFailed || !m_file)
        return Refuse(UploadError::StorageFault, text::kStorageFault, "temporary file lost");
    // An empty part is what a client sends when it could not read its own
    // package; storing it would wipe the member's good one.
    if (m_file->size() == 0)
        return Refuse(UploadError::Malformed, text::kUploadEmpty, "empty package");
    try {
        const SetOrigin origin = MakeSetOrigin(m_flavor.value_or(""), m_gameVersion.value_or(""));
        m_desk.StorePackage(*m_memberId, std::move(*m_file), *m_fileType == "2" ? 2 : 1, origin,
                            m_digest.Finish());
        m_file.reset();
    } catch (const std::exception& e) {
        return Refuse(UploadError::StorageFault, text::kStorageFault, e.what());
    }
    m_outcome = UploadError::Ok;
    return UploadSuccessReply();
}

}  // namespace skiv::server

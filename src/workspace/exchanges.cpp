// The controller's service exchanges: they hand the session's fields to the
// exchange layer and route its progress to the window.

#include "service/exchanges.h"
#include "workspace/controller.h"

namespace skiv {

int CAddOnController::Login(const std::string& memberId, const std::string& password) {
    auto& s = m_session;
    return LoginExchange(
        m_config.baseUrl, memberId, password,
        {s.fileSize, s.saveDate, s.fileType, s.memberKey, s.uploadUrl, s.downloadUrl}, m_log);
}

int CAddOnController::UploadFile(const std::string& packagePath, int fileType) {
    UploadRequest request{m_session.uploadUrl, m_session.memberId, m_session.memberKey, packagePath,
                          fileType};
    return UploadExchange(request, m_log, [this](int p) { SetProgress(p); });
}

int CAddOnController::DownloadFile() {
    DownloadRequest request{m_session.downloadUrl, m_session.memberId, m_session.fileSize,
                            m_session.loadFolder};
    return DownloadExchange(request, m_log, [this](int p) { SetProgress(p); });
}

}  // namespace skiv

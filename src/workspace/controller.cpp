#include "workspace/controller.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/fs.h"
#include "service/delta_exchange.h"
#include "service/exchanges.h"
#include "workspace/flows.h"
#include "workspace/game_folder.h"

#ifndef SKIV_DEFAULT_SERVICE_URL
#define SKIV_DEFAULT_SERVICE_URL "https://127.0.0.1:8443"
#endif

namespace skiv {

namespace {
constexpr std::int32_t kSizeUnit = 0x12D000;  // 1,232,896 bytes, the panel's unit
constexpr const char* kRollbackTitle = "Kelbo 스키브 애드온";
}  // namespace

ServiceConfig ServiceConfig::FromEnvironment() {
    ServiceConfig c;
    const char* url = std::getenv("SKIVADDON_SERVICE_URL");
    c.baseUrl = (url && *url) ? url : SKIV_DEFAULT_SERVICE_URL;
    while (!c.baseUrl.empty() && c.baseUrl.back() == '/')
        c.baseUrl.pop_back();
    return c;
}

std::string ServiceConfig::RegistrationUrl() const {
    return baseUrl + "/Member/Common/frmMemberRegist.aspx";
}

Controller::Controller(WindowOps& window, OperationLog& log, ServiceConfig config)
    : m_window(window), m_log(log), m_config(std::move(config)) {}

Controller::~Controller() {
    WaitForWorker();
}

void Controller::WaitForWorker() {
    if (m_worker.joinable())
        m_worker.join();
}

int Controller::SizeUnits(std::int32_t fileSize) {
    int units = fileSize / kSizeUnit;
    return units == 0 ? 1 : units;
}

void Controller::Message(const char* fmt, ...) {
    char text[2048];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    m_window.ShowMessage(text);
}

// ---- commands ----

void Controller::Login() {
    SessionState& s = m_session;
    s.memberId = m_window.GetIdText();
    // The password lives only for this one exchange.
    std::string password = m_window.GetPasswordText();
    if (s.memberId.empty() || password.empty()) {
        Message("ID와 패스워드를 입력해주세요");
        return;
    }
    if (ResultCode r = FindGameFolder(m_window, m_log, s.gameFolder); r != ResultCode::Ok) {
        Message("월드 오브 워크래프트 폴더가 지정되지 않았습니다:(%d)", Number(r));
        m_log.Write("[OnBnClickedBtnLogin]GetWowPath Fail:(%d)", Number(r));
        return;
    }
    std::string reply;
    const ResultCode r =
        LoginExchange(m_config.baseUrl, s.memberId, password,
                      {s.fileSize, s.saveDate, s.fileType, s.memberKey, s.uploadUrl, s.downloadUrl},
                      m_log, &reply);
    // SKIVADDON_NO_DELTA keeps to the classic exchanges whatever the
    // service offers.
    const char* noDelta = std::getenv("SKIVADDON_NO_DELTA");
    s.deltaBase = r == ResultCode::Ok && !(noDelta && *noDelta) ? LoginExtraTag(reply, "delta")
                                                                : std::string();
    std::fill(password.begin(), password.end(), '\0');
    if (r != ResultCode::Ok) {
        m_log.Write("[OnBnClickedBtnLogin]Login Fail:(%d)", Number(r));
        if (r == ResultCode::LoginWrongPassword || r == ResultCode::LoginWrongPassword2) {
            Message("아이디 또는 패스워드가 올바르지 않습니다");
        } else if (r == ResultCode::LoginSuspended) {
            Message("해당 아이디는 정지상태입니다. 관리자에게 문의해 주세요");
        } else {
            Message("로그인 실패:(%d) - 관리자에게 문의해 주세요", Number(r));
        }
        return;
    }
    if (s.fileSize != 0 && s.fileType != kTypeNone) {
        m_window.ShowMemberInfo(true, SizeUnits(s.fileSize), s.saveDate);
        m_window.SetViewMode(ViewMode::LoggedInWithData);
    } else {
        m_window.ShowMemberInfo(false, 0, "");
        m_window.SetViewMode(ViewMode::LoggedInNoData);
    }
    s.loggedIn = true;
}

bool Controller::SharedTaskChecks() {
    if (!m_session.loggedIn) {
        Message("먼저 로그인을 해주세요");
        return false;
    }
    if (m_busy.load()) {
        Message("다른 작업이 진행중입니다");
        return false;
    }
    return true;
}

void Controller::SaveSet() {
    if (!SharedTaskChecks())
        return;
    if (!fs::IsFolder(m_session.gameFolder + "Interface/") ||
        !fs::IsFolder(m_session.gameFolder + "WTF/")) {
        Message("필수 폴더가 존재하지 않습니다");
        return;
    }
    if (!m_window.AskYesNo(
            "기존 저장된 파일이 현재의 설정으로 다시 저장됩니다. 내 셋팅을 저장하시겠습니까?",
            kAppTitle, false)) {
        return;
    }
    const SaveScope scope = m_window.GetTaskOptions().saveScope;
    StartWorker([this, scope] { return SaveWorker(scope); });
}

void Controller::InstallSet() {
    if (!SharedTaskChecks())
        return;
    if (m_session.fileType == kTypeNone) {
        Message("서버에 저장된 애드온이 없습니다");
        return;
    }
    if (m_session.backupMade) {
        if (!m_window.AskYesNo("회선속도와 컴퓨터 사양에따라 시간이 오래걸릴수 있습니다.\n또한, "
                               "기존 백업된 파일이 현재의 설정으로 다시 백업됩니다. 내 셋팅을 "
                               "설치하시겠습니까?",
                               kAppTitle, false)) {
            return;
        }
    } else {
        Message("회선속도와 컴퓨터 사양에따라 시간이 오래걸릴수 있습니다.");
    }
    const TaskOptions options = m_window.GetTaskOptions();
    const bool intoFolder = options.installIntoFolder;
    const int version = options.installVersion;
    StartWorker([this, intoFolder, version] { return InstallWorker(intoFolder, version); });
}

void Controller::RollBack() {
    if (!SharedTaskChecks())
        return;
    const RollBackChoice choice = m_window.GetTaskOptions().rollBack;
    const bool restore = choice == RollBackChoice::RestoreBackup;
    if (restore && !m_session.backupMade) {
        Message("백업된 애드온이 없습니다");
        return;
    }
    const char* question = restore
                               ? "내셋팅 설치 이전 상태로 되돌려줍니다. 되돌리기를 하시겠습니까?"
                               : "초기화 상태로 되돌려줍니다. 초기화를 하시겠습니까?";
    if (!m_window.AskYesNo(question, kRollbackTitle, true))
        return;
    StartWorker([this, choice] { return RollBackWorker(choice); });
}

void Controller::StartWorker(std::function<ResultCode()> task) {
    m_busy.store(true);
    // The previous worker has cleared busy as its last act; reap its thread.
    WaitForWorker();
    try {
        m_worker = std::thread([this, task = std::move(task)] {
            const ResultCode r = task();
            m_lastResult.store(r);
            m_window.SetProgress(0);
            m_busy.store(false);
        });
        m_workersStarted.fetch_add(1);
    } catch (const std::system_error&) {
        m_busy.store(false);
        Message("시스템 리소스가 부족합니다. 관리자에게 문의해주세요");
    }
}

ResultCode Controller::ListVersions(std::vector<VersionInfo>& out) {
    out.clear();
    if (!m_session.loggedIn || m_session.deltaBase.empty())
        return ResultCode::DeltaNoVersion;
    DeltaClient client(m_session.deltaBase, m_log);
    const ResultCode r = client.Versions(out);
    if (r != ResultCode::Ok)
        m_log.Write("[Versions]Versions Fail:(%d)", Number(r));
    return r;
}

// ---- workers ----

ResultCode Controller::SaveWorker(SaveScope scope) {
    const ResultCode r = flow::SaveSet({m_session, m_window, m_log}, scope);
    if (r == ResultCode::Ok) {
        Message("애드온이 모두 저장되었습니다");
        m_window.ShowMemberInfo(true, SizeUnits(m_session.fileSize), m_session.saveDate);
        m_window.SetViewMode(ViewMode::LoggedInWithData);
        return r;
    }
    m_log.Write("[OnBnClickedBtnSave]애드온 저장 실패:(%d)", Number(r));
    if (r == ResultCode::UploadRefused1 || r == ResultCode::UploadRefused2) {
        Message("내 세팅저장 실패:(%d) - 관리자에게 문의해 주세요.", Number(r));
    } else if (r == ResultCode::UploadTooLarge) {
        Message("파일 사이즈가 제한용량을 초과하였습니다.");
    } else if (r == ResultCode::UploadNotAuthenticated) {
        Message("사용자 인증이 실패하였습니다.");
    } else {
        Message("내 세팅저장 실패:(%d) - 관리자에게 문의해 주세요", Number(r));
    }
    return r;
}

ResultCode Controller::InstallWorker(bool intoChosenFolder, int version) {
    const ResultCode r = flow::InstallSet({m_session, m_window, m_log}, intoChosenFolder, version);
    if (r == ResultCode::Ok) {
        Message("애드온이 모두 세팅되었습니다");
        // Read now: the user may tick the box while the install runs.
        if (m_window.GetTaskOptions().launchAfterInstall)
            m_window.StartProgram("Launcher.exe", m_session.gameFolder);
    } else if (r != ResultCode::LoadFolderDeclined) {
        m_log.Write("[OnBnClickedBtnBack]애드온 세팅 실패:(%d)", Number(r));
        Message("애드온 세팅 실패:(%d)", Number(r));
    }
    return r;
}

ResultCode Controller::RollBackWorker(RollBackChoice choice) {
    const bool restore = choice == RollBackChoice::RestoreBackup;
    const flow::Context context{m_session, m_window, m_log};
    const ResultCode r = restore ? flow::RollBack(context) : flow::Reset(context);
    if (r == ResultCode::Ok) {
        Message(restore ? "되돌리기가 완료되었습니다." : "초기화가 완료되었습니다.");
    } else if (restore) {
        m_log.Write("[OnBnClickedBtnSetup]애드온 되돌리기 실패:(%d)", Number(r));
        Message("되돌리기 실패:(%d) - 관리자에게 문의해 주세요", Number(r));
    } else {
        m_log.Write("[OnBnClickedBtnSetup]애드온 초기화 실패:(%d)", Number(r));
        Message("초기화 실패:(%d) - 관리자에게 문의해 주세요", Number(r));
    }
    return r;
}

}  // namespace skiv

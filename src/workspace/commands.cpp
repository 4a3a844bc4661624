// The four commands, their checks and confirmations, and the workers that
// turn a flow's result code into one message.

#include <system_error>

#include "platform/fs.h"
#include "workspace/controller.h"

namespace skiv {

namespace {
constexpr const char* kRollbackTitle = "Kelbo 스키브 애드온";
}

void CAddOnController::OnBnClickedBtnLogin() {
    m_session.memberId = m_window.GetIdText();
    // The password lives only for this one exchange.
    std::string password = m_window.GetPasswordText();
    if (m_session.memberId.empty() || password.empty()) {
        Message("ID와 패스워드를 입력해주세요");
        return;
    }
    if (int r = GetWowPath()) {
        Message("월드 오브 워크래프트 폴더가 지정되지 않았습니다:(%d)", r);
        m_log.Write("[OnBnClickedBtnLogin]GetWowPath Fail:(%d)", r);
        return;
    }
    int r = Login(m_session.memberId, password);
    std::fill(password.begin(), password.end(), '\0');
    if (r != 0) {
        m_log.Write("[OnBnClickedBtnLogin]Login Fail:(%d)", r);
        if (r == rc::kLoginWrongPassword || r == rc::kLoginWrongPassword2) {
            Message("아이디 또는 패스워드가 올바르지 않습니다");
        } else if (r == rc::kLoginSuspended) {
            Message("해당 아이디는 정지상태입니다. 관리자에게 문의해 주세요");
        } else {
            Message("로그인 실패:(%d) - 관리자에게 문의해 주세요", r);
        }
        return;
    }
    if (m_session.fileSize != 0 && m_session.fileType != kTypeNone) {
        m_window.ShowMemberInfo(true, SizeUnits(m_session.fileSize), m_session.saveDate);
        m_window.SetViewMode(ViewMode::LoggedInWithData);
    } else {
        m_window.ShowMemberInfo(false, 0, "");
        m_window.SetViewMode(ViewMode::LoggedInNoData);
    }
    m_session.loggedIn = true;
}

bool CAddOnController::SharedTaskChecks() {
    if (!m_session.loggedIn) {
        Message("먼저 로그인을 해주세요");
        return false;
    }
    if (m_session.busy.load()) {
        Message("다른 작업이 진행중입니다");
        return false;
    }
    return true;
}

void CAddOnController::OnSaveButton() {
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
    StartWorker(&CAddOnController::SaveWorker);
}

void CAddOnController::OnInstallButton() {
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
    StartWorker(&CAddOnController::InstallWorker);
}

void CAddOnController::OnRollBackButton() {
    if (!SharedTaskChecks())
        return;
    const bool rollback = Options().rollBack == RollBackChoice::RestoreBackup;
    if (rollback && !m_session.backupMade) {
        Message("백업된 애드온이 없습니다");
        return;
    }
    const char* question = rollback
                               ? "내셋팅 설치 이전 상태로 되돌려줍니다. 되돌리기를 하시겠습니까?"
                               : "초기화 상태로 되돌려줍니다. 초기화를 하시겠습니까?";
    if (!m_window.AskYesNo(question, kRollbackTitle, true))
        return;
    StartWorker(&CAddOnController::RollBackWorker);
}

void CAddOnController::StartWorker(int (CAddOnController::*fn)()) {
    m_session.busy.store(true);
    // The previous worker has cleared busy as its last act; reap its thread.
    WaitForWorker();
    try {
        m_worker = std::thread([this, fn] { m_lastResult.store((this->*fn)()); });
        m_workersStarted.fetch_add(1);
    } catch (const std::system_error&) {
        m_session.busy.store(false);
        Message("시스템 리소스가 부족합니다. 관리자에게 문의해주세요");
    }
}

int CAddOnController::SaveWorker() {
    int r = SaveAddOn();
    if (r != 0) {
        m_log.Write("[OnBnClickedBtnSave]애드온 저장 실패:(%d)", r);
        if (r == rc::kUploadRefusedFirst || r == rc::kUploadRefusedFirst + 1) {
            Message("내 세팅저장 실패:(%d) - 관리자에게 문의해 주세요.", r);
        } else if (r == rc::kUploadTooLarge) {
            Message("파일 사이즈가 제한용량을 초과하였습니다.");
        } else if (r == rc::kUploadNotAuthenticated) {
            Message("사용자 인증이 실패하였습니다.");
        } else {
            Message("내 세팅저장 실패:(%d) - 관리자에게 문의해 주세요", r);
        }
    } else {
        Message("애드온이 모두 저장되었습니다");
        m_window.ShowMemberInfo(true, SizeUnits(m_session.fileSize), m_session.saveDate);
        m_window.SetViewMode(ViewMode::LoggedInWithData);
    }
    SetProgress(0);
    m_session.busy.store(false);
    return r;
}

int CAddOnController::InstallWorker() {
    int r = LoadAddOn();
    if (r == 0) {
        Message("애드온이 모두 세팅되었습니다");
        if (Options().launchAfterInstall)
            m_window.StartProgram("Launcher.exe", m_session.gameFolder);
    } else if (r != rc::kLoadFolderDeclined) {
        m_log.Write("[OnBnClickedBtnBack]애드온 세팅 실패:(%d)", r);
        Message("애드온 세팅 실패:(%d)", r);
    }
    SetProgress(0);
    m_session.busy.store(false);
    return r;
}

int CAddOnController::RollBackWorker() {
    int r = RollbackAddOn();
    const bool restore = Options().rollBack == RollBackChoice::RestoreBackup;
    if (r != 0) {
        if (restore) {
            m_log.Write("[OnBnClickedBtnSetup]애드온 되돌리기 실패:(%d)", r);
            Message("되돌리기 실패:(%d) - 관리자에게 문의해 주세요", r);
        } else {
            m_log.Write("[OnBnClickedBtnSetup]애드온 초기화 실패:(%d)", r);
            Message("초기화 실패:(%d) - 관리자에게 문의해 주세요", r);
        }
    } else {
        Message(restore ? "되돌리기가 완료되었습니다." : "초기화가 완료되었습니다.");
    }
    SetProgress(0);
    m_session.busy.store(false);
    return r;
}

}  // namespace skiv

#include "workspace/controller.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "platform/fs.h"
#include "platform/game_process.h"
#include "platform/paths.h"
#include "service/delta_exchange.h"
#include "service/exchanges.h"
#include "workspace/flows.h"
#include "workspace/game_folder.h"
#include "workspace/kept_backups.h"
#include "workspace/staged_set.h"

#ifndef SKIV_DEFAULT_SERVICE_URL
#define SKIV_DEFAULT_SERVICE_URL "https://127.0.0.1:8443"
#endif

namespace skiv {

namespace {
constexpr std::int32_t kSizeUnit = 0x12D000;  // 1,232,896 bytes, the panel's unit
constexpr const char* kRollbackTitle = "Kelbo 스키브 애드온";

std::string SaveDateOf(std::int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    char text[32] = "";
    if (::localtime_r(&t, &tm))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}
}  // namespace

std::string VersionLine(const VersionInfo& v) {
    const std::int64_t units = std::max<std::int64_t>(1, v.packageBytes / kSizeUnit);
    char number[16];
    std::snprintf(number, sizeof number, "%2d", v.number);
    return std::string(number) + "  " + SaveDateOf(v.time) + "  " + std::to_string(units) + "MB  " +
           v.computer + "  변경 " + (v.changed < 0 ? "-" : std::to_string(v.changed));
}

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
    GameInstall game;
    if (ResultCode r = FindGameInstall(m_window, m_log, m_gamePick, game); r != ResultCode::Ok) {
        Message("월드 오브 워크래프트 폴더가 지정되지 않았습니다:(%d)", Number(r));
        m_log.Write("[OnBnClickedBtnLogin]GetWowPath Fail:(%d)", Number(r));
        return;
    }
    s.gameFolder = game.folder;
    s.flavor = game.flavor;
    s.gameVersion = game.version;
    s.gameProgram = game.program;
    s.winePrefix = game.prefix;
    RecoverLeftovers();
    s.packageCheck.reset();
    std::string reply;
    const ResultCode r =
        LoginExchange(m_config.baseUrl, s.memberId, password,
                      {s.fileSize, s.saveDate, s.fileType, s.memberKey, s.uploadUrl, s.downloadUrl},
                      m_log, &reply, &s.packageCheck);
    // SKIVADDON_NO_DELTA keeps to the classic exchanges whatever the
    // service offers.
    const char* noDelta = std::getenv("SKIVADDON_NO_DELTA");
    s.deltaBase = r == ResultCode::Ok && !(noDelta && *noDelta) ? LoginExtraTag(reply, "delta")
                                                                : std::string();
    std::fill(password.begin(), password.end(), '\0');
    ReadSavedFlavor(reply, s.savedFlavor, s.savedGameVersion);
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

void Controller::RecoverLeftovers() {
    const std::string& game = m_session.gameFolder;
    RecoverKeptBackups(game + "Backup/");
    switch (RecoverStaged(game, m_log)) {
        case Leftover::None:
            break;
        case Leftover::Cleaned:
            Message(
                "지난번 애드온 교체(설치 또는 되돌리기)가 끝나지 않았습니다. 게임 폴더의 애드온은 "
                "그 전 그대로이며, 남아 있던 임시 폴더를 정리했습니다.");
            break;
        case Leftover::Finished:
            Message(
                "지난번 애드온 교체(설치 또는 되돌리기)가 도중에 멈춰 교체를 마저 끝냈습니다. "
                "교체 전의 애드온은 Backup 폴더의 SkivAddonBackup 파일에 백업되어 있습니다.");
            break;
        case Leftover::Stuck:
            m_log.Write("[OnBnClickedBtnLogin]RecoverAddOn Fail:(%s)", game.c_str());
            Message(
                "지난번 애드온 교체가 남긴 폴더(%s, %s)를 정리하지 못했습니다. 게임 폴더의 "
                "쓰기 권한을 확인한 뒤 다시 로그인해 주세요.",
                kStagingFolder, kReplacedFolder);
            break;
    }
}

bool Controller::GameRunningRefusal() {
    const std::optional<std::string> game = FindRunningGame();
    if (!game)
        return false;
    m_log.Write("[GameGuard]Game Running:(%s)", game->c_str());
    Message("게임(%s)이 실행 중입니다. 게임을 종료한 뒤 다시 시도해 주세요.", game->c_str());
    return true;
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
    if (const std::optional<std::string> game = FindRunningGame()) {
        Message(
            "게임(%s)이 실행 중입니다. 게임은 종료할 때 SavedVariables를 기록하므로, 지금 "
            "저장하면 이번 게임에서 바뀐 설정은 빠집니다.",
            game->c_str());
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
    // An install into a chosen folder leaves the game's files alone.
    if (!m_window.GetTaskOptions().installIntoFolder && GameRunningRefusal())
        return;
    // Add-ons and their saved variables differ between game flavors.
    const SessionState& s = m_session;
    if (!s.savedFlavor.empty() && !s.flavor.empty() && s.savedFlavor != s.flavor) {
        const std::string question =
            "이 설정은 " + s.savedFlavor + "(" + FlavorDisplayName(s.savedFlavor) +
            ") 에서 저장되었습니다. 지금 선택된 게임은 " + s.flavor + "(" +
            FlavorDisplayName(s.flavor) +
            ") 입니다.\n게임 종류가 다르면 애드온과 SavedVariables가 맞지 않아 제대로 "
            "동작하지 않을 수 있습니다. 그래도 설치하시겠습니까?";
        if (!m_window.AskYesNo(question, kAppTitle, true))
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
    if (!SharedTaskChecks() || GameRunningRefusal())
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
    int number = 1;
    if (restore) {
        std::vector<BackupChoice> offer;
        for (const KeptBackup& b : ListBackups(m_session.gameFolder + "Backup/"))
            offer.push_back({b.number, b.bytes, SaveDateOf(b.modified)});
        if (!offer.empty()) {
            const std::optional<int> chosen = m_window.ChooseBackup(offer);
            if (!chosen)
                return;
            number = *chosen;
        }
    }
    StartWorker([this, choice, number] { return RollBackWorker(choice, number); });
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
    if (r == ResultCode::SaveDeclined)
        return r;  // the player answered a warning; nothing was sent
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
            Launch();
    } else if (r == ResultCode::PackageMismatch) {
        m_log.Write("[OnBnClickedBtnBack]애드온 세팅 실패:(%d)", Number(r));
        Message(
            "내려받은 애드온 파일이 서버에 저장된 것과 다릅니다:(%d)\n게임 폴더는 바뀌지 "
            "않았습니다. 잠시 후 다시 시도해 주세요.",
            Number(r));
    } else if (r != ResultCode::LoadFolderDeclined) {
        m_log.Write("[OnBnClickedBtnBack]애드온 세팅 실패:(%d)", Number(r));
        Message("애드온 세팅 실패:(%d)", Number(r));
    }
    return r;
}

void Controller::Launch() {
    const SessionState& s = m_session;
    if (s.flavor.empty() && s.winePrefix == paths::GetWinePrefix()) {
        m_window.StartProgram("Launcher.exe", s.gameFolder);
        return;
    }
    const std::string folder = s.gameProgram.substr(0, s.gameProgram.rfind('/') + 1);
    m_window.StartProgramIn(s.gameProgram.substr(folder.size()), folder, s.winePrefix);
}

ResultCode Controller::RollBackWorker(RollBackChoice choice, int backupNumber) {
    const bool restore = choice == RollBackChoice::RestoreBackup;
    const flow::Context context{m_session, m_window, m_log};
    const ResultCode r = restore ? flow::RollBack(context, backupNumber) : flow::Reset(context);
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

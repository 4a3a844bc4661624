#include "cli/advice.h"

#include <cstdio>

namespace skiv::cli {

namespace {

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

std::string AdviceFor(std::string_view message, std::string_view serviceUrl) {
    if (Contains(message, "아이디 또는 패스워드가 올바르지 않습니다"))
        return "할 일: --id의 아이디와 패스워드를 확인하고 다시 실행하세요 (대소문자 구분).";
    if (Contains(message, "월드 오브 워크래프트 폴더가 지정되지 않았습니다"))
        return "할 일: --game-folder DIR로 Launcher.exe가 있는 게임 폴더를 지정하세요.";
    if (Contains(message, "서버에 저장된 애드온이 없습니다"))
        return "할 일: 먼저 애드온이 있는 컴퓨터에서 skivaddon-cli --id ID save로 저장하세요.";
    // No connection to the service: at login, or during a transfer.
    const int unreachable[] = {Number(ResultCode::LoginConnect), Number(ResultCode::LoginRequest),
                               Number(ResultCode::HttpException)};
    for (int code : unreachable) {
        if (Contains(message, "(" + std::to_string(code) + ")")) {
            return "할 일: 인터넷 연결과 서비스 주소 " + std::string(serviceUrl) +
                   "를 확인하세요 (SKIVADDON_SERVICE_URL로 바꿀 수 있습니다).";
        }
    }
    return {};
}

std::string ArchiveCommandMessage(std::string_view command, ResultCode code) {
    char text[160];
    if (command == "pack" || command == "compress")
        std::snprintf(text, sizeof text, "내 세팅저장 실패:(%d) - 관리자에게 문의해 주세요",
                      Number(code));
    else
        std::snprintf(text, sizeof text, "애드온 세팅 실패:(%d)", Number(code));
    return text;
}

}  // namespace skiv::cli

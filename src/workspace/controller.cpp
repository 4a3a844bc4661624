#include "workspace/controller.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/paths.h"

#ifndef SKIV_DEFAULT_SERVICE_URL
#define SKIV_DEFAULT_SERVICE_URL "https://127.0.0.1:8443"
#endif

namespace skiv {

namespace {
constexpr const char* kGameKey = "SOFTWARE\\Blizzard Entertainment\\World of Warcraft";
constexpr std::int32_t kSizeUnit = 0x12D000;  // 1,232,896 bytes, the panel's unit
}  // namespace

ServiceConfig ServiceConfig::FromEnvironment() {
    ServiceConfig c;
    const char* url = std::getenv("SKIVADDON_SERVICE_URL");
    c.baseUrl = (url && *url) ? url : SKIV_DEFAULT_SERVICE_URL;
    while (!c.baseUrl.empty() && c.baseUrl.back() == '/')
        c.baseUrl.pop_back();
    if (const char* ca = std::getenv("SKIVADDON_CA_FILE"))
        c.caFile = ca;
    return c;
}

std::string ServiceConfig::RegistrationUrl() const {
    return baseUrl + "/Member/Common/frmMemberRegist.aspx";
}

CAddOnController::CAddOnController(WindowOps& window, COperationLog& log, ServiceConfig config)
    : m_window(window), m_log(log), m_config(std::move(config)) {}

CAddOnController::~CAddOnController() {
    WaitForWorker();
}

void CAddOnController::Initialize() {
    m_gameKey.Open(kGameKey, paths::GetWinePrefix());
}

void CAddOnController::WaitForWorker() {
    if (m_worker.joinable())
        m_worker.join();
}

int CAddOnController::SizeUnits(std::int32_t fileSize) {
    int units = fileSize / kSizeUnit;
    return units == 0 ? 1 : units;
}

void CAddOnController::Message(const char* fmt, ...) {
    char text[2048];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    m_window.ShowMessage(text);
}

}  // namespace skiv

#include "support/engine_cluster.h"

#include <sys/wait.h>

#include <cstdlib>
#include <stdexcept>

namespace skiv::test {

EngineCluster::EngineCluster(std::string script) : m_script(std::move(script)) {
    const int status = Run("start");
    if (status == 77) {
        m_missing = true;
        m_why = m_script + ": " + ReadFile(m_dir / "script.log");
        return;
    }
    if (status != 0) {
        m_why = m_script + " did not start: " + ReadFile(m_dir / "script.log");
        return;
    }
    m_url = ReadFile(m_dir / "url");
    while (!m_url.empty() && (m_url.back() == '\n' || m_url.back() == '\r'))
        m_url.pop_back();
    m_running = true;
}

EngineCluster::~EngineCluster() {
    Stop();
}

int EngineCluster::Run(const char* command) {
    const std::string line = SourceDir() + "/tests/support/engines/" + m_script + " " + command +
                             " " + m_dir.path() + " >" + m_dir.path() + "script.log 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void EngineCluster::Stop() {
    if (!m_running)
        return;
    Run("stop");
    m_running = false;
}

void EngineCluster::Start() {
    if (m_running)
        return;
    if (Run("start") != 0)
        throw std::runtime_error(m_script +
                                 " did not start again: " + ReadFile(m_dir / "script.log"));
    m_running = true;
}

}  // namespace skiv::test

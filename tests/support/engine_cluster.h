#pragma once
// A database or object-store engine for a test, run by one of the scripts
// in tests/support/engines/ ("pg_cluster", "ceph_cluster") in a private
// folder on loopback. Started by the constructor, stopped (and its folder
// removed) by the destructor; Stop() and Start() in between take it down
// and bring it back with its data, for fault tests.
//
//   skiv::test::EngineCluster pg("pg_cluster");
//   if (!pg.Running()) GTEST_SKIP() << pg.Why();
//   ... pg.Url() ...

#include <string>

#include "support/temp_dir.h"

namespace skiv::test {

class EngineCluster {
public:
    explicit EngineCluster(std::string script);
    ~EngineCluster();
    EngineCluster(const EngineCluster&) = delete;
    EngineCluster& operator=(const EngineCluster&) = delete;

    // False when the engine is not installed or did not start; Why() says.
    bool Running() const { return m_running; }
    // True when the engine is not installed here (the script said "skipped"):
    // a test skips then, and fails when the engine is there but did not start.
    bool Missing() const { return m_missing; }
    const std::string& Why() const { return m_why; }
    // The script's DIR/url, e.g. postgresql://postgres@127.0.0.1:PORT/skiv.
    const std::string& Url() const { return m_url; }
    const std::string& Dir() const { return m_dir.path(); }

    void Stop();
    // Throws std::runtime_error when it does not come back.
    void Start();

private:
    int Run(const char* command);

    std::string m_script;
    TempDir m_dir;
    bool m_running = false;
    bool m_missing = false;
    std::string m_why;
    std::string m_url;
};

}  // namespace skiv::test

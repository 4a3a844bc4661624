#pragma once
// The engines the store suites run on, as a test parameter: "sqlite" (a
// file in the test's folder) and "postgresql" (one cluster per test
// process, started by tests/support/engines/pg_cluster and emptied for
// each test). The PostgreSQL leg skips when the engine is not installed.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "sql_db.h"
#include "support/engine_cluster.h"
#include "support/temp_dir.h"

namespace skiv::server {

inline skiv::test::EngineCluster& SharedPostgres() {
    static skiv::test::EngineCluster cluster("pg_cluster");
    return cluster;
}

// A fresh, empty store of `engine`; empty with `why` set when the engine
// is not there.
inline std::string FreshStore(const std::string& engine, const skiv::test::TempDir& dir,
                              std::string& why) {
    if (engine == "sqlite")
        return dir / "members.sqlite";
    skiv::test::EngineCluster& pg = SharedPostgres();
    if (!pg.Running()) {
        if (!pg.Missing())
            throw std::runtime_error(pg.Why());  // installed but broken: a failure
        why = pg.Why();
        return {};
    }
    Database db(pg.Url());
    db.Exec("DROP SCHEMA public CASCADE; CREATE SCHEMA public");
    return pg.Url();
}

inline const auto kStoreEngines =
    ::testing::Values(std::string("sqlite"), std::string("postgresql"));

inline std::string EngineName(const ::testing::TestParamInfo<std::string>& info) {
    return info.param;
}

}  // namespace skiv::server

#pragma once
// Where a service keeps what it stores: its records (the SQLite file in
// the data folder, or a PostgreSQL server) and its piece bytes (the data
// folder's packages/, another folder, or an S3 bucket). One place turns
// the settings into open stores, for serving and for the migrate command.
//
// Ownership: BackEnds owns the three stores; the version store refers to
// the shelf, so they live and die together. Thread safety is the stores'
// own (see member_store.h, version_store.h).

#include <memory>
#include <string>

#include "member_store.h"
#include "package_shelf.h"
#include "version_store.h"

namespace skiv::server {

struct ServiceOptions;

struct BackEndSettings {
    std::string dataDir;    // ends with '/'; received files wait in its packages/incoming/
    std::string store;      // empty: DIR/members.sqlite; else postgresql://...
    std::string packages;   // empty: DIR/packages; a folder; or s3://BUCKET?endpoint=...
    std::string s3KeyFile;  // empty: the keys come from the environment
    int keepVersions = 10;
    int dbPool = 8;

    static BackEndSettings From(const ServiceOptions& options);
};

class BackEnds {
public:
    // Opens (and migrates the schema of) the records and the shelf. Throws
    // std::runtime_error (a bad URL, unreadable keys, an unreachable
    // server); nothing is changed then.
    explicit BackEnds(const BackEndSettings& settings);
    ~BackEnds();
    BackEnds(const BackEnds&) = delete;
    BackEnds& operator=(const BackEnds&) = delete;

    MemberStore& members() { return *m_members; }
    PackageShelf& shelf() { return *m_shelf; }
    VersionStore& versions() { return *m_versions; }
    // One line for the log: where records and pieces are kept.
    const std::string& description() const { return m_description; }

private:
    std::unique_ptr<MemberStore> m_members;
    std::unique_ptr<PackageShelf> m_shelf;
    std::unique_ptr<VersionStore> m_versions;
    std::string m_description;
};

}  // namespace skiv::server

#pragma once
// The "member" commands run from a terminal against the data folder; they
// may run while the service is serving the same folder.

#include <iosfwd>

#include "service_options.h"

namespace skiv::server {

// Runs options.command ("member add|suspend|resume ID", "member list").
// "add" reads the password as one line from `in`. Messages go to `out` and
// `err`. Returns the process exit status: 0 done, 1 refused or failed.
int RunMemberCommand(const ServiceOptions& options, std::istream& in, std::ostream& out,
                     std::ostream& err);

class MemberStore;
class VersionStore;

// Copies every member (ID, password hash, suspension, origin) and their
// stored versions (manifests, pieces, save times) from one pair of stores
// into another, oldest version first, so the destination ends with the same
// current version. Sessions are not copied: members log in again. A member
// the destination has already is left alone and named in `err`. Pieces are
// checked against their hashes on the way. Returns the members copied.
// Throws on a storage fault or a piece that does not match its hash.
int MigrateMembers(MemberStore& fromMembers, VersionStore& fromVersions, MemberStore& toMembers,
                   VersionStore& toVersions, std::ostream& out, std::ostream& err);

// "migrate --from A --to B": MigrateMembers between two sets of back ends, each
// a data folder or a settings file (data, store, packages, s3_key_file)
// (the destination is made when missing). Exit status: 0 done, 1 failed.
int RunMigrate(const ServiceOptions& options, std::ostream& out, std::ostream& err);

// The database file inside a data folder.
std::string DatabasePath(const std::string& dataDir);
// Where the records are: --store when given, else the data folder's file.
std::string StoreTarget(const ServiceOptions& options);

}  // namespace skiv::server

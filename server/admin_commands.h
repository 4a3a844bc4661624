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

// The database file inside a data folder.
std::string DatabasePath(const std::string& dataDir);
// Where the records are: --store when given, else the data folder's file.
std::string StoreTarget(const ServiceOptions& options);

}  // namespace skiv::server

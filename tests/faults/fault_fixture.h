#pragma once
// Shared pieces of the fault tests: skivaddon-cli run as a child process
// with its exact wait status (a kill must be told from an exit), add-on sets
// with known content, and the views of a folder that recovery is judged by.

#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/service_launcher.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace skiv::test {

inline constexpr const char* kFaultMember = "mina";
inline constexpr const char* kFaultPassword = "s3cret pass 한글";

struct ChildResult {
    int waitStatus = -1;  // as waitpid gives it
    std::string output;   // standard output and standard error together
    bool Exited(int code) const;
    bool KilledBy(int signal) const;
    std::string Describe() const;  // status and output, for failure messages
};

// Runs skivaddon-cli with `args`, `stdinText` on its standard input and
// `env` ("NAME=value") added to this process's environment. Without a
// wrapper shell, so a signal that ends the program shows in the status.
// `prefix` runs before the program (for example {"setpriv", ...}).
ChildResult RunCliProcess(const std::vector<std::string>& args, const std::string& stdinText,
                          const std::vector<std::string>& env = {},
                          const std::vector<std::string>& prefix = {});

// The account command line against `svc` for member kFaultMember.
ChildResult RunAccount(const ServiceLauncher& svc, const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {},
                       const std::vector<std::string>& prefix = {});

// An add-on set with nested and Korean names, a dot file, a dot folder (the
// pack walk leaves it out), an empty file and `bigBytes` of random data in
// one file, so that packages span many transfer and compression chunks.
// Cache/ and Fonts/ are made as well.
void MakeAddOns(const std::string& game, unsigned seed, std::size_t bigBytes);

// Only the four add-on folders of a game-folder snapshot.
TreeSnapshot AddOnPart(const TreeSnapshot& tree);
// What the pack walk keeps: files under a folder whose name starts with a
// dot are dropped.
TreeSnapshot Packable(const TreeSnapshot& tree);
// Interface/ and WTF/ only.
TreeSnapshot BasicPart(const TreeSnapshot& tree);

// The set the service holds for kFaultMember, fetched by a fresh
// skivaddon-cli install into a folder of its own (no game folder touched);
// a failed install is a test failure.
TreeSnapshot StoredSet(const ServiceLauncher& svc);

// Unpacks `archive` with `skivaddon-cli unpack` into a fresh folder and
// returns its files; `ok` is false when the command failed.
TreeSnapshot UnpackWithCli(const std::string& archive, bool& ok);

// Number of regular files under `folder` (dot folders included).
std::size_t CountFiles(const std::string& folder);

}  // namespace skiv::test

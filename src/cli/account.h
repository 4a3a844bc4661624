#pragma once
// The account commands of skivaddon-cli: one login, then save, install,
// rollback or reset in the order given, each through the controller's own
// command and worker.

#include <optional>
#include <string>
#include <vector>

namespace skiv::cli {

struct AccountOptions {
    std::string id;
    bool passwordStdin = false;
    std::optional<std::string> gameFolder;
    std::string flavor;         // empty: the one found, or the player's last choice
    int version = 0;            // install: that stored version (1 the newest), 0 the current
    std::optional<int> backup;  // the kept backup a roll back restores (1 the newest)
    std::optional<std::string> intoFolder;
    bool withCacheFonts = false;
    bool launch = false;
    bool yes = false;
    bool quiet = false;
};

// One account command: its name on the command line, its help line, and
// the label of the window's button that runs the same task (the step the
// progress line names).
struct AccountCommand {
    const char* name;
    const char* help;
    const char* step;
};

// The commands in the order --help lists them.
const std::vector<AccountCommand>& AccountCommands();

// Logs in and runs `commands` (names from AccountCommands()) in order.
// Exit status: 0 when all succeeded, 1 at the first that failed or did not
// start.
int RunAccount(const AccountOptions& options, const std::vector<std::string>& commands);

}  // namespace skiv::cli

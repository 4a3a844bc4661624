// Account commands (save, install, rollback, reset) after one login.
#include <cstdio>

int RunAccount(int, char**) {
    std::fprintf(stderr, "skivaddon-cli: account commands are not available in this build\n");
    return 2;
}

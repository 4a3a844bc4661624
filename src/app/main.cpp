// skivaddon: the desktop window.
//
// --help and --version are answered before Qt starts (no display needed);
// Qt's own options (-platform, -style, ...) pass through to it.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"

int main(int argc, char** argv) {
    CLI::App cli(
        "Kelbo Skiv Addon: keeps a player's add-on set on the member service, installs "
        "it on another computer and rolls an install back.",
        "skivaddon");
    cli.set_help_flag("-h,--help", "print this help and exit");
    cli.set_version_flag("--version", std::string("skivaddon ") + SKIV_VERSION,
                         "print the version and exit");
    cli.allow_extras();
    cli.footer(
        "Qt's options (-platform NAME, -style NAME, ...) are passed on to Qt.\n"
        "Environment: SKIVADDON_SERVICE_URL (service address), SKIVADDON_CA_FILE (extra "
        "CA).");
    try {
        cli.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return cli.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "skivaddon: %s\nusage: skivaddon [--help] [--version] [Qt options]\n",
                     e.what());
        return 2;
    }
    for (const std::string& extra : cli.remaining()) {
        if (extra.rfind("--", 0) == 0) {
            std::fprintf(stderr,
                         "skivaddon: unknown option %s\nusage: skivaddon [--help] [--version] "
                         "[Qt options]\n",
                         extra.c_str());
            return 2;
        }
    }
    return skiv::app::App::Run(argc, argv);
}

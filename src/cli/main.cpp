// skivaddon-cli: the controller from a terminal.
//
// Local commands work on archives and packages through the same components
// as the flows (the add-on set, the unpacking, the package); every failure
// is also written to the operation log. Exit status 0 on success, 1 with the result code printed on
// failure, 2 on a usage error.
//
// The command line is one CLI11 app: the account options at the top, one
// subcommand per archive command (kArchiveCommands) and per account command
// (cli/account.h). A new command is a row in one of the two tables.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/gzip_package.h"
#include "archive/piece_cache.h"
#include "archive/piece_package.h"
#include "archive/tar_reader.h"
#include "cli/account.h"
#include "cli/advice.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "workspace/addon_set.h"
#include "workspace/game_folder.h"
#include "workspace/operation_log.h"

namespace {

using skiv::ResultCode;

// What the archive commands share: the log, and whether to stay quiet on
// success.
struct Local {
    skiv::LogSink& log;
    bool quiet;
    bool withCacheFonts;
    bool noCache;             // package: leave the piece cache alone
    std::int64_t pieceBytes;  // package: the pieces' target size
};

int Fail(const char* what, ResultCode code) {
    std::fprintf(stderr, "%s\nskivaddon-cli: %s failed: (%d)\n",
                 skiv::cli::ArchiveCommandMessage(what, code).c_str(), what, Number(code));
    return 1;
}

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Pack(Local& l, const std::vector<std::string>& a) {
    skiv::LogSink& log = l.log;
    const std::string game = skiv::fs::WithSlash(a[0]);
    const std::string& archive = a[1];
    skiv::AddOnSet set(game, log);
    const auto scope =
        l.withCacheFonts ? skiv::SaveScope::WithCacheAndFonts : skiv::SaveScope::Basic;
    ResultCode r = set.Collect(scope, [&](const std::string& folder, ResultCode code) {
        if (code == ResultCode::CannotListFolder) {
            std::fprintf(stderr, "skivaddon-cli: %s%s is missing; passed over\n", game.c_str(),
                         folder.c_str());
        } else {
            log.Write("[pack]AddFileToTar Fail:(%d)", Number(code));
        }
    });
    if (r != ResultCode::Ok)
        return Fail("pack", r);
    if (r = set.Write(NameOf(archive), FolderOf(archive)); r != ResultCode::Ok) {
        log.Write("[pack]WriteArchive Fail:(%d)", Number(r));
        return Fail("pack", r);
    }
    if (!l.quiet)
        std::printf("packed %d files into %s (%lld bytes)\n", set.Archive().Header().count,
                    archive.c_str(), static_cast<long long>(set.Archive().ArchiveSize()));
    return 0;
}

// The save's package without the upload: the set's pieces, those of the
// game folder's piece cache reused unless noCache; the cache is refreshed.
int Package(Local& l, const std::vector<std::string>& a) {
    skiv::LogSink& log = l.log;
    const bool withCacheFonts = l.withCacheFonts, noCache = l.noCache;
    const std::string game = skiv::fs::WithSlash(a[0]);
    const std::string& package = a[1];
    skiv::AddOnSet set(game, log);
    const auto scope = withCacheFonts ? skiv::SaveScope::WithCacheAndFonts : skiv::SaveScope::Basic;
    ResultCode r = set.Collect(scope, [&](const std::string&, ResultCode code) {
        log.Write("[package]AddFileToTar Fail:(%d)", Number(code));
    });
    if (r != ResultCode::Ok)
        return Fail("package", r);
    skiv::PackagePlan plan = skiv::PlanPackage(set.Archive(), l.pieceBytes);
    const std::string cacheFolder = skiv::PieceCache::FolderFor(game);
    skiv::PieceCache cache;
    const bool cached = !noCache && cache.Load(cacheFolder, game);
    skiv::PackageResult made;
    if (r = skiv::WritePackage(plan, package, cached ? &cache : nullptr, made, log);
        r != ResultCode::Ok) {
        return Fail("package", r);
    }
    if (!noCache)
        skiv::PieceCache::Store(cacheFolder, game, plan, made, package, log);
    long long fresh = 0;
    for (const skiv::Piece& p : plan.pieces)
        fresh += p.reused ? 0 : p.bytes;
    if (l.quiet)
        return 0;
    std::printf(
        "packaged %d files into %s (%lld bytes, %zu pieces: %d compressed, %d reused; "
        "%lld bytes in compressed pieces)\n",
        plan.files, package.c_str(), static_cast<long long>(made.bytes), plan.pieces.size(),
        made.compressed, made.reused, fresh);
    return 0;
}

int List(Local& l, const std::vector<std::string>& a) {
    skiv::LogSink& log = l.log;
    const std::string& archive = a[0];
    skiv::ArchiveReader reader;
    if (auto r = ToResultCode(reader.Open(archive)); r != ResultCode::Ok) {
        log.Write("[list]GetTarInfo Fail:(%d)", Number(r));
        return Fail("list", r);
    }
    const auto count = reader.Header().count;
    for (std::int32_t i = 0; i < count; ++i) {
        skiv::TarEntry e;
        if (auto r = ToResultCode(reader.Entry(i, e)); r != ResultCode::Ok) {
            log.Write("[list]GetFileInfo Fail:(%d)", Number(r));
            return Fail("list", r);
        }
        std::printf("%s\t%s\t%d\t%d\n", skiv::ToArchiveFolder(e.folder).c_str(), e.fileName.c_str(),
                    e.dataSize, e.dataOffset);
    }
    if (!l.quiet)
        std::fprintf(stderr, "%d entries\n", count);
    return 0;
}

int Unpack(Local& l, const std::vector<std::string>& a) {
    skiv::LogSink& log = l.log;
    const std::string& archive = a[0];
    const std::string target = skiv::fs::WithSlash(a[1]);
    if (!skiv::fs::EnsureFolder(target)) {
        log.Write("[unpack]CreateDirectory Fail:(%d)(%s)", skiv::fs::LastError(), target.c_str());
        return Fail("unpack", ResultCode::CannotCreateFolder);
    }
    if (ResultCode r = skiv::UnpackArchive(archive, target, log); r != ResultCode::Ok)
        return Fail("unpack", r);
    if (!l.quiet)
        std::printf("unpacked %s into %s\n", archive.c_str(), target.c_str());
    return 0;
}

int Compress(Local& l, const std::vector<std::string>& a) {
    if (ResultCode r = skiv::CompressFile(a[0], a[1], l.log); r != ResultCode::Ok)
        return Fail("compress", r);
    if (!l.quiet)
        std::printf("compressed %s into %s\n", a[0].c_str(), a[1].c_str());
    return 0;
}

int Decompress(Local& l, const std::vector<std::string>& a) {
    if (ResultCode r = skiv::DecompressFile(a[0], a[1], l.log); r != ResultCode::Ok)
        return Fail("decompress", r);
    if (!l.quiet)
        std::printf("decompressed %s into %s\n", a[0].c_str(), a[1].c_str());
    return 0;
}

// The installs discovery finds: flavor (or "-" for the one-folder layout),
// its name, game folder, game version (or "-") and Wine prefix (or "-").
int Games(Local& l, const std::vector<std::string>&) {
    const auto installs = skiv::FindGameInstalls(l.log);
    for (const auto& g : installs) {
        std::printf("%s\t%s\t%s\t%s\t%s\n", g.flavor.empty() ? "-" : g.flavor.c_str(),
                    skiv::FlavorDisplayName(g.flavor).c_str(), g.folder.c_str(),
                    g.version.empty() ? "-" : g.version.c_str(),
                    g.prefix.empty() ? "-" : g.prefix.c_str());
    }
    if (!l.quiet)
        std::fprintf(stderr, "%zu game installs found\n", installs.size());
    return installs.empty() ? 1 : 0;
}

// The commands that work on files alone, without the service.
struct ArchiveCommand {
    const char* name;
    const char* help;
    std::vector<const char*> arguments;
    int (*run)(Local&, const std::vector<std::string>&);
};

const ArchiveCommand kArchiveCommands[] = {
    {"pack", "pack a game folder's add-on set into an archive", {"GAMEFOLDER", "ARCHIVE"}, Pack},
    {"list", "list an archive's entries: folder, name, size, offset", {"ARCHIVE"}, List},
    {"unpack", "unpack an archive into a folder", {"ARCHIVE", "FOLDER"}, Unpack},
    {"compress", "compress an archive into a package", {"ARCHIVE", "PACKAGE"}, Compress},
    {"decompress", "decompress a package into an archive", {"PACKAGE", "ARCHIVE"}, Decompress},
    {"package",
     "make a game folder's package in pieces without sending it (the piece cache is used and "
     "refreshed unless --no-cache)",
     {"GAMEFOLDER", "PACKAGE"},
     Package},
    {"games",
     "list the game installs found: flavor, name, folder, version, Wine prefix",
     {},
     Games},
};

// The synopsis printed with every usage error.
std::string Synopsis() {
    std::string text = "Usage:\n";
    for (const auto& c : kArchiveCommands) {
        text += "  skivaddon-cli " + std::string(c.name);
        for (const char* a : c.arguments)
            text += std::string(" ") + a;
        const std::string name = c.name;
        text += name == "pack"      ? " [--with-cache-fonts]\n"
                : name == "package" ? " [--with-cache-fonts] [--no-cache] [--piece-kib N]\n"
                                    : "\n";
    }
    text +=
        "  skivaddon-cli --id ID [--password-stdin] [--game-folder DIR] [--flavor NAME]\n"
        "                [--with-cache-fonts] [--into-folder DIR] [--launch] [--backup N] [--yes]\n"
        "                [--quiet] COMMAND...\n"
        "      COMMAND:";
    const char* sep = " ";
    for (const auto& c : skiv::cli::AccountCommands()) {
        text += sep + std::string(c.name);
        sep = " | ";
    }
    text +=
        " (run in order after one login)\n"
        "Run 'skivaddon-cli --help' for every option.\n";
    return text;
}

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "skivaddon-cli: %s\n\n%s", problem.c_str(), Synopsis().c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // UTF-8 in and out on every system (Windows hands argv over in its
    // ANSI code page).
    skiv::console::Arguments utf8(argc, argv);
    argc = utf8.argc();
    argv = utf8.argv();
    skiv::console::UseUtf8Output();
    CLI::App app(
        "Kelbo Skiv Addon from a terminal: archive commands, and the account commands "
        "that save, install and roll back a member's add-on set.",
        "skivaddon-cli");
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag("--version", std::string("skivaddon-cli ") + SKIV_VERSION,
                         "print the version and exit");
    skiv::cli::AccountOptions account;
    std::string gameFolder, intoFolder;
    app.add_option("--id", account.id, "member ID; runs the account commands")->type_name("ID");
    app.add_flag("--password-stdin", account.passwordStdin,
                 "read the password from the first line of standard input");
    app.add_option("--game-folder", gameFolder,
                   "the game folder to use: one holding Launcher.exe, a flavor folder such as "
                   "_retail_, or a root holding flavor folders")
        ->type_name("DIR");
    app.add_option("--flavor", account.flavor,
                   "the game flavor to use when several are installed (classic or _classic_)")
        ->type_name("NAME");
    app.add_flag("--with-cache-fonts", account.withCacheFonts,
                 "save and pack Cache and Fonts as well");
    app.add_option("--into-folder", intoFolder,
                   "install into DIR instead of the game folder (no backup)")
        ->type_name("DIR");
    app.add_flag("--launch", account.launch, "start Launcher.exe after an install");
    bool noCache = false;
    std::int64_t pieceKib = skiv::kPieceTarget / 1024;
    app.add_flag("--no-cache", noCache, "package: neither use nor refresh the piece cache");
    app.add_option("--piece-kib", pieceKib, "package: the pieces' target size in KiB")
        ->type_name("N")
        ->check(CLI::Range(1, 65536));
    int backup = 0;
    app.add_option("--backup", backup,
                   "the kept install backup a rollback restores (1 the newest); without it the "
                   "backups are offered one by one")
        ->type_name("N")
        ->check(CLI::Range(1, 999));
    app.add_flag("-y,--yes", account.yes, "answer Yes to every question");
    app.add_flag("-q,--quiet", account.quiet, "print nothing but errors");
    app.footer(
        "Environment: SKIVADDON_SERVICE_URL (service address), SKIVADDON_CA_FILE (extra "
        "CA).\nExit status: 0 done, 1 a command failed (its code in parentheses), 2 a "
        "usage error.");

    std::vector<std::vector<std::string>> archiveArgs(std::size(kArchiveCommands));
    std::vector<CLI::App*> archiveApps, accountApps;
    for (std::size_t i = 0; i < std::size(kArchiveCommands); ++i) {
        const auto& c = kArchiveCommands[i];
        CLI::App* sub = app.add_subcommand(c.name, c.help);
        archiveArgs[i].resize(c.arguments.size());
        for (std::size_t k = 0; k < c.arguments.size(); ++k)
            sub->add_option(c.arguments[k], archiveArgs[i][k])->required();
        sub->fallthrough();
        archiveApps.push_back(sub);
    }
    for (const auto& c : skiv::cli::AccountCommands()) {
        CLI::App* sub = app.add_subcommand(c.name, std::string("(account) ") + c.help);
        if (std::string(c.name) == "install") {
            sub->add_option("--version", account.version,
                            "install that stored version (1 the newest; see versions)")
                ->type_name("N")
                ->check(CLI::Range(1, 1000000));
        }
        sub->fallthrough();
        accountApps.push_back(sub);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }
    if (app.count("--game-folder"))
        account.gameFolder = gameFolder;
    if (app.count("--backup"))
        account.backup = backup;
    if (app.count("--into-folder"))
        account.intoFolder = intoFolder;

    std::vector<std::string> accountCommands;
    int archive = -1;
    for (CLI::App* sub : app.get_subcommands()) {
        auto a = std::find(archiveApps.begin(), archiveApps.end(), sub);
        if (a != archiveApps.end()) {
            if (archive >= 0)
                return UsageError("one archive command at a time");
            archive = static_cast<int>(a - archiveApps.begin());
        } else {
            accountCommands.push_back(sub->get_name());
        }
    }
    if (archive >= 0 && !accountCommands.empty())
        return UsageError("archive and account commands do not mix");
    if (!accountCommands.empty() || app.count("--id")) {
        if (account.id.empty())
            return UsageError("--id ID is required for " +
                              (accountCommands.empty() ? "account commands" : accountCommands[0]));
        return skiv::cli::RunAccount(account, accountCommands);
    }
    if (archive < 0)
        return UsageError("no command given");

    skiv::OperationLog log;
    log.SetFolder(skiv::OperationLog::DefaultFolder());
    Local local{log, account.quiet, account.withCacheFonts, noCache, pieceKib * 1024};
    return kArchiveCommands[archive].run(local, archiveArgs[archive]);
}

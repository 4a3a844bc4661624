// skivaddon-cli: the controller from a terminal.
//
// Local commands work on archives and packages through the same components
// as the flows (the add-on set, the unpacking, the package); every failure
// is also written to the operation log. Exit status 0 on success, 1 with the result code printed on
// failure, 2 on a usage error.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/gzip_package.h"
#include "archive/piece_cache.h"
#include "archive/piece_package.h"
#include "archive/tar_reader.h"
#include "platform/fs.h"
#include "workspace/addon_set.h"
#include "workspace/operation_log.h"

namespace {

using skiv::ResultCode;

constexpr const char* kUsage =
    "Usage:\n"
    "  skivaddon-cli pack GAMEFOLDER ARCHIVE [--with-cache-fonts]\n"
    "  skivaddon-cli list ARCHIVE\n"
    "  skivaddon-cli unpack ARCHIVE FOLDER\n"
    "  skivaddon-cli compress ARCHIVE PACKAGE\n"
    "  skivaddon-cli decompress PACKAGE ARCHIVE\n"
    "  skivaddon-cli package GAMEFOLDER PACKAGE [--with-cache-fonts] [--no-cache]\n"
    "                [--piece-kib N]\n"
    "  skivaddon-cli --id ID [--password-stdin] [--game-folder DIR] [--with-cache-fonts]\n"
    "                [--into-folder DIR] [--launch] [--yes] COMMAND...\n"
    "      COMMAND: save | install | rollback | reset (run in order after one login)\n"
    "\n"
    "Environment: SKIVADDON_SERVICE_URL (service address), SKIVADDON_CA_FILE (extra CA),\n"
    "  SKIVADDON_NO_DELTA=1 (whole-package exchanges even with a service offering pieces).\n";

int Fail(const char* what, ResultCode code) {
    std::fprintf(stderr, "skivaddon-cli: %s failed: (%d)\n", what, Number(code));
    return 1;
}

int Usage(const char* problem) {
    if (problem)
        std::fprintf(stderr, "skivaddon-cli: %s\n\n", problem);
    std::fputs(kUsage, problem ? stderr : stdout);
    return problem ? 2 : 0;
}

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Pack(skiv::LogSink& log, const std::string& gameFolder, const std::string& archive,
         bool withCacheFonts) {
    const std::string game = skiv::fs::WithSlash(gameFolder);
    skiv::AddOnSet set(game, log);
    const auto scope = withCacheFonts ? skiv::SaveScope::WithCacheAndFonts : skiv::SaveScope::Basic;
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
    std::printf("packed %d files into %s (%lld bytes)\n", set.Archive().Header().count,
                archive.c_str(), static_cast<long long>(set.Archive().ArchiveSize()));
    return 0;
}

// The save's package without the upload: the set's pieces, those of the
// game folder's piece cache reused unless noCache; the cache is refreshed.
int Package(skiv::LogSink& log, const std::string& gameFolder, const std::string& package,
            bool withCacheFonts, bool noCache, std::int64_t pieceBytes) {
    const std::string game = skiv::fs::WithSlash(gameFolder);
    skiv::AddOnSet set(game, log);
    const auto scope = withCacheFonts ? skiv::SaveScope::WithCacheAndFonts : skiv::SaveScope::Basic;
    ResultCode r = set.Collect(scope, [&](const std::string&, ResultCode code) {
        log.Write("[package]AddFileToTar Fail:(%d)", Number(code));
    });
    if (r != ResultCode::Ok)
        return Fail("package", r);
    skiv::PackagePlan plan = skiv::PlanPackage(set.Archive(), pieceBytes);
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
    std::printf(
        "packaged %d files into %s (%lld bytes, %zu pieces: %d compressed, %d reused; "
        "%lld bytes in compressed pieces)\n",
        plan.files, package.c_str(), static_cast<long long>(made.bytes), plan.pieces.size(),
        made.compressed, made.reused, fresh);
    return 0;
}

int List(skiv::LogSink& log, const std::string& archive) {
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
    std::fprintf(stderr, "%d entries\n", count);
    return 0;
}

int Unpack(skiv::LogSink& log, const std::string& archive, const std::string& folder) {
    const std::string target = skiv::fs::WithSlash(folder);
    if (!skiv::fs::EnsureFolder(target)) {
        log.Write("[unpack]CreateDirectory Fail:(%d)(%s)", skiv::fs::LastError(), target.c_str());
        return Fail("unpack", ResultCode::CannotCreateFolder);
    }
    if (ResultCode r = skiv::UnpackArchive(archive, target, log); r != ResultCode::Ok)
        return Fail("unpack", r);
    std::printf("unpacked %s into %s\n", archive.c_str(), target.c_str());
    return 0;
}

}  // namespace

int RunAccount(int argc, char** argv);  // account.cpp

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage("no command given");
    if (args[0] == "--help" || args[0] == "-h")
        return Usage(nullptr);
    for (const auto& a : args) {
        if (a == "--id" || a.rfind("--id=", 0) == 0)
            return RunAccount(argc, argv);
    }

    skiv::OperationLog log;
    log.SetFolder(skiv::OperationLog::DefaultFolder());

    const std::string& cmd = args[0];
    std::vector<std::string> pos;
    bool withCacheFonts = false, noCache = false;
    std::int64_t pieceBytes = skiv::kPieceTarget;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--with-cache-fonts")
            withCacheFonts = true;
        else if (args[i] == "--piece-kib" && i + 1 < args.size() &&
                 std::atoi(args[i + 1].c_str()) > 0)
            pieceBytes = std::int64_t(std::atoi(args[++i].c_str())) * 1024;
        else if (args[i] == "--no-cache")
            noCache = true;
        else if (args[i].rfind("--", 0) == 0)
            return Usage(("unknown option " + args[i]).c_str());
        else
            pos.push_back(args[i]);
    }
    auto need = [&](std::size_t n) { return pos.size() == n; };
    if (cmd == "pack" && need(2))
        return Pack(log, pos[0], pos[1], withCacheFonts);
    if (cmd == "package" && need(2))
        return Package(log, pos[0], pos[1], withCacheFonts, noCache, pieceBytes);
    if (cmd == "list" && need(1))
        return List(log, pos[0]);
    if (cmd == "unpack" && need(2))
        return Unpack(log, pos[0], pos[1]);
    if (cmd == "compress" && need(2)) {
        if (ResultCode r = skiv::CompressFile(pos[0], pos[1], log); r != ResultCode::Ok)
            return Fail("compress", r);
        std::printf("compressed %s into %s\n", pos[0].c_str(), pos[1].c_str());
        return 0;
    }
    if (cmd == "decompress" && need(2)) {
        if (ResultCode r = skiv::DecompressFile(pos[0], pos[1], log); r != ResultCode::Ok)
            return Fail("decompress", r);
        std::printf("decompressed %s into %s\n", pos[0].c_str(), pos[1].c_str());
        return 0;
    }
    return Usage(("bad command line for '" + cmd + "'").c_str());
}

// skivaddon-cli: the controller from a terminal.
//
// Local commands work on archives and packages through the same controller
// operations as the flows; every failure is also written to the operation
// log. Exit status 0 on success, 1 with the result code printed on failure,
// 2 on a usage error.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/tar_reader.h"
#include "cli/console_window.h"
#include "platform/fs.h"
#include "workspace/controller.h"

namespace {

using skiv::CAddOnController;

constexpr const char* kUsage =
    "Usage:\n"
    "  skivaddon-cli pack GAMEFOLDER ARCHIVE [--with-cache-fonts]\n"
    "  skivaddon-cli list ARCHIVE\n"
    "  skivaddon-cli unpack ARCHIVE FOLDER\n"
    "  skivaddon-cli compress ARCHIVE PACKAGE\n"
    "  skivaddon-cli decompress PACKAGE ARCHIVE\n"
    "  skivaddon-cli --id ID [--password-stdin] [--game-folder DIR] [--with-cache-fonts]\n"
    "                [--into-folder DIR] [--launch] [--yes] COMMAND...\n"
    "      COMMAND: save | install | rollback | reset (run in order after one login)\n"
    "\n"
    "Environment: SKIVADDON_SERVICE_URL (service address), SKIVADDON_CA_FILE (extra CA).\n";

int Fail(const char* what, int code) {
    std::fprintf(stderr, "skivaddon-cli: %s failed: (%d)\n", what, code);
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

int Pack(CAddOnController& ctl, const std::string& gameFolder, const std::string& archive,
         bool withCacheFonts) {
    auto& s = ctl.Session();
    s.gameFolder = skiv::fs::WithSlash(gameFolder);
    s.tarArchive = std::make_unique<skiv::CTarArchive>();
    std::vector<const char*> folders{"Interface/", "WTF/"};
    if (withCacheFonts)
        folders.insert(folders.end(), {"Cache/", "Fonts/"});
    for (const char* f : folders) {
        int r = ctl.AddFileToTar(f);
        if (r == skiv::rc::kCannotListFolder) {
            std::fprintf(stderr, "skivaddon-cli: %s%s is missing; passed over\n",
                         s.gameFolder.c_str(), f);
            continue;
        }
        if (r != 0) {
            ctl.Log().Write("[pack]AddFileToTar Fail:(%d)", r);
            s.tarArchive.reset();
            return Fail("pack", r);
        }
    }
    int r = s.tarArchive->WriteArchive(NameOf(archive), FolderOf(archive));
    const auto count = s.tarArchive->Header().count;
    const auto bytes = s.tarArchive->ArchiveSize();
    s.tarArchive.reset();
    if (r != 0) {
        ctl.Log().Write("[pack]WriteArchive Fail:(%d)", r);
        return Fail("pack", r);
    }
    std::printf("packed %d files into %s (%lld bytes)\n", count, archive.c_str(),
                static_cast<long long>(bytes));
    return 0;
}

int List(CAddOnController& ctl, const std::string& archive) {
    skiv::CTarReader reader;
    if (int r = reader.Open(archive)) {
        ctl.Log().Write("[list]GetTarInfo Fail:(%d)", r);
        return Fail("list", r);
    }
    const auto count = reader.Header().count;
    for (std::int32_t i = 0; i < count; ++i) {
        skiv::TarEntry e;
        if (int r = reader.Entry(i, e)) {
            ctl.Log().Write("[list]GetFileInfo Fail:(%d)", r);
            return Fail("list", r);
        }
        std::printf("%s\t%s\t%d\t%d\n", skiv::ToArchiveFolder(e.folder).c_str(), e.fileName.c_str(),
                    e.dataSize, e.dataOffset);
    }
    std::fprintf(stderr, "%d entries\n", count);
    return 0;
}

int Unpack(CAddOnController& ctl, const std::string& archive, const std::string& folder) {
    auto& s = ctl.Session();
    s.loadFolder = skiv::fs::WithSlash(folder);
    if (!skiv::fs::EnsureFolder(s.loadFolder)) {
        ctl.Log().Write("[unpack]CreateDirectory Fail:(%d)(%s)", skiv::fs::LastError(),
                        s.loadFolder.c_str());
        return Fail("unpack", skiv::rc::kCannotCreateFolder);
    }
    if (int r = ctl.UnTarFile(archive, false))
        return Fail("unpack", r);
    std::printf("unpacked %s into %s\n", archive.c_str(), s.loadFolder.c_str());
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

    skiv::COperationLog log;
    log.SetFolder(skiv::COperationLog::DefaultFolder());
    skiv::cli::ConsoleWindow window(/*assumeYes=*/true);
    CAddOnController ctl(window, log, skiv::ServiceConfig::FromEnvironment());

    const std::string& cmd = args[0];
    std::vector<std::string> pos;
    bool withCacheFonts = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--with-cache-fonts")
            withCacheFonts = true;
        else if (args[i].rfind("--", 0) == 0)
            return Usage(("unknown option " + args[i]).c_str());
        else
            pos.push_back(args[i]);
    }
    auto need = [&](std::size_t n) { return pos.size() == n; };
    if (cmd == "pack" && need(2))
        return Pack(ctl, pos[0], pos[1], withCacheFonts);
    if (cmd == "list" && need(1))
        return List(ctl, pos[0]);
    if (cmd == "unpack" && need(2))
        return Unpack(ctl, pos[0], pos[1]);
    if (cmd == "compress" && need(2)) {
        if (int r = ctl.CompressFile(pos[0], pos[1]))
            return Fail("compress", r);
        std::printf("compressed %s into %s\n", pos[0].c_str(), pos[1].c_str());
        return 0;
    }
    if (cmd == "decompress" && need(2)) {
        if (int r = ctl.DecompressFile(pos[0], pos[1]))
            return Fail("decompress", r);
        std::printf("decompressed %s into %s\n", pos[0].c_str(), pos[1].c_str());
        return 0;
    }
    return Usage(("bad command line for '" + cmd + "'").c_str());
}

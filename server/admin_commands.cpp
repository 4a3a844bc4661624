#include "admin_commands.h"

#include "back_ends.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <istream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "data_folder.h"
#include "manifest.h"
#include "member_desk.h"
#include "member_store.h"
#include "package_shelf.h"
#include "password_hasher.h"
#include "secrets.h"
#include "tag_reply.h"
#include "version_store.h"

namespace skiv::server {

std::string DatabasePath(const std::string& dataDir) {
    std::string dir = dataDir;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + "members.sqlite";
}

std::string StoreTarget(const ServiceOptions& options) {
    return options.store.empty() ? DatabasePath(options.dataDir) : options.store;
}

int RunMemberCommand(const ServiceOptions& options, std::istream& in, std::ostream& out,
                     std::ostream& err) {
    const auto& c = options.command;
    try {
        if (::mkdir(options.dataDir.c_str(), 0700) != 0 && errno != EEXIST) {
            err << "cannot create " << options.dataDir << ": " << std::strerror(errno) << "\n";
            return 1;
        }
        MemberStore store(StoreTarget(options), 1);
        if (c[1] == "list") {
            out << "ID\tstate\tsize\ttype\tsaved\n";
            for (const auto& m : store.ListMembers()) {
                out << m.id << '\t' << (m.suspended ? "suspended" : "active") << '\t' << m.fileSize
                    << '\t' << m.fileType << '\t' << (m.savedAt ? FormatSaveDate(*m.savedAt) : "-")
                    << '\n';
            }
            return 0;
        }
        const std::string& id = c[2];
        if (c[1] == "add") {
            if (!ValidMemberId(id)) {
                err << "member IDs are 3 to 32 letters, digits, '_' or '-'\n";
                return 1;
            }
            std::string password;
            if (!std::getline(in, password)) {
                err << "no password on standard input\n";
                return 1;
            }
            if (!password.empty() && password.back() == '\r')
                password.pop_back();
            if (password.size() < kMinPasswordBytes || password.size() > kMaxPasswordBytes) {
                err << "passwords are 8 to 1024 bytes\n";
                return 1;
            }
            PasswordHasher hasher(options.hashCost);
            if (!store.AddMember(id, hasher.Hash(password),
                                 static_cast<std::int64_t>(std::time(nullptr)))) {
                err << "member " << id << " exists already\n";
                return 1;
            }
            out << "member " << id << " added\n";
            return 0;
        }
        bool suspend = c[1] == "suspend";
        if (!store.SetSuspended(id, suspend)) {
            err << "no member " << id << "\n";
            return 1;
        }
        out << "member " << id << (suspend ? " suspended\n" : " resumed\n");
        return 0;
    } catch (const std::exception& e) {
        err << "member " << c[1] << " failed: " << e.what() << "\n";
        return 1;
    }
}

namespace {

// Save times of the member's versions, oldest first.
std::vector<std::int64_t> SaveTimes(VersionStore& versions, const std::string& id) {
    std::vector<std::int64_t> times;
    std::istringstream list(versions.VersionList(id));
    std::string line;
    while (std::getline(list, line)) {
        const std::size_t tab = line.find('\t');
        times.insert(times.begin(), std::stoll(line.substr(tab + 1)));
    }
    return times;
}

// Copies the piece `sha` of the member into `to` under `name`, checking
// its bytes on the way.
void CopyPiece(VersionStore& from, VersionStore& to, const std::string& id, const std::string& sha,
               const std::string& name) {
    std::optional<StoredPackage> source = from.OpenMemberPiece(id, sha);
    if (!source)
        throw std::runtime_error("piece " + sha + " of " + id + " is missing");
    IncomingFile copy = to.shelf().Begin();
    std::vector<char> buf(256 * 1024);
    // The reader throws PieceError on a read fault or a piece that ends early.
    while (const std::size_t n = source->reader->Read(buf.data(), buf.size())) {
        if (!copy.Write(buf.data(), n))
            throw std::runtime_error("cannot write " + copy.path() + ": " + std::strerror(errno));
    }
    if (copy.Sha256() != sha)
        throw std::runtime_error("piece " + sha + " of " + id + " does not match its hash");
    to.PutPiece(std::move(copy), name);
}

}  // namespace

int MigrateMembers(MemberStore& fromMembers, VersionStore& fromVersions, MemberStore& toMembers,
                   VersionStore& toVersions, std::ostream& out, std::ostream& err) {
    int copied = 0;
    for (const MemberRecord& m : fromMembers.ListMembers()) {
        if (!toMembers.AddMember(m.id, m.passwordHash, m.createdAt)) {
            err << "member " << m.id << " exists in the destination; left alone\n";
            continue;
        }
        if (m.suspended)
            toMembers.SetSuspended(m.id, true);
        const std::vector<std::int64_t> times = SaveTimes(fromVersions, m.id);
        const int count = static_cast<int>(times.size());
        for (int n = count; n >= 1; --n) {
            const std::optional<std::string> text = fromVersions.ManifestText(m.id, n);
            std::string why;
            std::optional<Manifest> manifest = text ? ParseManifest(*text, why) : std::nullopt;
            if (!manifest)
                throw std::runtime_error("version " + std::to_string(n) + " of " + m.id +
                                         " has no readable manifest " + why);
            // The version keeps its save time: the copy is made as if then.
            const std::int64_t savedAt = times[static_cast<std::size_t>(count - n)];
            const std::string token = RandomHex(16);
            const auto lacking =
                toVersions.BeginUpload(m.id, *manifest, *text, token, savedAt + 3600, savedAt);
            for (const std::string& sha : lacking) {
                bool shared = false;
                for (const auto& p : manifest->pieces)
                    if (p.sha == sha)
                        shared = p.shared;
                CopyPiece(fromVersions, toVersions, m.id, sha,
                          VersionStore::PieceName(m.id, sha, shared));
            }
            if (toVersions.Commit(m.id, token, m.fileType, savedAt) !=
                VersionStore::CommitResult::Ok)
                throw std::runtime_error("version " + std::to_string(n) + " of " + m.id +
                                         " was not taken");
        }
        if (count > 0) {
            // What a classic client checks its download against.
            std::optional<MemberRecord> now = toMembers.FindMember(m.id);
            if (now && !m.packageSha256.empty())
                toMembers.RecordPackage(m.id, now->packageName, now->fileSize, now->fileType,
                                        *now->savedAt, m.packageSha256, m.packageEntries,
                                        m.packageBytes);
        }
        const SetOrigin origin = fromMembers.FindOrigin(m.id);
        if (!origin.flavor.empty())
            toMembers.RecordOrigin(m.id, origin);
        out << "member " << m.id << ": " << count << (count == 1 ? " version\n" : " versions\n");
        ++copied;
    }
    return copied;
}

namespace {

// One side of a migration: a data folder (its own SQLite file and
// packages/), or a settings file naming the data folder, the store and
// where the packages go, read as the service reads its own.
std::optional<BackEndSettings> MigrationSide(std::string where, std::ostream& err) {
    if (where.compare(0, 7, "file://") == 0)
        where.erase(0, 7);
    struct stat st;
    if (::stat(where.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        std::string argv0 = "skivaddon-service", config = "--config", check = "--check-config";
        char* argv[] = {argv0.data(), config.data(), where.data(), check.data()};
        std::string error;
        std::optional<ServiceOptions> o = ParseOptions(4, argv, error);
        if (!o) {
            err << "migrate: " << where << ": " << error << "\n";
            return std::nullopt;
        }
        return BackEndSettings::From(*o);
    }
    if (where.empty() || where.find("://") != std::string::npos) {
        err << "migrate: " << where
            << " is neither a data folder nor a settings file naming the back ends\n";
        return std::nullopt;
    }
    ServiceOptions o;
    o.dataDir = where;
    return BackEndSettings::From(o);
}

}  // namespace

int RunMigrate(const ServiceOptions& options, std::ostream& out, std::ostream& err) {
    try {
        std::optional<BackEndSettings> from = MigrationSide(options.migrateFrom, err);
        std::optional<BackEndSettings> to = MigrationSide(options.migrateTo, err);
        if (!from || !to)
            return 1;
        struct stat st;
        if (from->store.empty() && ::stat(DatabasePath(from->dataDir).c_str(), &st) != 0) {
            err << "migrate: no member database in " << from->dataDir << "\n";
            return 1;
        }
        for (const std::string& warning : PrepareDataFolder(to->dataDir))
            err << "warning: " << warning << "\n";
        // Every version is kept on both sides; the destination's service
        // trims to its own setting at the member's next save.
        from->keepVersions = to->keepVersions = 1000;
        from->dbPool = to->dbPool = 1;
        BackEnds source(*from);
        BackEnds target(*to);
        out << "from: " << source.description() << "\nto: " << target.description() << "\n";
        const int copied = MigrateMembers(source.members(), source.versions(), target.members(),
                                          target.versions(), out, err);
        out << copied << (copied == 1 ? " member" : " members") << " copied\n";
        return 0;
    } catch (const std::exception& e) {
        err << "migrate failed: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace skiv::server

#include "admin_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <istream>
#include <ostream>
#include <string>

#include "member_desk.h"
#include "member_store.h"
#include "password_hasher.h"
#include "tag_reply.h"

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
        if (c[0] == "migrate") {
            const std::string from =
                options.migrateFrom.empty() ? StoreTarget(options) : options.migrateFrom;
            const std::string to =
                options.migrateTo.empty() ? StoreTarget(options) : options.migrateTo;
            if (from == to) {
                err << "migrate wants --from and --to naming two stores\n";
                return 1;
            }
            const std::int64_t members = CopyStore(from, to);
            out << "copied " << members << " members\n";
            return 0;
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

}  // namespace skiv::server

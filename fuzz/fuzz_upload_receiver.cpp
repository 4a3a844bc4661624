// The service's upload receiver driven the way the HTTP front drives it:
// part headers and byte runs in any order and any split, stopped the moment
// it asks to stop, then finished. Whatever the sequence, the reply must be
// a tag reply naming the outcome, a package may be stored only for a whole,
// well-formed, authorised, non-empty upload within the size limit, the
// stored bytes must be exactly the file part's, and no temporary file may
// outlive the request.

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "fuzz_util.h"
#include "member_desk.h"
#include "member_store.h"
#include "package_shelf.h"
#include "password_hasher.h"
#include "upload_receiver.h"

namespace {

namespace stdfs = std::filesystem;
using skiv::fuzz::Check;
using skiv::server::UploadError;

constexpr std::int64_t kLimit = 64 * 1024;
constexpr const char* kMember = "fuzzmember";
constexpr const char* kPassword = "fuzz-password-1";

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
    std::size_t a = text.find(open);
    if (a == std::string::npos)
        return {};
    a += open.size();
    std::size_t b = text.find(close, a);
    return b == std::string::npos ? std::string() : text.substr(a, b - a);
}

struct Service {
    skiv::fuzz::ScratchFolder root{"upload"};
    skiv::server::MemberStore store{root / "members.sqlite"};
    skiv::server::PackageShelf shelf{root / "shelf"};
    skiv::server::PasswordHasher hasher{skiv::server::HashCost{1, 8192 * 1024}};
    skiv::server::MemberDesk desk{store, shelf, hasher, Policy()};
    skiv::server::VersionStore versions{root / "members.sqlite", shelf, 1};
    std::string key, capability;

    static skiv::server::DeskPolicy Policy() {
        skiv::server::DeskPolicy p;
        p.publicUrl = "https://127.0.0.1:1";
        p.maxPackageBytes = kLimit;
        return p;
    }

    Service() {
        desk.SetVersions(&versions);
        Check(desk.Register(kMember, kPassword, "127.0.0.1") ==
                  skiv::server::MemberDesk::Registration::Added,
              "cannot register the member");
        std::string reply = desk.Login(std::string(kMember), std::string(kPassword), "127.0.0.1");
        key = Between(reply, "<memberkey>", "</memberkey>");
        std::string url = Between(reply, "<downloadURL>", "</downloadURL>");
        std::size_t dl = url.find("/dl/");
        Check(!key.empty() && dl != std::string::npos, "login reply lacks key or address", reply);
        capability = url.substr(dl + 4, url.find('/', dl + 4) - dl - 4);
    }

    // The member's stored package, or nullopt; `pieces` gets how many files hold it.
    std::optional<std::string> Stored(std::size_t* pieces = nullptr) {
        std::optional<skiv::server::VersionStore::Stream> package;
        if (desk.OpenDownload(kMember, capability, package) !=
            skiv::server::MemberDesk::Download::Ok)
            return std::nullopt;
        std::string bytes;
        std::set<std::string> names;
        for (const auto& piece : package->pieces)
            names.insert(piece.name);
        if (pieces)
            *pieces = names.size();
        for (const auto& piece : package->pieces) {
            auto file = shelf.Open(piece.name);
            Check(file.has_value(), "a piece of the stored version is gone");
            std::string part(std::size_t(piece.bytes), '\0');
            std::size_t got = 0;
            while (got < part.size()) {
                const std::size_t n = file->reader->Read(part.data() + got, part.size() - got);
                if (n == 0)
                    break;
                got += n;
            }
            Check(got == part.size(), "stored piece reads short");
            bytes += part;
        }
        return bytes;
    }
};

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const char* const kNames[] = {"avoFileName",  "aviFileType", "avsMemberID",
                              "avsMemberKey", "other",       ""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Service svc;
    skiv::fuzz::ByteReader in(data, size);
    const std::optional<std::string> before = svc.Stored();

    skiv::server::UploadReceiver receiver(svc.desk);
    // What an honest reading of the sequence collects.
    std::string file;
    std::optional<std::string> fileType, memberId, memberKey;
    std::string* text = nullptr;
    bool inFile = false, sawFile = false, stopped = false, twice = false;
    int parts = 0;

    const bool complete = in.Byte() & 1;
    while (!in.empty() && !stopped) {
        const std::uint8_t op = in.Byte();
        switch (op % 4) {
            case 0: {  // a part header
                const std::uint8_t pick = in.Byte();
                std::string name = pick < 240 ? kNames[pick % 6] : std::string(in.Field());
                std::string filename(in.Field());
                ++parts;
                text = nullptr;
                inFile = name == "avoFileName";
                std::optional<std::string>* slot = nullptr;
                if (name == "aviFileType")
                    slot = &fileType;
                if (name == "avsMemberID")
                    slot = &memberId;
                if (name == "avsMemberKey")
                    slot = &memberKey;
                if (inFile) {
                    twice = twice || sawFile;
                    sawFile = true;
                }
                if (slot) {
                    twice = twice || slot->has_value();
                    slot->emplace();
                    text = &**slot;
                }
                stopped = !receiver.BeginPart(name, filename);
                break;
            }
            case 1:  // bytes of the current part; "@ID" and "@KEY" stand for the real ones
            case 2: {
                std::string bytes(in.Field());
                if (bytes == "@ID")
                    bytes = kMember;
                if (bytes == "@KEY")
                    bytes = svc.key;
                if (op % 4 == 2 && !bytes.empty()) {
                    // A long run, to reach the size limit.
                    std::string run;
                    for (int i = 0; i < 1 + in.Byte() % 64; ++i)
                        run += std::string(1024, bytes[0]);
                    bytes = run;
                }
                if (inFile)
                    file += bytes;
                if (text)
                    *text += bytes;
                stopped = !receiver.Data(bytes.data(), bytes.size());
                break;
            }
            case 3:  // the body ends here
                in.Rest();
                break;
        }
    }

    const std::string reply = receiver.Finish(complete && !stopped);
    const UploadError outcome = receiver.outcome();
    const std::string number = Between(reply, "<error>", "</error>");
    Check(number == std::to_string(static_cast<int>(outcome)), "reply names another outcome",
          reply);

    const bool wellFormed = complete && !stopped && parts <= 16 && !twice && sawFile && fileType &&
                            memberId && memberKey && (*fileType == "1" || *fileType == "2");
    // Member IDs compare without regard to ASCII case.
    const bool authorised = wellFormed && AsciiLower(*memberId) == kMember && *memberKey == svc.key;
    const bool deserved = authorised && !file.empty() && std::int64_t(file.size()) <= kLimit;
    Check((outcome == UploadError::Ok) == deserved, "upload accepted or refused wrongly",
          "outcome " + number + ", file " + std::to_string(file.size()) + " bytes");
    if (authorised && std::int64_t(file.size()) > kLimit)
        Check(outcome == UploadError::TooLarge, "an oversized package was not called too large");

    std::size_t pieces = 0;
    const std::optional<std::string> after = svc.Stored(&pieces);
    if (deserved) {
        Check(after && *after == file, "stored package differs from the file part");
    } else {
        Check(after == before, "a refused upload changed the stored package");
    }
    // Temporary files die with their request; with one version kept, the
    // shelf holds the pieces of that version and nothing else.
    Check(stdfs::is_empty(svc.root / "shelf/incoming"), "a temporary upload file was left behind");
    std::size_t packages = 0;
    for (const auto& item : stdfs::directory_iterator(svc.root / "shelf"))
        packages += item.is_regular_file() ? 1 : 0;
    Check(packages == pieces, "old pieces pile up on the shelf", std::to_string(packages));
    return 0;
}

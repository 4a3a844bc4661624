#include "version_store.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "gzip_members.h"
#include "platform/crash_point.h"
#include "secrets.h"

namespace skiv::server {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

namespace {

std::int64_t WallClock() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace

VersionStore::Pins::Pins(VersionStore& store, std::vector<std::string> names)
    : m_store(store), m_names(std::move(names)) {
    std::lock_guard lock(m_store.m_pieceMutex);
    std::vector<std::string> fresh;
    for (const auto& n : m_names) {
        m_store.m_pins.insert(n);
        if (m_store.m_pins.count(n) == 1)
            fresh.push_back(n);
    }
    if (fresh.empty())
        return;
    // Another instance sharing the store sees the pins as lease rows.
    try {
        // One transaction: on SQLite each statement alone would be a commit
        // of its own, a disk flush per piece.
        m_store.m_pool.Run([&](Database& db) {
            Transaction tx(db);
            auto s = db.Prepare(
                "INSERT INTO piece_leases (holder, name, expires_at) VALUES (?1, ?2, ?3) "
                "ON CONFLICT(holder, name) DO UPDATE SET expires_at = ?3");
            for (const auto& n : fresh) {
                s.Bind(1, m_store.m_holder).Bind(2, n).Bind(3, WallClock() + kLeaseSeconds).Run();
                s.Reset();
            }
            tx.Commit();
        });
    } catch (...) {
        for (const auto& n : m_names)
            m_store.m_pins.erase(m_store.m_pins.find(n));
        throw;
    }
}

VersionStore::Pins::~Pins() {
    std::lock_guard lock(m_store.m_pieceMutex);
    std::vector<std::string> done;
    for (const auto& n : m_names) {
        m_store.m_pins.erase(m_store.m_pins.find(n));
        if (m_store.m_pins.count(n) == 0)
            done.push_back(n);
    }
    if (done.empty())
        return;
    try {
        m_store.m_pool.Run([&](Database& db) {
            Transaction tx(db);
            auto s = db.Prepare("DELETE FROM piece_leases WHERE holder = ?1 AND name = ?2");
            for (const auto& n : done) {
                s.Bind(1, m_store.m_holder).Bind(2, n).Run();
                s.Reset();
            }
            tx.Commit();
        });
    } catch (...) {
        // The rows lapse on their own once no longer refreshed.
    }
}

VersionStore::VersionStore(const std::string& target, PackageShelf& shelf, int keepVersions,
                           int poolSize)
    : m_shelf(shelf),
      m_keep(std::max(1, keepVersions)),
      m_holder(RandomHex(16)),
      m_pool(target, poolSize),
      m_hasher([this](const std::string& name) { return m_shelf.Open(name); }),
      m_refresher([this] { RefreshLeases(); }) {}

VersionStore::~VersionStore() {
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stop.notify_all();
    m_refresher.join();
    try {
        m_pool.Run([&](Database& db) {
            db.Prepare("DELETE FROM piece_leases WHERE holder = ?1").Bind(1, m_holder).Run();
        });
    } catch (...) {
        // They lapse.
    }
}

void VersionStore::RefreshLeases() {
    std::unique_lock lock(m_stopMutex);
    while (!m_stop.wait_for(lock, std::chrono::seconds(kLeaseSeconds / 3),
                            [&] { return m_stopping; })) {
        lock.unlock();
        try {
            m_pool.Run([&](Database& db) {
                db.Prepare("UPDATE piece_leases SET expires_at = ?2 WHERE holder = ?1")
                    .Bind(1, m_holder)
                    .Bind(2, WallClock() + kLeaseSeconds)
                    .Run();
            });
        } catch (...) {
            // The database is away; the next round tries again, well
            // before the leases lapse.
        }
        lock.lock();
    }
}

std::string VersionStore::PieceName(const std::string& memberId, const std::string& sha,
                                    bool shared) {
    return shared ? "s." + sha : "p." + Lower(memberId) + "." + sha;
}

bool VersionStore::PieceKnown(const std::string& name) {
    return m_pool.Run([&](Database& db) {
        auto s = db.Prepare("SELECT 1 FROM pieces WHERE name = ?1");
        s.Bind(1, name);
        return s.Step();
    });
}

bool VersionStore::PiecesKnown(const std::vector<PieceRef>& pieces) {
    return m_pool.Run([&](Database& db) {
        auto known = db.Prepare("SELECT 1 FROM pieces WHERE name = ?1");
        for (const auto& p : pieces) {
            known.Bind(1, p.name);
            if (!known.Step())
                return false;
            known.Reset();
        }
        return true;
    });
}

void VersionStore::PutPiece(IncomingFile file, const std::string& name) {
    // The flush runs outside the lock: it is the slow part.
    file.Flush();
    std::lock_guard lock(m_pieceMutex);
    if (PieceKnown(name))
        return;  // the same bytes arrived before; the temporary file goes
    const std::int64_t bytes = file.size();
    m_shelf.PlaceAs(std::move(file), name);
    CrashPoint("store.piece-placed");
    m_pool.Run([&](Database& db) {
        db.Prepare("INSERT INTO pieces (name, bytes) VALUES (?1, ?2) ON CONFLICT DO NOTHING")
            .Bind(1, name)
            .Bind(2, bytes)
            .Run();
    });
    m_hasher.Arrived(name);
}

std::optional<std::int64_t> VersionStore::AddVersion(const NewVersion& v) {
    const Manifest& m = v.manifest;
    return m_pool.Run([&](Database& db) -> std::optional<std::int64_t> {
        Transaction tx(db);
        auto member = db.Prepare("SELECT id FROM members WHERE id = ?1");
        member.Bind(1, v.memberId);
        if (!member.Step())
            throw std::runtime_error("member vanished: " + v.memberId);
        const std::string id = member.Text(0);
        member.Run();
        if (v.token) {
            // The upload ends here; a second commit of it (or one that expired
            // and was dropped) changes nothing.
            db.Prepare("DELETE FROM delta_uploads WHERE token = ?1 AND member_id = ?2")
                .Bind(1, *v.token)
                .Bind(2, id)
                .Run();
            if (db.Changes() != 1)
                return std::nullopt;
        }
        // Every piece must still be there: rows are only removed by collection,
        // which the caller's pins keep away.
        auto known = db.Prepare("SELECT bytes FROM pieces WHERE name = ?1");
        for (std::size_t i = 0; i < m.pieces.size(); ++i) {
            known.Bind(1, v.names[i]);
            if (!known.Step() || known.Int(0) != m.pieces[i].bytes)
                throw std::runtime_error("piece missing from the store: " + v.names[i]);
            known.Reset();
        }
        const int fileType = v.fileType;
        const std::int64_t now = v.savedAt;
        const std::string& manifestText = v.manifestText;
        auto insert = db.Prepare(
            "INSERT INTO versions (member_id, saved_at, file_type, package_bytes, package_sha, "
            "entries, unpacked, changed, computer, manifest) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) RETURNING id");
        insert.Bind(1, id)
            .Bind(2, now)
            .Bind(3, std::int64_t{fileType})
            .Bind(4, m.packageBytes)
            .Bind(5, m.packageSha)
            .Bind(6, m.entries)
            .Bind(7, m.unpackedBytes)
            .Bind(8, m.changed)
            .Bind(9, m.computer)
            .Bind(10, manifestText);
        const std::int64_t version = insert.Step() ? insert.Int(0) : 0;
        insert.Run();
        auto add = db.Prepare(
            "INSERT INTO version_pieces (version_id, seq, name, bytes) VALUES (?1, ?2, ?3, ?4)");
        for (std::size_t i = 0; i < m.pieces.size(); ++i) {
            add.Bind(1, version)
                .Bind(2, static_cast<std::int64_t>(i))
                .Bind(3, v.names[i])
                .Bind(4, m.pieces[i].bytes)
                .Run();
            add.Reset();
        }
        // The login reply reads these; they change with the version.
        db.Prepare(
              "UPDATE members SET package_name = ?2, file_size = ?3, file_type = ?4, saved_at = "
              "?5, "
              "package_sha256 = nullif(?6, ''), package_entries = ?7, package_bytes = ?8 "
              "WHERE id = ?1")
            .Bind(1, id)
            .Bind(2, "version " + std::to_string(version))
            .Bind(3, m.packageBytes)
            .Bind(4, std::int64_t{fileType})
            .Bind(5, now)
            .Bind(6, v.check.sha256)
            .Bind(7, v.check.entries)
            .Bind(8, v.check.bytes)
            .Run();
        db.Prepare(
              "DELETE FROM versions WHERE member_id = ?1 AND id NOT IN "
              "(SELECT id FROM versions WHERE member_id = ?1 ORDER BY id DESC LIMIT ?2)")
            .Bind(1, id)
            .Bind(2, std::int64_t{m_keep})
            .Run();
        CrashPoint("store.before-version-commit");
        tx.Commit();
        CrashPoint("store.version-committed");
        return version;
    });
}

std::optional<VersionStore::Stream> VersionStore::OpenVersion(const std::string& memberId, int n) {
    if (n < 1)
        return std::nullopt;
    Stream out;
    m_pool.Run([&](Database& db) {
        out.pieces.clear();
        out.size = 0;
        auto s = db.Prepare(
            "SELECT name, bytes FROM version_pieces WHERE version_id = (SELECT id FROM versions "
            "WHERE member_id = ?1 ORDER BY id DESC LIMIT 1 OFFSET ?2) ORDER BY seq");
        s.Bind(1, memberId).Bind(2, std::int64_t{n - 1});
        while (s.Step()) {
            out.pieces.push_back({s.Text(0), s.Int(1)});
            out.size += out.pieces.back().bytes;
        }
    });
    if (out.pieces.empty())
        return std::nullopt;
    std::vector<std::string> names;
    for (const auto& p : out.pieces)
        names.push_back(p.name);
    out.pins = std::make_shared<Pins>(*this, std::move(names));
    // Pinned only now: a collection between the look-up and the pins may
    // have taken a piece of a version that was just dropped. Look again.
    if (!PiecesKnown(out.pieces))
        return std::nullopt;
    // A file lost outside the service: better a clear refusal now than a
    // body cut short.
    for (const auto& p : out.pieces) {
        std::optional<StoredPackage> file = m_shelf.Open(p.name);
        if (!file || file->size != p.bytes)
            out.whole = false;
    }
    return out;
}

std::optional<std::string> VersionStore::ManifestText(const std::string& memberId, int n) {
    if (n < 1)
        return std::nullopt;
    return m_pool.Run([&](Database& db) -> std::optional<std::string> {
        auto s = db.Prepare(
            "SELECT manifest FROM versions WHERE member_id = ?1 ORDER BY id DESC LIMIT 1 "
            "OFFSET ?2");
        s.Bind(1, memberId).Bind(2, std::int64_t{n - 1});
        if (!s.Step())
            return std::nullopt;
        return s.Text(0);
    });
}

std::string VersionStore::VersionList(const std::string& memberId) {
    return m_pool.Run([&](Database& db) {
        auto s = db.Prepare(
            "SELECT saved_at, package_bytes, entries, changed, computer FROM versions "
            "WHERE member_id = ?1 ORDER BY id DESC");
        s.Bind(1, memberId);
        std::string out;
        for (int n = 1; s.Step(); ++n) {
            out += std::to_string(n) + "\t" + std::to_string(s.Int(0)) + "\t" +
                   std::to_string(s.Int(1)) + "\t" + std::to_string(s.Int(2)) + "\t" +
                   std::to_string(s.Int(3)) + "\t" + s.Text(4) + "\n";
        }
        return out;
    });
}

void VersionStore::StoreWhole(const std::string& memberId, IncomingFile file, int fileType,
                              std::int64_t now, const PackageCheckValues& check) {
    file.Flush();
    Manifest m;
    m.packageBytes = file.size();
    m.packageSha = file.Sha256();
    const GzipScan scan = ScanGzipMembers(file.fd(), file.size());
    if (scan.ok) {
        m.entries = scan.entries;
        m.unpackedBytes = scan.unpacked;
    }
    // The pieces are private: the service cannot tell which entries a
    // member lies in, so none is offered to other members.
    std::vector<IncomingFile> pieces;
    if (scan.ok && scan.ends.size() > 1) {
        std::int64_t start = 0;
        for (std::int64_t end : scan.ends) {
            pieces.push_back(m_shelf.CopyRange(file.fd(), start, end - start));
            start = end;
        }
    } else {
        pieces.push_back(std::move(file));
    }
    NewVersion v{memberId, m, {}, {}, fileType, now, nullptr, check};
    for (auto& p : pieces) {
        v.manifest.pieces.push_back({p.Sha256(), p.size(), false});
        v.names.push_back(PieceName(memberId, p.Sha256(), false));
    }
    v.manifestText = FormatManifest(v.manifest);
    // The pieces are listed as an open upload before the first is placed,
    // and the version ends that upload: collection by any process serving
    // the same store leaves listed pieces alone, where this process's pins
    // would keep only its own collections away.
    const std::string token = RandomHex(32);
    BeginUpload(memberId, v.manifest, v.manifestText, token, now + kWholeStoreSeconds, now);
    v.token = &token;
    Pins pins(*this, v.names);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        PutPiece(std::move(pieces[i]), v.names[i]);
    if (!AddVersion(v))
        throw std::runtime_error("newer saves of " + memberId + " replaced this one");
    Collect(now);
}

std::vector<std::string> VersionStore::BeginUpload(const std::string& memberId,
                                                   const Manifest& manifest,
                                                   const std::string& manifestText,
                                                   const std::string& token, std::int64_t expiresAt,
                                                   std::int64_t now) {
    std::vector<PieceRef> order;  // the manifest's pieces by stored name
    std::vector<std::string> missing = m_pool.Run([&](Database& db) {
        Transaction tx(db);
        db.Prepare("DELETE FROM delta_uploads WHERE expires_at <= ?1").Bind(1, now).Run();
        // A member has a few uploads open at most (several computers); an
        // older one beyond them is dropped and its commit will be refused.
        db.Prepare(
              "DELETE FROM delta_uploads WHERE member_id = ?1 AND token NOT IN (SELECT token FROM "
              "delta_uploads WHERE member_id = ?1 ORDER BY expires_at DESC LIMIT ?2)")
            .Bind(1, memberId)
            .Bind(2, std::int64_t{kOpenUploadsPerMember - 1})
            .Run();
        db.Prepare(
              "INSERT INTO delta_uploads (token, member_id, manifest, expires_at) "
              "VALUES (?1, (SELECT id FROM members WHERE id = ?2), ?3, ?4)")
            .Bind(1, token)
            .Bind(2, memberId)
            .Bind(3, manifestText)
            .Bind(4, expiresAt)
            .Run();
        auto add = db.Prepare(
            "INSERT INTO delta_upload_pieces (token, name, bytes) VALUES (?1, ?2, ?3) "
            "ON CONFLICT DO NOTHING");
        auto known = db.Prepare("SELECT 1 FROM pieces WHERE name = ?1");
        std::vector<std::string> missing;
        // The name each candidate resolved to: a piece listed twice is read
        // twice from the same file.
        std::unordered_map<std::string, std::string> seen;
        order.clear();
        auto held = [&](const std::string& name) {
            known.Bind(1, name);
            bool have = known.Step();
            known.Reset();
            if (have && !m_shelf.Open(name)) {
                // Its file was lost (placing adds a row only after its file,
                // collecting drops the row before the file): forget the row,
                // so that the piece is sent and placed again.
                db.Prepare("DELETE FROM pieces WHERE name = ?1").Bind(1, name).Run();
                have = false;
            }
            return have;
        };
        for (const auto& p : manifest.pieces) {
            const std::string candidate = PieceName(memberId, p.sha, p.shared);
            if (auto it = seen.find(candidate); it != seen.end()) {
                order.push_back({it->second, p.bytes});
                continue;
            }
            std::string name = candidate;
            bool have = held(name);
            if (!have && p.shared) {
                // The member's own private copy (a classic upload keeps every
                // piece private) serves as well: the upload, and the version
                // it makes, name that file. Only this member's pool is looked
                // at, so nothing is learnt about another member. A shared
                // piece never answers for a private one.
                const std::string own = PieceName(memberId, p.sha, false);
                if (held(own)) {
                    name = own;
                    have = true;
                }
            }
            add.Bind(1, token).Bind(2, name).Bind(3, p.bytes).Run();
            add.Reset();
            seen.emplace(candidate, name);
            order.push_back({name, p.bytes});
            if (!have && std::find(missing.begin(), missing.end(), p.sha) == missing.end())
                missing.push_back(p.sha);
        }
        tx.Commit();
        return missing;
    });
    m_hasher.Begin(token, std::move(order), expiresAt, now);
    return missing;
}

std::optional<VersionStore::PieceRef> VersionStore::UploadPiece(const std::string& memberId,
                                                                const std::string& token,
                                                                const std::string& sha,
                                                                std::int64_t now) {
    return m_pool.Run([&](Database& db) -> std::optional<PieceRef> {
        auto s = db.Prepare(
            "SELECT p.name, p.bytes FROM delta_upload_pieces p JOIN delta_uploads u ON u.token = "
            "p.token WHERE u.token = ?1 AND u.member_id = ?2 AND u.expires_at > ?3 AND p.name IN "
            "(?4, ?5) ORDER BY p.name");
        s.Bind(1, token)
            .Bind(2, memberId)
            .Bind(3, now)
            .Bind(4, PieceName(memberId, sha, false))
            .Bind(5, PieceName(memberId, sha, true));
        if (!s.Step())
            return std::nullopt;
        return PieceRef{s.Text(0), s.Int(1)};
    });
}

VersionStore::CommitResult VersionStore::Commit(const std::string& memberId,
                                                const std::string& token, int fileType,
                                                std::int64_t now) {
    std::string text;
    int previousType = 1;
    std::unordered_set<std::string> uploadNames;  // as BeginUpload chose them
    const bool open = m_pool.Run([&](Database& db) {
        auto s = db.Prepare(
            "SELECT manifest FROM delta_uploads WHERE token = ?1 AND member_id = ?2 AND "
            "expires_at > ?3");
        s.Bind(1, token).Bind(2, memberId).Bind(3, now);
        if (!s.Step())
            return false;
        text = s.Text(0);
        s.Run();
        auto names = db.Prepare("SELECT name FROM delta_upload_pieces WHERE token = ?1");
        names.Bind(1, token);
        uploadNames.clear();
        while (names.Step())
            uploadNames.insert(names.Text(0));
        auto t = db.Prepare(
            "SELECT file_type FROM versions WHERE member_id = ?1 ORDER BY id DESC LIMIT 1");
        t.Bind(1, memberId);
        if (t.Step())
            previousType = static_cast<int>(t.Int(0));
        return true;
    });
    if (!open)
        return CommitResult::UnknownUpload;
    std::string error;
    std::optional<Manifest> m = ParseManifest(text, error);
    if (!m)
        return CommitResult::Mismatch;  // kept only after it parsed; cannot happen
    NewVersion v{memberId, std::move(*m), text, {}, fileType > 0 ? fileType : previousType,
                 now,      &token,        {}};
    std::vector<PieceRef> refs;
    for (const auto& p : v.manifest.pieces) {
        std::string name = PieceName(memberId, p.sha, p.shared);
        if (p.shared && uploadNames.count(name) == 0) {
            std::string own = PieceName(memberId, p.sha, false);
            if (uploadNames.count(own) != 0)
                name = std::move(own);
        }
        v.names.push_back(std::move(name));
        refs.push_back({v.names.back(), p.bytes});
    }
    Pins pins(*this, v.names);
    if (!PiecesKnown(refs))
        return CommitResult::PieceMissing;
    if (!m_hasher.Check(token, refs, v.manifest.packageBytes, v.manifest.packageSha)) {
        // The pieces are what their hashes say, so the manifest lied about
        // the whole: the upload cannot succeed and ends here.
        m_pool.Run([&](Database& db) {
            db.Prepare("DELETE FROM delta_uploads WHERE token = ?1").Bind(1, token).Run();
        });
        return CommitResult::Mismatch;
    }
    if (!AddVersion(v))
        return CommitResult::UnknownUpload;
    Collect(now);
    return CommitResult::Ok;
}

std::optional<StoredPackage> VersionStore::OpenMemberPiece(const std::string& memberId,
                                                           const std::string& sha) {
    for (bool shared : {false, true}) {
        const std::string name = PieceName(memberId, sha, shared);
        // Opened under the lock that collection takes, so a row seen here
        // still has its file.
        std::lock_guard lock(m_pieceMutex);
        if (!PieceKnown(name))
            continue;
        if (auto file = m_shelf.Open(name))
            return file;
    }
    return std::nullopt;
}

int VersionStore::Collect(std::int64_t now) {
    std::lock_guard lock(m_pieceMutex);
    std::vector<std::string> doomed;
    const std::int64_t clock = WallClock();
    m_pool.Run([&](Database& db) {
        doomed.clear();
        Transaction tx(db);
        db.Prepare("DELETE FROM delta_uploads WHERE expires_at <= ?1").Bind(1, now).Run();
        db.Prepare("DELETE FROM piece_leases WHERE expires_at <= ?1").Bind(1, clock).Run();
        // Leases of every instance count, this one's included; its pins in
        // memory too, should a caller's clock run ahead of the leases.
        auto s = db.Prepare(
            "SELECT name FROM pieces WHERE NOT EXISTS (SELECT 1 FROM version_pieces v WHERE "
            "v.name = pieces.name) AND NOT EXISTS (SELECT 1 FROM delta_upload_pieces d WHERE "
            "d.name = pieces.name) AND NOT EXISTS (SELECT 1 FROM piece_leases l WHERE "
            "l.name = pieces.name)");
        while (s.Step()) {
            std::string name = s.Text(0);
            if (m_pins.count(name) == 0)
                doomed.push_back(std::move(name));
        }
        auto drop = db.Prepare("DELETE FROM pieces WHERE name = ?1");
        for (const auto& name : doomed) {
            drop.Bind(1, name).Run();
            drop.Reset();
        }
        tx.Commit();
    });
    // A crash from here on leaves files without rows, removed at the next
    // start.
    CrashPoint("store.collect-rows-dropped");
    // Another instance may have taken a doomed piece up again since the
    // rows went: it leases a piece before it looks for it, and places the
    // file before its row. Its file stays.
    std::vector<std::string> taken;
    m_pool.Run([&](Database& db) {
        taken.clear();
        auto s = db.Prepare(
            "SELECT 1 FROM pieces WHERE name = ?1 UNION ALL SELECT 1 FROM piece_leases WHERE "
            "name = ?1 AND expires_at > ?2");
        for (const auto& name : doomed) {
            s.Bind(1, name).Bind(2, WallClock());
            if (s.Step())
                taken.push_back(name);
            s.Reset();
        }
    });
    for (const auto& name : doomed)
        if (std::find(taken.begin(), taken.end(), name) == taken.end())
            m_shelf.Remove(name);
    return static_cast<int>(doomed.size() - taken.size());
}

void VersionStore::Recover(std::int64_t now, bool sweepFiles) {
    // A file of schema 1 named one package per member. Each becomes the
    // member's first version, its file a piece under its old name: one
    // transaction per member, so a crash leaves it to be done again.
    struct Legacy {
        std::string id, name;
        std::int64_t fileType = 1, savedAt = 0;
    };
    std::vector<Legacy> legacy;
    m_pool.Run([&](Database& db) {
        legacy.clear();
        auto s = db.Prepare(
            "SELECT id, package_name, file_type, coalesce(saved_at, 0) FROM members WHERE "
            "package_name IS NOT NULL AND package_name != '' AND NOT EXISTS (SELECT 1 FROM "
            "versions WHERE versions.member_id = members.id)");
        while (s.Step())
            legacy.push_back({s.Text(0), s.Text(1), s.Int(2), s.Int(3)});
    });
    for (const auto& l : legacy) {
        std::optional<StoredPackage> file = m_shelf.Open(l.name);
        if (!file)
            continue;  // it was never there: the member has nothing to download
        Sha256Stream hash;
        std::vector<char> buf(256 * 1024);
        while (const std::size_t n = file->reader->Read(buf.data(), buf.size()))
            hash.Update(buf.data(), n);
        NewVersion v{l.id, {}, {}, {l.name}, static_cast<int>(l.fileType), l.savedAt, nullptr, {}};
        v.manifest.packageBytes = file->size;
        v.manifest.packageSha = hash.Hex();
        const GzipScan scan = ScanGzipMembers(*file->reader);
        if (scan.ok) {
            v.manifest.entries = scan.entries;
            v.manifest.unpackedBytes = scan.unpacked;
        }
        v.manifest.pieces.push_back({v.manifest.packageSha, file->size, false});
        v.manifestText = FormatManifest(v.manifest);
        m_pool.Run([&](Database& db) {
            db.Prepare("INSERT INTO pieces (name, bytes) VALUES (?1, ?2) ON CONFLICT DO NOTHING")
                .Bind(1, l.name)
                .Bind(2, file->size)
                .Run();
        });
        AddVersion(v);
    }
    // Files without a row: pieces placed by a store that died before its
    // row, and leftovers of older versions of this program.
    // A piece an open upload lists or a lease holds may be on its way in
    // through another instance (its file placed, its row not yet written):
    // only files nothing names are leftovers.
    if (sweepFiles) {
        std::unordered_set<std::string> rows;
        m_pool.Run([&](Database& db) {
            rows.clear();
            auto s = db.Prepare(
                "SELECT name FROM pieces UNION SELECT name FROM delta_upload_pieces UNION "
                "SELECT name FROM piece_leases WHERE expires_at > ?1");
            s.Bind(1, WallClock());
            while (s.Step())
                rows.insert(s.Text(0));
        });
        for (const auto& name : m_shelf.Names())
            if (rows.count(name) == 0)
                m_shelf.Remove(name);
    }
    Collect(now);
}

}  // namespace skiv::server

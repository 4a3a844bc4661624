#include "archive/piece_package.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "archive/gzip_member.h"
#include "archive/piece_cache.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/sha256.h"

namespace skiv {

namespace {

bool IsShared(const std::string& path) {
    return path.rfind("Interface/AddOns/", 0) == 0;
}

// FNV-1a of a path: where a piece may end is decided by the names it holds,
// so a file that grows or shrinks moves the boundaries near it only.
std::uint32_t NameHash(const std::string& s) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s)
        h = (h ^ c) * 16777619u;
    return h;
}

// Fills the span's modification time and, where kept, its change stamp.
void StampOf(PieceSpan& span) {
    if (auto stamp = fs::StampOf(span.source)) {
        span.mtime = stamp->modified;
        span.changed = stamp->changed;
        span.inode = stamp->identity;
    }
}

// True when the spans' files are known unchanged from their stamps alone.
bool StampsVouch(const Piece& piece) {
    return std::all_of(piece.spans.begin(), piece.spans.end(),
                       [](const PieceSpan& s) { return s.changed != kUnknownTime; });
}

// Reads the piece's archive bytes into raw: each run from its file, cut or
// completed with zeros to the length the table promised.
void ReadRaw(const Piece& piece, std::vector<std::uint8_t>& raw) {
    raw.assign(static_cast<std::size_t>(piece.rawBytes), 0);
    std::size_t at = 0;
    for (const PieceSpan& span : piece.spans) {
        if (auto in = fs::OpenRegularRead(span.source)) {
            if (span.offset == 0 || ::fseeko(in.get(), span.offset, SEEK_SET) == 0)
                std::fread(raw.data() + at, 1, static_cast<std::size_t>(span.length), in.get());
        }
        at += static_cast<std::size_t>(span.length);
    }
}

// A piece's bytes taken from the cached package when its runs are what that
// piece was made of, and its bytes what the cache recorded (CRC-32 of the
// compressed bytes: the cache guards against accidents, not against its own
// user, so the recorded SHA-256 need not be computed again); empty
// otherwise, else *sha is the recorded hash. raw, the runs' current bytes, is
// read (and checked against the piece's CRC-32) only where the stamps cannot
// vouch for the files. bytes is a recycled buffer: it is only grown, so
// that most pieces cost neither an allocation nor clearing.
bool FromCache(const Piece& planned, std::vector<std::uint8_t>& raw, const PieceCache& cache,
               fs::UniqueFile& cached, std::vector<std::uint8_t>& bytes, std::string* sha) {
    const Piece* old = cache.FindSame(planned);
    if (!old || old->bytes < 18)
        return false;
    if (!cached)
        cached = fs::OpenRegularRead(cache.PackagePath());
    const auto size = static_cast<std::size_t>(old->bytes);
    if (bytes.size() < size)
        bytes.resize(size);
    if (!cached || ::fseeko(cached.get(), old->offset, SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, size, cached.get()) != size) {
        return false;
    }
    bytes.resize(size);
    std::uint32_t crc = 0, length = 0;
    if (!MemberTrailer(bytes.data(), bytes.size(), crc, length) ||
        length != static_cast<std::uint32_t>(planned.rawBytes) ||
        GzipCrc32(bytes.data(), bytes.size()) != old->crc32) {
        return false;
    }
    if (!StampsVouch(planned)) {
        ReadRaw(planned, raw);
        if (crc != GzipCrc32(raw.data(), raw.size()))
            return false;
    }
    *sha = old->sha256;
    return true;
}

}  // namespace

bool MemberTrailer(const std::uint8_t* bytes, std::size_t size, std::uint32_t& crc,
                   std::uint32_t& length) {
    if (size < 18)
        return false;
    const std::uint8_t* t = bytes + size - 8;
    crc = std::uint32_t(t[0]) | std::uint32_t(t[1]) << 8 | std::uint32_t(t[2]) << 16 |
          std::uint32_t(t[3]) << 24;
    length = std::uint32_t(t[4]) | std::uint32_t(t[5]) << 8 | std::uint32_t(t[6]) << 16 |
             std::uint32_t(t[7]) << 24;
    return true;
}

PackagePlan PlanPackage(const ArchiveWriter& archive, std::int64_t target) {
    return PlanPackage(archive.Header(), archive.Entries(), target);
}

PackagePlan PlanPackage(const TarHeader& header, const std::vector<TarEntry>& entries,
                        std::int64_t target) {
    PackagePlan plan;
    auto head = EncodeHeader(header);
    // Up to 8 MB at 10,240 entries: grown step by step it would be copied
    // (and its new pages faulted in) a dozen times over.
    plan.table.reserve(head.size() + kTarEntrySize * entries.size());
    plan.table.assign(head.begin(), head.end());
    std::int64_t offset = kTarHeaderSize + std::int64_t(kTarEntrySize) * entries.size();
    for (TarEntry e : entries) {
        e.dataOffset = static_cast<std::int32_t>(offset);
        auto rec = EncodeEntry(e);
        plan.table.insert(plan.table.end(), rec.begin(), rec.end());
        offset += e.dataSize;
    }
    plan.archiveBytes = offset;
    plan.files = static_cast<int>(entries.size());
    Piece table;
    table.rawBytes = static_cast<std::int64_t>(plan.table.size());
    plan.pieces.push_back(std::move(table));

    Piece cur;
    auto flush = [&] {
        if (!cur.spans.empty())
            plan.pieces.push_back(std::move(cur));
        cur = Piece{};
    };
    for (const TarEntry& e : entries) {
        PieceSpan span;
        span.path = e.folder + e.fileName;
        span.source = e.sourceFolder + e.fileName;
        span.fileSize = e.dataSize;
        if (e.mtime != kUnknownTime) {
            span.mtime = e.mtime;
            span.changed = e.changed;
            span.inode = e.inode;
        } else {
            StampOf(span);
        }
        span.length = e.dataSize;
        const bool shared = IsShared(span.path);
        if (!cur.spans.empty() && cur.shared != shared)
            flush();
        if (span.fileSize >= target) {
            // A large file starts its own pieces, so its runs stay put
            // whatever happens around it.
            flush();
            for (std::int64_t at = 0; at < span.fileSize; at += target) {
                Piece p;
                p.shared = shared;
                PieceSpan part = span;
                part.offset = at;
                part.length = std::min(target, span.fileSize - at);
                p.rawBytes = part.length;
                p.spans.push_back(std::move(part));
                plan.pieces.push_back(std::move(p));
            }
            continue;
        }
        if (!cur.spans.empty() && cur.rawBytes + span.length > target)
            flush();
        cur.shared = shared;
        cur.rawBytes += span.length;
        const bool cut = cur.rawBytes >= target / 4 && NameHash(span.path) % 4 == 0;
        cur.spans.push_back(std::move(span));
        if (cut)
            flush();
    }
    flush();
    return plan;
}

ResultCode WritePackage(PackagePlan& plan, const std::string& target, const PieceCache* cache,
                        PackageResult& out, LogSink& log) {
    auto file = fs::NoShareFile::CreateNew(target);
    if (!file) {
        log.Write("[CompressFile]gzopen Fail");
        return ResultCode::CannotOpenGzip;
    }
    const std::size_t count = plan.pieces.size();
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    // Pieces compressed but not yet written: bounded, so memory stays flat.
    const std::size_t window = 2 * threads + 2;

    struct Slot {
        std::vector<std::uint8_t> bytes;
        bool done = false;
        bool reused = false;
    };
    std::vector<Slot> slots(count);
    std::mutex mu;
    std::condition_variable workCv, doneCv;
    std::size_t next = 0, written = 0;
    // Buffers of written pieces, handed back to the workers: a fresh buffer
    // for each of thousands of pieces would be mapped, faulted in and
    // cleared every time.
    std::vector<std::vector<std::uint8_t>> spare;
    bool stop = false, allocFailed = false;

    auto worker = [&] {
        GzipMemberCompressor comp(kPieceLevel);
        fs::UniqueFile cached;
        std::vector<std::uint8_t> raw, bytes;
        for (;;) {
            std::size_t i;
            {
                std::unique_lock lock(mu);
                workCv.wait(lock, [&] { return stop || next >= count || next < written + window; });
                if (stop || next >= count)
                    return;
                i = next++;
                if (!spare.empty()) {
                    bytes = std::move(spare.back());
                    spare.pop_back();
                }
            }
            Piece& piece = plan.pieces[i];
            std::string sha;
            bool reused = false;
            // The table is compressed where it lies (up to 8 MB at 10,240
            // entries), not copied.
            const std::vector<std::uint8_t>& in = i == 0 ? plan.table : raw;
            if (i != 0) {
                raw.clear();
                if (cache)
                    reused = FromCache(piece, raw, *cache, cached, bytes, &sha);
                if (!reused && raw.size() != static_cast<std::size_t>(piece.rawBytes))
                    ReadRaw(piece, raw);
            }
            if (!reused) {
                bytes = comp.Compress(in.data(), in.size());
                sha = Sha256::HexOf(bytes.data(), bytes.size());
            }
            const std::uint32_t crc = GzipCrc32(bytes.data(), bytes.size());
            std::lock_guard lock(mu);
            if (bytes.empty()) {
                allocFailed = stop = true;
                workCv.notify_all();
            }
            piece.sha256 = std::move(sha);
            piece.crc32 = crc;
            piece.bytes = static_cast<std::int64_t>(bytes.size());
            piece.reused = reused;
            slots[i].bytes = std::move(bytes);
            bytes = {};
            slots[i].reused = reused;
            slots[i].done = true;
            doneCv.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(worker);

    ResultCode result = ResultCode::Ok;
    Sha256 whole;
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<std::uint8_t> bytes;
        {
            std::unique_lock lock(mu);
            doneCv.wait(lock, [&] { return slots[i].done || allocFailed; });
            if (!slots[i].done || slots[i].bytes.empty()) {
                result = ResultCode::AllocFailed;
                break;
            }
            bytes = std::move(slots[i].bytes);
            slots[i].bytes = {};
        }
        if (!file->WriteAll(bytes.data(), bytes.size())) {
            log.Write("[CompressFile]gzwrite Fail");
            result = ResultCode::GzWriteFailed;
            break;
        }
        whole.Update(bytes.data(), bytes.size());
        plan.pieces[i].offset = offset;
        offset += static_cast<std::int64_t>(bytes.size());
        (slots[i].reused ? out.reused : out.compressed)++;
        CrashPoint("compress.chunk");
        std::lock_guard lock(mu);
        spare.push_back(std::move(bytes));
        ++written;
        workCv.notify_all();
    }
    {
        std::lock_guard lock(mu);
        stop = true;
        workCv.notify_all();
    }
    for (auto& t : pool)
        t.join();
    if (result == ResultCode::AllocFailed)
        log.Write("[CompressFile]Mem Alloc Fail");
    file->Close();
    out.bytes = offset;
    out.sha256 = Sha256::Hex(whole.Finish());
    return result;
}

}  // namespace skiv

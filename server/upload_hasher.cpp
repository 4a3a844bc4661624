#include "upload_hasher.h"

#include <algorithm>
#include <atomic>

namespace skiv::server {

struct UploadHasher::Upload {
    std::vector<Piece> pieces;
    std::int64_t expiresAt = 0;
    std::atomic<bool> claimed{false};  // a commit took it over
    // Held while the upload is hashed: the background thread and the
    // commit take turns.
    std::mutex work;
    Sha256Stream hash;
    std::size_t next = 0;  // first piece not hashed yet
    std::int64_t total = 0;
    bool bad = false;        // a piece was short or damaged: the check fails
    bool broken = false;     // a read failed in the background: hash afresh
    std::string waitingFor;  // guarded by the hasher's m_mutex
};

UploadHasher::UploadHasher(Opener open, std::size_t maxUploads)
    : m_open(std::move(open)),
      m_max(std::max<std::size_t>(1, maxUploads)),
      m_thread([this] { Run(); }) {}

UploadHasher::~UploadHasher() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (auto& [token, upload] : m_uploads)
            upload->claimed = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void UploadHasher::Begin(const std::string& token, std::vector<Piece> pieces,
                         std::int64_t expiresAt, std::int64_t now) {
    auto upload = std::make_shared<Upload>();
    upload->pieces = std::move(pieces);
    upload->expiresAt = expiresAt;
    {
        std::lock_guard lock(m_mutex);
        auto drop = [&](const std::string& t) {
            auto it = m_uploads.find(t);
            if (it == m_uploads.end())
                return;
            it->second->claimed = true;
            m_uploads.erase(it);
        };
        m_order.erase(std::remove_if(m_order.begin(), m_order.end(),
                                     [&](const std::string& t) {
                                         auto it = m_uploads.find(t);
                                         if (it != m_uploads.end() && it->second->expiresAt > now)
                                             return false;
                                         drop(t);
                                         return true;
                                     }),
                      m_order.end());
        while (m_order.size() >= m_max) {
            drop(m_order.front());
            m_order.pop_front();
        }
        m_uploads[token] = std::move(upload);
        m_order.push_back(token);
        m_queue.push_back(token);
    }
    m_wake.notify_one();
}

void UploadHasher::Arrived(const std::string& name) {
    bool queued = false;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [token, upload] : m_uploads) {
            if (upload->waitingFor == name) {
                upload->waitingFor.clear();
                m_queue.push_back(token);
                queued = true;
            }
        }
    }
    if (queued)
        m_wake.notify_one();
}

UploadHasher::Step UploadHasher::Advance(Upload& u, const std::function<bool()>& stop) {
    std::vector<char> buf(256 * 1024);
    while (u.next < u.pieces.size()) {
        if (stop())
            return Step::Absent;
        const Piece& piece = u.pieces[u.next];
        std::optional<StoredPackage> file = m_open(piece.name);
        if (!file)
            return Step::Absent;
        if (file->size != piece.bytes)
            return Step::Bad;
        std::int64_t read = 0;
        try {
            while (const std::size_t n = file->reader->Read(buf.data(), buf.size())) {
                u.hash.Update(buf.data(), n);
                read += static_cast<std::int64_t>(n);
            }
        } catch (const PieceError& e) {
            if (e.kind() == PieceError::Kind::Damaged)
                return Step::Bad;
            throw;
        }
        u.total += read;
        ++u.next;
    }
    return Step::Done;
}

void UploadHasher::Run() {
    for (;;) {
        std::shared_ptr<Upload> upload;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            auto it = m_uploads.find(m_queue.front());
            m_queue.pop_front();
            if (it == m_uploads.end())
                continue;
            upload = it->second;
        }
        std::lock_guard work(upload->work);
        if (upload->bad || upload->broken)
            continue;
        auto stop = [&] { return upload->claimed.load(); };
        for (;;) {
            Step step;
            try {
                step = Advance(*upload, stop);
            } catch (...) {
                upload->broken = true;
                break;
            }
            if (step == Step::Bad)
                upload->bad = true;
            if (step != Step::Absent || stop())
                break;
            // Wait for the piece, unless it was placed between the look
            // and now (its Arrived() came before waitingFor was set).
            {
                std::lock_guard lock(m_mutex);
                upload->waitingFor = upload->pieces[upload->next].name;
            }
            if (!m_open(upload->pieces[upload->next].name))
                break;
            std::lock_guard lock(m_mutex);
            upload->waitingFor.clear();
        }
    }
}

bool UploadHasher::Check(const std::string& token, const std::vector<Piece>& pieces,
                         std::int64_t packageBytes, const std::string& packageSha) {
    std::shared_ptr<Upload> upload;
    {
        std::lock_guard lock(m_mutex);
        if (auto it = m_uploads.find(token); it != m_uploads.end()) {
            upload = std::move(it->second);
            upload->claimed = true;
            m_uploads.erase(it);
            m_order.erase(std::find(m_order.begin(), m_order.end(), token));
        }
    }
    // Waits for the background thread to stop between two pieces.
    std::unique_lock<std::mutex> work;
    if (upload)
        work = std::unique_lock(upload->work);
    Upload fresh;
    Upload* u = upload.get();
    if (!u || u->broken || u->pieces != pieces) {
        fresh.pieces = pieces;
        u = &fresh;
    }
    if (u->bad || Advance(*u, [] { return false; }) != Step::Done)
        return false;
    return u->total == packageBytes && u->hash.Hex() == packageSha;
}

std::size_t UploadHasher::Tracked() {
    std::lock_guard lock(m_mutex);
    return m_uploads.size();
}

}  // namespace skiv::server

#include "upload_gate.h"

#include <sys/statvfs.h>

#include <charconv>
#include <cstdint>
#include <utility>

#include "package_shelf.h"
#include "secrets.h"

namespace skiv::server {

namespace {

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

UploadGate::UploadGate(std::string secret, const PackageShelf& shelf, StorageLimits limits)
    : m_secret(std::move(secret)), m_shelf(shelf), m_limits(limits) {}

std::string UploadGate::Mac(const std::string& memberId, std::int64_t expires) const {
    // Member IDs compare without regard to ASCII case everywhere.
    return MacHex(m_secret, "upload-pass|" + AsciiLower(memberId) + "|" + std::to_string(expires));
}

std::string UploadGate::Issue(const std::string& memberId, std::int64_t expires) const {
    return memberId + "." + std::to_string(expires) + "." + Mac(memberId, expires);
}

std::optional<std::string> UploadGate::Check(std::string_view pass, std::int64_t now) const {
    const std::size_t mac = pass.rfind('.');
    if (mac == std::string_view::npos || mac == 0)
        return std::nullopt;
    const std::size_t stamp = pass.rfind('.', mac - 1);
    if (stamp == std::string_view::npos || stamp == 0)
        return std::nullopt;
    std::int64_t expires = 0;
    const char* first = pass.data() + stamp + 1;
    const char* last = pass.data() + mac;
    auto [end, ec] = std::from_chars(first, last, expires);
    if (ec != std::errc() || end != last || expires < now)
        return std::nullopt;
    std::string id(pass.substr(0, stamp));
    if (!ConstantTimeEqual(pass.substr(mac + 1), Mac(id, expires)))
        return std::nullopt;
    return id;
}

UploadGate::Refusal UploadGate::Admit(std::int64_t bytes, Reservation& out) {
    out.Release();
    // Read outside the lock: both walk or ask the file system.
    struct statvfs fs {};
    std::int64_t freeBytes = INT64_MAX;
    if (::statvfs(m_shelf.folder().c_str(), &fs) == 0)
        freeBytes = static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
    const std::int64_t stored = m_limits.quotaBytes > 0 ? m_shelf.StoredBytes() : 0;

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_inFlight + bytes > m_limits.inFlightBytes)
        return Refusal::Budget;
    // Bytes reserved by others may not be on disk yet; count them as spent.
    if (freeBytes - m_inFlight - bytes < m_limits.minFreeBytes)
        return Refusal::FreeSpace;
    if (m_limits.quotaBytes > 0 && stored + m_inFlight + bytes > m_limits.quotaBytes)
        return Refusal::Quota;
    m_inFlight += bytes;
    out.m_gate = this;
    out.m_bytes = bytes;
    return Refusal::None;
}

std::int64_t UploadGate::InFlight() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inFlight;
}

const char* UploadGate::Describe(Refusal r) {
    switch (r) {
        case Refusal::None:
            return "admitted";
        case Refusal::Budget:
            return "upload budget in use";
        case Refusal::FreeSpace:
            return "free space below the floor";
        case Refusal::Quota:
            return "storage quota reached";
    }
    return "refused";
}

UploadGate::Reservation::Reservation(Reservation&& other) noexcept
    : m_gate(std::exchange(other.m_gate, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)) {}

UploadGate::Reservation& UploadGate::Reservation::operator=(Reservation&& other) noexcept {
    if (this != &other) {
        Release();
        m_gate = std::exchange(other.m_gate, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

UploadGate::Reservation::~Reservation() {
    Release();
}

void UploadGate::Reservation::Release() noexcept {
    if (!m_gate)
        return;
    std::lock_guard<std::mutex> lock(m_gate->m_mutex);
    m_gate->m_inFlight -= m_bytes;
    m_gate = nullptr;
    m_bytes = 0;
}

}  // namespace skiv::server

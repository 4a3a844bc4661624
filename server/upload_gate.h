#pragma once
// Admission of uploads before a byte of them reaches disk.
//
// Passes: the upload address a login hands out carries a pass
// ("?k=ID.EXPIRY.MAC") that names the member and is MACed under a service
// secret. The client's multipart body puts the file part before the member
// ID and key, so the key itself can only be checked once the file has
// arrived; the pass is what lets the front refuse an upload from someone
// who never logged in at the request head, before it opens a temporary
// file. The key check at the end still decides whether the package is
// stored; the pass only decides whether the bytes may touch the disk.
//
// Space: a global budget for bytes being received, a floor of free space
// on the shelf's file system, and an optional quota on everything stored
// plus everything being received. An upload is admitted with the bytes it
// may write reserved against all three until its Reservation ends.
//
// Threads: every member is safe to call from any thread.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace skiv::server {

class PackageShelf;

struct StorageLimits {
    std::int64_t inFlightBytes = 512ll << 20;  // all uploads being received at once
    std::int64_t minFreeBytes = 256ll << 20;   // left free on the shelf's file system
    std::int64_t quotaBytes = 0;               // stored plus in flight; 0 = no quota
};

class UploadGate {
public:
    UploadGate(std::string secret, const PackageShelf& shelf, StorageLimits limits);

    // The pass for `memberId`, valid until `expires` (Unix seconds).
    std::string Issue(const std::string& memberId, std::int64_t expires) const;
    // The member a pass was issued to, when it is genuine and not expired.
    std::optional<std::string> Check(std::string_view pass, std::int64_t now) const;

    enum class Refusal { None, Budget, FreeSpace, Quota };
    class Reservation {
    public:
        Reservation() = default;
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&& other) noexcept;
        ~Reservation();
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;

    private:
        friend class UploadGate;
        void Release() noexcept;
        UploadGate* m_gate = nullptr;
        std::int64_t m_bytes = 0;
    };
    // Reserves `bytes` for one upload, or names the limit that refuses it.
    Refusal Admit(std::int64_t bytes, Reservation& out);

    std::int64_t InFlight() const;
    static const char* Describe(Refusal r);

private:
    std::string Mac(const std::string& memberId, std::int64_t expires) const;

    const std::string m_secret;
    const PackageShelf& m_shelf;
    const StorageLimits m_limits;
    mutable std::mutex m_mutex;
    std::int64_t m_inFlight = 0;
};

}  // namespace skiv::server

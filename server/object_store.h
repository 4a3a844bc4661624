#pragma once
// A bucket of an S3-compatible object store, spoken to directly over
// libcurl with Signature V4 (path-style addressing, one region). Bodies are
// never held whole: uploads stream from a local file (multipart above a
// threshold, aborted when a part fails), downloads fill the caller's buffer
// from a byte range.
//
// Errors (the store unreachable, a timeout, an error status) throw
// ObjectStoreError with the store's own words where it gave them.
//
// Thread safety: every call is safe from any thread; each thread keeps its
// own connection.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace skiv::server {

class ObjectStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ObjectStoreLocation {
    std::string bucket;
    std::string endpoint;  // http(s)://host[:port], no trailing slash
    std::string region;
};

// "s3://BUCKET?endpoint=URL&region=NAME"; nullopt with `error` set otherwise.
std::optional<ObjectStoreLocation> ParseObjectStoreUrl(const std::string& url, std::string& error);

struct ObjectStoreKeys {
    std::string access;
    std::string secret;
};

// The keys from `keyFile` (lines access_key=... and secret_key=...),
// refused unless only its owner may read it; with no file, from the
// environment (SKIVADDON_S3_ACCESS_KEY, SKIVADDON_S3_SECRET_KEY). nullopt
// with `error` set when they cannot be had.
std::optional<ObjectStoreKeys> LoadObjectStoreKeys(const std::string& keyFile, std::string& error);

struct ObjectStoreLimits {
    std::int64_t multipartAbove = 16ll << 20;  // larger files go up in parts
    std::int64_t partBytes = 8ll << 20;        // at least 5 MiB, as S3 requires
    long connectSeconds = 5;
    long stallSeconds = 30;  // a transfer moving under 1 KiB/s this long fails
};

class ObjectStore {
public:
    ObjectStore(ObjectStoreLocation where, ObjectStoreKeys keys, ObjectStoreLimits limits = {});

    // Uploads `size` bytes of the file at `path` as `key`, replacing any
    // object of that name. `sha256` (hex) is the file's hash; the store
    // checks it for a single upload. Throws ObjectStoreError.
    void Put(const std::string& key, const std::string& path, std::int64_t size,
             const std::string& sha256);
    // The object's size; nullopt when there is none. Throws ObjectStoreError.
    std::optional<std::int64_t> Size(const std::string& key);
    // Up to `size` bytes of the object from `offset` into `out`; returns how
    // many (0 past its end). Throws ObjectStoreError (also when it is gone).
    std::size_t Read(const std::string& key, std::int64_t offset, char* out, std::size_t size);
    // Deletes the object; a missing one is fine. Throws ObjectStoreError.
    void Remove(const std::string& key);
    struct Entry {
        std::string key;
        std::int64_t size = 0;
    };
    // Every object of the bucket. Throws ObjectStoreError.
    std::vector<Entry> List();

    const ObjectStoreLocation& where() const { return m_where; }

    struct Request;  // one signed exchange (object_store.cpp)

private:
    void PutWhole(const std::string& key, int fd, std::int64_t size, const std::string& sha256);
    void PutParts(const std::string& key, int fd, std::int64_t size);

    ObjectStoreLocation m_where;
    ObjectStoreKeys m_keys;
    ObjectStoreLimits m_limits;
    std::string m_host;  // the Host header: host[:port]
};

}  // namespace skiv::server

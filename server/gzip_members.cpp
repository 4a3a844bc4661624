#include "gzip_members.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "package_shelf.h"

namespace skiv::server {

namespace {

// Walks tar headers over the inflated bytes as they come.
class TarCounter {
public:
    void Feed(const unsigned char* data, std::size_t n) {
        while (n > 0 && !m_ended) {
            if (m_skip > 0) {
                const std::size_t k = static_cast<std::size_t>(
                    std::min<std::int64_t>(m_skip, static_cast<std::int64_t>(n)));
                m_skip -= static_cast<std::int64_t>(k);
                data += k;
                n -= k;
                continue;
            }
            const std::size_t k = std::min(n, sizeof m_head - m_have);
            std::memcpy(m_head + m_have, data, k);
            m_have += k;
            data += k;
            n -= k;
            if (m_have == sizeof m_head)
                Header();
        }
    }
    bool valid() const { return m_valid; }
    std::int64_t entries() const { return m_entries; }
    std::int64_t unpacked() const { return m_unpacked; }

private:
    void Header() {
        m_have = 0;
        bool zero = true;
        for (unsigned char c : m_head)
            zero = zero && c == 0;
        if (zero) {
            m_ended = true;  // the end blocks
            return;
        }
        std::int64_t size = 0;
        const unsigned char* f = m_head + 124;
        if (f[0] & 0x80) {
            for (int i = 1; i < 12; ++i)
                size = (size << 8) | f[i];
        } else {
            for (int i = 0; i < 12 && f[i] >= '0' && f[i] <= '7'; ++i)
                size = size * 8 + (f[i] - '0');
        }
        if (size < 0 || size > (std::int64_t{1} << 40)) {
            m_valid = false;
            m_ended = true;
            return;
        }
        const char type = static_cast<char>(m_head[156]);
        if (type != 'L' && type != 'K' && type != 'x' && type != 'g') {
            ++m_entries;
            if (type == '0' || type == '\0' || type == '7')
                m_unpacked += size;
        }
        m_skip = (size + 511) / 512 * 512;
    }

    unsigned char m_head[512];
    std::size_t m_have = 0;
    std::int64_t m_skip = 0;
    std::int64_t m_entries = 0, m_unpacked = 0;
    bool m_ended = false, m_valid = true;
};

// Reads bytes at an offset: their count, 0 at the end, -1 on a fault.
using ReadAtFn = std::function<std::int64_t(std::int64_t, char*, std::size_t)>;

GzipScan Scan(const ReadAtFn& readAt, std::int64_t size) {
    GzipScan scan;
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return scan;
    std::string in(256 * 1024, '\0');
    std::string out(256 * 1024, '\0');
    TarCounter tar;
    std::int64_t offset = 0;  // bytes of the file read so far
    bool inMember = false;    // inside a member that has not ended
    bool failed = false;
    while (!failed && offset < size) {
        const std::int64_t n = readAt(offset, in.data(), in.size());
        if (n <= 0) {
            failed = true;
            break;
        }
        const std::int64_t chunkStart = offset;
        offset += n;
        z.next_in = reinterpret_cast<Bytef*>(in.data());
        z.avail_in = static_cast<uInt>(n);
        // Inflate until the chunk is used up and no output is pending.
        bool more = true;
        while (more && !failed) {
            if (z.avail_in > 0)
                inMember = true;
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            tar.Feed(reinterpret_cast<const unsigned char*>(out.data()), out.size() - z.avail_out);
            if (rc == Z_STREAM_END) {
                scan.ends.push_back(chunkStart + (n - static_cast<std::int64_t>(z.avail_in)));
                inMember = false;
                failed = inflateReset(&z) != Z_OK;
                more = z.avail_in > 0;
            } else if (rc == Z_OK) {
                more = z.avail_in > 0 || z.avail_out == 0;
            } else if (rc == Z_BUF_ERROR && z.avail_in == 0) {
                more = false;  // needs the next chunk
            } else {
                failed = true;
            }
        }
    }
    inflateEnd(&z);
    if (failed || inMember || scan.ends.empty() || scan.ends.back() != size)
        return GzipScan{};
    scan.ok = true;
    if (tar.valid()) {
        scan.entries = tar.entries();
        scan.unpacked = tar.unpacked();
    }
    return scan;
}

}  // namespace

GzipScan ScanGzipMembers(int fd, std::int64_t size) {
    return Scan(
        [fd](std::int64_t at, char* buf, std::size_t n) -> std::int64_t {
            return ::pread(fd, buf, n, static_cast<off_t>(at));
        },
        size);
}

GzipScan ScanGzipMembers(PieceReader& reader) {
    return Scan(
        [&reader](std::int64_t at, char* buf, std::size_t n) -> std::int64_t {
            try {
                return static_cast<std::int64_t>(reader.ReadAt(at, buf, n));
            } catch (const PieceError&) {
                return -1;
            }
        },
        reader.size());
}

}  // namespace skiv::server

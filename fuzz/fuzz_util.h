#pragma once
// Small helpers shared by the fuzz targets: a private scratch folder per
// process, a byte reader that cuts the fuzzer's input into fields, and a
// check that stops the run with a message (libFuzzer records the input).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace skiv::fuzz {

// Reports a broken property and aborts; libFuzzer then saves the input.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what, detail.empty() ? "" : ": ",
                 detail.c_str());
    std::abort();
}

inline void Check(bool ok, const char* what, const std::string& detail = {}) {
    if (!ok)
        Fail(what, detail);
}

// A folder of its own under $TMPDIR (else /tmp), created once, removed at
// exit. Ends with '/'.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* tag) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp && *tmp ? tmp : "/tmp") + "/skiv-fuzz-" + tag + "-XXXXXX";
        char* made = ::mkdtemp(pattern.data());
        if (!made)
            Fail("cannot create the scratch folder", pattern);
        m_path = std::filesystem::canonical(made).string() + "/";
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + relative; }

private:
    std::string m_path;
};

// Consumes the fuzzer's bytes front to back; reads past the end give zeros
// and empty strings, so every input is a valid script.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size)
        : m_data(reinterpret_cast<const char*>(data)), m_left(size) {}

    bool empty() const { return m_left == 0; }
    std::size_t left() const { return m_left; }

    std::uint8_t Byte() {
        if (m_left == 0)
            return 0;
        --m_left;
        return static_cast<std::uint8_t>(*m_data++);
    }
    // Up to n bytes.
    std::string_view Take(std::size_t n) {
        n = std::min(n, m_left);
        std::string_view out(m_data, n);
        m_data += n;
        m_left -= n;
        return out;
    }
    // A field of the length given by the next byte.
    std::string_view Field() { return Take(Byte()); }
    // Everything up to the next NUL (consumed) or the end.
    std::string_view UntilNul() {
        std::string_view rest(m_data, m_left);
        std::size_t nul = rest.find('\0');
        if (nul == std::string_view::npos)
            return Take(m_left);
        std::string_view out = Take(nul);
        Take(1);
        return out;
    }
    std::string_view Rest() { return Take(m_left); }

private:
    const char* m_data;
    std::size_t m_left;
};

}  // namespace skiv::fuzz

#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace skiv::test {

namespace stdfs = std::filesystem;

namespace {
// The program's paths are UTF-8 on every system; std::filesystem takes
// them as such only through char8_t.
stdfs::path P(const std::string& utf8) {
    return stdfs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const stdfs::path& path) {
    const std::u8string s = path.generic_u8string();
    return std::string(s.begin(), s.end());
}
}  // namespace

TempDir::TempDir() {
    // A fresh name: create_directory reports whether it made the folder.
    std::random_device random;
    const stdfs::path base = stdfs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "skivtest-%08x", random());
        const stdfs::path dir = base / name;
        if (stdfs::create_directory(dir)) {
            m_path = Utf8(dir) + "/";
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    RemoveTree(m_path);
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    const stdfs::path root = P(path);
    if (!stdfs::exists(root, ec))
        return;
    // Read-only folders would keep their contents; open them up first.
    for (auto it = stdfs::recursive_directory_iterator(root, ec);
         !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
        stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    }
    stdfs::permissions(root, stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    stdfs::remove_all(root, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const stdfs::path p = P(path);
    if (p.has_parent_path())
        stdfs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(P(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen() & 0xff);
    return s;
}

std::string BinaryDir() {
    const char* v = std::getenv("SKIV_BINARY_DIR");
    return v ? std::string(v) : Utf8(stdfs::current_path());
}

std::string SourceDir() {
    const char* v = std::getenv("SKIV_SOURCE_DIR");
    return v ? std::string(v) : Utf8(stdfs::current_path());
}

}  // namespace skiv::test

#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace skiv::test {

namespace stdfs = std::filesystem;

TempDir::TempDir() {
    std::string tmpl = (stdfs::temp_directory_path() / "skivtest-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl + "/";
}

TempDir::~TempDir() {
    RemoveTree(m_path);
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    if (!stdfs::exists(path, ec))
        return;
    // Read-only folders would keep their contents; open them up first.
    for (auto it = stdfs::recursive_directory_iterator(path, ec);
         !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
        stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    }
    stdfs::permissions(path, stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    stdfs::remove_all(path, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    stdfs::path p(path);
    if (p.has_parent_path())
        stdfs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
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

std::string RandomSavedVariables(std::size_t size, unsigned seed) {
    std::string body = RandomBytes(size, seed);
    for (auto& c : body)
        if (c == ']')  // the only byte that could close the long string early
            c = '}';
    return "SavedDB = [==[" + body + "]==]\n";
}

std::string BinaryDir() {
    const char* v = std::getenv("SKIV_BINARY_DIR");
    return v ? std::string(v) : stdfs::current_path().string();
}

std::string SourceDir() {
    const char* v = std::getenv("SKIV_SOURCE_DIR");
    return v ? std::string(v) : stdfs::current_path().string();
}

}  // namespace skiv::test

#pragma once
// A fresh folder per test, removed with everything in it on destruction.

#include <string>

namespace skiv::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending with '/'.
    const std::string& path() const { return m_path; }
    // path() + relative
    std::string operator/(const std::string& relative) const { return m_path + relative; }

private:
    std::string m_path;
};

// Writes bytes to a file, creating the parent folders.
void WriteFile(const std::string& path, const std::string& bytes);
// Whole content of a small file; throws std::runtime_error when unreadable.
std::string ReadFile(const std::string& path);
// Removes a tree (read-only files included); missing is fine.
void RemoveTree(const std::string& path);
// Deterministic pseudo-random bytes.
std::string RandomBytes(std::size_t size, unsigned seed);
// A SavedVariables file the game could load: about size random bytes held
// in one long string, so it stays as hard to compress as RandomBytes.
std::string RandomSavedVariables(std::size_t size, unsigned seed);
// Folder of the built programs (SKIV_BINARY_DIR from CTest, else the cwd).
std::string BinaryDir();
std::string SourceDir();

}  // namespace skiv::test

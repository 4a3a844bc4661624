#include <windows.h>

#include <stdexcept>

#include "support/faults.h"
#include "support/temp_dir.h"

namespace skiv::test {

namespace {
std::wstring Wide(const std::string& utf8) {
    std::wstring out(utf8.size() + 1, L'\0');
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(),
                                        static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    return out;
}
}  // namespace

HeldFile::HeldFile(const std::string& path) {
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot hold " + path);
    m_handle = reinterpret_cast<std::intptr_t>(h);
}

HeldFile::~HeldFile() {
    if (m_handle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

FileSizeCeiling::FileSizeCeiling(std::uint64_t) {
    throw std::runtime_error("Windows has no per-process file size limit");
}

FileSizeCeiling::~FileSizeCeiling() = default;

}  // namespace skiv::test

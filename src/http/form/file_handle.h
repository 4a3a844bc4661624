#pragma once
// The file calls the form client streams uploads with, in the Windows
// handle shape its code was designed around: a handle is never null while
// open, and INVALID_HANDLE_VALUE (all bits set) marks a file that failed to
// open. Failing calls leave errno for the caller to report.

#include <cstdint>

namespace Vutra {

using HANDLE = void*;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Opens an existing file for sequential reading (others may read and write
// it meanwhile). INVALID_HANDLE_VALUE on failure.
HANDLE OpenFileForRead(const char* szPath);

// Reads up to cbToRead bytes at the current position; *pcbRead is 0 at the
// end of the file. Retries interrupted reads.
bool ReadFileHandle(HANDLE hFile, void* pbyBuff, std::uint32_t cbToRead, std::uint32_t* pcbRead);

// Moves the position back to the start of the file.
bool RewindFileHandle(HANDLE hFile);

// The file's current size in bytes.
bool FileHandleSize(HANDLE hFile, std::uint64_t* pcbSize);

// Closes a handle from OpenFileForRead; null and invalid handles are ignored.
void CloseFileHandle(HANDLE hFile) noexcept;

}  // namespace Vutra

#include <windows.h>

#include <urlmon.h>

#include "platform/mime.h"

namespace skiv {

std::optional<std::wstring> SniffMimeType(const void* data, std::size_t size) {
    // FindMimeFromData only reads the buffer (its parameter is not const
    // for historical reasons) and looks at no more than 256 bytes.
    LPWSTR type = nullptr;
    const DWORD bytes = static_cast<DWORD>(size < kMimeSniffBytes ? size : kMimeSniffBytes);
    const HRESULT hr = ::FindMimeFromData(nullptr, nullptr, const_cast<void*>(data), bytes, nullptr,
                                          FMFD_DEFAULT, &type, 0);
    if (FAILED(hr) || !type)
        return std::nullopt;
    std::wstring result(type);
    ::CoTaskMemFree(type);
    return result;
}

}  // namespace skiv

#include "http/form/owned_text.h"

#include <cstring>
#include <new>

#include "http/form/http_error.h"

namespace Vutra {

template <typename CharT>
OwnedTextT<CharT> AllocText(std::size_t count) {
    CharT* p = new (std::nothrow) CharT[count]();
    if (!p)
        ThrowException(kErrOutOfMemory);
    return OwnedTextT<CharT>(p);
}

template <typename CharT>
std::size_t TextLength(const CharT* szText) noexcept {
    if (!szText)
        return 0;
    std::size_t n = 0;
    while (szText[n])
        ++n;
    return n;
}

template <typename CharT>
OwnedTextT<CharT> CopyText(const CharT* szText) {
    if (!szText)
        return nullptr;
    const std::size_t n = TextLength(szText) + 1;
    OwnedTextT<CharT> copy = AllocText<CharT>(n);
    std::memcpy(copy.get(), szText, n * sizeof(CharT));
    return copy;
}

template OwnedTextT<char> AllocText<char>(std::size_t);
template OwnedTextT<wchar_t> AllocText<wchar_t>(std::size_t);
template OwnedTextT<char> CopyText<char>(const char*);
template OwnedTextT<wchar_t> CopyText<wchar_t>(const wchar_t*);
template std::size_t TextLength<char>(const char*) noexcept;
template std::size_t TextLength<wchar_t>(const wchar_t*) noexcept;

}  // namespace Vutra

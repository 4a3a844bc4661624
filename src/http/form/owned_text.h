#pragma once
// Heap texts of the form client. Every text a Vutra operation returns or
// stores is a fresh block owned through one of these; copying in never
// shares the caller's buffer.

#include <cstddef>
#include <memory>

namespace Vutra {

template <typename CharT>
using OwnedTextT = std::unique_ptr<CharT[]>;
using OwnedTextA = OwnedTextT<char>;
using OwnedTextW = OwnedTextT<wchar_t>;

// A block of count elements, zero-filled; error 102 (out of memory) when it
// cannot be allocated.
template <typename CharT>
OwnedTextT<CharT> AllocText(std::size_t count);

// A copy of szText (null for null); error 102 when it cannot be allocated.
template <typename CharT>
OwnedTextT<CharT> CopyText(const CharT* szText);

// Length without the NUL; 0 for null.
template <typename CharT>
std::size_t TextLength(const CharT* szText) noexcept;

extern template OwnedTextT<char> AllocText<char>(std::size_t);
extern template OwnedTextT<wchar_t> AllocText<wchar_t>(std::size_t);
extern template OwnedTextT<char> CopyText<char>(const char*);
extern template OwnedTextT<wchar_t> CopyText<wchar_t>(const wchar_t*);
extern template std::size_t TextLength<char>(const char*) noexcept;
extern template std::size_t TextLength<wchar_t>(const wchar_t*) noexcept;

}  // namespace Vutra

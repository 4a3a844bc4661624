#include "http/form/client_map.h"

#include <algorithm>
#include <new>

#include "http/form/http_error.h"

namespace Vutra {
namespace {

template <typename CharT>
unsigned Fold(CharT c) {
    auto u = static_cast<std::make_unsigned_t<CharT>>(c);
    return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

}  // namespace

template <typename CharT>
CHttpClientMapT<CharT>::~CHttpClientMapT() = default;

template <typename CharT>
int CHttpClientMapT<CharT>::Compare(const CharT* a, const CharT* b) {
    for (;; ++a, ++b) {
        const unsigned ca = Fold(*a);
        const unsigned cb = Fold(*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

template <typename CharT>
void CHttpClientMapT<CharT>::Add(const CharT* szName, const CharT* szValue, DWORD dwAttr) {
    if (!szName)
        ThrowException("CHttpClientMapT::Add: szName can not be NULL.");
    OwnedTextT<CharT> name = CopyText(szName);
    OwnedTextT<CharT> value = CopyText(szValue);
    AddPointerDirectly(std::move(name), std::move(value), dwAttr);
}

template <typename CharT>
void CHttpClientMapT<CharT>::AddPointerDirectly(OwnedTextT<CharT> szName, OwnedTextT<CharT> szValue,
                                                DWORD dwAttr) {
    if (!szName)
        ThrowException("CHttpClientMapT::AddPointerDirectly: szName can not be NULL.");
    if (m_items.size() >= 0xFFFFFFFFu)
        ThrowException(kErrOverflow);
    // After every entry that compares equal, so equal names keep their
    // insertion order.
    auto pos = std::upper_bound(
        m_items.begin(), m_items.end(), szName.get(),
        [](const CharT* name, const Item& item) { return Compare(name, item.name.get()) < 0; });
    try {
        m_items.insert(pos, Item{std::move(szName), std::move(szValue), dwAttr});
    } catch (const std::bad_alloc&) {
        ThrowException(kErrOutOfMemory);
    }
}

template <typename CharT>
std::uint32_t CHttpClientMapT<CharT>::Count(const CharT* szName) const {
    if (!szName)
        return static_cast<DWORD>(m_items.size());
    return static_cast<DWORD>(
        std::count_if(m_items.begin(), m_items.end(),
                      [szName](const Item& it) { return Compare(szName, it.name.get()) == 0; }));
}

template class CHttpClientMapT<char>;

}  // namespace Vutra

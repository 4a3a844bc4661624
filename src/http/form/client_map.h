#pragma once
// The ordered name/value store of the form client's parameters and extra
// headers. Entries are ordered by name compared case-insensitively (ASCII
// letters as lower case, other bytes by unsigned value); equal names keep
// the order they were added in, and a name may occur any number of times.
// The map owns every name and value.

#include <cstdint>
#include <vector>

#include "http/form/http_error.h"
#include "http/form/owned_text.h"

namespace Vutra {

// Parameter attribute bits.
inline constexpr std::uint32_t ParamNormal = 0;
inline constexpr std::uint32_t ParamFile = 1;      // the value is a local file path
inline constexpr std::uint32_t ParamRawName = 2;   // the name is sent as given in a GET URL
inline constexpr std::uint32_t ParamRawValue = 4;  // the value is sent as given in a GET URL

template <typename CharT>
class CHttpClientMapT {
public:
    using DWORD = std::uint32_t;

    CHttpClientMapT() = default;
    virtual ~CHttpClientMapT();
    CHttpClientMapT(const CHttpClientMapT&) = delete;
    CHttpClientMapT& operator=(const CHttpClientMapT&) = delete;

    // Inserts copies of szName (not null) and szValue (null stays null).
    // 102 on allocation failure, 112 on overflow; nothing is inserted then.
    void Add(const CharT* szName, const CharT* szValue, DWORD dwAttr = ParamNormal);
    // Inserts the given blocks, taking them over (they are freed if the
    // insertion fails).
    void AddPointerDirectly(OwnedTextT<CharT> szName, OwnedTextT<CharT> szValue, DWORD dwAttr);

    // Entries whose name equals szName ignoring case; all entries for null.
    DWORD Count(const CharT* szName = nullptr) const;
    bool Empty() const { return m_items.empty(); }

    // The entry at a position in map order (index < Count()).
    const CharT* Name(DWORD index) const { return m_items[index].name.get(); }
    const CharT* Value(DWORD index) const { return m_items[index].value.get(); }
    DWORD Attr(DWORD index) const { return m_items[index].attr; }

    // <0, 0, >0 as a is ordered before, with, after b.
    static int Compare(const CharT* a, const CharT* b);

private:
    struct Item {
        OwnedTextT<CharT> name;
        OwnedTextT<CharT> value;
        DWORD attr;
    };
    std::vector<Item> m_items;  // kept sorted
};

extern template class CHttpClientMapT<char>;

}  // namespace Vutra

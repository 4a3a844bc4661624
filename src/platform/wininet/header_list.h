#pragma once
// The request headers of one WinINet request handle, kept in the order they
// were added, with HttpAddRequestHeaders' modifier rules. Names compare
// case-insensitively. Only whole, well-formed lines are ever stored, so a
// caller's text can never smuggle a second header or a request line.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/wininet/wininet.h"

namespace skiv::wininet::detail {

class HeaderList {
public:
    // Applies a block of "Name: value" lines separated by CR LF (a lone LF
    // is accepted too; empty lines are skipped) with the modifiers of
    // HttpAddRequestHeaders:
    //   REPLACE     replaces the value of the header (an empty value removes
    //               it); a missing header is added when ADD is given too,
    //               else ERROR_HTTP_HEADER_NOT_FOUND;
    //   ADD or 0    appends the line, duplicates allowed.
    // A line without a colon or with an invalid name fails with
    // ERROR_HTTP_INVALID_HEADER. Lines before a failing one stay applied.
    DWORD Apply(std::string_view block, DWORD modifiers);

    // One header; the value is taken as given (trimmed of blanks).
    DWORD ApplyOne(std::string_view name, std::string_view value, DWORD modifiers);

    // The first value of a header, or null.
    const std::string* Find(std::string_view name) const;
    bool Has(std::string_view name) const { return Find(name) != nullptr; }

    const std::vector<std::pair<std::string, std::string>>& Items() const { return m_items; }

    static bool EqualNames(std::string_view a, std::string_view b);
    // Drops leading and trailing blanks and tabs.
    static std::string_view TrimBlanks(std::string_view s);
    static bool IsToken(std::string_view name);

private:
    std::vector<std::pair<std::string, std::string>> m_items;
};

}  // namespace skiv::wininet::detail

// Conversions between code pages, over the platform's two wide-text calls:
// the same code on every platform.

#include <algorithm>
#include <climits>
#include <vector>

#include "platform/codepage.h"

namespace skiv {

bool ConvertCodePage(unsigned from, unsigned to, std::string_view text, std::string& out) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
        out.assign(text);
        return true;
    }
    if (text.size() > INT_MAX / 4)
        return false;
    const int bytes = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(from, text.data(), bytes, nullptr, 0);
    if (units <= 0)
        return false;
    std::vector<wchar_t> wide(static_cast<std::size_t>(units));
    if (MultiByteToWideChar(from, text.data(), bytes, wide.data(), units) != units)
        return false;
    const int need = WideCharToMultiByte(to, wide.data(), units, nullptr, 0);
    if (need <= 0)
        return false;
    std::string converted(static_cast<std::size_t>(need), '\0');
    if (WideCharToMultiByte(to, wide.data(), units, converted.data(), need) != need)
        return false;
    out = std::move(converted);
    return true;
}

}  // namespace skiv

// The SavedVariables syntax check on any bytes: it never crashes, hangs or
// reads out of bounds, and its verdict does not depend on how the reader
// cuts the text into pieces (whole, or a few bytes at a time). Agreement
// with the reference compiler over the inputs found here is checked by
// scripts/fuzz with lua_verdicts.

#include <algorithm>
#include <cstring>
#include <string_view>

#include "fuzz_util.h"
#include "lua/syntax_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto whole = skiv::lua::CheckSyntax(text);
    std::size_t at = 0;
    const std::size_t step = size % 7 + 1;
    const auto pieces = skiv::lua::CheckSyntax([&](char* buffer, std::size_t capacity) {
        const std::size_t n = std::min({step, capacity, size - at});
        std::memcpy(buffer, data + at, n);
        at += n;
        return n;
    });
    skiv::fuzz::Check(whole.has_value() == pieces.has_value(), "verdict depends on the pieces");
    if (whole && pieces) {
        skiv::fuzz::Check(whole->line == pieces->line && whole->message == pieces->message,
                          "error depends on the pieces");
    }
    return 0;
}

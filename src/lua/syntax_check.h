#pragma once
// A syntax check for the Lua 5.1 text the game writes as SavedVariables.
//
// It answers one question: would the game's Lua 5.1 loader accept this
// text? Nothing is evaluated, no value is built and nothing is kept of the
// text but the current token, so a file of any size is checked in bounded
// memory, read through a caller's ByteSource in pieces.
//
// The lexer and the grammar follow the 5.1 reference loader closely enough
// to agree with `luac5.1 -p` on every error a damaged file can show: cut
// strings and long brackets, malformed numbers, unbalanced braces, a
// statement cut in half, the nesting limit (200 levels), local variable
// limit (200 per function), `...` outside a vararg function, `break`
// outside a loop, and a call's '(' on a new line. Limits that belong to the
// code generator (constants per function, registers per expression,
// upvalues) are deliberately not modelled: the game's own loader is built
// with other limits, and such files are not damaged, only large.
//
// Threads: a check is a plain function call with no shared state.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace skiv::lua {

// Fills buffer with up to capacity bytes; returns how many, 0 at the end.
// A read failure is reported by throwing; the check does not catch it.
using ByteSource = std::function<std::size_t(char* buffer, std::size_t capacity)>;

struct SyntaxError {
    int line = 0;         // 1-based line where the loader stops
    std::string message;  // the loader's wording, e.g. "unfinished string"
};

// nullopt when the text is a valid chunk.
std::optional<SyntaxError> CheckSyntax(const ByteSource& source);
std::optional<SyntaxError> CheckSyntax(std::string_view text);

}  // namespace skiv::lua

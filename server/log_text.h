#pragma once
// Text that came from outside (request lines, member IDs, notes built from
// them) made safe for the one-line-per-request log.

#include <string>
#include <string_view>

namespace skiv::server {

// Returns `text` with every byte outside printable ASCII (0x20-0x7e)
// written as "\xHH" and a backslash as "\\", so no value can end a log
// line, start a forged one, or send terminal escapes to whoever reads the
// log. Printable ASCII passes unchanged.
std::string EscapeForLog(std::string_view text);

}  // namespace skiv::server

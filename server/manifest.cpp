#include "manifest.h"

#include <charconv>
#include <unordered_map>

namespace skiv::server {

namespace {

// The next line without its LF; false at the end of the text.
bool NextLine(std::string_view& text, std::string_view& line) {
    if (text.empty())
        return false;
    const std::size_t lf = text.find('\n');
    line = text.substr(0, lf);
    text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    return true;
}

// Splits "word a b c" at single spaces.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    for (;;) {
        const std::size_t sp = line.find(' ');
        out.push_back(line.substr(0, sp));
        if (sp == std::string_view::npos)
            return out;
        line = line.substr(sp + 1);
    }
}

bool Number(std::string_view text, std::int64_t low, std::int64_t& out) {
    // Canonical decimal only, so that a manifest reads back as it was written.
    if (text.empty() || text.size() > 18 || text[0] == '-' || (text.size() > 1 && text[0] == '0'))
        return false;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && p == text.data() + text.size() && out >= low;
}

bool ComputerOk(std::string_view name) {
    if (name.size() > kMaxComputerBytes)
        return false;
    for (char c : name) {
        // Percent-encoded: printable ASCII only, and nothing a tab-separated
        // list or a tag reply would misread.
        if (c <= 0x20 || c >= 0x7f || c == '<' || c == '>')
            return false;
    }
    return true;
}

}  // namespace

bool IsSha256Hex(std::string_view text) {
    if (text.size() != 64)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::optional<Manifest> ParseManifest(std::string_view text, std::string& error) {
    auto fail = [&error](const char* why) -> std::optional<Manifest> {
        error = why;
        return std::nullopt;
    };
    if (text.size() > kMaxManifestBytes)
        return fail("manifest too large");
    if (text.find('\r') != std::string_view::npos || text.find('\0') != std::string_view::npos)
        return fail("manifest lines must end with LF alone");
    Manifest m;
    std::string_view line;
    if (!NextLine(text, line) || line != "skiv-manifest 1")
        return fail("not a version 1 manifest");

    std::vector<std::string_view> f;
    if (!NextLine(text, line) || (f = Fields(line)).size() != 3 || f[0] != "package" ||
        !Number(f[1], 1, m.packageBytes) || !IsSha256Hex(f[2]))
        return fail("bad package line");
    m.packageSha = std::string(f[2]);

    auto count = [](std::string_view t, std::int64_t& out) {
        return t == "-1" ? (out = -1, true) : Number(t, 0, out);
    };
    if (!NextLine(text, line) || (f = Fields(line)).size() != 3 || f[0] != "files" ||
        !count(f[1], m.entries) || !count(f[2], m.unpackedBytes))
        return fail("bad files line");
    if (!NextLine(text, line) || (f = Fields(line)).size() != 2 || f[0] != "changed" ||
        !count(f[1], m.changed))
        return fail("bad changed line");
    if (!NextLine(text, line) || line.substr(0, 9) != "computer " || !ComputerOk(line.substr(9)))
        return fail("bad computer line");
    m.computer = std::string(line.substr(9));

    std::unordered_map<std::string_view, std::int64_t> sizes;
    std::int64_t total = 0;
    // NextLine takes the last piece's LF with it, so a blank line after it
    // is refused like any other line that is not a piece.
    while (NextLine(text, line)) {
        if (m.pieces.size() >= kMaxManifestPieces)
            return fail("too many pieces");
        ManifestPiece p;
        if ((f = Fields(line)).size() != 4 || f[0] != "piece" || !IsSha256Hex(f[1]) ||
            !Number(f[2], 1, p.bytes) || (f[3] != "shared" && f[3] != "private"))
            return fail("bad piece line");
        auto [it, fresh] = sizes.emplace(f[1], p.bytes);
        if (!fresh && it->second != p.bytes)
            return fail("one piece hash with two sizes");
        p.sha = std::string(f[1]);
        p.shared = f[3] == "shared";
        total += p.bytes;
        if (total > m.packageBytes)
            return fail("pieces larger than the package");
        m.pieces.push_back(std::move(p));
    }
    if (m.pieces.empty())
        return fail("no pieces");
    if (total != m.packageBytes)
        return fail("pieces do not add up to the package size");
    return m;
}

std::string FormatManifest(const Manifest& m) {
    std::string out = "skiv-manifest 1\n";
    out += "package " + std::to_string(m.packageBytes) + " " + m.packageSha + "\n";
    out += "files " + std::to_string(m.entries) + " " + std::to_string(m.unpackedBytes) + "\n";
    out += "changed " + std::to_string(m.changed) + "\n";
    out += "computer " + m.computer + "\n";
    for (const auto& p : m.pieces)
        out += "piece " + p.sha + " " + std::to_string(p.bytes) +
               (p.shared ? " shared\n" : " private\n");
    return out;
}

}  // namespace skiv::server

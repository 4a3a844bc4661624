// The Wine registry reader on arbitrary .reg text. Opening never depends on
// the line ends (a file edited on Windows has "\r\n"), value names are
// looked up without regard to case, and long values read as missing.

#include <string>
#include <vector>

#include "fuzz_util.h"
#include "platform/registry.h"

namespace {

using skiv::fuzz::Check;

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Candidate value names: the text between quotes at the start of lines.
std::vector<std::string> Names(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (out.size() < 16 && (at = text.find("\n\"", at)) != std::string::npos) {
        at += 2;
        std::size_t end = text.find('"', at);
        if (end == std::string::npos)
            break;
        out.push_back(text.substr(at, end - at));
    }
    out.push_back("InstallPath");
    out.push_back("GamePath");
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skiv::fuzz::ByteReader in(data, size);
    // The key: a short field, or the game's key when the field is empty.
    std::string subKey(in.Field());
    if (subKey.empty())
        subKey = "SOFTWARE\\Blizzard Entertainment\\World of Warcraft";
    const std::string text(in.Rest());

    skiv::RegistryKey key;
    const bool open = key.LoadFromText(text, subKey);
    Check(open == key.IsOpen(), "LoadFromText and IsOpen disagree");

    skiv::RegistryKey upperKey;
    Check(upperKey.LoadFromText(text, Upper(subKey)) == open, "key names are not case-blind");

    const bool hasCr = text.find('\r') != std::string::npos;
    skiv::RegistryKey crlf;
    std::string windowsText;
    if (!hasCr) {
        for (char c : text) {
            if (c == '\n')
                windowsText += '\r';
            windowsText += c;
        }
        Check(crlf.LoadFromText(windowsText, subKey) == open,
              "\"\\r\\n\" line ends change the key");
    }

    for (const std::string& name : Names(text)) {
        auto value = key.QueryString(name);
        if (!open) {
            Check(!value, "a closed key answered");
            continue;
        }
        if (value)
            Check(value->size() < 2048, "a long value was returned");
        Check(key.QueryString(Upper(name)) == value, "value names are not case-blind", name);
        Check(upperKey.QueryString(name) == value, "the key's spelling changed its values", name);
        if (!hasCr)
            Check(crlf.QueryString(name) == value, "\"\\r\\n\" changed a value", name);
        if (value) {
            std::string mapped = skiv::RegistryKey::MapWindowsPath(*value, "/prefix");
            Check(mapped.find('\\') == std::string::npos, "a mapped path kept a backslash", mapped);
        }
    }
    key.Close();
    Check(!key.IsOpen() && !key.QueryString("InstallPath"), "a closed key still answers");
    return 0;
}

// The registry text of a Wine prefix (.reg files), and the values a key
// holds once read from wherever the key lives.
#include "platform/registry.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace skiv {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Reads a quoted .reg string starting at s[pos] == '"'. Escapes: \\ \" \n \r
// \t \0 and \xHHHH (one UTF-16 unit, pairs joined). Returns false when the
// closing quote is missing; pos is left after the closing quote.
bool ReadQuoted(const std::string& s, std::size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"')
        return false;
    ++pos;
    unsigned pendingHigh = 0;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= s.size())
            return false;
        char e = s[pos++];
        switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case '0':
                out += '\0';
                break;
            case 'x': {
                unsigned v = 0;
                int digits = 0;
                while (digits < 4 && pos < s.size() &&
                       std::isxdigit(static_cast<unsigned char>(s[pos]))) {
                    char h = s[pos++];
                    v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h))
                                                           ? h - '0'
                                                           : (std::tolower(h) - 'a' + 10));
                    ++digits;
                }
                if (v >= 0xD800 && v < 0xDC00) {
                    pendingHigh = v;
                } else if (v >= 0xDC00 && v < 0xE000 && pendingHigh) {
                    AppendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (v - 0xDC00));
                    pendingHigh = 0;
                } else {
                    AppendUtf8(out, v);
                }
                break;
            }
            default:
                out += e;
                break;  // \\ and \" and anything else literal
        }
    }
    return false;
}

// "[Software\\Wow6432Node\\...] 1234" -> "software\wow6432node\..."
std::string SectionName(const std::string& line) {
    std::size_t end = line.rfind(']');
    if (end == std::string::npos || end < 1)
        return {};
    std::string raw = line.substr(1, end - 1), name;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == '\\')
            ++i;
        name += raw[i];
    }
    return Lower(name);
}

}  // namespace

bool RegistryKey::LoadFromText(const std::string& text, const std::string& subKey) {
    Close();
    std::string wanted = Lower(subKey);
    // A 32-bit program sees HKLM\Software\X as HKLM\Software\Wow6432Node\X.
    std::string wow;
    if (wanted.rfind("software\\", 0) == 0)
        wow = "software\\wow6432node\\" + wanted.substr(9);

    for (const std::string& target : {wow, wanted}) {
        if (target.empty())
            continue;
        std::istringstream in(text);
        std::string line;
        bool inKey = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty() && line[0] == '[') {
                if (inKey)
                    break;
                inKey = SectionName(line) == target;
                if (inKey)
                    m_open = true;
                continue;
            }
            if (!inKey || line.empty() || line[0] != '"')
                continue;
            std::size_t pos = 0;
            std::string name, value;
            if (!ReadQuoted(line, pos, name))
                continue;
            if (pos >= line.size() || line[pos] != '=')
                continue;
            ++pos;
            if (pos < line.size() && line[pos] == '"' && ReadQuoted(line, pos, value))
                m_values[Lower(name)] = value;
        }
        if (m_open)
            return true;
    }
    return false;
}

void RegistryKey::Close() {
    m_open = false;
    m_values.clear();
}

std::optional<std::string> RegistryKey::QueryString(const std::string& name) const {
    if (!m_open)
        return std::nullopt;
    auto it = m_values.find(Lower(name));
    if (it == m_values.end() || it->second.size() >= 2048)
        return std::nullopt;
    return it->second;
}

}  // namespace skiv

#include "platform/wininet/header_list.h"

#include <algorithm>
#include <cctype>

namespace skiv::wininet::detail {

std::string_view HeaderList::TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

bool HeaderList::EqualNames(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool HeaderList::IsToken(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    static constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={} \t";
    return std::all_of(name.begin(), name.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F && kSeparators.find(c) == std::string_view::npos;
    });
}

const std::string* HeaderList::Find(std::string_view name) const {
    for (const auto& [n, v] : m_items) {
        if (EqualNames(n, name)) {
            return &v;
        }
    }
    return nullptr;
}

DWORD HeaderList::ApplyOne(std::string_view name, std::string_view value, DWORD modifiers) {
    name = TrimBlanks(name);
    value = TrimBlanks(value);
    if (!IsToken(name) || value.find_first_of(std::string_view("\r\n\0", 3)) != value.npos) {
        return ERROR_HTTP_INVALID_HEADER;
    }
    auto first = std::find_if(m_items.begin(), m_items.end(),
                              [&](const auto& item) { return EqualNames(item.first, name); });
    const bool exists = first != m_items.end();

    if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
        if (!exists) {
            if (!(modifiers & HTTP_ADDREQ_FLAG_ADD)) {
                return ERROR_HTTP_HEADER_NOT_FOUND;
            }
            if (!value.empty()) {
                m_items.emplace_back(name, value);
            }
            return ERROR_SUCCESS;
        }
        // The first occurrence takes the new value in its place; any further
        // occurrences go, so the header is sent exactly once.
        const auto index = first - m_items.begin();
        std::erase_if(m_items, [&, i = std::ptrdiff_t{0}](const auto& item) mutable {
            const bool drop = i != index && EqualNames(item.first, name);
            ++i;
            return drop;
        });
        if (value.empty()) {
            m_items.erase(m_items.begin() + index);
        } else {
            m_items[static_cast<std::size_t>(index)].second = value;
        }
        return ERROR_SUCCESS;
    }
    m_items.emplace_back(name, value);
    return ERROR_SUCCESS;
}

DWORD HeaderList::Apply(std::string_view block, DWORD modifiers) {
    while (!block.empty()) {
        const auto eol = block.find('\n');
        std::string_view line = block.substr(0, eol);
        block = eol == block.npos ? std::string_view{} : block.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (TrimBlanks(line).empty()) {
            continue;
        }
        const auto colon = line.find(':');
        if (colon == line.npos) {
            return ERROR_HTTP_INVALID_HEADER;
        }
        const DWORD error = ApplyOne(line.substr(0, colon), line.substr(colon + 1), modifiers);
        if (error != ERROR_SUCCESS) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace skiv::wininet::detail

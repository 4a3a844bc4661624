#include "multipart_reader.h"

#include <algorithm>
#include <cctype>

#include "form_fields.h"

namespace skiv::server {

namespace {

constexpr std::size_t kMaxPartHeaders = 8 * 1024;
constexpr std::size_t kMaxPreamble = 8 * 1024;

bool IEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Parameter `key` of a header value like `form-data; name="a"; filename="b"`.
std::optional<std::string> Parameter(std::string_view value, std::string_view key) {
    std::size_t at = value.find(';');
    while (at != std::string_view::npos) {
        std::string_view rest = value.substr(at + 1);
        std::size_t eq = rest.find('=');
        if (eq == std::string_view::npos)
            return std::nullopt;
        std::string_view name = TrimBlanks(rest.substr(0, eq));
        rest = rest.substr(eq + 1);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
        std::string text;
        std::size_t end;
        if (!rest.empty() && rest.front() == '"') {
            end = 1;
            while (end < rest.size() && rest[end] != '"') {
                if (rest[end] == '\\' && end + 1 < rest.size())
                    ++end;
                text += rest[end++];
            }
            if (end >= rest.size())
                return std::nullopt;  // unterminated quote
            ++end;
        } else {
            end = std::min(rest.find(';'), rest.size());
            text = std::string(TrimBlanks(rest.substr(0, end)));
        }
        if (IEquals(name, key))
            return text;
        std::size_t next = rest.find(';', end);
        if (next == std::string_view::npos)
            return std::nullopt;
        at = static_cast<std::size_t>(rest.data() - value.data()) + next;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> MultipartReader::Boundary(std::string_view contentType) {
    std::string_view type = TrimBlanks(contentType.substr(0, contentType.find(';')));
    if (!IEquals(type, "multipart/form-data"))
        return std::nullopt;
    std::optional<std::string> b = Parameter(contentType, "boundary");
    // RFC 2046: 1 to 70 characters.
    if (!b || b->empty() || b->size() > 70)
        return std::nullopt;
    return b;
}

MultipartReader::MultipartReader(const std::string& boundary, PartFn onPart, DataFn onData)
    : m_delimiter("\r\n--" + boundary),
      m_onPart(std::move(onPart)),
      m_onData(std::move(onData)),
      // The first boundary has no line break before it; starting with one
      // lets every boundary be found with the same delimiter.
      m_buf("\r\n") {}

bool MultipartReader::Fail() {
    m_state = State::Failed;
    m_buf.clear();
    return false;
}

bool MultipartReader::Feed(const char* data, std::size_t size) {
    if (m_state == State::Failed)
        return false;
    if (m_state == State::Done)
        return true;  // the epilogue is ignored
    m_buf.append(data, size);
    while (Step()) {
    }
    return m_state != State::Failed;
}

// One step of the machine over m_buf; false when it needs more bytes (or
// has stopped).
bool MultipartReader::Step() {
    switch (m_state) {
        case State::Preamble: {
            std::size_t at = m_buf.find(m_delimiter);
            if (at == std::string::npos) {
                if (m_buf.size() > kMaxPreamble + m_delimiter.size())
                    return Fail();
                return false;
            }
            m_buf.erase(0, at + m_delimiter.size());
            m_state = State::AfterDelimiter;
            return true;
        }
        case State::AfterDelimiter:
            if (m_buf.size() < 2)
                return false;
            if (m_buf.compare(0, 2, "--") == 0) {
                m_state = State::Done;
                m_buf.clear();
                return false;
            }
            if (m_buf.compare(0, 2, "\r\n") != 0)
                return Fail();
            m_buf.erase(0, 2);
            m_state = State::Headers;
            return true;
        case State::Headers: {
            std::size_t end = m_buf.compare(0, 2, "\r\n") == 0 ? 0 : m_buf.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (m_buf.size() > kMaxPartHeaders)
                    return Fail();
                return false;
            }
            if (end > kMaxPartHeaders)
                return Fail();
            if (!StartPart(std::string_view(m_buf).substr(0, end)))
                return Fail();
            m_buf.erase(0, end == 0 ? 2 : end + 4);
            m_state = State::Body;
            return true;
        }
        case State::Body: {
            std::size_t at = m_buf.find(m_delimiter);
            if (at == std::string::npos) {
                // Hand over all but what could be the start of a delimiter.
                const std::size_t keep = m_delimiter.size() - 1;
                if (m_buf.size() > keep) {
                    const std::size_t n = m_buf.size() - keep;
                    if (!m_onData(m_buf.data(), n))
                        return Fail();
                    m_buf.erase(0, n);
                }
                return false;
            }
            if (at > 0 && !m_onData(m_buf.data(), at))
                return Fail();
            m_buf.erase(0, at + m_delimiter.size());
            m_state = State::AfterDelimiter;
            return true;
        }
        case State::Done:
        case State::Failed:
            return false;
    }
    return false;
}

bool MultipartReader::StartPart(std::string_view headers) {
    std::optional<std::string> name, filename;
    while (!headers.empty()) {
        std::size_t eol = headers.find("\r\n");
        std::string_view line = headers.substr(0, eol);
        headers = eol == std::string_view::npos ? std::string_view() : headers.substr(eol + 2);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return false;
        if (!IEquals(TrimBlanks(line.substr(0, colon)), "Content-Disposition"))
            continue;
        std::string_view value = TrimBlanks(line.substr(colon + 1));
        if (!IEquals(TrimBlanks(value.substr(0, value.find(';'))), "form-data"))
            return false;
        name = Parameter(value, "name");
        filename = Parameter(value, "filename");
    }
    if (!name)
        return false;
    return m_onPart(*name, filename.value_or(std::string()));
}

}  // namespace skiv::server

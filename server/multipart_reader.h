#pragma once
// A multipart/form-data body read as it arrives, piece by piece, without
// ever holding more than one part header and one boundary's worth of bytes
// besides the piece just fed. Part headers and part bytes are handed to the
// two callbacks in order; either may return false to stop the reading.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace skiv::server {

class MultipartReader {
public:
    using PartFn = std::function<bool(const std::string& name, const std::string& filename)>;
    using DataFn = std::function<bool(const char* data, std::size_t size)>;

    // The boundary parameter of a Content-Type header, when the type is
    // multipart/form-data (case-insensitive) and the boundary is usable.
    static std::optional<std::string> Boundary(std::string_view contentType);

    MultipartReader(const std::string& boundary, PartFn onPart, DataFn onData);

    // Feeds the next bytes of the body. False once the body is malformed
    // or a callback asked to stop; nothing more is read after that.
    bool Feed(const char* data, std::size_t size);
    // True once the closing boundary has been read.
    bool Complete() const { return m_state == State::Done; }

private:
    enum class State { Preamble, AfterDelimiter, Headers, Body, Done, Failed };
    bool Step();
    bool Fail();
    bool StartPart(std::string_view headers);

    std::string m_delimiter;  // "\r\n--" + boundary
    PartFn m_onPart;
    DataFn m_onData;
    std::string m_buf;
    State m_state = State::Preamble;
};

}  // namespace skiv::server

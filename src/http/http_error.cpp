#include "http/http_error.h"

namespace skiv::http {
namespace {

struct Text {
    Errc code;
    std::string_view text;
};
constexpr Text kTexts[] = {
    {Errc::Usage, "Not specified"},
    {Errc::Unexpected, "Unexpected error occurred."},
    {Errc::OutOfMemory, "Out of memory."},
    {Errc::InvalidUrl, "The requested URL is not a valid URL."},
    {Errc::UploadNotStarted, "The post context is not started yet."},
    {Errc::ShortFileRead, "Couldn't read expected bytes from a file."},
    {Errc::InvalidPort, "The port number is not valid."},
    {Errc::Overflow, "An arithmetic overflow error has been occurred."},
    {Errc::QueryInfo, "::HttpQueryInfo failed."},
    {Errc::ReadResponse, "::InternetReadFile failed."},
    {Errc::OpenSession, "::InternetOpen failed."},
    {Errc::Connect, "::InternetConnect failed."},
    {Errc::OpenRequest, "::HttpOpenRequest failed."},
    {Errc::AddHeader, "::HttpAddRequestHeaders failed."},
    {Errc::SendRequest, "::HttpSendRequest failed."},
    {Errc::StartUpload, "::HttpSendRequestEx failed."},
    {Errc::WriteBody, "::InternetWriteFile failed."},
    {Errc::EndRequest, "::HttpEndRequest failed."},
    {Errc::ToCodePage, "::WideCharToMultiByte failed."},
    {Errc::ToWide, "::MultiByteToWideChar failed."},
    {Errc::ReadFile, "::ReadFile failed."},
    {Errc::Rewind, "::SetFilePointer failed."},
    {Errc::FileSize, "::GetFileSize failed (\"%s\")."},
};

}  // namespace

std::string_view Describe(Errc code) {
    for (const Text& t : kTexts) {
        if (t.code == code)
            return t.text;
    }
    return "";
}

HttpError::HttpError(Errc code, std::uint32_t systemError)
    : HttpError(code, std::string(Describe(code)), systemError) {}

HttpError::HttpError(Errc code, const std::string& message, std::uint32_t systemError)
    : std::runtime_error(message), m_code(code), m_systemError(systemError) {}

}  // namespace skiv::http

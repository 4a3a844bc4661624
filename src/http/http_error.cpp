#include "http/http_error.h"

namespace skiv::http {

std::string_view Describe(Errc code) {
    switch (code) {
        case Errc::Usage:
            return "Not specified";
        case Errc::Unexpected:
            return "Unexpected error occurred.";
        case Errc::OutOfMemory:
            return "Out of memory.";
        case Errc::InvalidUrl:
            return "The requested URL is not a valid URL.";
        case Errc::UploadNotStarted:
            return "The post context is not started yet.";
        case Errc::ShortFileRead:
            return "Couldn't read expected bytes from a file.";
        case Errc::InvalidPort:
            return "The port number is not valid.";
        case Errc::Overflow:
            return "An arithmetic overflow error has been occurred.";
        case Errc::QueryInfo:
            return "::HttpQueryInfo failed.";
        case Errc::ReadResponse:
            return "::InternetReadFile failed.";
        case Errc::OpenSession:
            return "::InternetOpen failed.";
        case Errc::Connect:
            return "::InternetConnect failed.";
        case Errc::OpenRequest:
            return "::HttpOpenRequest failed.";
        case Errc::AddHeader:
            return "::HttpAddRequestHeaders failed.";
        case Errc::SendRequest:
            return "::HttpSendRequest failed.";
        case Errc::StartUpload:
            return "::HttpSendRequestEx failed.";
        case Errc::WriteBody:
            return "::InternetWriteFile failed.";
        case Errc::EndRequest:
            return "::HttpEndRequest failed.";
        case Errc::ToCodePage:
            return "::WideCharToMultiByte failed.";
        case Errc::ToWide:
            return "::MultiByteToWideChar failed.";
        case Errc::ReadFile:
            return "::ReadFile failed.";
        case Errc::Rewind:
            return "::SetFilePointer failed.";
        case Errc::FileSize:
            return "::GetFileSize failed (\"%s\").";
    }
    return "";
}

HttpError::HttpError(Errc code, std::uint32_t systemError)
    : HttpError(code, std::string(Describe(code)), systemError) {}

HttpError::HttpError(Errc code, const std::string& message, std::uint32_t systemError)
    : std::runtime_error(message), m_code(code), m_systemError(systemError) {}

}  // namespace skiv::http

#include "http/internet_handle.h"

#include "platform/internet_api.h"

namespace skiv::http {

void InternetHandleCloser::operator()(void* handle) const noexcept {
    wininet::InternetCloseHandle(handle);
}

}  // namespace skiv::http

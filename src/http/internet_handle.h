#pragma once
// Owning wrapper of a transport handle: closed with InternetCloseHandle
// when it goes. A request handle must go before its connection, a
// connection before its session; owners declare them in that reverse order.

#include <memory>

#include "platform/internet_api.h"

namespace skiv::http {

struct InternetHandleCloser {
    void operator()(void* handle) const noexcept { wininet::InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

}  // namespace skiv::http

#pragma once
// Owning wrapper of a transport handle: closed with InternetCloseHandle
// when it goes. A request handle must go before its connection, a
// connection before its session; owners declare them in that reverse order.
//
// The transport's own header (the system's <wininet.h> on Windows) stays out
// of this one: only the http sources that make the calls include it.

#include <memory>

namespace skiv::http {

struct InternetHandleCloser {
    void operator()(void* handle) const noexcept;
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

}  // namespace skiv::http

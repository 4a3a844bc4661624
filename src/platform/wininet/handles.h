#pragma once
// The objects behind HINTERNET values and the table of live handles.
// A HINTERNET is the address of its object; the table maps it to a shared
// owner, so a call holds its object alive even while another thread closes
// the handle, and a closed or foreign value is refused instead of followed.
// Children keep their parent's settings alive through shared ownership.

#include <memory>
#include <mutex>
#include <string>

#include "platform/wininet/header_list.h"
#include "platform/wininet/transfer.h"
#include "platform/wininet/wininet.h"

namespace skiv::wininet::detail {

enum class HandleKind { Session, Connection, Request };

struct Handle {
    explicit Handle(HandleKind k) : kind(k) {}
    virtual ~Handle() = default;
    const HandleKind kind;
};

// Sessions and connections do not change once open; only a request's state
// does, under its lock.
struct Session : Handle {
    static constexpr HandleKind kKind = HandleKind::Session;
    Session() : Handle(kKind) {}
    std::string agent;
    bool direct = false;  // else the environment's proxy settings apply
    std::shared_ptr<const std::string> ca_bundle;
};

struct Connection : Handle {
    static constexpr HandleKind kKind = HandleKind::Connection;
    Connection() : Handle(kKind) {}
    std::shared_ptr<Session> session;
    std::string host;
    INTERNET_PORT port = 0;
    std::string user, password;
    // Kept between this connection's requests, so they reuse its TCP+TLS.
    std::shared_ptr<LinkPool> links = std::make_shared<LinkPool>();
};

struct Request : Handle {
    static constexpr HandleKind kKind = HandleKind::Request;
    Request() : Handle(kKind) {}
    std::mutex lock;
    std::shared_ptr<Connection> connection;
    std::string verb;
    std::string object;
    bool http10 = false;
    DWORD flags = 0;
    HeaderList headers;
    std::unique_ptr<Transfer> transfer;
};

HINTERNET Register(std::shared_ptr<Handle> handle);
std::shared_ptr<Handle> Lookup(HINTERNET handle);
// Removes the handle from the table; its object goes when the last call
// using it returns. False for an unknown handle.
bool Unregister(HINTERNET handle);

// The live handle of T's kind, or null with *error saying whether the
// handle is unknown or of another kind.
template <class T>
std::shared_ptr<T> LookupAs(HINTERNET handle, DWORD* error) {
    auto found = Lookup(handle);
    if (!found || found->kind != T::kKind) {
        *error = found ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return std::static_pointer_cast<T>(found);
}

}  // namespace skiv::wininet::detail

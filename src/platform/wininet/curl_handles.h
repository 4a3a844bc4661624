#pragma once
// Sole owners of libcurl's raw handles. Move-only; a moved-from owner holds
// null and its destructor does nothing.

#include <curl/curl.h>

#include <utility>

namespace skiv::wininet::detail {

class CurlEasy {
public:
    CurlEasy() : m_handle(curl_easy_init()) {}
    ~CurlEasy() {
        if (m_handle != nullptr) {
            curl_easy_cleanup(m_handle);
        }
    }
    CurlEasy(CurlEasy&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    CurlEasy& operator=(CurlEasy&& other) noexcept {
        if (this != &other) {
            CurlEasy gone(std::move(*this));
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;

    CURL* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    CURL* m_handle;
};

class CurlMulti {
public:
    CurlMulti() : m_handle(curl_multi_init()) {}
    ~CurlMulti() {
        if (m_handle != nullptr) {
            curl_multi_cleanup(m_handle);
        }
    }
    CurlMulti(CurlMulti&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    CurlMulti& operator=(CurlMulti&& other) noexcept {
        if (this != &other) {
            CurlMulti gone(std::move(*this));
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    CURLM* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    CURLM* m_handle;
};

}  // namespace skiv::wininet::detail

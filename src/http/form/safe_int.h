#pragma once
// Checked unsigned arithmetic for the form client's length sums. SafeAdd
// raises SafeIntException; form-client code turns that into the
// arithmetic httpclientexceptionA (see CheckedAdd), so callers only ever
// see the httpclientexception classes.

#include <type_traits>

#include "http/form/http_error.h"

namespace Vutra {

class SafeIntException {
public:
    explicit SafeIntException(unsigned nCode) noexcept : m_code(nCode) {}
    unsigned m_code;
};

template <typename T>
T SafeAdd(T a, T b) {
    static_assert(std::is_unsigned_v<T>);
    T sum;
    if (__builtin_add_overflow(a, b, &sum))
        throw SafeIntException(kArithmeticOverflowCode);
    return sum;
}

// a + b, or the arithmetic error (112 on overflow).
template <typename T>
T CheckedAdd(T a, T b) {
    try {
        return SafeAdd(a, b);
    } catch (const SafeIntException& e) {
        ThrowArithmetic(e.m_code);
    }
}

}  // namespace Vutra

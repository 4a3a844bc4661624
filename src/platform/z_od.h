#pragma once
// Stand-in for the closed allocation library the reply buffers come from:
// zero-filled blocks or null, released one by one.

#include <cstddef>

extern "C" {
// A zero-filled block of count * size bytes, or null when memory is short
// or the product overflows.
void* Z_OD_FNC_calloc(std::size_t count, std::size_t size);
// Releases a block of Z_OD_FNC_calloc; never given null.
void Z_OD_FNC_free(void* block);
}

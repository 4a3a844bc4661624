#include "platform/z_od.h"

#include <cstdlib>

extern "C" {

void* Z_OD_FNC_calloc(std::size_t count, std::size_t size) {
    return std::calloc(count, size);
}

void Z_OD_FNC_free(void* block) {
    std::free(block);
}
}

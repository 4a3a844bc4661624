#include <windows.h>

#include <objbase.h>

#include <cstring>

#include "platform/guid.h"

namespace skiv {

bool CreateGuid(GUID& guid) {
    // CoCreateGuid gives a version 4 GUID from the system's random source;
    // it needs no COM initialisation.
    ::GUID g{};
    if (FAILED(::CoCreateGuid(&g)))
        return false;
    static_assert(sizeof(g) == sizeof(guid));
    std::memcpy(&guid.Data1, &g.Data1, 4);
    std::memcpy(&guid.Data2, &g.Data2, 2);
    std::memcpy(&guid.Data3, &g.Data3, 2);
    std::memcpy(guid.Data4, g.Data4, 8);
    return true;
}

}  // namespace skiv

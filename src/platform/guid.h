#pragma once
// Random GUIDs in the Windows record layout.

#include <cstdint>

namespace skiv {

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

// Fills guid with 16 random bytes from the operating system, marked as
// version 4 (random) with the RFC 4122 variant. False, guid untouched,
// when the system cannot supply random bytes.
bool CreateGuid(GUID& guid);

}  // namespace skiv

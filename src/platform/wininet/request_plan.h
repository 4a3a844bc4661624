#pragma once
// Turns what a request handle has gathered (verb, object name, version,
// flags, headers) and what its connection and session carry (host, port,
// credentials, agent, proxy, trust) into one exchange to run.

#include <string>
#include <string_view>

#include "platform/wininet/handles.h"
#include "platform/wininet/transfer.h"

namespace skiv::wininet::detail {

// The caller holds the request's lock.
TransferPlan MakePlan(const Request& request);

// The object name as it goes on the request line: bytes that cannot stand
// in a request-target (blanks, controls, non-ASCII) are percent-encoded,
// everything else is kept as given; a missing leading '/' is supplied.
std::string RequestTarget(std::string_view object);

}  // namespace skiv::wininet::detail

#pragma once
// A received data request taken into a full 2351-byte package, and the replies the data request
// handler builds in it or in the group's change notice.
#include <cstdint>
#include <string_view>

#include "wire/packages.h"

namespace qv::service {

enum class Alignment {
  Aligned,    // the code lies in 1..16384
  Corrected,  // taken as shifted by two bytes; the realigned code lies in 0..16384
  Incorrect,  // not a request even after realignment (or too short to realign)
};

// Copies the received bytes into package, zero-filling what the client did not send, so that
// no field is read beyond what was received. A code outside 1..16384 is taken as shifted by two
// bytes: the bytes from offset 2 on are copied instead (at most 2349 of them).
Alignment LoadRequest(const uint8_t* payload, int32_t size, wire::RequestPackage& package);

// The refusal: the request itself with its code moved to offset 8 and 7000 at offset 0.
void BuildRefusal(wire::RequestPackage& package);

// The hello reply, built over the hello request: 1000/2, reserved bytes 41..46 zeroed, the user
// name at 47, "SERVER" at 303 and the group's first date at 560.
void BuildHelloReply(wire::RequestPackage& package, std::string_view userName, double firstDate);

// Resets the change notice before a request is processed: code and subcode of the request, date,
// slot id and slot flag 0.
void ResetChangeNotice(wire::RequestPackage& notice, const wire::RequestPackage& request);

// Turns the change notice into the acknowledgment (3000) of request: the acknowledged code
// (40 -> 41, 41 -> 40, 42 -> 41) at offset 8, the request's date and flag byte; for 41 the
// request's slot id and slot flag; for 40 and 42 empty short strings at 41 and 47.
void BuildAcknowledgment(wire::RequestPackage& notice, const wire::RequestPackage& request);

}  // namespace qv::service

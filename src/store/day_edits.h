#pragma once
// The edits a client request applies to one day record, without any file: the record store
// finds or creates the day, applies one of these and writes the record back.
#include <cstdint>

#include "wire/day_record.h"
#include "wire/packages.h"

namespace qv::store {

// True when the index fits what the code uses it for: a slot (0..69) for 4, 40, 41 and 51, a
// line (0..59) for 6, 7, 16, 17, 26 and 27. Codes that use no index accept any.
bool EditIndexInRange(int32_t code, int32_t index);

// Low 16 bits: the whole day number modulo 65536; high 16 bits: the counter.
int32_t MakeSlotId(uint16_t counter, double date);

// Applies edit `code` to record. request and changeNotice point at 2351-byte buffers: the
// request is read, the notice receives what the edit replaced (and code 26/27 read the line an
// earlier edit saved there). key is the request's whole day number. The index must have passed
// EditIndexInRange; unknown codes change nothing.
void ApplyEdit(wire::DayBytes record, int32_t code, int32_t index, const uint8_t* request,
               uint8_t* changeNotice, double key);

}  // namespace qv::store

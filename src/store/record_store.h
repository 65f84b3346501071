#pragma once
// The record store: the operations through which requests read and change a group's datafile.
// Each opens the datafile unshared, finds the day by the index and a forward scan, works one
// record at a time through WorkRecord with absolute positions and closes the file before it
// returns. A failure is repeated once at once; a second failure is logged and given up.
// Requests are the raw 2351 bytes as received.
#include <cstdint>

#include "store/day_edits.h"
#include "store/group_datafile.h"
#include "wire/day_record.h"
#include "wire/messages.h"

namespace qv::store {

constexpr int kMaxWeekDays = wire::days_reply::kMaxDays;

// Offset to start scanning from for the day of date: the last index entry not after it, 0 when
// there is none. Remembers key and result in LookupDate/LookupOffset.
int32_t FindIndexOffset(GroupDatafile& group, double date);

// Fills entries 0..n-1 of the week cache with the days from date on, n = days limited to 1..7;
// days without a record come back as the blank record with their date. A datafile that cannot
// be opened throws (FileError) without a retry; later failures are retried once (messages 31,
// then 30).
void ReadDays(GroupDatafile& group, wire::LogSink& log, int32_t days, double date);

// Writes the sections of incoming chosen by the part flags of CopyRequest into the day of date,
// creating the day when missing. Returns -1 when the day would go in front of the first record
// while MayInsertFirst is off (message 34), else 0.
int32_t WriteDayParts(GroupDatafile& group, wire::LogSink& log, wire::ConstDayBytes incoming,
                      double date);

// Copies the source day of CopyRequest onto its target day by WriteDayParts.
int32_t CopyDay(GroupDatafile& group, wire::LogSink& log);

// Applies edit code with its slot or line index to the day of request (2351 bytes), creating
// the day when missing; ChangeNotice receives what the edit replaced. Returns -1 for a refused
// insertion in front of the first record or an index out of range for the code (message 87,
// the file is not opened), else 0.
int32_t EditDay(GroupDatafile& group, wire::LogSink& log, int32_t code, int32_t index,
                const uint8_t* request);

}  // namespace qv::store

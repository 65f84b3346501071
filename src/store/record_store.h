#pragma once
// The record store: the operations through which requests read and change a group's datafile.
// Each opens the datafile unshared, finds the day by the index and a forward scan, works one
// record at a time with absolute positions and closes the file before it returns. A failure is
// repeated once at once; a second failure is logged and reported. Requests are the raw 2351
// bytes as received. A change reports what became of it (StoreOutcome).
#include <cstdint>

#include "store/change_outcome.h"
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

// Days further ahead of today than this are refused: a day far ahead would make every day
// created in between an insertion into a large file.
constexpr double kHorizonDays = 3652;

// Writes the sections of incoming chosen by partFlags (5 bytes: title, memo, slots, first and
// second list) into the day of date, creating the day when missing. Refused when the day would
// go in front of the first record while MayInsertFirst is off (message 34), or the date is no
// calendar day or beyond the horizon (message 33). after, when given, receives the day as
// written.
StoreOutcome WriteDayParts(GroupDatafile& group, wire::LogSink& log, wire::ConstDayBytes incoming,
                           double date, const uint8_t* partFlags, wire::DayRecord* after = nullptr);

// Copies the source day of a copy request (2351 bytes) onto its target day by WriteDayParts.
StoreOutcome CopyDay(GroupDatafile& group, wire::LogSink& log, const uint8_t* copyRequest,
                     wire::DayRecord* after = nullptr);

// Applies edit code with its slot or line index to the day of request (2351 bytes), creating
// the day when missing. notice (2351 bytes, the group's change notice) receives what the edit
// replaced; codes 26/27 read the line an earlier removal saved there. Refused for an index out
// of range for the code (message 87, the file is not opened) and as WriteDayParts; after, when
// given, receives the day as written.
StoreOutcome EditDay(GroupDatafile& group, wire::LogSink& log, int32_t code, int32_t index,
                     const uint8_t* request, uint8_t* notice, wire::DayRecord* after = nullptr);

}  // namespace qv::store

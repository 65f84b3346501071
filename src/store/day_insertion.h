#pragma once
// A day inserted in front of later records of a datafile: the records from the insertion point on
// move up by one. With the journal the moved tail is one journal entry (written in place after
// its sync like any journalled change); without syncs it moves in place from the end backwards;
// a tail too large for the journal goes through a side file that replaces the datafile. Only the
// side file costs time with the size of the file; the others grow with the records moved.
#include <cstdint>

#include "store/change_outcome.h"
#include "store/file_layer.h"
#include "store/group_datafile.h"
#include "wire/day_record.h"

namespace qv::store {

enum class InsertionWay {
  JournalledTail,  // the tail as one journal entry; durable once the journal is synced
  InPlace,         // no syncs: the tail moved in place, a death leaves at worst a day twice
  SideFile         // the whole file rewritten beside the datafile, synced and renamed
};

// The way an insertion in front of tailBytes of records goes in this group.
InsertionWay ChooseInsertion(const GroupDatafile& group, int64_t tailBytes);

// Inserts day (whose date is set) at pos, in front of the records from pos to the last whole
// record of file, which is the group's datafile as the record store opened it (through the
// pending view while the journal holds changes) and size long. Journalled when the insertion is
// in the journal and waits for its sync; Stored otherwise. Throws on a failure; the datafile is
// then unchanged, or (InPlace) holds a moved record twice.
ChangeStatus InsertDay(GroupDatafile& group, LayerFile& file, int64_t pos, int64_t size,
                       wire::ConstDayBytes day);

// After an insertion at pos: the index entries of the records from pos on move up by one record
// and the day of date is entered at pos, so that lookups keep starting at the right record.
void IndexInsertion(GroupDatafile& group, int64_t pos, double date);

}  // namespace qv::store

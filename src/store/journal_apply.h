#pragma once
// Bringing a group's journalled changes into its datafile. Event thread.
#include "store/group_datafile.h"

namespace qv::store {

// Writes the changes whose journal entries are durable in place. Returns how many were written;
// throws on a failure (they stay pending and are tried again on the next call).
int WriteDurableChanges(GroupDatafile& group);

// Syncs the journal, writes every change in place, syncs the datafile and empties the journal:
// the datafile alone then holds everything, as something that rewrites it from outside the
// record store (the DB Structure dialog) or a stopping server needs. Throws; nothing happens
// without a journal.
void FlushJournal(GroupDatafile& group);

}  // namespace qv::store

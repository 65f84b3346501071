#pragma once
// Start-up of a group's datafile as the running server writes it: with [Options] SyncWrites on,
// through the platform's files with syncs and a write-ahead journal; with it off, through files
// whose syncs do nothing and without a journal.
#include "store/group_datafile.h"
#include "wire/messages.h"

namespace qv::store {

// The file layer chosen by syncWrites, PrepareGroupDatafile (which writes a journal left by the
// last run onto the datafile first), then, with syncs, the journal opened for this run. A
// journal that cannot be opened is logged once and the group's changes are refused
// (EditsRefusedWhy). Failures of PrepareGroupDatafile throw as there.
void PrepareDurableGroupDatafile(GroupDatafile& group, wire::LogSink& log, bool syncWrites);

// The daemon's start-up, where no settings dialog creates a datafile: a configured datafile that
// does not exist is created empty (and logged). One that cannot be created is logged once with
// the reason, and the group's changes are refused (EditsRefusedWhy).
void CreateMissingDatafile(GroupDatafile& group, wire::LogSink& log, bool syncWrites);

}  // namespace qv::store

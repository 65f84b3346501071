#pragma once
// Start-up preparation of a group's datafile (placeholder until the datafile layer lands).
#include "core/log.h"
#include "store/group_datafile.h"

namespace qv::store {

void BuildBlankRecord(DayRecord& record, int32_t timeBegin, int32_t timeEnd, int32_t step);
void PrepareGroupDatafile(GroupDatafile& group, Log& log);

}  // namespace qv::store

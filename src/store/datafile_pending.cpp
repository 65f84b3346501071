// Placeholder until the datafile layer lands: blank records stay zero, datafiles untouched.
#include "store/datafile.h"

namespace qv::store {

void BuildBlankRecord(DayRecord& record, int32_t, int32_t, int32_t) {
  record.fill(0);
}
void PrepareGroupDatafile(GroupDatafile&, Log&) {}

}  // namespace qv::store

#pragma once
// What became of a change the record store was asked to make: stored in the datafile, appended
// to the journal (durable once the journal is synced), refused (nothing was changed), or failed
// (the datafile or the journal could not be written). Only a stored or journalled change may be
// acknowledged or passed on.
#include <string>
#include <utility>

namespace qv::store {

enum class ChangeStatus {
  Stored,      // in the datafile (a server without journal), or nothing needed changing
  Journalled,  // in the journal; durable once the journal's sync is reported
  Refused,     // not applied: an index or date the store does not take, a day it may not create
  WriteFailed  // not applied: the datafile or the journal could not be written
};

struct StoreOutcome {
  ChangeStatus status = ChangeStatus::Stored;
  std::string reason;  // Refused, WriteFailed: why, in words for a log line or a page

  bool Accepted() const {
    return status == ChangeStatus::Stored || status == ChangeStatus::Journalled;
  }
  static StoreOutcome Refused(std::string why) { return {ChangeStatus::Refused, std::move(why)}; }
  static StoreOutcome Failed(std::string why) {
    return {ChangeStatus::WriteFailed, std::move(why)};
  }
};

}  // namespace qv::store

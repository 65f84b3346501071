#pragma once
// A group with a datafile in a fresh temporary directory, a log to inspect, and helpers to
// write and read day records on disk.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "state/catalogue.h"
#include "state/log.h"
#include "store/change_outcome.h"
#include "store/group_datafile.h"
#include "wire/day_record.h"

namespace qv::store::test {

// A change's outcome as a number the tests compare: 0 stored or journalled, -1 refused, -2 not
// written.
inline int32_t Code(const StoreOutcome& outcome) {
  if (outcome.Accepted()) return 0;
  return outcome.status == ChangeStatus::Refused ? -1 : -2;
}

class StoreFixture : public ::testing::Test {
 protected:
  StoreFixture();
  ~StoreFixture() override;

  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  // The blank record of the group with this date and title.
  wire::DayRecord Day(double date, const std::string& title = {}) const;
  // A datafile (or archive) of one record per date, titled "day <date>".
  void WriteDays(const std::string& path, const std::vector<double>& dates) const;
  void WriteRecords(const std::string& path, const std::vector<wire::DayRecord>& records) const;
  void AppendBytes(const std::string& path, const std::string& bytes) const;

  std::vector<double> ReadDates(const std::string& path) const;
  wire::DayRecord ReadRecord(const std::string& path, int64_t index) const;
  std::string ReadBytes(const std::string& path) const;

  // Logged texts without their time stamps, oldest first.
  std::vector<std::string> LogLines() const;
  bool Logged(const std::string& text) const;

  static std::string TitleOf(double date);

  std::filesystem::path dir_;
  state::Catalogue catalogue_;
  std::recursive_mutex sessionLock_;
  state::Log log_{catalogue_, sessionLock_};
  GroupDatafile group_;
};

}  // namespace qv::store::test

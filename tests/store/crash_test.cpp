// Every datafile change is cut at every step it takes, with the process dying (all that was
// written stays, the last write possibly torn) or the machine dying (only what was synced stays);
// after a restart no acknowledged change is missing, no day is torn or doubled, and the archive
// holds what it should.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "fault_files.h"
#include "request_builder.h"
#include "store/change_outcome.h"
#include "store/datafile.h"
#include "store/journal.h"
#include "store/journal_apply.h"
#include "store/record_store.h"
#include "store_fixture.h"
#include "wire/request_fields.h"

namespace qv::store {
namespace {

using test::FaultFiles;

constexpr double kToday = 45000;
constexpr int64_t kRecord = wire::kDayRecordSize;

struct Death {
  bool powerCut;
  int64_t tear;            // bytes of the cut write that land; -1: none
  bool halfLands = false;  // the machine wrote half of each write it was not asked to sync
  std::string Name() const {
    return std::string(powerCut ? (halfLands ? " power, half landed" : " power") : " kill") +
           " tear " + std::to_string(tear);
  }
};
const Death kDeaths[] = {
    {false, -1}, {true, -1}, {false, 5}, {false, kRecord / 2}, {true, -1, true}};

std::string Str(wire::ConstDayBytes r) {
  return std::string(reinterpret_cast<const char*>(r.data()), r.size());
}

class CrashTest : public test::StoreFixture {
 protected:
  // Serves the group's files from files, its datafile holding the days of dates.
  void UseFiles(FaultFiles& files, const std::vector<double>& dates) {
    files.Put(group_.FileName, Records(dates));
    group_.Files = &files;
  }
  std::string Records(const std::vector<double>& dates) const {
    std::string bytes;
    for (double d : dates) bytes += Str(Day(d, TitleOf(d)));
    return bytes;
  }
  static std::vector<double> Dates(const std::string& bytes) {
    std::vector<double> dates;
    for (size_t pos = 0; pos + kRecord <= bytes.size(); pos += kRecord) {
      dates.push_back(
          wire::LoadField<double>(reinterpret_cast<const uint8_t*>(bytes.data() + pos)));
    }
    return dates;
  }
  // The dates of a datafile, which must hold whole records in ascending order.
  static std::vector<double> WholeAscendingDates(const std::string& bytes,
                                                 const std::string& what) {
    EXPECT_EQ(bytes.size() % kRecord, 0u) << what;
    const std::vector<double> dates = Dates(bytes);
    const auto wrong = std::adjacent_find(dates.begin(), dates.end(), std::greater_equal<>());
    EXPECT_EQ(wrong, dates.end()) << what << ": record " << wrong - dates.begin() + 1
                                  << " is not later than the one before";
    return dates;
  }
  static std::string RecordAt(const std::string& bytes, size_t i) {
    return bytes.substr(i * kRecord, kRecord);
  }
  // Runs start-up on files as a restarted server would.
  void Restart(FaultFiles& files, const Death& death) {
    files.Restart(death.powerCut, death.halfLands);
    group_.Busy = false;
    group_.Journal.reset();
    PrepareGroupDatafile(group_, log_, kToday);
  }
  void ExpectNoSideFiles(FaultFiles& files, const std::string& what) {
    for (const auto& [name, node] : files.Files()) {
      EXPECT_EQ(name.find(".new"), std::string::npos) << what << ": " << name << " left";
    }
  }
};

// Rotation of 7 past days into an archive of 6 that keeps 8, after the gap correction of a
// missing future day.
TEST_F(CrashTest, RotationCutAtEveryStepLosesAndDoublesNothing) {
  std::vector<double> data;
  for (double d = kToday - 12; d <= kToday + 3; ++d) {
    if (d != kToday + 1) data.push_back(d);
  }
  const std::vector<double> archive{kToday - 30, kToday - 29, kToday - 28,
                                    kToday - 27, kToday - 26, kToday - 25};
  std::vector<double> wantData, wantArchive{kToday - 25};
  for (double d = kToday - 5; d <= kToday + 3; ++d) wantData.push_back(d);
  for (double d = kToday - 12; d <= kToday - 6; ++d) wantArchive.push_back(d);
  group_.Count = 5;
  group_.CountArc = 8;
  const std::string arcName = ArchiveName(group_.FileName);

  auto check = [&](FaultFiles& files, const std::string& what) {
    const std::string bytes = files.Get(group_.FileName);
    const std::string arc = files.Get(arcName);
    ASSERT_EQ(bytes.size() % kRecord, 0u) << what;
    ASSERT_EQ(arc.size() % kRecord, 0u) << what;
    ASSERT_EQ(Dates(bytes), wantData) << what;
    ASSERT_EQ(Dates(arc), wantArchive) << what;
    for (size_t i = 0; i < wantData.size(); ++i) {
      const double d = wantData[i];
      ASSERT_TRUE(RecordAt(bytes, i) == Str(Day(d, d == kToday + 1 ? "" : TitleOf(d)))) << what;
    }
    for (size_t i = 0; i < wantArchive.size(); ++i) {
      ASSERT_TRUE(RecordAt(arc, i) == Str(Day(wantArchive[i], TitleOf(wantArchive[i])))) << what;
    }
    ExpectNoSideFiles(files, what);
  };

  int64_t steps = 0;
  {
    FaultFiles files;
    files.Put(group_.FileName, Records(data));
    files.Put(arcName, Records(archive));
    group_.Files = &files;
    OpenGroupDatafile(group_, log_, kToday);
    steps = files.Steps();
    check(files, "uncut");
  }
  ASSERT_GT(steps, 8);
  for (int64_t step = 1; step <= steps; ++step) {
    for (const Death& death : kDeaths) {
      FaultFiles files;
      files.Put(group_.FileName, Records(data));
      files.Put(arcName, Records(archive));
      group_.Files = &files;
      files.CutAt(step, death.tear);
      try {
        OpenGroupDatafile(group_, log_, kToday);
      } catch (const std::exception&) {
      }
      ASSERT_TRUE(files.Dead());
      Restart(files, death);
      check(files, "step " + std::to_string(step) + death.Name());
    }
  }
  group_.Files = nullptr;
}

// The same rotation with an archive that must be cut back, and a start-up that finds the side
// files of an interrupted run.
TEST_F(CrashTest, LeftoverSideFilesAreRemovedAndLogged) {
  FaultFiles files;
  files.Put(group_.FileName, Records({kToday - 2, kToday - 1, kToday}));
  files.Put(group_.FileName + ".new", "half");
  files.Put(ArchiveName(group_.FileName) + ".new", "half");
  group_.Files = &files;
  group_.Count = 1;
  group_.CountArc = 0;
  OpenGroupDatafile(group_, log_, kToday);
  EXPECT_TRUE(Logged("Unfinished work file removed: " + group_.FileName + ".new"));
  EXPECT_TRUE(Logged("Unfinished work file removed: " + ArchiveName(group_.FileName) + ".new"));
  ExpectNoSideFiles(files, "start-up");
  EXPECT_EQ(Dates(files.Get(group_.FileName)), (std::vector<double>{kToday - 1, kToday}));
  EXPECT_EQ(files.Get(ArchiveName(group_.FileName)), "") << "CountArc 0 keeps no day";
  group_.Files = nullptr;
}

// A day edited in front of a later record: records move up; cut anywhere, the old file is whole
// or the new one is, and an edit that returned is there.
TEST_F(CrashTest, InsertionCutAtEveryStep) {
  const std::vector<double> data{kToday + 1, kToday + 2, kToday + 4, kToday + 5};
  group_.Count = 100;
  group_.CountArc = 100;
  // As the running server finds it: the gap at + 3 is not filled before the next start.
  auto ready = [&] {
    group_.Index.clear();
    group_.LookupDate = 0;
    group_.LookupOffset = 0;
    group_.MayInsertFirst = true;
  };
  auto edit = [&](double d) {
    wire::RequestPackage notice{};
    return EditDay(group_, log_, 2, 0, test::Request(d).Text("inserted").data(), notice.data());
  };
  for (double target : {kToday + 3, kToday}) {
    int64_t steps = 0;
    {
      FaultFiles files;
      UseFiles(files, data);
      ready();
      const int64_t before = files.Steps();
      ASSERT_TRUE(edit(target).Accepted());
      steps = files.Steps() - before;
    }
    for (int64_t step = 1; step <= steps; ++step) {
      for (const Death& death : kDeaths) {
        const std::string what = "day " + std::to_string(target - kToday) + " step " +
                                 std::to_string(step) + death.Name();
        FaultFiles files;
        UseFiles(files, data);
        ready();
        files.CutAt(step, death.tear);
        edit(target);
        ASSERT_TRUE(files.Dead()) << what;
        Restart(files, death);
        const std::string bytes = files.Get(group_.FileName);
        const std::vector<double> dates = WholeAscendingDates(bytes, what);
        ASSERT_FALSE(HasFailure());
        for (size_t i = 0; i < dates.size(); ++i) {
          const double d = dates[i];
          const std::string record = RecordAt(bytes, i);
          const bool wasThere = std::count(data.begin(), data.end(), d) != 0;
          if (!wasThere) {  // the day inserted, or a gap filled at the restart
            ASSERT_TRUE(record == Str(Day(d, "inserted")) || record == Str(Day(d, ""))) << what;
          } else {
            ASSERT_TRUE(record == Str(Day(d, TitleOf(d)))) << what;
          }
        }
        ExpectNoSideFiles(files, what);
      }
    }
  }
  group_.Files = nullptr;
}

// An insertion through the side file (more records behind it than a journal entry takes) whose
// directory sync fails has put the new file in place all the same: the journal's pending
// entries, at offsets of the old layout, are not laid over it.
TEST_F(CrashTest, InsertionWithAFailedDirectorySyncLeavesNoStaleEntries) {
  FaultFiles files;
  std::vector<double> data{kToday + 1};
  for (int64_t i = 0; i <= kJournalledTailLimit / kRecord; ++i) data.push_back(kToday + 3 + i);
  UseFiles(files, data);
  group_.Count = 100;
  group_.CountArc = 100;
  group_.MayInsertFirst = true;  // as the running server finds it: the gap is not filled yet
  group_.Journal = std::make_shared<DayJournal>(files, JournalName(group_.FileName));
  wire::RequestPackage notice{};
  auto title = [&](double d, const std::string& text) {
    return test::Code(
        EditDay(group_, log_, 2, 0, test::Request(d).Text(text).data(), notice.data()));
  };
  auto read = [&](double d) {
    ReadDays(group_, log_, 1, d);
    return std::string(wire::Title(wire::DayBytes(group_.Week->Day(0), wire::kDayRecordSize)));
  };
  ASSERT_EQ(title(kToday + 3, "pending"), 0);
  ASSERT_EQ(group_.Journal->Pending().size(), 1u) << "journalled, not yet durable";
  files.FailDirectorySyncs(1);
  title(kToday + 2, "inserted");
  EXPECT_EQ(files.Get(group_.FileName).size(), (data.size() + 1) * kRecord)
      << "the insertion took place";
  EXPECT_EQ(read(kToday + 3), "pending");
  EXPECT_EQ(read(kToday + 2), "inserted");
  for (const JournalEntry& entry : group_.Journal->Pending()) {
    EXPECT_EQ(wire::DayKey(entry.date), kToday + 2)
        << "an entry of the old layout is still pending";
  }
  group_.Journal.reset();
  group_.Files = nullptr;
}

// A burst of edits through the journal: synced in groups (the acknowledgments), each group then
// written in place, journal files retired and emptied on the way, days changed (whole parts and
// only a title) and appended behind the last one.
TEST_F(CrashTest, JournalledBurstKeepsEveryAcknowledgedEdit) {
  const int kEdits = 30;
  std::vector<double> data;
  for (double d = kToday; d < kToday + 10; ++d) data.push_back(d);
  group_.Count = 100;
  group_.CountArc = 100;
  const uint8_t allParts[wire::request::kPartFlagCount] = {1, 1, 1, 1, 1};
  wire::RequestPackage notice{};

  // Images written per day, in order; index of the last acknowledged one (-1: none, the day
  // as it was).
  std::map<double, std::vector<std::string>> images;
  std::map<double, int> acked;
  std::vector<std::pair<double, size_t>> unsynced;
  int checkpoints = 0;

  auto run = [&](FaultFiles& files) {
    checkpoints = 0;
    images.clear();
    acked.clear();
    unsynced.clear();
    for (double d : data) images[d].push_back(Str(Day(d, TitleOf(d))));
    for (double d : data) acked[d] = 0;
    try {
      PrepareGroupDatafile(group_, log_, kToday);
      // A file retires after about two whole days.
      group_.Journal = std::make_shared<DayJournal>(
          files, JournalName(group_.FileName), CheckpointPolicy{120000, std::chrono::hours(1)});
    } catch (const test::DiskDied&) {
      return;
    }
    for (int i = 0; i < kEdits; ++i) {
      const double d = kToday + (i * 7) % 13;
      auto written = std::make_unique<wire::DayRecord>();
      if (i % 2 == 0) {  // most of the record
        wire::DayRecord incoming = Day(d, "v" + std::to_string(i));
        wire::SetLine(incoming, wire::day::LineList::Second, 59, "tail v" + std::to_string(i));
        WriteDayParts(group_, log_, incoming, d, allParts, written.get());
      } else {  // a few bytes of it
        EditDay(group_, log_, 2, 0, test::Request(d).Text("title " + std::to_string(i)).data(),
                notice.data(), written.get());
      }
      // A change that died on the way may still be found (it was never acknowledged).
      if (wire::DayDate(*written) == d) images[d].push_back(Str(*written));
      if (!acked.count(d)) acked[d] = -1;
      if (files.Dead()) return;
      unsynced.emplace_back(d, images[d].size() - 1);
      try {
        if (i % 3 == 2) {  // a group commit, as the sync thread and then the event thread do it
          group_.Journal->Sync();
          for (auto [day, index] : unsynced) acked[day] = std::max<int>(acked[day], index);
          unsynced.clear();
          WriteDurableChanges(group_);
          if (group_.Journal->CheckpointRetiring()) ++checkpoints;
        }
      } catch (const test::DiskDied&) {
        return;
      }
    }
  };
  auto check = [&](FaultFiles& files, const std::string& what) {
    const std::string bytes = files.Get(group_.FileName);
    const std::vector<double> dates = WholeAscendingDates(bytes, what);
    ASSERT_FALSE(HasFailure());
    for (size_t i = 0; i < dates.size(); ++i) {
      const double d = dates[i];
      const std::string record = RecordAt(bytes, i);
      const auto& written = images[d];
      const int from = acked.count(d) ? acked[d] : -1;
      bool ok = from < 0 && record == Str(Day(d, ""));  // filled in as a blank day
      for (size_t k = std::max(from, 0); k < written.size() && !ok; ++k) ok = record == written[k];
      ASSERT_TRUE(ok) << what << ": day " << d - kToday << " torn, lost or stale: "
                      << wire::Title(wire::DayBytes(
                             reinterpret_cast<uint8_t*>(const_cast<char*>(record.data())),
                             wire::kDayRecordSize))
                      << " acked " << from << " of " << written.size();
    }
    for (const auto& [d, index] : acked) {
      if (index < 0) continue;
      ASSERT_EQ(std::count(dates.begin(), dates.end(), d), 1) << what;
    }
  };

  int64_t steps = 0;
  {
    FaultFiles files;
    UseFiles(files, data);
    run(files);
    steps = files.Steps();
    EXPECT_GE(checkpoints, 3) << "journal files retired and emptied on the way";
    Restart(files, {true, -1});
    check(files, "uncut");
  }
  for (int64_t step = 1; step <= steps; ++step) {
    for (const Death& death : kDeaths) {
      const std::string what = "step " + std::to_string(step) + death.Name();
      FaultFiles files;
      UseFiles(files, data);
      files.CutAt(step + 0, death.tear);
      run(files);
      if (!files.Dead()) continue;  // the cut fell into the start-up before the burst
      Restart(files, death);
      check(files, what);
      for (const std::string& journal :
           {JournalName(group_.FileName), SecondJournalName(group_.FileName)}) {
        ASSERT_EQ(files.Get(journal), "") << what << ": start-up empties " << journal;
      }
    }
  }
  group_.Journal.reset();
  group_.Files = nullptr;
}

// Insertions through the journal, one of them in front of a day whose edit is still pending and
// one followed by an edit of a moved day at its new place, synced in two rounds (the
// acknowledgments), the first round written in place, the last insertion never synced. Cut
// anywhere: every acknowledged change is there after a restart, and no day is torn, doubled or
// lost.
TEST_F(CrashTest, JournalledInsertionCutAtEveryStep) {
  const std::vector<double> data{kToday, kToday + 2, kToday + 4, kToday + 5, kToday + 7};
  group_.Count = 100;
  group_.CountArc = 100;
  std::map<double, std::string> acked;            // the title a day must have
  std::map<double, std::set<std::string>> maybe;  // titles of changes not acknowledged
  std::vector<std::pair<double, std::string>> unsynced;
  int64_t journalled = 0;

  auto edit = [&](double d, const std::string& title) {
    wire::RequestPackage notice{};
    const StoreOutcome outcome =
        EditDay(group_, log_, 2, 0, test::Request(d).Text(title).data(), notice.data());
    if (outcome.status == ChangeStatus::Journalled) ++journalled;
    maybe[d].insert(title);
    // Only an accepted change is acknowledged after the next sync.
    if (outcome.Accepted()) unsynced.emplace_back(d, title);
  };
  auto sync = [&] {
    group_.Journal->Sync();
    for (const auto& [d, title] : unsynced) acked[d] = title;
    unsynced.clear();
  };
  auto run = [&](FaultFiles& files) {
    acked.clear();
    maybe.clear();
    unsynced.clear();
    journalled = 0;
    // As the running server finds it: the gaps are not filled before the next start.
    group_.LookupDate = 0;
    group_.LookupOffset = 0;
    group_.MayInsertFirst = true;
    try {
      BuildIndex(*files.Open(group_.FileName, platform::OpenMode::Read), group_.Index);
      // An insertion (two records or more) retires the active file: entries in both files.
      group_.Journal = std::make_shared<DayJournal>(
          files, JournalName(group_.FileName), CheckpointPolicy{100000, std::chrono::hours(1)});
      edit(kToday + 4, "edited four");
      edit(kToday + 3, "inserted three");  // moves + 4 (its edit pending), + 5 and + 7
      sync();
      WriteDurableChanges(group_);
      group_.Journal->CheckpointRetiring();
      edit(kToday + 5, "edited five");  // at its new place
      edit(kToday + 1, "inserted one");
      sync();
      edit(kToday + 6, "inserted six");  // never synced
      WriteDurableChanges(group_);
      group_.Journal->CheckpointRetiring();
    } catch (const test::DiskDied&) {
    }
  };
  auto check = [&](FaultFiles& files, const std::string& what) {
    std::string bytes = files.Get(group_.FileName);
    const std::vector<double> dates = WholeAscendingDates(bytes, what);
    ASSERT_FALSE(HasFailure());
    for (double d : data) ASSERT_EQ(std::count(dates.begin(), dates.end(), d), 1) << what;
    for (size_t i = 0; i < dates.size(); ++i) {
      const double d = dates[i];
      std::set<std::string> allowed;
      if (acked.count(d)) {
        allowed = {acked[d]};
      } else {
        allowed = maybe[d];
        allowed.insert(std::count(data.begin(), data.end(), d) ? TitleOf(d) : "");
      }
      bool ok = false;
      for (const std::string& title : allowed) ok = ok || RecordAt(bytes, i) == Str(Day(d, title));
      ASSERT_TRUE(ok) << what << ": day " << d - kToday << " torn, lost or stale: "
                      << wire::Title(
                             wire::DayBytes(reinterpret_cast<uint8_t*>(bytes.data() + i * kRecord),
                                            wire::kDayRecordSize));
    }
    for (const auto& [d, title] : acked) {
      ASSERT_EQ(std::count(dates.begin(), dates.end(), d), 1) << what << ": day " << d - kToday;
    }
  };

  int64_t steps = 0;
  {
    FaultFiles files;
    UseFiles(files, data);
    run(files);
    steps = files.Steps();
    EXPECT_EQ(journalled, 5) << "insertions and edits all went to the journal";
    EXPECT_EQ(acked.size(), 4u);
    EXPECT_FALSE(files.Has(group_.FileName + ".new")) << "no side file was written";
    Restart(files, {true, -1});
    check(files, "uncut");
  }
  for (int64_t step = 1; step <= steps; ++step) {
    for (const Death& death : kDeaths) {
      const std::string what = "step " + std::to_string(step) + death.Name();
      FaultFiles files;
      UseFiles(files, data);
      files.CutAt(step, death.tear);
      run(files);
      ASSERT_TRUE(files.Dead()) << what;
      Restart(files, death);
      check(files, what);
      ASSERT_FALSE(HasFailure()) << what;
    }
  }
  group_.Journal.reset();
  group_.Files = nullptr;
}

// Without syncs an insertion moves the records behind it in place, from the last one backwards.
// A process killed anywhere on the way leaves every day, at worst one of them twice; the first
// copy is the one reads show and edits change.
TEST_F(CrashTest, InPlaceInsertionKilledAtEveryStepLosesNoDay) {
  const std::vector<double> data{kToday + 1, kToday + 2, kToday + 4, kToday + 5, kToday + 6};
  group_.Count = 100;
  group_.CountArc = 100;
  auto edit = [&](double d, const std::string& title) {
    wire::RequestPackage notice{};
    return EditDay(group_, log_, 2, 0, test::Request(d).Text(title).data(), notice.data());
  };
  auto ready = [&](FaultFiles& files) {
    files.SetSyncs(false);
    UseFiles(files, data);
    group_.Index.clear();
    group_.LookupDate = 0;
    group_.LookupOffset = 0;
    group_.MayInsertFirst = true;
  };
  int64_t steps = 0;
  {
    FaultFiles files;
    ready(files);
    ASSERT_EQ(edit(kToday + 3, "inserted").status, ChangeStatus::Stored);
    steps = files.Steps();
    EXPECT_EQ(Dates(files.Get(group_.FileName)),
              (std::vector<double>{kToday + 1, kToday + 2, kToday + 3, kToday + 4, kToday + 5,
                                   kToday + 6}));
    ExpectNoSideFiles(files, "uncut");
  }
  ASSERT_EQ(steps, 4) << "three records moved and the day written";
  int doubled = 0;
  for (int64_t step = 1; step <= steps; ++step) {
    for (const Death& death : {Death{false, -1}, Death{false, kRecord / 2}}) {
      const std::string what = "step " + std::to_string(step) + death.Name();
      FaultFiles files;
      ready(files);
      files.CutAt(step, death.tear);
      edit(kToday + 3, "inserted");
      ASSERT_TRUE(files.Dead()) << what;
      Restart(files, death);
      const std::string bytes = files.Get(group_.FileName);
      const std::vector<double> dates = Dates(bytes);
      ASSERT_TRUE(std::is_sorted(dates.begin(), dates.end())) << what;
      std::vector<double> distinct = dates;
      distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
      for (double d : data) ASSERT_EQ(std::count(distinct.begin(), distinct.end(), d), 1) << what;
      ASSERT_LE(dates.size(), distinct.size() + 1) << what << ": at most one day twice";
      for (size_t i = 0; i < dates.size(); ++i) {
        if (i > 0 && dates[i] == dates[i - 1]) continue;  // a second copy
        const double d = dates[i];
        const bool kept = RecordAt(bytes, i) == Str(Day(d, TitleOf(d)));
        ASSERT_TRUE(kept || RecordAt(bytes, i) == Str(Day(d, "inserted")) ||
                    RecordAt(bytes, i) == Str(Day(d, "")))
            << what << ": first copy of day " << d - kToday;
      }
      const auto twice = std::adjacent_find(dates.begin(), dates.end());
      if (twice == dates.end()) continue;
      ++doubled;
      // The doubled day takes an edit, and reads show it and the days behind it.
      const double d = *twice;
      group_.Index.clear();
      group_.LookupDate = 0;
      ASSERT_TRUE(edit(d, "after").Accepted()) << what;
      ReadDays(group_, log_, 3, d);
      EXPECT_EQ(wire::Title(wire::DayBytes(group_.Week->Day(0), wire::kDayRecordSize)), "after")
          << what;
      EXPECT_EQ(wire::DayDate(wire::DayBytes(group_.Week->Day(1), wire::kDayRecordSize)), d + 1)
          << what;
      const std::string next(
          wire::Title(wire::DayBytes(group_.Week->Day(1), wire::kDayRecordSize)));
      EXPECT_TRUE(next == TitleOf(d + 1) || next == "inserted" || next.empty()) << what;
    }
  }
  EXPECT_GT(doubled, 0) << "some cut left a day twice";
  group_.Files = nullptr;
}

}  // namespace
}  // namespace qv::store

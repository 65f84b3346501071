#include "store_fixture.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "store/datafile.h"

namespace qv::store::test {

StoreFixture::StoreFixture() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qv-store-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  group_.Alias = "Team";
  group_.FileName = PathOf("team.qdb");
  BuildBlankRecord(*group_.BlankRecord, 9, 20, 0);
}

StoreFixture::~StoreFixture() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string StoreFixture::TitleOf(double date) {
  return "day " + std::to_string(static_cast<long long>(date));
}

wire::DayRecord StoreFixture::Day(double date, const std::string& title) const {
  wire::DayRecord record = *group_.BlankRecord;
  wire::SetDayDate(record, date);
  wire::SetTitle(record, title);
  return record;
}

void StoreFixture::WriteDays(const std::string& path, const std::vector<double>& dates) const {
  std::vector<wire::DayRecord> records;
  for (double date : dates) records.push_back(Day(date, TitleOf(date)));
  WriteRecords(path, records);
}

void StoreFixture::WriteRecords(const std::string& path,
                                const std::vector<wire::DayRecord>& records) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const wire::DayRecord& record : records) {
    out.write(reinterpret_cast<const char*>(record.data()), record.size());
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

void StoreFixture::AppendBytes(const std::string& path, const std::string& bytes) const {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot append to " + path);
}

std::string StoreFixture::ReadBytes(const std::string& path) const {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<double> StoreFixture::ReadDates(const std::string& path) const {
  const std::string bytes = ReadBytes(path);
  std::vector<double> dates;
  for (size_t pos = 0; pos + wire::kDayRecordSize <= bytes.size(); pos += wire::kDayRecordSize) {
    dates.push_back(wire::LoadField<double>(reinterpret_cast<const uint8_t*>(bytes.data() + pos)));
  }
  return dates;
}

wire::DayRecord StoreFixture::ReadRecord(const std::string& path, int64_t index) const {
  const std::string bytes = ReadBytes(path);
  wire::DayRecord record{};
  const size_t pos = static_cast<size_t>(index) * wire::kDayRecordSize;
  if (pos + wire::kDayRecordSize > bytes.size()) throw std::runtime_error("no such record");
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), wire::kDayRecordSize,
              record.begin());
  return record;
}

std::vector<std::string> StoreFixture::LogLines() const {
  const std::string pending = log_.Pending();
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < pending.size()) {
    size_t end = pending.find("\r\n", start);
    if (end == std::string::npos) end = pending.size();
    const std::string line = pending.substr(start, end - start);
    lines.insert(lines.begin(), line.size() > 9 ? line.substr(9) : std::string());  // "HH:MM:SS "
    start = end + 2;
  }
  return lines;
}

bool StoreFixture::Logged(const std::string& text) const {
  for (const std::string& line : LogLines()) {
    if (line == text) return true;
  }
  return false;
}

}  // namespace qv::store::test

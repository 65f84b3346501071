#include "core/settings_check.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>

#include "config/default_config.h"
#include "config/feed_settings.h"
#include "config/settings.h"
#include "platform/file_access.h"

namespace qv::core {
namespace {

constexpr int32_t kMaxPort = 65535;
constexpr int32_t kClientPortOffset = 10;
constexpr int32_t kMinInt = std::numeric_limits<int32_t>::min();
constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

class Checker {
 public:
  Checker(const config::IniStore& ini, std::vector<SettingsFinding>& out) : ini_(ini), out_(out) {}

  void Fault(const std::string& section, const std::string& key, const std::string& value,
             const std::string& why) {
    out_.push_back({true, Where(section, key, value) + ": " + why});
  }
  void Fault(const std::string& text) { out_.push_back({true, text}); }
  void Note(const std::string& text) { out_.push_back({false, text}); }

  // An integer key: required keys must be there, optional ones only when given.
  std::optional<int32_t> Int(const std::string& section, const std::string& key, bool required,
                             int32_t min, int32_t max) {
    const config::IniSection s = ini_.ReadSection(section);
    if (!s.Has(key)) {
      if (required) Fault(section, key, "", "missing");
      return std::nullopt;
    }
    const std::string value = s.Value(key);
    int32_t number = 0;
    if (!config::TryParseInt(value, number)) {
      Fault(section, key, value, "not a number");
      return std::nullopt;
    }
    if (number < min || number > max) {
      Fault(section, key, value,
            "out of range " + std::to_string(min) + ".." + std::to_string(max));
      return std::nullopt;
    }
    return number;
  }

 private:
  static std::string Where(const std::string& section, const std::string& key,
                           const std::string& value) {
    return "[" + section + "] " + key + "=" + value;
  }
  const config::IniStore& ini_;
  std::vector<SettingsFinding>& out_;
};

void CheckInlineComments(const config::IniStore& ini, Checker& check) {
  for (const std::string& name : ini.SectionNames()) {
    const config::IniSection section = ini.ReadSection(name);  // kept alive for the loop
    for (const config::IniEntry& entry : section.Entries()) {
      if (LooksLikeInlineComment(entry.Value)) {
        check.Fault(name, entry.Key, entry.Value,
                    "looks like an inline comment (comments go on lines of their own)");
      }
    }
  }
}

void CheckOptions(Checker& check) {
  check.Int("Options", "Language", false, kMinInt, kMaxInt);
  // Anything but "1" is off: another text is most likely a slip.
  check.Int("Options", "DEBUG", false, 0, 1);
  check.Int("Options", "SyncWrites", false, kMinInt, kMaxInt);
  check.Int("Options", "ApplicationCharset", false, 0, 255);
}

void CheckNetwork(Checker& check) {
  check.Int("NetWork", "Port", true, 1, kMaxPort - kClientPortOffset);
  check.Int("NetWork", "DirectSend", true, kMinInt, kMaxInt);
  check.Int("NetWork", "TCPNoDelay", true, kMinInt, kMaxInt);
  check.Int("NetWork", "Reconnect", false, 0, kMaxInt);
  check.Int("NetWork", "CheckInterval_ms", false, 0, kMaxInt);
}

void CheckDatafile(const std::string& section, const std::string& path, Checker& check) {
  switch (platform::KindOf(path)) {
    case platform::PathKind::File:
      if (!platform::CanReadWrite(path)) {
        check.Fault(section, "Name", path, "the datafile cannot be read and written");
      }
      return;
    case platform::PathKind::Missing: {
      const std::string dir = platform::ParentDirectory(path);
      if (platform::CanCreateIn(dir)) {
        check.Note("[" + section + "] Name=" + path + ": no such file; it will be created");
      } else {
        check.Fault(
            section, "Name", path,
            "no such file, and it cannot be created in " + dir +
                (platform::KindOf(dir) == platform::PathKind::Missing ? " (no such directory)"
                                                                      : " (not writable)"));
      }
      return;
    }
    default:
      check.Fault(section, "Name", path, "not a regular file");
  }
}

void CheckGroup(const config::IniStore& ini, int number, Checker& check) {
  const std::string section = config::GroupSectionName(number);
  const config::IniSection values = ini.ReadSection(section);
  check.Int(section, "Count", true, 0, kMaxInt);
  check.Int(section, "CountArc", true, 0, kMaxInt);
  check.Int(section, "Archive Link", true, kMinInt, kMaxInt);
  check.Int(section, "Time Begin", true, 0, 24);
  check.Int(section, "Time End", true, 0, 24);
  check.Int(section, "Step", true, 0, 2);  // slots of 1, 2 or 3 hours
  const auto users = check.Int(section, "UserCount", true, 0, config::kMaxUsersPerGroup);
  for (int32_t u = 1; users && u <= *users; ++u) {
    const std::string key = "User_" + std::to_string(u);
    const std::string entry = values.Value(key);
    const size_t at = entry.find("::");
    if (at == std::string::npos || at == 0 || at + 2 == entry.size()) {
      check.Fault(section, key, entry, "not host::name");
    }
  }
  const std::string name = values.Value("Name");
  if (!name.empty()) CheckDatafile(section, name, check);
}

void CheckGroups(const config::IniStore& ini, Checker& check) {
  const auto count = check.Int("DataBases", "Count", true, 0, config::kMaxGroups);
  if (!count) return;
  const config::IniSection databases = ini.ReadSection("DataBases");
  for (int n = 1; n <= *count; ++n) {
    const std::string key = "Alias" + std::to_string(n);
    if (databases.Value(key).empty()) check.Fault("DataBases", key, "", "a group needs a name");
    CheckGroup(ini, n, check);
  }
}

void CheckFeed(const config::IniStore& ini, Checker& check) {
  const config::IniSection feed = ini.ReadSection(config::kFeedSection);
  const std::string section = config::kFeedSection;
  check.Int(section, "Port", false, 0, kMaxPort);
  check.Int(section, "MaxClients", false, 1, kMaxPort);
  for (const char* key : {"Address", "Proxy"}) {
    const std::string value = feed.Value(key);
    if (!value.empty() && !config::ParseIpv4(value)) {
      check.Fault(section, key, value, "not a dotted IPv4 address");
    }
  }
  const std::string allow = feed.Value("Allow");
  size_t from = 0;
  while (from <= allow.size() && !allow.empty()) {
    const size_t comma = std::min(allow.find(',', from), allow.size());
    std::string item = allow.substr(from, comma - from);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.front())))
      item.erase(0, 1);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.back()))) item.pop_back();
    if (!config::ParseAddressRange(item)) {
      check.Fault(section, "Allow", allow,
                  "\"" + item + "\" is not an IPv4 address or address/bits range");
    }
    from = comma + 1;
  }
}

void CheckStateDirectory(const std::string& dir, Checker& check) {
  const std::string pop3 = dir + "/POP3";
  const platform::PathKind kind = platform::KindOf(dir);
  if (kind == platform::PathKind::Missing) return;  // made at start, with its parents
  if (kind != platform::PathKind::Directory) {
    check.Fault(dir + ": not a directory");
  } else if (platform::KindOf(pop3) == platform::PathKind::Directory
                 ? !platform::CanCreateIn(pop3)
                 : !platform::CanCreateIn(dir)) {
    check.Fault(pop3 + ": mailboxes cannot be written there");
  }
}

}  // namespace

bool LooksLikeInlineComment(const std::string& value) {
  for (size_t i = 1; i < value.size(); ++i) {
    if (value[i] == ';' && std::isspace(static_cast<unsigned char>(value[i - 1]))) return true;
  }
  return !value.empty() && value.front() == ';';
}

std::vector<SettingsFinding> CheckSettings(const config::IniStore& ini,
                                           const std::string& stateDir) {
  std::vector<SettingsFinding> findings;
  Checker check(ini, findings);
  CheckInlineComments(ini, check);
  CheckOptions(check);
  CheckNetwork(check);
  CheckGroups(ini, check);
  CheckFeed(ini, check);
  CheckStateDirectory(stateDir, check);
  return findings;
}

}  // namespace qv::core

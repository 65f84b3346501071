#include "config/settings_model.h"

#include <cctype>
#include <stdexcept>
#include <string>

#include "config/default_config.h"
#include "config/dotted_address.h"
#include "config/feed_settings.h"
#include "config/settings.h"
#include "platform/files.h"

namespace qv::config {
namespace {

class NotAnInteger : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int32_t IntOrFail(const IniSection& section, const char* key) {
  int32_t value = 0;
  if (!TryParseInt(section.Value(key), value)) {
    throw NotAnInteger(std::string("not an integer: ") + key);
  }
  return value;
}

// "host::name" split at the first "::". Without "::" the host is empty and the name is the
// value without its first character, as start-up reads it.
SettingsUser SplitUser(const std::string& value) {
  const size_t at = value.find("::");
  if (at == std::string::npos) return {value.size() > 1 ? value.substr(1) : std::string(), {}};
  return {value.substr(at + 2), value.substr(0, at)};
}

std::string UserKey(size_t number) {
  return "User_" + std::to_string(number);
}

std::string AliasKey(size_t number) {
  return "Alias" + std::to_string(number);
}

TMyDBAlias NewGroup() {
  TMyDBAlias group;
  group.Count = "100";
  group.CountArc = "0";
  group.TimeBegin = "9";
  group.TimeEnd = "20";
  return group;
}

// What Save writes for an hour: its first two characters.
std::string SavedHour(const std::string& text) {
  return text.substr(0, 2);
}

}  // namespace

bool NumberRange::Contains(const std::string& text) const {
  if (text.empty() || text.size() > 10) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  int32_t value = 0;
  return TryParseInt(text, value) && value >= Min && value <= Max;
}

SettingsCheck SettingsModel::CheckBeforeSave() const {
  if (!kPortRange.Contains(port_)) return {SettingsProblem::Port, -1};
  if (feedEdited_) {
    if (!feedPort_.empty() && !kFeedPortRange.Contains(feedPort_))
      return {SettingsProblem::FeedPort, -1};
    if (!feedAddress_.empty() && !ParseIpv4(feedAddress_))
      return {SettingsProblem::FeedAddress, -1};
  }
  for (size_t g = 0; g < groups_.size(); ++g) {
    const TMyDBAlias& group = groups_[g];
    const int index = static_cast<int>(g);
    if (!kDayCountRange.Contains(group.Count)) return {SettingsProblem::Count, index};
    if (!kDayCountRange.Contains(group.CountArc)) return {SettingsProblem::CountArc, index};
    if (!kHourRange.Contains(SavedHour(group.TimeBegin)))
      return {SettingsProblem::TimeBegin, index};
    if (!kHourRange.Contains(SavedHour(group.TimeEnd))) return {SettingsProblem::TimeEnd, index};
  }
  return {};
}

SettingsModel::SettingsModel(std::string iniPath) : ini_(std::move(iniPath)) {}

bool SettingsModel::Load(bool& liveNoDelay) {
  changed_ = false;
  loadFailed_ = false;
  loadError_.clear();
  try {
    if (!ini_.Exists()) WriteDefaultConfig(ini_, kCharsetForNewFile);

    int32_t language = 0;
    if (!TryParseInt(ini_.ReadSection("Options").Value("Language"), language)) language = 0;
    language_ = language > 1 ? 1 : language;

    const IniSection network = ini_.ReadSection("NetWork");
    port_ = network.Value("Port");
    int32_t directSend = 0;
    int32_t noDelay = 0;
    const bool directSendIsInt = TryParseInt(network.Value("DirectSend"), directSend);
    const bool noDelayIsInt = TryParseInt(network.Value("TCPNoDelay"), noDelay);
    if (directSendIsInt && noDelayIsInt) {
      directSend_ = directSend == 1;
      tcpNoDelay_ = noDelay == 1;
    } else {
      directSend_ = true;
      tcpNoDelay_ = true;
    }
    if (noDelayIsInt) liveNoDelay = noDelay == 1;
    const IniSection feed = ini_.ReadSection(kFeedSection);
    feedPort_ = feed.Value("Port");
    feedAddress_ = feed.Value("Address");
    feedEdited_ = false;

    LoadGroups();
    if (!groupNames_.empty()) {
      selectedGroup_ = 0;
      ShowGroup();
    }
  } catch (const std::exception& e) {
    loadFailed_ = true;
    loadError_ = e.what();
    selectedGroup_ = -1;
    currentGroup_ = -1;
  }
  changed_ = false;
  return !loadFailed_;
}

void SettingsModel::LoadGroups() {
  groups_.clear();
  groupNames_.clear();
  const IniSection databases = ini_.ReadSection("DataBases");
  const int32_t count = IntOrFail(databases, "Count");
  if (count < 0 || count > kMaxGroups) throw NotAnInteger("group count out of range");
  fileGroupCount_ = count;
  groups_.resize(static_cast<size_t>(count));
  for (int32_t n = 1; n <= count; ++n) groupNames_.push_back(databases.Value(AliasKey(n)));

  for (int32_t n = 1; n <= count; ++n) {
    const IniSection section = ini_.ReadSection(GroupSectionName(n));
    TMyDBAlias& group = groups_[static_cast<size_t>(n - 1)];
    group.FileName = section.Value("Name");
    group.Count = section.Value("Count");
    group.CountArc = section.Value("CountArc");
    group.TimeBegin = section.Value("Time Begin");
    group.TimeEnd = section.Value("Time End");
    group.Step = IntOrFail(section, "Step");
    group.ArchiveLink = IntOrFail(section, "Archive Link") != 0;
    const int32_t userCount = IntOrFail(section, "UserCount");
    if (userCount < 0 || userCount > kMaxUsersPerGroup)
      throw NotAnInteger("user count out of range");
    group.UserCount = userCount;
    group.Users.clear();
    for (int32_t k = 1; k <= userCount; ++k) {
      group.Users.push_back(SplitUser(section.Value(UserKey(static_cast<size_t>(k)))));
    }
  }
}

void SettingsModel::SetLanguage(int index) {
  language_ = index;
  changed_ = true;
}

void SettingsModel::SetPort(const std::string& text) {
  port_ = text;
  changed_ = true;
  int32_t port = 0;
  if (TryParseInt(text, port)) port2Label_ = "," + std::to_string(int64_t{port} + 10);
}

void SettingsModel::SetFeedPort(const std::string& text) {
  feedPort_ = text;
  feedEdited_ = true;
  changed_ = true;
}

void SettingsModel::SetFeedAddress(const std::string& text) {
  feedAddress_ = text;
  feedEdited_ = true;
  changed_ = true;
}

void SettingsModel::SetDirectSend(bool on) {
  directSend_ = on;
  changed_ = true;
}

void SettingsModel::SetTcpNoDelay(bool on) {
  tcpNoDelay_ = on;
  changed_ = true;
}

TMyDBAlias* SettingsModel::SelectedGroup() {
  if (selectedGroup_ < 0 || static_cast<size_t>(selectedGroup_) >= groups_.size()) return nullptr;
  return &groups_[static_cast<size_t>(selectedGroup_)];
}

void SettingsModel::SelectGroup(int index) {
  if (index < 0 || static_cast<size_t>(index) >= groups_.size()) return;
  KeepGrid();
  selectedGroup_ = index;
  ShowGroup();
}

// Showing a group puts its values into the fields; a field whose text changes counts as an
// edit, as it would when typed.
void SettingsModel::ShowFields(const TMyDBAlias& group) {
  if (shown_.Count != group.Count || shown_.CountArc != group.CountArc ||
      shown_.TimeBegin != group.TimeBegin || shown_.TimeEnd != group.TimeEnd ||
      shown_.ArchiveLink != group.ArchiveLink) {
    changed_ = true;
  }
  shown_.Count = group.Count;
  shown_.CountArc = group.CountArc;
  shown_.TimeBegin = group.TimeBegin;
  shown_.TimeEnd = group.TimeEnd;
  shown_.ArchiveLink = group.ArchiveLink;
  shown_.Step = group.Step;
}

void SettingsModel::ShowGroup() {
  TMyDBAlias* group = SelectedGroup();
  if (group == nullptr) return;
  currentGroup_ = selectedGroup_;
  datafilePath_ = group->FileName;
  structureEnabled_ = !datafilePath_.empty() && platform::FileExists(datafilePath_);
  ShowFields(*group);
  if (group->Users.empty()) group->Users.push_back(SettingsUser{});
  grid_ = group->Users;
}

void SettingsModel::KeepGrid() {
  if (currentGroup_ < 0 || static_cast<size_t>(currentGroup_) >= groups_.size()) return;
  groups_[static_cast<size_t>(currentGroup_)].Users = grid_;
}

void SettingsModel::AddGroup(const std::string& name) {
  if (name.empty()) return;
  KeepGrid();
  addGroupEnabled_ = false;
  removeGroupEnabled_ = true;
  changed_ = true;
  groupNames_.push_back(name);
  groups_.push_back(NewGroup());
  selectedGroup_ = static_cast<int>(groups_.size()) - 1;
  ShowGroup();
}

void SettingsModel::RemoveGroup() {
  KeepGrid();
  changed_ = true;
  if (SelectedGroup() == nullptr) return;
  const int removed = selectedGroup_;
  groups_.erase(groups_.begin() + removed);
  groupNames_.erase(groupNames_.begin() + removed);
  if (!groups_.empty()) {
    selectedGroup_ = (groups_.size() == 1 || removed == 0) ? 0 : removed - 1;
    // The removed group's grid must not be kept into its successor.
    currentGroup_ = -1;
    ShowGroup();
  } else {
    removeGroupEnabled_ = false;
    selectedGroup_ = -1;
    currentGroup_ = -1;
  }
}

void SettingsModel::SetCount(const std::string& text) {
  shown_.Count = text;
  if (TMyDBAlias* group = SelectedGroup()) group->Count = text;
  changed_ = true;
}

void SettingsModel::SetCountArc(const std::string& text) {
  shown_.CountArc = text;
  if (TMyDBAlias* group = SelectedGroup()) group->CountArc = text;
  changed_ = true;
}

void SettingsModel::SetTimeBegin(const std::string& text) {
  shown_.TimeBegin = text;
  if (TMyDBAlias* group = SelectedGroup()) group->TimeBegin = text;
  changed_ = true;
}

void SettingsModel::SetTimeEnd(const std::string& text) {
  shown_.TimeEnd = text;
  if (TMyDBAlias* group = SelectedGroup()) group->TimeEnd = text;
  changed_ = true;
}

void SettingsModel::SetStep(int index) {
  shown_.Step = index;
  if (TMyDBAlias* group = SelectedGroup()) group->Step = index;
  changed_ = true;
}

void SettingsModel::SetArchiveLink(bool on) {
  shown_.ArchiveLink = on;
  if (TMyDBAlias* group = SelectedGroup()) group->ArchiveLink = on;
  changed_ = true;
}

std::string SettingsModel::DatafileDisplay() const {
  if (datafilePath_.size() <= kPathTailShown) return ".." + datafilePath_;
  return ".." + datafilePath_.substr(datafilePath_.size() - kPathTailShown);
}

std::string SettingsModel::WithDatafileExtension(const std::string& chosen) {
  if (chosen.size() >= 4 && chosen[chosen.size() - 4] == '.') return chosen;
  return chosen + ".qdb";
}

bool SettingsModel::IsReservedDatafileName(const std::string& name) {
  // The archive, the DB Structure dialog's work files, the journal and the side files that
  // replace a datafile are named after it; a datafile with such a name would be taken for one.
  static const char* const kReserved[] = {".arc", ".tmp", ".tm~", ".jnl", ".jn2", ".new"};
  for (const char* ext : kReserved) {
    const size_t n = std::char_traits<char>::length(ext);
    if (name.size() < n) continue;
    bool same = true;
    for (size_t i = 0; i < n && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) == ext[i];
    }
    if (same) return true;
  }
  return false;
}

void SettingsModel::ChooseDatafile(const std::string& chosen) {
  if (chosen.empty()) return;
  const std::string name = WithDatafileExtension(chosen);
  if (IsReservedDatafileName(name)) {
    throw std::invalid_argument("'" + name + "' is not a valid datafile name.");
  }
  if (!platform::FileExists(name)) {
    platform::File::Open(name, platform::OpenMode::CreateReadWrite, false).Close();
  }
  datafilePath_ = name;
  if (TMyDBAlias* group = SelectedGroup()) group->FileName = name;
  changed_ = true;
  structureEnabled_ = true;
}

std::optional<int32_t> SettingsModel::StructureMaxArchive() const {
  int32_t value = 0;
  if (!kDayCountRange.Contains(shown_.CountArc) || !TryParseInt(shown_.CountArc, value))
    return std::nullopt;
  return value;
}

AddUserResult SettingsModel::AddUser(const std::string& userName, std::string& host) {
  if (userName.empty() || host.empty()) return AddUserResult::Ignored;
  std::string normalised;
  if (CheckDottedAddress(host, normalised)) host = normalised;

  const auto existsElsewhere = [&](auto field, const std::string& value) {
    for (size_t g = 0; g < groups_.size(); ++g) {
      if (static_cast<int>(g) == currentGroup_) continue;
      for (const SettingsUser& user : groups_[g].Users) {
        if (user.*field == value) return true;
      }
    }
    for (const SettingsUser& row : grid_) {
      if (row.*field == value) return true;
    }
    return false;
  };
  if (existsElsewhere(&SettingsUser::UserName, userName)) return AddUserResult::DuplicateUserName;
  if (existsElsewhere(&SettingsUser::HostName, host)) return AddUserResult::DuplicateHost;

  if (grid_.size() == 1 && grid_[0].UserName.empty()) {
    grid_[0] = SettingsUser{userName, host};
  } else {
    grid_.push_back(SettingsUser{userName, host});
  }
  changed_ = true;
  return AddUserResult::Added;
}

void SettingsModel::RemoveUser(int row) {
  changed_ = true;
  if (grid_.empty()) grid_.push_back(SettingsUser{});
  if (row < 0 || static_cast<size_t>(row) >= grid_.size()) return;
  for (size_t r = static_cast<size_t>(row); r + 1 < grid_.size(); ++r) grid_[r] = grid_[r + 1];
  grid_.back() = SettingsUser{};
  if (grid_.size() > 1) grid_.pop_back();
}

void SettingsModel::Save() {
  if (loadFailed_) return;
  KeepGrid();
  if (!CheckBeforeSave().Ok()) throw std::invalid_argument("settings the next start refuses");
  ini_.WriteString("Options", "Language", std::to_string(language_));
  ini_.WriteString("NetWork", "Port", port_);
  ini_.WriteString("NetWork", "DirectSend", directSend_ ? "1" : "0");
  ini_.WriteString("NetWork", "TCPNoDelay", tcpNoDelay_ ? "1" : "0");
  if (feedEdited_) {
    ini_.WriteString(kFeedSection, "Port", feedPort_.empty() ? "0" : feedPort_);
    if (feedAddress_.empty()) {
      ini_.DeleteKey(kFeedSection, "Address");  // the default, 127.0.0.1
    } else {
      ini_.WriteString(kFeedSection, "Address", feedAddress_);
    }
  }
  ini_.WriteString("DataBases", "Count", std::to_string(groups_.size()));
  for (size_t n = 1; n <= groupNames_.size(); ++n) {
    ini_.WriteString("DataBases", AliasKey(n), groupNames_[n - 1]);
  }
  for (size_t n = 1; n <= groups_.size(); ++n) {
    const TMyDBAlias& group = groups_[n - 1];
    const std::string section = GroupSectionName(static_cast<int>(n));
    ini_.WriteString(section, "Name", group.FileName);
    ini_.WriteString(section, "Count", group.Count);
    ini_.WriteString(section, "CountArc", group.CountArc);
    ini_.WriteString(section, "Time Begin", SavedHour(group.TimeBegin));
    ini_.WriteString(section, "Time End", SavedHour(group.TimeEnd));
    ini_.WriteString(section, "Step", std::to_string(group.Step));
    ini_.WriteString(section, "Archive Link", group.ArchiveLink ? "1" : "0");
    const bool noUsers = group.Users.size() == 1 && group.Users[0].UserName.empty();
    const size_t users = noUsers ? 0 : group.Users.size();
    ini_.WriteString(section, "UserCount", std::to_string(users));
    for (size_t k = 1; k <= users; ++k) {
      const SettingsUser& user = group.Users[k - 1];
      ini_.WriteString(section, UserKey(k), user.HostName + "::" + user.UserName);
    }
    for (size_t k = users + 1; k <= static_cast<size_t>(group.UserCount); ++k) {
      ini_.DeleteKey(section, UserKey(k));
    }
  }
  for (size_t n = groups_.size() + 1; n <= static_cast<size_t>(fileGroupCount_); ++n) {
    ini_.DeleteKey("DataBases", AliasKey(n));
    ini_.EraseSection(GroupSectionName(static_cast<int>(n)));
  }
}

}  // namespace qv::config

#pragma once
// The logic of the settings dialog, without widgets: it loads its own copy of Server.ini when
// the dialog opens, follows every edit (groups, the current group's fields, the user grid, the
// network and language choices) and rewrites the file when the operator saves. The dialog only
// shows this state and forwards clicks and key strokes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/ini_store.h"

namespace qv::config {

struct SettingsUser {
  std::string UserName;
  std::string HostName;
};

// One group as the dialog holds it; the group's name is the matching item of the group list.
struct TMyDBAlias {
  std::string FileName;
  std::string Count;
  std::string CountArc;
  std::string TimeBegin;
  std::string TimeEnd;
  int32_t Step = 0;
  bool ArchiveLink = false;
  std::vector<SettingsUser> Users;
  // Users of the group in the file when the dialog opened (0 for a new group); saving deletes
  // the user entries above the current count up to this number.
  int32_t UserCount = 0;
};

enum class AddUserResult { Ignored, Added, DuplicateUserName, DuplicateHost };

// What a save would write that the next start refuses (or cannot use).
enum class SettingsProblem {
  None,
  Port,
  FeedPort,
  FeedAddress,
  Count,
  CountArc,
  TimeBegin,
  TimeEnd
};
struct SettingsCheck {
  SettingsProblem Problem = SettingsProblem::None;
  int Group = -1;  // index of the group concerned, -1 for the network settings
  bool Ok() const { return Problem == SettingsProblem::None; }
};

// The ranges the number fields take.
struct NumberRange {
  int32_t Min;
  int32_t Max;
  bool Contains(const std::string& text) const;
};
// The server listens on Port and connects back to clients on Port + 10: both must be ports.
constexpr NumberRange kPortRange{1, 65535 - 10};
constexpr NumberRange kFeedPortRange{0, 65535};  // 0: no HTTP listener
constexpr NumberRange kDayCountRange{0, 2000000};
constexpr NumberRange kHourRange{0, 24};

class SettingsModel {
 public:
  static constexpr int kCharsetForNewFile = 5;
  static constexpr size_t kPathTailShown = 20;

  explicit SettingsModel(std::string iniPath);

  // Opening. Writes the default file first when it is missing. Returns false when reading
  // stopped at a value that must be an integer but is not (or the file could not be read):
  // the dialog then shows message 46. liveNoDelay is set from TCPNoDelay when it is an
  // integer, and left as it is otherwise.
  bool Load(bool& liveNoDelay);
  bool LoadFailed() const { return loadFailed_; }
  const std::string& LoadError() const { return loadError_; }

  // Options and network.
  int Language() const { return language_; }  // item of the language list, -1 none
  void SetLanguage(int index);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& text);
  const std::string& Port2Label() const { return port2Label_; }
  bool DirectSend() const { return directSend_; }
  void SetDirectSend(bool on);
  bool TcpNoDelay() const { return tcpNoDelay_; }
  void SetTcpNoDelay(bool on);
  // The HTTP feed ([Feed] Port and Address). Saving writes them only once they were edited, so
  // a file without the section keeps having none.
  const std::string& FeedPort() const { return feedPort_; }
  void SetFeedPort(const std::string& text);
  const std::string& FeedAddress() const { return feedAddress_; }
  void SetFeedAddress(const std::string& text);

  // Groups.
  const std::vector<std::string>& GroupNames() const { return groupNames_; }
  const std::vector<TMyDBAlias>& Groups() const { return groups_; }
  int FileGroupCount() const { return fileGroupCount_; }
  int CurrentGroup() const { return currentGroup_; }  // -1 none
  bool PanelVisible() const { return currentGroup_ >= 0; }
  void SelectGroup(int index);  // a selection in the group list
  bool AddGroupEnabled() const { return addGroupEnabled_; }
  bool RemoveGroupEnabled() const { return removeGroupEnabled_; }
  void GroupNameEdited() { addGroupEnabled_ = true; }
  void AddGroup(const std::string& name);  // nothing happens for an empty name
  void RemoveGroup();

  // The current group's fields as shown in the dialog.
  const TMyDBAlias& Shown() const { return shown_; }
  void SetCount(const std::string& text);
  void SetCountArc(const std::string& text);
  void SetTimeBegin(const std::string& text);
  void SetTimeEnd(const std::string& text);
  void SetStep(int index);
  void SetArchiveLink(bool on);

  // Datafile.
  const std::string& DatafilePath() const { return datafilePath_; }
  // ".." followed by the last 20 characters of the path.
  std::string DatafileDisplay() const;
  bool StructureEnabled() const { return structureEnabled_; }
  // A name without a three-letter extension gets ".qdb".
  static std::string WithDatafileExtension(const std::string& chosen);
  // Names ending in .arc, .tmp, .tm~, .jnl, .jn2 or .new (any letter case): the server's own files
  // beside a datafile.
  static bool IsReservedDatafileName(const std::string& name);
  // Takes the file the operator chose: extension rule, creates it empty when missing, makes it
  // the current group's datafile. Throws std::invalid_argument ("'<name>' is not a valid datafile
  // name.") for a reserved name and platform::FileError when the file cannot be created; the
  // group then keeps its previous file.
  void ChooseDatafile(const std::string& chosen);
  // The archive size the DB Structure dialog gets: the current CountArc as typed, when it is
  // an integer.
  std::optional<int32_t> StructureMaxArchive() const;

  // The user grid of the current group, one entry per row below the header.
  const std::vector<SettingsUser>& Grid() const { return grid_; }
  // Normalises a dotted address in host (the host field shows the result) and checks that
  // neither the user name nor the host exists in another group or in the grid.
  AddUserResult AddUser(const std::string& userName, std::string& host);
  void RemoveUser(int row);  // row below the header, from 0
  void HostCellKeyPressed() { changed_ = true; }

  bool Changed() const { return changed_; }
  void KeepGrid();
  // Closing asks "Save Changes?" only when something changed. After a failed load the dialog
  // holds only part of the file and never offers to save it.
  bool ShouldAskToSave() const { return changed_ && !loadFailed_; }
  // The first value a save would write that the next start refuses.
  SettingsCheck CheckBeforeSave() const;
  // Rewrites Server.ini. Throws platform::FileError when a write fails and std::invalid_argument
  // (nothing written) when CheckBeforeSave finds a problem.
  void Save();

 private:
  void LoadGroups();
  void ShowGroup();
  void ShowFields(const TMyDBAlias& group);
  TMyDBAlias* SelectedGroup();

  IniStore ini_;
  bool loadFailed_ = false;
  std::string loadError_;

  int language_ = 0;
  std::string port_;
  std::string port2Label_ = "port 2";
  bool directSend_ = false;
  bool tcpNoDelay_ = false;
  std::string feedPort_;
  std::string feedAddress_;
  bool feedEdited_ = false;

  std::vector<std::string> groupNames_;
  std::vector<TMyDBAlias> groups_;
  int fileGroupCount_ = 0;
  int selectedGroup_ = -1;  // item selected in the group list
  int currentGroup_ = -1;   // group whose fields are shown
  bool addGroupEnabled_ = false;
  bool removeGroupEnabled_ = true;

  TMyDBAlias shown_;  // the field values on screen (Users unused)
  std::string datafilePath_;
  bool structureEnabled_ = false;
  std::vector<SettingsUser> grid_{SettingsUser{}};
  bool changed_ = false;
};

}  // namespace qv::config

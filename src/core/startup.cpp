#include "core/startup.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "config/default_config.h"
#include "config/ini_store.h"
#include "net/socket_window.h"
#include "net/spool_files.h"
#include "platform/files.h"
#include "platform/text_utils.h"
#include "store/datafile.h"
#include "store/durable_start.h"
#include "wire/packages.h"
#include "wire/short_string.h"

namespace qv::core {
namespace {

class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int32_t ParseOrThrow(const config::IniSection& section, const char* key) {
  int32_t value = 0;
  if (!config::TryParseInt(section.Value(key), value)) {
    throw SettingsError(std::string("not a number: ") + key);
  }
  return value;
}

void ReadOptions(state::Server& server, const config::IniStore& ini) {
  const config::IniSection options = ini.ReadSection("Options");
  // Journal and syncs of the datafiles: on unless the key says 0.
  server.setup.settings.SyncWrites = options.Value("SyncWrites") != "0";
  int32_t language = 0;
  if (!config::TryParseInt(options.Value("Language"), language)) return;  // both stay as they were
  server.setup.settings.Language = static_cast<uint8_t>(language & 0xFF);
  server.setup.settings.Debug = options.Value("DEBUG") == "1";
}

void ReadNetwork(state::Server& server, const config::IniStore& ini) {
  const config::IniSection network = ini.ReadSection("NetWork");
  config::Settings& s = server.setup.settings;
  s.Port = ParseOrThrow(network, "Port");
  s.ClientPort = s.Port + 10;
  s.DirectSend = ParseOrThrow(network, "DirectSend") == 1;
  s.TcpNoDelay = ParseOrThrow(network, "TCPNoDelay") == 1;
  int32_t value = 0;
  s.Reconnect = config::TryParseInt(network.Value("Reconnect"), value) ? value : 5;
  const std::string interval = network.Value("CheckInterval_ms");
  if (!interval.empty() && config::TryParseInt(interval, value)) s.CheckIntervalMs = value;
}

// Section guard: the group's keys. Leaves the values read before a failing key.
void ReadGroupSection(state::Server& server, state::TMyDBUser& group,
                      const config::IniSection& section) {
  group.Subscriptions.clear();
  group.ConnectedUsers = 0;
  group.FirstDate = 0;
  group.Busy = false;
  group.PollOwner = nullptr;
  group.FileName = section.Value("Name");
  group.Count = ParseOrThrow(section, "Count");
  group.CountArc = ParseOrThrow(section, "CountArc");
  group.TimeBegin = section.Value("Time Begin");
  group.TimeEnd = section.Value("Time End");
  group.Step = section.Value("Step");
  group.ArchiveLink = ParseOrThrow(section, "Archive Link") != 0;
  const int32_t userCount = ParseOrThrow(section, "UserCount");
  if (userCount < 0 || userCount > config::kMaxUsersPerGroup) throw SettingsError("bad UserCount");
  group.UserCount = userCount;
  server.setup.totalUsers += userCount;
  group.Users = std::vector<state::TMyNameUser>(static_cast<size_t>(userCount));
}

void CreateMailboxFile(state::Server& server, const std::string& host, bool checkOnly) {
  const std::string name = host + ".bin";
  // A host that would leave the POP3 directory counts as a file that cannot be created.
  if (!platform::IsPlainFileName(name)) {
    throw SettingsError("host is not a file name: " + host);
  }
  if (checkOnly) return;
  const std::string path = platform::JoinPath(server.setup.pop3Dir, name);
  if (platform::FileExists(path)) return;
  platform::File file = platform::File::Open(path, platform::OpenMode::CreateReadWrite, false);
  file.Close();
}

void BuildUsers(state::Server& server, state::TMyDBUser& group, int32_t groupIndex,
                const config::IniSection& section, bool checkOnly) {
  for (int32_t j = 0; j < static_cast<int32_t>(group.Users.size()); ++j) {
    state::TMyNameUser& user = group.Users[static_cast<size_t>(j)];
    user.UserIndex = j;
    user.GroupIndex = groupIndex;
    user.Connected = false;
    std::string host, name;
    SplitUserEntry(section.Value("User_" + std::to_string(j + 1)), host, name);
    const std::string hostName = platform::LowerCase(host);
    user.ReconnectCount = 0;
    user.Connection.Remaining = 0;
    user.LastSendTick = 0;
    user.Valid = CheckUserUnique(server, name, hostName);
    if (!user.Valid) server.setup.initOk = false;
    user.UserName = name;
    user.HostName = hostName;
    // The outgoing socket to the user's host on the client port, with the socket window's
    // handlers (created here so that its address is the host when that is dotted).
    if (!checkOnly) net::AttachClientSocket(server, user);
    user.StatusSlotPos = AppendStatusSlot(server.roster.statusTable, name, hostName);
    user.ServerSocketHandle = -1;
    CreateMailboxFile(server, hostName, checkOnly);
  }
}

// Layout guard: the blank record from the group's hours, then its datafile.
void PrepareLayoutAndDatafile(state::Server& server, state::TMyDBUser& group, bool checkOnly) {
  int32_t timeBegin = 0, timeEnd = 0, step = 0;
  if (!config::TryParseInt(group.TimeBegin, timeBegin) ||
      !config::TryParseInt(group.TimeEnd, timeEnd) || !config::TryParseInt(group.Step, step)) {
    throw SettingsError("bad time layout");
  }
  store::BuildBlankRecord(*group.BlankRecord, timeBegin, timeEnd, step);
  if (!group.FileName.empty()) {
    group.NoDatafile = false;
    try {
      if (!checkOnly && server.runtime.front.CreatesMissingDatafiles()) {
        store::CreateMissingDatafile(group, server.runtime.log, server.setup.settings.SyncWrites);
      }
      if (!checkOnly)
        store::PrepareDurableGroupDatafile(group, server.runtime.log,
                                           server.setup.settings.SyncWrites);
    } catch (...) {
      server.runtime.log.WriteMsg(wire::MsgId::IndexOrCorrectionError, group.Alias);
    }
  } else {
    group.NoDatafile = true;
  }
  if (server.setup.totalUsers == 0) server.runtime.log.WriteMsg(wire::MsgId::UserListEmpty);
}

void ReadGroups(state::Server& server, const config::IniStore& ini, bool checkOnly) {
  const config::IniSection databases = ini.ReadSection("DataBases");
  const int32_t count = ParseOrThrow(databases, "Count");
  if (count < 0 || count > config::kMaxGroups) throw SettingsError("bad group count");
  server.roster.groups = state::GroupTable(static_cast<size_t>(count));
  for (int32_t n = 1; n <= count; ++n) {
    server.roster.groups[static_cast<size_t>(n - 1)].Alias =
        databases.Value("Alias" + std::to_string(n));
  }
  for (int32_t i = 0; i < count; ++i) {
    state::TMyDBUser& group = server.roster.groups[static_cast<size_t>(i)];
    const config::IniSection section = ini.ReadSection(config::GroupSectionName(i + 1));
    try {
      ReadGroupSection(server, group, section);
    } catch (const platform::FileError&) {
      throw;  // the file itself failed: a settings error for the whole start-up
    } catch (...) {
      server.runtime.log.WriteMsg(wire::MsgId::IncorrectDatabaseParameters, group.Alias);
      server.setup.initOk = false;
    }
    BuildUsers(server, group, i, section, checkOnly);
    try {
      PrepareLayoutAndDatafile(server, group, checkOnly);
    } catch (...) {
      server.runtime.log.WriteMsg(wire::MsgId::IncorrectGroupTime, group.Alias);
      server.setup.initOk = false;
    }
  }
}

}  // namespace

void SplitUserEntry(const std::string& value, std::string& host, std::string& name) {
  const size_t at = value.find("::");
  if (at == std::string::npos) {
    host.clear();
    name = value.size() > 1 ? value.substr(1) : std::string();
    return;
  }
  host = value.substr(0, at);
  name = value.substr(at + 2);
}

int32_t AppendStatusSlot(std::vector<uint8_t>& table, const std::string& userName,
                         const std::string& hostName) {
  const auto pos = static_cast<int32_t>(table.size());
  table.resize(table.size() + wire::status_slot::kSize, 0);
  uint8_t* slot = table.data() + pos;
  wire::WriteShortString(slot, wire::status_slot::kUserName, userName);
  wire::WriteShortString(slot, wire::status_slot::kHostName, hostName);
  return pos;
}

bool CheckUserUnique(state::Server& server, const std::string& userName,
                     const std::string& hostName) {
  // The entry being filled and the later ones of its group are still empty, so an empty name or
  // host always counts as existing.
  bool unique = !userName.empty() && !hostName.empty();
  for (const state::TMyDBUser& group : server.roster.groups) {
    for (const state::TMyNameUser& user : group.Users) {
      if (!unique) break;
      if (user.UserName == userName || user.HostName == hostName) unique = false;
    }
  }
  if (!unique)
    server.runtime.log.WriteMsg(wire::MsgId::UserOrHostExists, userName + " (" + hostName + ")");
  return unique;
}

bool RunStartup(state::Server& server, const StartupOptions& options) {
  server.setup.initOk = true;
  server.setup.totalUsers = 0;
  if (!options.checkOnly) {
    platform::CreateDirectory(server.setup.pop3Dir);
    // Frames a previous run was still receiving can never complete.
    if (const int stale = net::RemoveStaleSpoolFiles(server.setup.pop3Dir); stale > 0) {
      server.runtime.log.Write("Unfinished spool files removed: " + std::to_string(stale));
    }
  }

  config::IniStore ini(server.ConfigPath());
  try {
    if (!ini.Exists()) {
      const uint8_t charset = server.runtime.front.ChooseLanguage();
      config::WriteDefaultConfig(ini, charset);
      if (charset == config::kCharsetRussian) {
        server.runtime.log.Write(state::RussianTable()[1]);
      } else {
        server.runtime.log.WriteMsg(wire::MsgId::CreatedServerIni);
      }
    }
    try {
      ReadOptions(server, ini);
    } catch (const platform::FileError&) {
      throw;
    } catch (...) {
    }
    if (server.setup.settings.Debug && !options.checkOnly &&
        !platform::FileExists(server.DebugLogPath())) {
      try {
        platform::File::Open(server.DebugLogPath(), platform::OpenMode::CreateReadWrite, false)
            .Close();
      } catch (...) {
      }
    }
    if (!options.checkOnly)
      server.runtime.log.SetDebug(server.setup.settings.Debug, server.DebugLogPath());
    server.setup.catalogue.Select(server.setup.settings.Language == 1 ? state::Language::Russian
                                                                      : state::Language::English);
    if (server.setup.settings.Debug) server.runtime.log.Write("\r\n--DEBUG--");
    server.runtime.log.WriteMsg(wire::MsgId::Start);
    server.runtime.front.SetSettingsCaption(server.setup.catalogue[wire::MsgId::SettingsCaption]);
    server.runtime.front.SetConnectionsCaption(
        server.setup.catalogue[wire::MsgId::ConnectionsCaption] + "0");
    ReadNetwork(server, ini);
    ReadGroups(server, ini, options.checkOnly);
    server.runtime.log.WriteMsg(server.setup.initOk ? wire::MsgId::InitializationOk
                                                    : wire::MsgId::InitializationWithErrors);
    return server.setup.initOk;
  } catch (const state::StartupAbandoned&) {
    throw;  // the program stops: no default file, no settings error
  } catch (...) {
    server.runtime.log.WriteMsg(wire::MsgId::InitializationSettingsError);
    return false;
  }
}

}  // namespace qv::core

#pragma once
// The identifiers of the message catalogue's 90 entries (their texts live in the catalogue
// tables of state/), and what the lower layers need of the log to report with them.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv::wire {

inline constexpr int kCatalogueSize = 90;

// One name per catalogue entry; the value is the entry's index. Entries that no code uses keep a
// placeholder name so that the numbering stays visible.
enum class MsgId : uint8_t {
  UserOrHostExists = 0,  // "This user or hostname already exist! -> "
  CreatedServerIni = 1,  // "Created file Server.ini"
  Unused2 = 2,
  Unused3 = 3,
  Unused4 = 4,
  Unused5 = 5,
  IncorrectDatabaseParameters = 6,  // "Incorrect parameters of database: "
  Unused7 = 7,
  IndexOrCorrectionError = 8,        // "Error in creating database index or correction:"
  IncorrectGroupTime = 9,            // "Incorrect time parameters of group: "
  InitializationOk = 10,             // "Initialization -> Ok!"
  InitializationWithErrors = 11,     // "Initialization -> with errors!"
  InitializationSettingsError = 12,  // "Incorrect Initialization -> Error in settings."
  Start = 13,                        // "Start!"
  SettingsCaption = 14,              // "Settings"
  ConnectionsCaption = 15,           // "Connections: "
  IllegalUserFrom = 16,              // "Incorrect connection! Illegal user from ["
  IllegalUserTail = 17,              // "] or incorrect settings at server."
  UnregisteredUserMessage = 18,      // "Error! Message from unregistered user(...)."
  Empty19 = 19,
  ReceiveWaitExpired = 20,       // "Error! Waiting time for data reception has expired."
  ReceiveError = 21,             // "Error in receiving data from "
  UndefinedUserMessage = 22,     // "Error Message from undefined user.:"
  NotRespond = 23,               // "Not respond:"
  ClientSocketError = 24,        // "Error! client socket:"
  ListenerClientError = 25,      // "Server listens -> the client error "
  UnidentifiedUserConnect = 26,  // "Error! Unidentified user tried to connect"
  FileOpenError = 27,            // "Error occurred while opening the file: "
  UnidentifiedUserDelete = 28,   // "Error! Tried to delete unidentified user"
  DatabaseStructureError = 29,   // "Error in structure of Database:"
  FileReadError = 30,            // "Error occurred while reading the file: "
  FileReread = 31,               // "Warning! Reread the file: "
  FileWriteError = 32,           // "Error occurred while writing to file: "
  IncorrectDate = 33,            // "Incorrect Date in received data."
  CannotInsertFirst = 34,        // "Unable to insert data at the beginning of filled database - "
  FileRewrite = 35,              // "Warning! Rewrite the file: "
  InboxOpenError = 36,           // "Error opening the user inbox file "
  MailSendError = 37,            // "Error sending mail to "
  DataSendError = 38,            // "Error in data sending to "
  SendProcessCreateError = 39,   // "Error creating a sending process for "
  NetworkSettingsError = 40,     // "Error in network settings on computer "
  RequestProcessingError = 41,   // "Error processing of request from "
  WarningCaption = 42,           // "Warning!"
  UserExists = 43,               // "This user already exists!"
  AddressExists = 44,            // "This address (or hostname) already exists!"
  ErrorCaption = 45,             // "Error!"
  IniLoadError = 46,             // "Error loading an INI-file"
  SaveChanges = 47,              // "Save Changes?"
  ChangesAfterRestart = 48,      // "The changes will be activated after restarting the server."
  GroupsBox = 49,                // " Groups "
  DatafileLabel = 50,            // "Datafile"
  BrowseButton = 51,             // "Browse"
  StructureButton = 52,          // "Structure"
  UsersInGroup = 53,             // "Users in group"
  UserNameHeader = 54,           // "User Name"
  HostNameHeader = 55,           // "Hostname(or IP)"
  StepLabel = 56,                // "Step"
  StartingTime = 57,             // "Starting time:"
  FinishingTime = 58,            // "Finishing time:"
  Unused59 = 59,
  NetworkBox = 60,                   // " Network "
  PortLabel = 61,                    // "Port"
  DirectSending = 62,                // "Direct Sending"
  Hour = 63,                         // "hour"
  Hours = 64,                        // "hours"
  TotalRecords = 65,                 // "Total number of records"
  TotalArchiveRecords = 66,          // "Total number of archive records"
  AutoArchive = 67,                  // "Auto Archive"
  English = 68,                      // "English"
  Russian = 69,                      // "Russian"
  LanguageBox = 70,                  // " Language "
  StructureCorrectionRequired = 71,  // "Database Structure Error. Correction required. ..."
  ResetConnection = 72,              // "Reset the connection"
  IncorrectRecipient = 73,           // "Incorrect address of recipient"
  DataCorrectionDone = 74,           // "OK! Data correction - "
  UserListEmpty = 75,                // "User list of server is empty. See Settings"
  TcpNoDelay = 76,                   // "TCP_NoDelay"
  ArchiveRecordsCount = 77,          // "Total number of Archive records: "
  DatafileRecordsCount = 78,         // "Total number of Datafile records: "
  AllRecordsCount = 79,              // "Total number of all records: "
  CurrentDate = 80,                  // "Current Date: "
  MaxArchiveSize = 81,               // "Max Size of Archive:"
  CancelButton = 82,                 // "Cancel"
  ApplyButton = 83,                  // "Apply"
  CreateCopy = 84,                   // "Create copy of Data"
  ShowButton = 85,                   // "Show"
  CountCorrected = 86,               // "Count are corrected!"
  IncorrectValues = 87,              // "Incorrect values in received data."
  ValuesCorrected = 88,              // "Values are corrected!"
  DataProcessingError = 89,          // "Error in processing data from "
};

constexpr size_t Index(MsgId id) {
  return static_cast<size_t>(id);
}
static_assert(Index(MsgId::DataProcessingError) + 1 == kCatalogueSize);

// What the store and other lower layers need of the server log. Both calls are safe from any
// thread and never throw.
class LogSink {
 public:
  // Appends one line: local time, one blank, text.
  virtual void Write(std::string_view text) = 0;
  // Catalogue entry id followed by suffix.
  virtual void WriteMsg(MsgId id, std::string_view suffix = {}) = 0;

 protected:
  ~LogSink() = default;
};

}  // namespace qv::wire

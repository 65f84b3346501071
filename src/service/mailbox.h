#pragma once
// Stored mail on disk: a host's mailbox file (POP3/<host>.bin, a sequence of 249-byte notices,
// oldest first) and the message files (POP3/*.mqv) the notices name.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/time.h"
#include "state/server.h"
#include "wire/packages.h"

namespace qv::service {

using MailNotice = std::array<uint8_t, wire::notice::kSize>;

// A mailbox file opened while holding the server's mailbox lock, which stays held until this is
// destroyed (the file is closed first).
struct LockedFile {
  std::unique_lock<std::recursive_mutex> lock;
  platform::File file;
};

// True for an open failure that a later attempt may overcome: the file is held unshared by
// another (or the call was interrupted).
bool OpenMayRetry(int error);

// Opens a mailbox file that another may hold unshared, retried every few milliseconds until it
// opens or the time limit passes (then message 27 is logged); every attempt is made under the
// mailbox lock, and on success the lock stays held by the result. Mail threads only: it waits.
// Every access of a mail worker to a mailbox file goes through it. Gives up (without a log line)
// once stopped returns true.
std::optional<LockedFile> LockedRetryingOpen(state::Server& server, const std::string& fileName,
                                             platform::OpenMode mode,
                                             const std::function<bool()>& stopped = {});

// The notice of a stored message: 1, 0, the sender's name and host, the message file's name.
MailNotice BuildNotice(std::string_view senderName, std::string_view senderHost,
                       std::string_view messageFile);
std::string NoticeMessageFile(const MailNotice& notice);

// The name of a new message file: the recipient's position in the address list, the tick count
// modulo 1000, the local date and time as "yymmddhhnnss", and ".mqv", without separators.
std::string MessageFileName(int32_t position, uint32_t tickCount, platform::TDateTime now);

// A message file name for position that no file in directory has yet: the name for the current
// time, with the millisecond part moved on while the name is taken (the parts are not padded, so
// names of different positions and times can meet). Throws std::runtime_error when every name of
// the current second is taken, rather than give out one that would overwrite a message.
std::string FreeMessageFileName(const std::string& directory, int32_t position);

// The sizes of the message files that the notices of an open mailbox file name, in notice order
// (0 for a file that is missing or not a plain name).
std::vector<int64_t> StoredMailSizes(const std::string& pop3Dir, platform::File& mailbox);
// The bytes of the message files that the notices of the host's open mailbox file name, from the
// server's tally (counted from the files at the mailbox's first use).
int64_t StoredMailBytes(state::Server& server, const std::string& mailboxPath,
                        platform::File& mailbox);

// Appends a notice at the end of an open mailbox file.
void AppendNotice(platform::File& mailbox, const MailNotice& notice);

// Every whole notice of an open mailbox file, in file order.
std::vector<MailNotice> ReadNotices(platform::File& mailbox);

// Removes the first `delivered` notices of the host's mailbox file (locked retrying open), moving
// the later ones to the front. Errors are ignored.
void RemoveDeliveredNotices(state::Server& server, const std::string& mailboxPath,
                            int32_t delivered);

}  // namespace qv::service

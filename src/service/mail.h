#pragma once
// The address-and-mail handler: a package with code 4000 names its recipients by user name.
// Stored mail goes into each recipient host's mailbox (a notice) and a message file in POP3;
// the direct kinds 10 and 11 go at once to the connected recipients. Event thread.
#include <cstdint>
#include <string>
#include <vector>

#include "service/dispatch.h"
#include "state/payload_stream.h"
#include "state/server.h"

namespace qv::service {

class AddressAndMailHandler {
 public:
  AddressAndMailHandler(state::Server& server, ReplySender reply);

  // One complete mail package from sender: in memory (spoolFileName empty) or in the open spool
  // file, which is taken over (renamed to the last recipient's message file, or deleted).
  void Handle(state::TMyNameUser& sender, const std::string& host, state::PayloadStream& payload,
              const std::string& spoolFileName);

 private:
  struct Recipient {
    int32_t position;  // in the address list, empty and unknown names counted
    state::TMyNameUser* user;
  };

  // The address list of the package, or false (message 73 logged) when it is missing or its
  // long form does not fit the package.
  bool ReadAddressList(state::PayloadStream& payload, const uint8_t* header, std::string& list);
  // The users the list names, each once, at the position of its first mention.
  std::vector<Recipient> Recipients(const std::string& list);
  // The longest long address list read: every configured user's name and a separator.
  size_t LongListLimit() const;
  void Store(state::TMyNameUser& sender, state::PayloadStream& payload,
             const std::string& spoolFileName, const std::vector<Recipient>& recipients,
             bool& spoolTaken);
  // The notice of a message whose file is written, for the mailbox jobs to append once the
  // mailbox is free (the cap is checked then; the file goes when it cannot be noticed).
  void DeferNotice(const state::TMyNameUser& sender, state::TMyNameUser& recipient,
                   const std::string& name, const std::string& path, int64_t size);
  // Counts a stored message and tells a connected recipient that mail waits. Event thread.
  void Stored(state::TMyNameUser& recipient);
  void StoreMessage(state::PayloadStream& payload, const std::string& spoolFileName,
                    bool renameSpool, const std::string& path, bool& spoolTaken);
  void Direct(state::PayloadStream& payload, const uint8_t* header,
              const std::vector<Recipient>& recipients);

  state::Server& server_;
  ReplySender reply_;
};

}  // namespace qv::service

#pragma once
// Delivery of stored mail: request 1000/5 queues a delivery in the user's send order; the user's
// send worker, when it reaches it, sends the number of waiting messages (6001) and then each
// message file framed by its size, removing the notices of what was delivered and deleting those
// files.
#include <cstdint>
#include <string>

#include "net/blocking_send.h"
#include "state/server.h"

namespace qv::service {

// What a delivery needs of the user's outgoing connection (blocking sends, question off).
class MailChannel {
 public:
  virtual ~MailChannel() = default;
  // Blocking buffer send: the bytes sent, or a negative result.
  virtual int SendBuffer(const uint8_t* data, int length) = 0;
  // File send: the size as an int32, then the bytes. A failure sets error and throws.
  virtual void SendFile(const std::string& path, std::string& error) = 0;
  virtual bool Connected() const = 0;
  // True once the delivery is to stop (its worker was terminated); waits give up then.
  virtual bool Stopped() const { return false; }
};

// Sends the user's stored mail over channel (the worker's step "deliver"). Notices whose message
// file is not a plain file of POP3, or is missing, are logged and dropped unsent; the count sent
// first covers only the messages that follow.
void Deliver(Server& server, TMyNameUser& user, MailChannel& channel);

// Deliver over the user's outgoing connection with the send worker's control (its stop flag).
void DeliverOnSocket(Server& server, TMyNameUser& user, const SendControl& control);

// Queues a mail delivery for the user (event thread), unless the user is off line or at fault.
void StartMailWorker(Server& server, TMyNameUser& user);

}  // namespace qv::service

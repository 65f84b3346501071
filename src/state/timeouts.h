#pragma once
// The time limits of the send and receive paths, as named values so that tests can shorten them.
namespace qv::service {

struct Timeouts {
  // Blocking sends: one attempt without progress waits up to this long for the socket.
  int sendIdleStepMs = 10;
  // Attempts without progress before a send gives up (ask off) or asks (ask on).
  int sendIdleLimit = 6000;
  int sendIdleLimitAsk = 3000;
  // Text-status send: pause after the first time-out.
  int statusSendPauseMs = 50;
  // Frame receiver: empty receives in a row (one per read event or checker tick) reported at once.
  int emptyReceiveReport = 1000;
  // Retrying open of a mailbox file.
  int retryingOpenLimitMs = 60000;
  int retryingOpenStepMs = 5;
  // Joining a terminated worker; one that has not left by then stays in the table.
  int workerJoinLimitMs = 5000;
};

}  // namespace qv::service

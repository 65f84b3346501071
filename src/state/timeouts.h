#pragma once
// The time limits of the send and receive paths, as named values so that tests can shorten them.
namespace qv::state {

struct Timeouts {
  // Sending to a user: a socket that takes nothing for sendIdleLimit steps of sendIdleStepMs
  // (60 s) faults its user.
  int sendIdleStepMs = 10;
  int sendIdleLimit = 6000;
  // Frame receiver: wait after an empty receive step, and how many are reported at once.
  int emptyReceiveStepMs = 5;
  int emptyReceiveReport = 1000;
  // Retrying open of a mailbox file.
  int retryingOpenLimitMs = 60000;
  int retryingOpenStepMs = 5;
};

}  // namespace qv::state

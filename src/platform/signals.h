#pragma once
// SIGINT and SIGTERM (and SIGHUP for the daemon) as a readable descriptor, so that the event
// loop sees them as an event. Call before any thread starts: the signals are blocked for the
// whole process.
namespace qv::platform {

// Returns a signalfd for SIGINT and SIGTERM, and SIGHUP when hangup is set; also ignores
// SIGPIPE. Throws on failure.
int OpenTerminationSignals(bool hangup = false);
// Reads one pending signal from the descriptor; returns its number, or 0.
int ReadSignal(int fd);

}  // namespace qv::platform

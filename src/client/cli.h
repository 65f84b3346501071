#pragma once
// quorvane-client: checks a server by hand through the client library. Every command connects
// from the local address (the user's host), waits for the session, does its work and leaves.
#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "client/client.h"

namespace qv::client {

// Exit codes of the command-line client.
enum CliExit : int {
  kExitOk = 0,
  kExitUsage = 1,       // unknown command or bad arguments
  kExitConnection = 2,  // refused, or no session within the time limit
  kExitRequest = 3,     // the server refused the request or did not answer it
};

// Runs one command line (args without the program name). stop ends `watch` early.
int RunClientCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const std::atomic<bool>* stop = nullptr);

// One line describing a package the server sent.
std::string DescribePackage(const Bytes& package);

// "YYYY-MM-DD" to a day number (TDateTime) and back; false for a text that is no date.
bool ParseDate(const std::string& text, double& date);
std::string FormatDate(double date);

}  // namespace qv::client

#include "client/cli.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/time.h"
#include "wire/day_record.h"
#include "wire/packages.h"

namespace qv::client {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace pkg = qv::wire;

constexpr const char* kUsage =
    "usage: quorvane-client [options] COMMAND [ARGS]\n"
    "\n"
    "Connects to a Quorvane server as the user configured for the local address, waits for\n"
    "the session and runs one command.\n"
    "\n"
    "commands:\n"
    "  hello                          the user name, server name and first date of the group\n"
    "  read DATE [DAYS]               prints DAYS days (1 to 7, default 1) from DATE on\n"
    "  set-title DATE TEXT            sets the title of a day\n"
    "  set-slot DATE SLOT TIME TEXT   sets time slot SLOT (0..69) of a day\n"
    "  mail TO[,TO...] FILE           sends FILE as stored mail to the named users\n"
    "  fetch-mail DIR                 collects the waiting mail into DIR\n"
    "  watch [SECONDS]                prints every package that arrives (until Ctrl+C)\n"
    "\n"
    "options:\n"
    "  --server ADDRESS   the server's address (default 127.0.0.1)\n"
    "  --port PORT        the server's port (default 6340); replies come on PORT + 10\n"
    "  --local ADDRESS    the address to connect from, the user's host (default 127.0.0.1)\n"
    "  --timeout MS       how long to wait for the session and each answer (default 5000)\n"
    "  --help             this text\n"
    "\n"
    "DATE is YYYY-MM-DD.\n";

struct Options {
  ClientOptions connection;
  std::chrono::milliseconds timeout{5000};
  std::vector<std::string> command;
};

int32_t I32(const Bytes& b, size_t offset) {
  return b.size() >= offset + 4 ? pkg::Int32At(b.data(), offset) : 0;
}
double F64(const Bytes& b, size_t offset) {
  return b.size() >= offset + 8 ? pkg::DoubleAt(b.data(), offset) : 0;
}
std::string Str(const Bytes& b, pkg::ShortStringField field) {
  if (b.size() < field.offset + field.Size()) return {};
  return std::string(wire::ReadShortString(b.data(), field));
}

bool ParseInt(const std::string& text, int& value) {
  try {
    size_t used = 0;
    value = std::stoi(text, &used);
    return used == text.size();
  } catch (...) {
    return false;
  }
}

Bytes Request(int32_t code, int32_t subcode) {
  Bytes p(pkg::request::kSize, 0);
  pkg::SetCodes(p.data(), code, subcode);
  return p;
}

// A session: connected, the server connected back and sent the status table.
class Session {
  static constexpr std::chrono::milliseconds kAcceptSlice{100};
  static constexpr std::chrono::milliseconds kRetryPause{200};
  static constexpr int kAttempts = 3;

 public:
  Session(const Options& options, std::ostream& err) : options_(options), err_(err) {}

  bool Open() {
    const ClientOptions& o = options_.connection;
    const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
    const auto left = [&] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
    };
    for (int attempt = 1;; ++attempt) {
      client_.emplace(o);
      if (!client_->Connect(std::max(left(), std::chrono::milliseconds(1)))) {
        err_ << "quorvane-client: cannot connect to " << o.serverAddress << ":" << o.port
             << " from " << o.localAddress << ": " << client_->Error() << "\n";
        return false;
      }
      bool accepted = false;
      bool dropped = false;
      while (!accepted && !dropped && left().count() > 0) {
        accepted = client_->AcceptServer(std::min(left(), kAcceptSlice));
        if (!accepted) dropped = client_->WaitRequestConnectionClosed(std::chrono::milliseconds(0));
      }
      if (accepted) break;
      // The server closes the connection of a user whose previous session (an earlier command,
      // say) is still ending; a new attempt a moment later finds it ended.
      if (!dropped || attempt == kAttempts || left() <= kRetryPause) {
        err_ << "quorvane-client: the server did not connect back to " << o.localAddress << ":"
             << o.port + 10 << " within " << options_.timeout.count() << " ms (is "
             << o.localAddress << " the host of a configured user?)\n";
        return false;
      }
      std::this_thread::sleep_for(kRetryPause);
    }
    table_ = client_->ReceiveFrameWithCode(pkg::code::kStatusTable, options_.timeout);
    if (!table_) {
      err_ << "quorvane-client: no session: the server sent no user status table\n";
      return false;
    }
    return true;
  }

  Client& client() { return *client_; }
  const Bytes& Table() const { return *table_; }

  // The next package for which accept() holds; others are passed to skipped (when given).
  std::optional<Bytes> WaitFor(const std::function<bool(const Bytes&)>& accept,
                               const std::function<void(const Bytes&)>& skipped = {}) {
    const auto deadline = Clock::now() + options_.timeout;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      auto frame = client_->ReceiveFrame(left);
      if (!frame) return std::nullopt;
      if (accept(*frame)) return frame;
      if (skipped) skipped(*frame);
    }
  }

  bool Send(const Bytes& payload) {
    if (client_->SendFrame(payload)) return true;
    err_ << "quorvane-client: sending failed: " << client_->Error() << "\n";
    return false;
  }

  std::optional<Bytes> Hello() {
    if (!Send(Request(pkg::code::kRequest, pkg::subcode::kHello))) return std::nullopt;
    return WaitFor([](const Bytes& b) {
      return b.size() == static_cast<size_t>(pkg::request::kSize) &&
             I32(b, 0) == pkg::code::kRequest && I32(b, 4) == pkg::subcode::kHelloReply;
    });
  }

 private:
  const Options& options_;
  std::ostream& err_;
  std::optional<Client> client_;
  std::optional<Bytes> table_;
};

int NoAnswer(std::ostream& err, const std::string& what) {
  err << "quorvane-client: no answer to " << what << "\n";
  return kExitRequest;
}

std::string DescribeStatusSlot(const uint8_t* slot) {
  const Bytes b(slot, slot + pkg::status_slot::kSize);
  return Str(b, pkg::status_slot::kUserName) + "@" + Str(b, pkg::status_slot::kHostName) +
         (I32(b, pkg::status_slot::kOnLineOffset) == 1 ? " on line" : " off line");
}

void PrintDay(std::ostream& out, const uint8_t* record) {
  const wire::ConstDayBytes day(record, wire::kDayRecordSize);
  out << FormatDate(wire::DayDate(day)) << "  " << wire::Title(day) << "\n";
  for (int slot = 0; slot < wire::day::kSlotCount; ++slot) {
    const std::string_view text = wire::SlotText(day, slot);
    const int32_t id = wire::SlotId(day, slot);
    if (text.empty() && id == 0) continue;
    out << "  slot " << slot << " " << wire::SlotTime(day, slot) << "  " << text;
    if (id != 0) out << "  [id " << id << "]";
    out << "\n";
  }
  for (const auto list : {wire::day::LineList::First, wire::day::LineList::Second}) {
    for (int line = 0; line < wire::day::kLineCount; ++line) {
      const std::string_view text = wire::Line(day, list, line);
      if (text.empty()) continue;
      out << "  list " << (list == wire::day::LineList::First ? 1 : 2) << " line " << line << "  "
          << text << "\n";
    }
  }
}

int EditReply(Session& session, std::ostream& out, std::ostream& err, const Bytes& request,
              const std::string& what) {
  if (!session.Send(request)) return kExitConnection;
  const auto reply = session.WaitFor([](const Bytes& b) {
    return b.size() == static_cast<size_t>(pkg::request::kSize) &&
           (I32(b, 0) == pkg::code::kAcknowledgment || I32(b, 0) == pkg::code::kRefusal);
  });
  if (!reply) return NoAnswer(err, what);
  if (I32(*reply, 0) == pkg::code::kRefusal) {
    err << "quorvane-client: the server refused " << what << "\n";
    return kExitRequest;
  }
  out << what << ": acknowledged; it replaced \"" << Str(*reply, pkg::request::kText) << "\"\n";
  return kExitOk;
}

int Hello(Session& session, std::ostream& out, std::ostream& err) {
  const auto reply = session.Hello();
  if (!reply) return NoAnswer(err, "hello");
  const double first = F64(*reply, pkg::hello::kFirstDateOffset);
  out << "user: " << Str(*reply, pkg::hello::kUserName) << "\n"
      << "server: " << Str(*reply, pkg::hello::kServer) << "\n"
      << "first date: " << (first == 0 ? std::string("none") : FormatDate(first)) << "\n";
  return kExitOk;
}

int Read(Session& session, const std::vector<std::string>& args, std::ostream& out,
         std::ostream& err) {
  double date = 0;
  int days = 1;
  if (args.size() < 2 || args.size() > 3 || !ParseDate(args[1], date) ||
      (args.size() == 3 && (!ParseInt(args[2], days) || days < 1 || days > 7))) {
    err << "usage: quorvane-client read DATE [DAYS]   (DAYS 1 to 7)\n";
    return kExitUsage;
  }
  Bytes request = Request(pkg::code::kRequest, pkg::subcode::kDays);
  pkg::SetDoubleAt(request.data(), pkg::request::kDateOffset, date);
  wire::StoreField<uint16_t>(request.data() + pkg::request::kDaysOffset,
                             static_cast<uint16_t>(days));
  if (!session.Send(request)) return kExitConnection;
  const auto reply = session.WaitFor([](const Bytes& b) {
    return I32(b, 0) == pkg::code::kReply && I32(b, 4) == pkg::subcode::kDaysReply;
  });
  if (!reply) return NoAnswer(err, "the days request");
  const size_t count = (reply->size() - pkg::days_reply::kHeaderSize) / wire::kDayRecordSize;
  for (size_t i = 0; i < count; ++i) {
    PrintDay(out, reply->data() + pkg::days_reply::kHeaderSize + i * wire::kDayRecordSize);
  }
  return kExitOk;
}

int SetTitle(Session& session, const std::vector<std::string>& args, std::ostream& out,
             std::ostream& err) {
  double date = 0;
  if (args.size() != 3 || !ParseDate(args[1], date)) {
    err << "usage: quorvane-client set-title DATE TEXT\n";
    return kExitUsage;
  }
  Bytes request = Request(2, 0);
  pkg::SetDoubleAt(request.data(), pkg::request::kDateOffset, date);
  wire::WriteShortString(request.data(), pkg::request::kText, args[2]);
  return EditReply(session, out, err, request, "the title of " + args[1]);
}

int SetSlot(Session& session, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err) {
  double date = 0;
  int slot = 0;
  if (args.size() != 5 || !ParseDate(args[1], date) || !ParseInt(args[2], slot)) {
    err << "usage: quorvane-client set-slot DATE SLOT TIME TEXT\n";
    return kExitUsage;
  }
  Bytes request = Request(4, slot);
  pkg::SetDoubleAt(request.data(), pkg::request::kDateOffset, date);
  wire::WriteShortString(request.data(), pkg::request::kSlotTime, args[3]);
  wire::WriteShortString(request.data(), pkg::request::kText, args[4]);
  return EditReply(session, out, err, request, "slot " + args[2] + " of " + args[1]);
}

int Mail(Session& session, const std::vector<std::string>& args, std::ostream& out,
         std::ostream& err) {
  if (args.size() != 3) {
    err << "usage: quorvane-client mail TO[,TO...] FILE\n";
    return kExitUsage;
  }
  std::ifstream in(args[2], std::ios::binary);
  if (!in) {
    err << "quorvane-client: cannot read " << args[2] << "\n";
    return kExitUsage;
  }
  const std::string body(std::istreambuf_iterator<char>(in), {});
  const auto hello = session.Hello();  // the sender's own name
  if (!hello) return NoAnswer(err, "hello");
  Bytes package(pkg::mail::kHeaderSize, 0);
  pkg::SetInt32At(package.data(), 0, pkg::code::kMail);
  const std::string& to = args[1];
  if (to.size() <= pkg::mail::kAddress.capacity) {
    wire::WriteShortString(package.data(), pkg::mail::kAddress, to);
  } else {
    wire::WriteShortString(package.data(), pkg::mail::kAddress, pkg::mail::kLongAddressMarker);
    uint8_t length[4];
    pkg::SetInt32At(length, 0, static_cast<int32_t>(to.size()));
    package.insert(package.end(), length, length + 4);
    package.insert(package.end(), to.begin(), to.end());
  }
  wire::WriteShortString(package.data(), pkg::mail::kSender, Str(*hello, pkg::hello::kUserName));
  package.insert(package.end(), body.begin(), body.end());
  if (!session.Send(package)) return kExitConnection;
  // Answered in order: once this hello comes back the mail has been handled.
  if (!session.Hello()) return NoAnswer(err, "the mail");
  out << "mail of " << package.size() << " bytes sent to " << to << "\n";
  return kExitOk;
}

int FetchMail(Session& session, const std::vector<std::string>& args, std::ostream& out,
              std::ostream& err) {
  if (args.size() != 2 || !std::filesystem::is_directory(args[1])) {
    err << "usage: quorvane-client fetch-mail DIR   (an existing directory)\n";
    return kExitUsage;
  }
  if (!session.Send(Request(pkg::code::kRequest, pkg::subcode::kFetchMail))) {
    return kExitConnection;
  }
  const auto count = session.WaitFor([](const Bytes& b) {
    return b.size() == static_cast<size_t>(pkg::kMailCountSize) &&
           I32(b, 0) == pkg::code::kMailCount;
  });
  if (!count) return NoAnswer(err, "the mail request");
  const int32_t n = I32(*count, 4);
  out << n << " message(s)\n";
  for (int32_t i = 0; i < n; ++i) {
    const auto message =
        session.WaitFor([](const Bytes& b) { return I32(b, 0) == pkg::code::kMail; });
    if (!message) return NoAnswer(err, "message " + std::to_string(i + 1));
    const std::string path =
        (std::filesystem::path(args[1]) / ("message-" + std::to_string(i + 1) + ".mqv")).string();
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(message->data()),
               static_cast<std::streamsize>(message->size()));
    if (!file) {
      err << "quorvane-client: cannot write " << path << "\n";
      return kExitUsage;
    }
    out << "from " << Str(*message, pkg::mail::kSender) << ", " << message->size() << " bytes -> "
        << path << "\n";
  }
  return kExitOk;
}

int Watch(Session& session, const std::vector<std::string>& args, std::ostream& out,
          std::ostream& err, const std::atomic<bool>* stop) {
  int seconds = 0;
  if (args.size() > 2 || (args.size() == 2 && (!ParseInt(args[1], seconds) || seconds < 1))) {
    err << "usage: quorvane-client watch [SECONDS]\n";
    return kExitUsage;
  }
  out << DescribePackage(session.Table()) << "\n" << std::flush;
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  while ((stop == nullptr || !*stop) && (seconds == 0 || Clock::now() < end)) {
    const auto frame = session.client().ReceiveFrame(200ms);
    if (frame) {
      out << DescribePackage(*frame) << "\n" << std::flush;
    } else if (session.client().ServerClosed()) {
      err << "quorvane-client: the server closed the connection\n";
      return kExitConnection;
    }
  }
  return kExitOk;
}

}  // namespace

bool ParseDate(const std::string& text, double& date) {
  int year = 0, month = 0, day = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) != 3) return false;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  platform::LocalTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  date = platform::EncodeDateTime(t);
  return FormatDate(date) == text;  // rejects 2025-02-30
}

std::string FormatDate(double date) {
  if (!std::isfinite(date)) return "?";
  return platform::FormatDateTime(std::trunc(date), "yyyy-mm-dd");
}

std::string DescribePackage(const Bytes& b) {
  std::ostringstream s;
  if (b.empty()) return "keep-alive";
  const int32_t code = I32(b, 0);
  const int32_t sub = I32(b, 4);
  const std::string date = FormatDate(F64(b, pkg::request::kDateOffset));
  if (code == pkg::code::kStatusTable && b.size() >= 4 &&
      (b.size() - 4) % pkg::status_slot::kSize == 0) {
    s << "user status table:";
    for (size_t at = 4; at + pkg::status_slot::kSize <= b.size(); at += pkg::status_slot::kSize) {
      s << " " << DescribeStatusSlot(b.data() + at) << ";";
    }
    return s.str();
  }
  if (code == pkg::code::kReply) {
    switch (sub) {
      case pkg::subcode::kStatusSlot:
        if (b.size() == static_cast<size_t>(pkg::status_slot::kPackageSize)) {
          return "status: " + DescribeStatusSlot(b.data() + pkg::status_slot::kPackageHeaderSize);
        }
        break;
      case pkg::subcode::kDaysReply:
      case pkg::subcode::kWeekReply:
        s << (sub == pkg::subcode::kWeekReply ? "week after a copy" : "days") << " from " << date
          << ": "
          << (b.size() - std::min(b.size(), pkg::days_reply::kHeaderSize)) / wire::kDayRecordSize
          << " day(s)";
        return s.str();
      case pkg::subcode::kSlotIdReply:
        s << "slot id " << I32(b, pkg::request::kSlotIdOffset) << " for slot "
          << I32(b, pkg::request::kIndex2Offset) << " of " << date;
        return s.str();
      case pkg::subcode::kPollAnswer:
        return "poll answered by everybody";
      default:
        break;
    }
  }
  switch (code) {
    case pkg::code::kRequest:
      if (sub == pkg::subcode::kHelloReply) {
        return "hello reply: user " + Str(b, pkg::hello::kUserName) + ", " +
               Str(b, pkg::hello::kServer);
      }
      break;
    case pkg::code::kAcknowledgment:
      s << "acknowledgment of change " << I32(b, pkg::request::kIndex2Offset) << "/" << sub
        << " on " << date;
      return s.str();
    case pkg::code::kRefusal:
      s << "refused: request " << I32(b, pkg::request::kIndex2Offset) << "/" << sub;
      return s.str();
    case pkg::code::kMark:
      s << "mark " << F64(b, pkg::request::kMarkOffset) << " on " << date
        << (b.size() > pkg::request::kMarkFlagOffset && b[pkg::request::kMarkFlagOffset]
                ? " set"
                : " cleared");
      return s.str();
    case pkg::code::kPoll:
      return "poll";
    case pkg::code::kSlotIdAssigned:
      s << "slot id " << I32(b, pkg::request::kSlotIdOffset) << " assigned to slot " << sub
        << " of " << date;
      return s.str();
    case pkg::code::kMailWaiting:
      return "mail is waiting";
    case pkg::code::kMailCount:
      s << I32(b, 4) << " stored message(s) follow";
      return s.str();
    case pkg::code::kMail:
      s << "message from " << Str(b, pkg::mail::kSender) << ", " << b.size() << " bytes";
      return s.str();
    default:
      break;
  }
  s << "change " << code << "/" << sub << " on " << date;
  const std::string text = Str(b, pkg::request::kText);
  if (!text.empty()) s << ": \"" << text << "\"";
  s << " (" << b.size() << " bytes)";
  return s.str();
}

int RunClientCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const std::atomic<bool>* stop) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    int number = 0;
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return kExitOk;
    } else if (a == "--server" && hasValue) {
      options.connection.serverAddress = args[++i];
    } else if (a == "--local" && hasValue) {
      options.connection.localAddress = args[++i];
    } else if (a == "--port" && hasValue && ParseInt(args[i + 1], number) && number > 0 &&
               number < 65526) {
      options.connection.port = number;
      ++i;
    } else if (a == "--timeout" && hasValue && ParseInt(args[i + 1], number) && number > 0) {
      options.timeout = std::chrono::milliseconds(number);
      ++i;
    } else if (a.rfind("--", 0) == 0) {
      err << "quorvane-client: unknown or incomplete option " << a << "\n" << kUsage;
      return kExitUsage;
    } else {
      options.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
      break;
    }
  }
  static const char* const kCommands[] = {"hello", "read",       "set-title", "set-slot",
                                          "mail",  "fetch-mail", "watch"};
  if (options.command.empty() || std::find(std::begin(kCommands), std::end(kCommands),
                                           options.command[0]) == std::end(kCommands)) {
    err << (options.command.empty()
                ? "quorvane-client: no command\n"
                : "quorvane-client: unknown command " + options.command[0] + "\n")
        << kUsage;
    return kExitUsage;
  }
  // Word counts (command included) each command takes; checked before connecting.
  static const std::map<std::string, std::pair<size_t, size_t>> kArity = {
      {"hello", {1, 1}}, {"read", {2, 3}},       {"set-title", {3, 3}}, {"set-slot", {5, 5}},
      {"mail", {3, 3}},  {"fetch-mail", {2, 2}}, {"watch", {1, 2}}};
  const auto [least, most] = kArity.at(options.command[0]);
  if (options.command.size() < least || options.command.size() > most) {
    err << "quorvane-client: wrong number of arguments for " << options.command[0] << "\n"
        << kUsage;
    return kExitUsage;
  }
  Session session(options, err);
  if (!session.Open()) return kExitConnection;
  const std::string& command = options.command[0];
  if (command == "hello") return Hello(session, out, err);
  if (command == "read") return Read(session, options.command, out, err);
  if (command == "set-title") return SetTitle(session, options.command, out, err);
  if (command == "set-slot") return SetSlot(session, options.command, out, err);
  if (command == "mail") return Mail(session, options.command, out, err);
  if (command == "fetch-mail") return FetchMail(session, options.command, out, err);
  return Watch(session, options.command, out, err, stop);
}

}  // namespace qv::client

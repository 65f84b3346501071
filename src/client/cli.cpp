#include "client/cli.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/host_lookup.h"
#include "platform/text_codec.h"
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
    "  fetch-mail DIR                 saves the waiting mail in DIR, each file under the name\n"
    "                                 it was sent with\n"
    "  watch [SECONDS]                prints every package that arrives (until Ctrl+C)\n"
    "\n"
    "options:\n"
    "  --server HOST      the server's host name or address (default 127.0.0.1)\n"
    "  --port PORT        the server's port, 1 to 65525 (default 6340); replies come on PORT + 10\n"
    "  --local HOST       the host name or address to connect from, the user's host\n"
    "                     (default 127.0.0.1)\n"
    "  --timeout MS       how long to wait for the session and each answer (default 5000)\n"
    "  --codepage NAME    the code page of the office's texts (default CP1251); texts typed\n"
    "                     here and printed are UTF-8\n"
    "  --help             this text\n"
    "\n"
    "DATE is YYYY-MM-DD.\n";

// The client's own use of the mail header's free bytes (544, 512 bytes the server does not
// read): the name of the file sent, so that the recipient saves it under that name.
constexpr wire::ShortStringField kMailFileName{544, 255};
static_assert(kMailFileName.offset ==
              qv::wire::mail::kSender.offset + qv::wire::mail::kSender.Size());

struct Options {
  ClientOptions connection;
  std::chrono::milliseconds timeout{5000};
  std::string codePage = "CP1251";
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

// Texts between the terminal (UTF-8) and the office's code page.
class Codec {
 public:
  explicit Codec(std::string codePage) : codePage_(std::move(codePage)) {}
  const std::string& Name() const { return codePage_; }
  // The office's bytes of a text typed here; empty (and err told) when a character has no form
  // there or the result is longer than capacity bytes.
  std::optional<std::string> ToOffice(const std::string& text, size_t capacity,
                                      const std::string& what, std::ostream& err) const {
    const auto bytes = platform::Utf8ToCodePageExact(text, codePage_.c_str());
    if (!bytes) {
      err << "quorvane-client: " << what << " cannot be written in " << codePage_
          << " (a character has no form there, or the text is no UTF-8)\n";
      return std::nullopt;
    }
    if (bytes->size() > capacity) {
      err << "quorvane-client: " << what << " is too long: " << bytes->size()
          << " characters, the field holds " << capacity << "\n";
      return std::nullopt;
    }
    return bytes;
  }
  std::string ToTerminal(std::string_view bytes) const {
    return platform::CodePageToUtf8(bytes, codePage_.c_str());
  }

 private:
  std::string codePage_;
};

bool BadDate(const std::string& text, std::ostream& err) {
  double date = 0;
  if (ParseDate(text, date)) return false;
  err << "quorvane-client: " << text << " is no date: expected YYYY-MM-DD, a day of the calendar\n";
  return true;
}

// Checks a command's words before anything is sent: dates, numbers, and the texts in the
// office's code page within their fields.
int CheckCommand(const std::vector<std::string>& args, const Codec& codec, std::ostream& err) {
  const std::string& command = args[0];
  int number = 0;
  if (command == "read") {
    if (BadDate(args[1], err)) return kExitUsage;
    if (args.size() == 3 && (!ParseInt(args[2], number) || number < 1 || number > 7)) {
      err << "quorvane-client: read: DAYS " << args[2] << " is not a number from 1 to 7\n";
      return kExitUsage;
    }
  } else if (command == "set-title") {
    if (BadDate(args[1], err)) return kExitUsage;
    if (!codec.ToOffice(args[2], pkg::request::kText.capacity, "the title", err)) return kExitUsage;
  } else if (command == "set-slot") {
    if (BadDate(args[1], err)) return kExitUsage;
    if (!ParseInt(args[2], number) || number < 0 || number >= wire::day::kSlotCount) {
      err << "quorvane-client: set-slot: SLOT " << args[2] << " is not a number from 0 to "
          << wire::day::kSlotCount - 1 << "\n";
      return kExitUsage;
    }
    if (!codec.ToOffice(args[3], pkg::request::kSlotTime.capacity, "the slot time", err) ||
        !codec.ToOffice(args[4], pkg::request::kText.capacity, "the slot text", err)) {
      return kExitUsage;
    }
  } else if (command == "mail") {
    if (args[1].empty() || !std::ifstream(args[2], std::ios::binary)) {
      err << "quorvane-client: mail: "
          << (args[1].empty() ? "no recipient" : "cannot read " + args[2]) << "\n";
      return kExitUsage;
    }
    const std::string name = std::filesystem::path(args[2]).filename().string();
    if (!codec.ToOffice(name, kMailFileName.capacity, "the file name " + name, err)) {
      return kExitUsage;
    }
  } else if (command == "fetch-mail") {
    if (!std::filesystem::is_directory(args[1])) {
      err << "quorvane-client: fetch-mail: " << args[1] << " is no directory\n";
      return kExitUsage;
    }
  } else if (command == "watch") {
    if (args.size() == 2 && (!ParseInt(args[1], number) || number < 1)) {
      err << "quorvane-client: watch: SECONDS " << args[1] << " is not a number of 1 or more\n";
      return kExitUsage;
    }
  }
  return kExitOk;
}

int EditReply(Session& session, std::ostream& out, std::ostream& err, const Bytes& request,
              const std::string& what, const Codec& codec) {
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
  out << what << ": acknowledged; it replaced \""
      << codec.ToTerminal(Str(*reply, pkg::request::kText)) << "\"\n";
  return kExitOk;
}

int Hello(Session& session, std::ostream& out, std::ostream& err, const Codec& codec) {
  const auto reply = session.Hello();
  if (!reply) return NoAnswer(err, "hello");
  const double first = F64(*reply, pkg::hello::kFirstDateOffset);
  out << "user: " << codec.ToTerminal(Str(*reply, pkg::hello::kUserName)) << "\n"
      << "server: " << codec.ToTerminal(Str(*reply, pkg::hello::kServer)) << "\n"
      << "first date: " << (first == 0 ? std::string("none") : FormatDate(first)) << "\n";
  return kExitOk;
}

int Read(Session& session, const std::vector<std::string>& args, std::ostream& out,
         std::ostream& err, const Codec& codec) {
  double date = 0;
  int days = 1;
  ParseDate(args[1], date);
  if (args.size() == 3) ParseInt(args[2], days);
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
  std::ostringstream office;
  for (size_t i = 0; i < count; ++i) {
    PrintDay(office, reply->data() + pkg::days_reply::kHeaderSize + i * wire::kDayRecordSize);
  }
  out << codec.ToTerminal(office.str());
  return kExitOk;
}

int SetTitle(Session& session, const std::vector<std::string>& args, std::ostream& out,
             std::ostream& err, const Codec& codec) {
  double date = 0;
  ParseDate(args[1], date);
  const auto title = codec.ToOffice(args[2], pkg::request::kText.capacity, "the title", err);
  if (!title) return kExitUsage;
  Bytes request = Request(2, 0);
  pkg::SetDoubleAt(request.data(), pkg::request::kDateOffset, date);
  wire::WriteShortString(request.data(), pkg::request::kText, *title);
  return EditReply(session, out, err, request, "the title of " + args[1], codec);
}

int SetSlot(Session& session, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, const Codec& codec) {
  double date = 0;
  int slot = 0;
  ParseDate(args[1], date);
  ParseInt(args[2], slot);
  const auto time = codec.ToOffice(args[3], pkg::request::kSlotTime.capacity, "the slot time", err);
  const auto text = codec.ToOffice(args[4], pkg::request::kText.capacity, "the slot text", err);
  if (!time || !text) return kExitUsage;
  Bytes request = Request(4, slot);
  pkg::SetDoubleAt(request.data(), pkg::request::kDateOffset, date);
  wire::WriteShortString(request.data(), pkg::request::kSlotTime, *time);
  wire::WriteShortString(request.data(), pkg::request::kText, *text);
  return EditReply(session, out, err, request, "slot " + args[2] + " of " + args[1], codec);
}

// The user names of the status table, in the office's code page.
std::vector<std::string> UserNames(const Bytes& table) {
  std::vector<std::string> names;
  for (size_t at = 4; at + pkg::status_slot::kSize <= table.size(); at += pkg::status_slot::kSize) {
    const Bytes slot(table.begin() + static_cast<std::ptrdiff_t>(at),
                     table.begin() + static_cast<std::ptrdiff_t>(at + pkg::status_slot::kSize));
    names.push_back(Str(slot, pkg::status_slot::kUserName));
  }
  return names;
}

int Mail(Session& session, const std::vector<std::string>& args, std::ostream& out,
         std::ostream& err, const Codec& codec) {
  std::ifstream in(args[2], std::ios::binary);
  if (!in) {
    err << "quorvane-client: cannot read " << args[2] << "\n";
    return kExitUsage;
  }
  const std::string body(std::istreambuf_iterator<char>(in), {});
  // Every recipient must be a user of the server: mail to another name would be dropped.
  const auto to =
      codec.ToOffice(args[1], std::numeric_limits<int32_t>::max(), "the recipients", err);
  if (!to) return kExitUsage;
  const std::vector<std::string> users = UserNames(session.Table());
  std::stringstream names(*to);
  for (std::string name; std::getline(names, name, ',');) {
    if (std::find(users.begin(), users.end(), name) == users.end()) {
      err << "quorvane-client: mail: no user named " << codec.ToTerminal(name)
          << " on the server; nothing was sent\n";
      return kExitRequest;
    }
  }
  const std::string fileName = std::filesystem::path(args[2]).filename().string();
  const auto officeName = codec.ToOffice(fileName, kMailFileName.capacity, "the file name", err);
  if (!officeName) return kExitUsage;
  const auto hello = session.Hello();  // the sender's own name
  if (!hello) return NoAnswer(err, "hello");
  Bytes package(pkg::mail::kHeaderSize, 0);
  pkg::SetInt32At(package.data(), 0, pkg::code::kMail);
  if (to->size() <= pkg::mail::kAddress.capacity) {
    wire::WriteShortString(package.data(), pkg::mail::kAddress, *to);
  } else {
    wire::WriteShortString(package.data(), pkg::mail::kAddress, pkg::mail::kLongAddressMarker);
    uint8_t length[4];
    pkg::SetInt32At(length, 0, static_cast<int32_t>(to->size()));
    package.insert(package.end(), length, length + 4);
    package.insert(package.end(), to->begin(), to->end());
  }
  wire::WriteShortString(package.data(), pkg::mail::kSender, Str(*hello, pkg::hello::kUserName));
  wire::WriteShortString(package.data(), kMailFileName, *officeName);
  package.insert(package.end(), body.begin(), body.end());
  if (!session.Send(package)) return kExitConnection;
  // Answered in order: once this hello comes back the mail has been handled.
  if (!session.Hello()) return NoAnswer(err, "the mail");
  out << fileName << " (" << body.size() << " bytes) sent to " << args[1] << "\n";
  return kExitOk;
}

// The body of a mail package: what follows the header and the long address list, if any.
std::string_view MailBody(const Bytes& message) {
  size_t at = pkg::mail::kHeaderSize;
  if (Str(message, pkg::mail::kAddress) == pkg::mail::kLongAddressMarker) {
    const int32_t length = I32(message, pkg::mail::kLongAddressLengthOffset);
    at = pkg::mail::kLongAddressOffset + static_cast<size_t>(std::max(length, 0));
  }
  if (at >= message.size()) return {};
  return {reinterpret_cast<const char*>(message.data()) + at, message.size() - at};
}

// A name to save a message under, or why not: no directories, no "..", nothing hidden above.
std::optional<std::string> SafeFileName(const std::string& name, std::string& why) {
  if (name.empty()) {
    why = "it has no file name";
  } else if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    why = "its file name \"" + name + "\" holds a /";
  } else if (name == "." || name == ".." || name.find("..") != std::string::npos) {
    why = "its file name \"" + name + "\" holds ..";
  } else {
    return name;
  }
  return std::nullopt;
}

// A path in dir for name that does not exist yet: name, else name.1, name.2, ...
std::optional<std::filesystem::path> FreePath(const std::string& dir, const std::string& name) {
  constexpr int kMaxSuffix = 1000;
  for (int n = 0; n <= kMaxSuffix; ++n) {
    std::filesystem::path path =
        std::filesystem::path(dir) / (n == 0 ? name : name + "." + std::to_string(n));
    if (!std::filesystem::exists(path)) return path;
  }
  return std::nullopt;
}

int FetchMail(Session& session, const std::vector<std::string>& args, std::ostream& out,
              std::ostream& err, const Codec& codec) {
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
  int result = kExitOk;
  for (int32_t i = 0; i < n; ++i) {
    const auto message =
        session.WaitFor([](const Bytes& b) { return I32(b, 0) == pkg::code::kMail; });
    if (!message) return NoAnswer(err, "message " + std::to_string(i + 1));
    const std::string sender = codec.ToTerminal(Str(*message, pkg::mail::kSender));
    std::string why;
    const auto name = SafeFileName(codec.ToTerminal(Str(*message, kMailFileName)), why);
    const auto path = name ? FreePath(args[1], *name) : std::nullopt;
    if (!path) {
      err << "quorvane-client: message " << i + 1 << " from " << sender
          << " not saved: " << (name ? "no free name for " + *name : why) << "\n";
      result = kExitRequest;
      continue;
    }
    const std::string_view body = MailBody(*message);
    std::ofstream file(*path, std::ios::binary);
    file.write(body.data(), static_cast<std::streamsize>(body.size()));
    file.close();
    if (!file) {
      err << "quorvane-client: cannot write " << path->string() << "\n";
      result = kExitRequest;
      continue;
    }
    out << "from " << sender << ": " << body.size() << " bytes -> " << path->string() << "\n";
  }
  return result;
}

int Watch(Session& session, const std::vector<std::string>& args, std::ostream& out,
          std::ostream& err, const std::atomic<bool>* stop) {
  int seconds = 0;
  if (args.size() == 2) ParseInt(args[1], seconds);
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

namespace {

// Reads one option with its value ("--port 7000" or "--port=7000") into options; false (and err
// told which and why) when the option is unknown or its value is missing or bad.
bool ReadOption(const std::vector<std::string>& args, size_t& i, Options& options,
                std::ostream& err) {
  std::string name = args[i];
  std::optional<std::string> value;
  if (const size_t eq = name.find('='); eq != std::string::npos) {
    value = name.substr(eq + 1);
    name.resize(eq);
  }
  static const char* const kOptions[] = {"--server", "--local", "--port", "--timeout",
                                         "--codepage"};
  if (std::find(std::begin(kOptions), std::end(kOptions), name) == std::end(kOptions)) {
    err << "quorvane-client: unknown option " << name << "\n";
    return false;
  }
  if (!value) {
    if (i + 1 >= args.size()) {
      err << "quorvane-client: option " << name << " needs a value\n";
      return false;
    }
    value = args[++i];
  }
  int number = 0;
  if (name == "--server" || name == "--local") {
    std::string why;
    const auto address = platform::ResolveIpv4(*value, why);
    if (!address) {
      err << "quorvane-client: " << name << " " << *value << ": no IPv4 address (" << why << ")\n";
      return false;
    }
    (name == "--server" ? options.connection.serverAddress : options.connection.localAddress) =
        *address;
  } else if (name == "--port") {
    if (!ParseInt(*value, number) || number < 1 || number > 65525) {
      err << "quorvane-client: --port " << *value
          << ": not a port number from 1 to 65525 (the server answers on PORT + 10)\n";
      return false;
    }
    options.connection.port = number;
  } else if (name == "--timeout") {
    if (!ParseInt(*value, number) || number < 1) {
      err << "quorvane-client: --timeout " << *value
          << ": not a number of milliseconds (1 or more)\n";
      return false;
    }
    options.timeout = std::chrono::milliseconds(number);
  } else {
    try {
      platform::Utf8ToCodePageExact("", value->c_str());
    } catch (const std::exception&) {
      err << "quorvane-client: --codepage " << *value
          << ": no such code page (CP1251, CP1252, ...)\n";
      return false;
    }
    options.codePage = *value;
  }
  return true;
}

}  // namespace

int RunClientCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const std::atomic<bool>* stop) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return kExitOk;
    } else if (a.size() > 1 && a[0] == '-') {
      if (!ReadOption(args, i, options, err)) {
        err << "Try 'quorvane-client --help'.\n";
        return kExitUsage;
      }
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
  const Codec codec(options.codePage);
  if (const int bad = CheckCommand(options.command, codec, err); bad != kExitOk) return bad;
  Session session(options, err);
  if (!session.Open()) return kExitConnection;
  const std::string& command = options.command[0];
  if (command == "hello") return Hello(session, out, err, codec);
  if (command == "read") return Read(session, options.command, out, err, codec);
  if (command == "set-title") return SetTitle(session, options.command, out, err, codec);
  if (command == "set-slot") return SetSlot(session, options.command, out, err, codec);
  if (command == "mail") return Mail(session, options.command, out, err, codec);
  if (command == "fetch-mail") return FetchMail(session, options.command, out, err, codec);
  return Watch(session, options.command, out, err, stop);
}

}  // namespace qv::client

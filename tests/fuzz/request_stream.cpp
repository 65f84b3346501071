#include "request_stream.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include "net/frame_assembler.h"
#include "net/frame_receiver.h"
#include "platform/files.h"
#include "service/dispatch.h"
#include "service/mail.h"
#include "service/outbox.h"
#include "support/service_server.h"
#include "wire/day_record.h"
#include "wire/packages.h"
#include "wire/short_string.h"

namespace qv::fuzz {
namespace {

using wire::frame::kMaxInMemoryPayload;

// Where the log's lines go between runs: nowhere, so that a run frees what it allocates and
// libFuzzer's leak check stays quiet.
class DiscardingLogView final : public state::LogView {
 public:
  int LineCount() const override { return 0; }
  bool DeleteLastLine() override { return false; }
  void InsertAtTop(const std::string&) override {}
};

// Cuts the stream into the pieces that receive events would deliver.
class Chunker {
 public:
  Chunker(uint8_t scheme, uint8_t seed, std::vector<uint16_t> table)
      : scheme_(scheme), state_(0x9E3779B9u ^ (seed * 0x01000193u)), table_(std::move(table)) {}

  size_t Next(size_t left) {
    size_t size = left;
    switch (scheme_) {
      case kChunkWhole:
        break;
      case kChunkBytes:
        size = 1;
        break;
      case 2:
      case 3:
      case 4:
      case 5: {
        const uint32_t limits[] = {8, 64, 4096, 65536};
        size = 1 + Random() % limits[scheme_ - 2];
        break;
      }
      case 6:
        size = 4;
        break;
      case kChunkTable:
        if (!table_.empty()) size = std::max<size_t>(1, table_[next_++ % table_.size()]);
        break;
      default:
        break;
    }
    return std::min(size, left);
  }

 private:
  uint32_t Random() {  // xorshift32
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

  uint8_t scheme_;
  uint32_t state_;
  std::vector<uint16_t> table_;
  size_t next_ = 0;
};

// Feeds one receive event's bytes as the read event does. A closed connection is followed by a
// fresh one of the same user, which gets the rest, so that one input can go on after a close.
void FeedEvent(state::Server& server, state::TMyNameUser& user, std::span<const uint8_t> bytes,
               RunSummary& summary) {
  while (!bytes.empty()) {
    size_t taken = 0;
    net::FeedResult result = net::FeedResult::Continue;
    try {
      result = net::ReceiveBytes(server, user, bytes, taken);
    } catch (...) {
      // As in the read event: message 21, and the rest of this event is not read.
      server.runtime.log.WriteMsg(wire::MsgId::ReceiveError, user.HostName);
      ++summary.receiveErrors;
      return;
    }
    if (result == net::FeedResult::Continue) return;
    ++summary.closes;
    net::ResetReceiveState(user.Connection);
    bytes = bytes.subspan(taken);
  }
}

// Whole day records in date order; only the dates are read.
void CheckDatafile(platform::File& file, RunSummary& summary) {
  const int64_t size = file.Size();
  if (size % wire::kDayRecordSize != 0) {
    summary.violations.push_back("datafile size " + std::to_string(size) +
                                 " is not a whole number of day records");
  }
  double previous = -INFINITY;
  for (int64_t at = 0; at + wire::kDayRecordSize <= size; at += wire::kDayRecordSize) {
    uint8_t date[sizeof(double)];
    file.ReadAt(at, date, sizeof date);
    const double key = wire::DayKey(wire::LoadField<double>(date));
    if (!(key > previous)) {
      summary.violations.push_back("datafile record " + std::to_string(at / wire::kDayRecordSize) +
                                   " is not later than the one before it");
    }
    previous = key;
  }
}

// Whole, well-formed notices; counts the message files they name.
void CheckMailbox(const std::vector<uint8_t>& box, const std::string& host,
                  std::map<std::string, int>& noticed, RunSummary& summary) {
  if (box.size() % wire::notice::kSize != 0) {
    summary.violations.push_back("mailbox of " + host + " has a partial notice");
  }
  for (size_t at = 0; at + wire::notice::kSize <= box.size(); at += wire::notice::kSize) {
    const uint8_t* notice = box.data() + at;
    if (wire::Int32At(notice, wire::notice::kOneOffset) != 1 ||
        wire::Int32At(notice, wire::notice::kZeroOffset) != 0) {
      summary.violations.push_back("malformed notice in the mailbox of " + host);
    }
    ++noticed[std::string(wire::ReadShortString(notice, wire::notice::kMessageFile))];
  }
}

}  // namespace

std::vector<uint8_t> MakeInput(uint8_t flags, uint8_t seed, std::span<const uint8_t> stream) {
  std::vector<uint8_t> input{flags, seed};
  input.insert(input.end(), stream.begin(), stream.end());
  return input;
}

RunSummary RunAndCompareWhole(RequestStreamHarness& harness, std::span<const uint8_t> input) {
  RunSummary cut = harness.Run(input);
  if (input.size() < 2 || (input[0] & kChunkMask) == kChunkWhole || (input[0] & kTwoClients) ||
      cut.headerRepaired) {
    return cut;
  }
  // The same stream in one piece: the table of a cut by table is not part of the stream.
  std::vector<uint8_t> whole(input.begin(), input.end());
  whole[0] = static_cast<uint8_t>(whole[0] & ~kChunkMask);
  if ((input[0] & kChunkMask) == kChunkTable) {
    const size_t table = std::min<size_t>(2 * size_t{input[1]}, input.size() - 2);
    whole.erase(whole.begin() + 2, whole.begin() + 2 + static_cast<std::ptrdiff_t>(table));
  }
  const RunSummary one = harness.Run(whole);
  auto compare = [&](const char* what, int64_t a, int64_t b) {
    if (a != b) {
      cut.violations.push_back(std::string(what) + ": " + std::to_string(a) + " cut into pieces, " +
                               std::to_string(b) + " in one piece");
    }
  };
  compare("data requests", cut.dataRequests, one.dataRequests);
  compare("mail packages", cut.mailPackages, one.mailPackages);
  compare("replies", cut.replies, one.replies);
  compare("reply bytes", cut.replyBytes, one.replyBytes);
  compare("stored messages", cut.storedMessages, one.storedMessages);
  compare("closes", cut.closes, one.closes);
  for (const std::string& v : one.violations) cut.violations.push_back("in one piece: " + v);
  return cut;
}

RequestStreamHarness::RequestStreamHarness()
    : server_(std::make_unique<state::Server>(dir_.Path(), loop_, front_)),
      zeros_(static_cast<size_t>(kMaxInMemoryPayload) + 1) {
  test::BuildServiceServer(*server_, dir_);
}

// What requests and mail change besides the files (CheckAndEmptyFiles): the log, and the
// groups' and users' event-thread state. alice, bob and dave are connected, carol is not.
void RequestStreamHarness::Reset() {
  state::Server& server = *server_;
  DiscardingLogView discard;
  server.runtime.log.Flush(discard);
  for (state::TMyDBUser& group : server.roster.groups) {
    group.Busy = false;
    group.FirstDate = 0;
    group.LookupOffset = 0;
    group.LookupDate = 0;
    store::TmyDBIndex().swap(group.Index);
    group.ReadRetry = group.WriteRetry = false;
    group.WorkRecord->fill(0);
    group.Week->Bytes.fill(0);
    group.ConnectedUsers = 0;
    std::vector<state::MarkRecord>().swap(group.Subscriptions);
    group.PollOwner = nullptr;
    for (state::TMyNameUser& user : group.Users) {
      user.Connected = user.UserName != "carol";
      if (service::Outbox* outbox = service::ExistingOutbox(user)) outbox->Restart();
      user.Fault = false;
      user.PollAnswered = false;
      net::ResetReceiveState(user.Connection);
      user.Connection.StreamHandle = -1;
    }
  }
}

RunSummary RequestStreamHarness::Run(std::span<const uint8_t> input) {
  RunSummary summary;
  if (input.empty()) return summary;
  const uint8_t flags = input[0];
  const uint8_t seed = input.size() > 1 ? input[1] : 0;
  size_t at = std::min<size_t>(2, input.size());
  std::vector<uint16_t> table;
  if ((flags & kChunkMask) == kChunkTable) {
    for (int i = 0; i < seed && at + 2 <= input.size(); ++i, at += 2) {
      table.push_back(static_cast<uint16_t>(input[at] | input[at + 1] << 8));
    }
  }
  std::vector<uint8_t> stream;
  const std::span<const uint8_t> rest = input.subspan(at);
  size_t padding = 0;
  if (flags & kSpooledFrame) {
    const int32_t length =
        std::max<int32_t>(static_cast<int32_t>(rest.size()), kMaxInMemoryPayload + 1);
    stream.resize(4);
    wire::StoreField(stream.data(), length);
    padding = static_cast<size_t>(length) - rest.size();
  }
  stream.insert(stream.end(), rest.begin(), rest.end());

  Reset();
  state::Server& server = *server_;
  std::vector<uint8_t> lastReply;
  service::ReplySender reply = [&](state::TMyNameUser&, const uint8_t* data, int32_t size,
                                   const std::string&, int scope) {
    ++summary.replies;
    if (size < 0 || (size > 0 && data == nullptr) || scope < 1 || scope > 4) {
      summary.violations.push_back("reply of size " + std::to_string(size) + " with scope " +
                                   std::to_string(scope));
      return;
    }
    // A copy reads every byte, so a reply taken from past the end of its buffer is caught.
    lastReply.assign(data, data + size);
    summary.replyBytes += size;
  };
  auto data = std::make_shared<service::DataRequestHandler>(
      server, reply, [&summary](state::TMyNameUser&) { ++summary.mailWorkersStarted; });
  auto mail = std::make_shared<service::AddressAndMailHandler>(server, reply);
  server.runtime.handlers.DataRequest = [&summary, data](state::TMyNameUser& user,
                                                         const std::string& host, uint8_t* payload,
                                                         int32_t size) {
    ++summary.dataRequests;
    data->Handle(user, host, payload, size);
  };
  server.runtime.handlers.AddressAndMail =
      [&summary, mail](state::TMyNameUser& user, const std::string& host,
                       state::PayloadStream& payload, const std::string& spoolFileName) {
        ++summary.mailPackages;
        mail->Handle(user, host, payload, spoolFileName);
      };

  state::TMyNameUser& alice = server.roster.groups[0].Users[0];
  state::TMyNameUser& bob = server.roster.groups[0].Users[1];
  state::TMyNameUser& dave = server.roster.groups[1].Users[0];
  state::TMyNameUser* senders[2] = {&alice, &bob};
  if (flags & kSenderDave) senders[0] = &dave, senders[1] = &alice;
  const int clients = (flags & kTwoClients) ? 2 : 1;
  Chunker chunker(flags & kChunkMask, seed, std::move(table));
  for (size_t done = 0, event = 0; done < stream.size(); ++event) {
    const size_t size = chunker.Next(stream.size() - done);
    FeedEvent(server, *senders[event % clients],
              std::span<const uint8_t>(stream).subspan(done, size), summary);
    done += size;
  }
  if (padding > 0) {
    FeedEvent(server, *senders[0], std::span<const uint8_t>(zeros_).first(padding), summary);
  }
  // A frame still in progress is dropped as when its connection goes (its spool file with it).
  for (state::TMyNameUser* sender : senders) net::ResetReceiveState(sender->Connection);
  summary.headerRepaired =
      server.runtime.log.Pending().find(server.runtime.log.Msg(wire::MsgId::CountCorrected)) !=
      std::string::npos;
  server.runtime.handlers = {};         // they refer to this run's summary
  server.threads.mailboxJobs.Finish();  // notices that waited for a busy mailbox are in
  CheckAndEmptyFiles(summary);
  return summary;
}

// The datafile holds whole day records in date order; every notice of a mailbox names a message
// file that exists, every message file has its notice, and no spool file is left behind. Then
// the datafile and the mailboxes are emptied and the message files removed for the next run.
void RequestStreamHarness::CheckAndEmptyFiles(RunSummary& summary) const {
  std::map<std::string, int> noticed;
  auto check = [&](const std::string& name, auto&& checkFile) {
    try {
      platform::File file = platform::File::Open(dir_.File(name), platform::OpenMode::ReadWrite);
      if (file.Size() == 0) return;
      checkFile(file);
      file.Truncate(0);
    } catch (const platform::FileError& e) {
      summary.violations.push_back(e.what());
      dir_.Write(name, "");
    }
  };
  check("team.qdb", [&](platform::File& file) { CheckDatafile(file, summary); });
  for (const std::string host : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
    check("POP3/" + host + ".bin", [&](platform::File& file) {
      std::vector<uint8_t> box(static_cast<size_t>(file.Size()));
      file.Read(box.data(), box.size());
      CheckMailbox(box, host, noticed, summary);
    });
  }
  std::set<std::string> stored;
  std::vector<std::filesystem::path> remove;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.File("POP3"))) {
    const std::string name = entry.path().filename().string();
    const std::string extension = entry.path().extension().string();
    if (extension == ".mqv") stored.insert(name);
    if (extension == ".buf") summary.violations.push_back("spool file left behind: " + name);
    if (extension == ".mqv" || extension == ".buf") remove.push_back(entry.path());
  }
  for (const auto& path : remove) std::filesystem::remove(path);
  summary.storedMessages = static_cast<int>(stored.size());
  for (const auto& [name, count] : noticed) {
    if (count != 1) summary.violations.push_back(std::to_string(count) + " notices name " + name);
    if (!stored.count(name)) summary.violations.push_back("notice names a missing file " + name);
  }
  for (const std::string& name : stored) {
    if (!noticed.count(name)) summary.violations.push_back("message file without notice " + name);
  }
}

}  // namespace qv::fuzz

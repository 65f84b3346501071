#include "feed/page_session.h"

#include <boost/asio/post.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>

#include "platform/time.h"
#include "store/day_range_reader.h"
#include "wire/edit_request.h"
#include "wire/packages.h"

namespace qv::feed {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

// Attached to the member API for the page's group; outlives the page until its Detach ran.
class PageSession::Sink final : public service::MemberSink {
 public:
  explicit Sink(std::weak_ptr<PageSession> page) : page_(std::move(page)) {}
  void Receive(const state::SharedBytes& payload) override {
    if (auto page = page_.lock()) page->Offer(payload);
  }

 private:
  std::weak_ptr<PageSession> page_;
};

PageSession::PageSession(PageContext& context, beast::tcp_stream stream, PeerInfo peer)
    : context_(context), ws_(std::move(stream)), peer_(std::move(peer)) {
  member_.group = peer_.member->GroupIndex;
  member_.user = peer_.member->UserIndex;
}

PageSession::~PageSession() {
  if (inRoster_)
    context_.roster.Remove(this, member_, context_.stopping ? nullptr : WebText(false));
  if (sink_ && context_.api != nullptr) {
    // The sink lives on in the posted call until the member API has let it go.
    service::MemberApi* api = context_.api;
    context_.server.runtime.loop.Post([api, sink = sink_] { api->Detach(*sink); });
  }
  if (context_.listener != nullptr) context_.listener->PageClosed();
}

void PageSession::Start(HttpRequest upgrade) {
  ws_.read_message_max(context_.maxMessageBytes);
  ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  ws_.async_accept(upgrade, [self = shared_from_this()](const beast::error_code& ec) {
    if (ec) return;
    self->OnAccepted();
  });
}

void PageSession::OnEventThread(std::function<void()> fn) {
  context_.server.runtime.loop.Post(std::move(fn));
}

std::shared_ptr<const std::string> PageSession::WebText(bool web) const {
  const state::TMyNameUser& me = *peer_.member;
  return std::make_shared<const std::string>(
      MessageText({{"type", "web"},
                   {"name", context_.codec.ToUtf8(me.UserName)},
                   {"host", context_.codec.ToUtf8(me.HostName)},
                   {"web", web}}));
}

void PageSession::PostText(std::shared_ptr<const std::string> text) {
  asio::post(ws_.get_executor(),
             [self = shared_from_this(), text = std::move(text)] { self->SendText(text); });
}

void PageSession::OnAccepted() {
  inRoster_ = true;
  context_.roster.Add(shared_from_this(), member_, WebText(true));
  const state::TMyDBUser& group = context_.server.roster.groups[static_cast<size_t>(member_.group)];
  Json members = Json::array();
  for (const state::TMyNameUser& user : group.Users) {
    if (!user.Valid) continue;
    members.push_back({{"name", context_.codec.ToUtf8(user.UserName)},
                       {"host", context_.codec.ToUtf8(user.HostName)},
                       {"online", user.Connected.load()},
                       {"web", context_.roster.OnTheWeb({member_.group, user.UserIndex})}});
  }
  Send({{"type", "hello"},
        {"group", context_.codec.ToUtf8(group.Alias)},
        {"user", context_.codec.ToUtf8(peer_.member->UserName)},
        {"language", context_.language},
        {"today", DateText(platform::Today())},
        {"editing", context_.api != nullptr},
        {"members", members}});
  if (context_.api != nullptr) {
    sink_ = std::make_shared<Sink>(weak_from_this());
    service::MemberApi* api = context_.api;
    OnEventThread([api, sink = sink_, group = member_.group] {
      api->Attach(group, *sink);
      sink->Receive(api->StatusTable());
    });
  }
  Read();
}

bool PageSession::Offer(const state::SharedBytes& payload) {
  if (cutOff_) return false;
  const size_t size = payload->size();
  if (queuedBytes_.fetch_add(size) + size > context_.server.setup.limits.sendQueueBytes) {
    cutOff_ = true;
    asio::post(ws_.get_executor(), [self = shared_from_this()] {
      self->Close("more than " + std::to_string(self->context_.server.setup.limits.sendQueueBytes) +
                  " bytes waiting");
    });
    return false;
  }
  if (!context_.fanout) return false;  // the listener has stopped
  context_.fanout->Add(shared_from_this(), payload);
  return true;
}

void PageSession::Deliver(state::SharedBytes payload) {
  asio::post(ws_.get_executor(), [self = shared_from_this(), payload = std::move(payload)] {
    std::shared_ptr<const std::string> text = self->context_.texts.TextOf(payload);
    self->queuedBytes_ -= payload->size();
    if (text) self->SendText(std::move(text));
  });
}

void PageSession::Read() {
  ws_.async_read(buffer_, [self = shared_from_this()](const beast::error_code& ec, size_t) {
    if (ec == websocket::error::message_too_big) {
      return self->Close("message larger than " + std::to_string(self->context_.maxMessageBytes) +
                         " bytes");
    }
    if (ec) {
      self->closed_ = true;
      return;
    }
    std::string text = beast::buffers_to_string(self->buffer_.data());
    self->buffer_.consume(self->buffer_.size());
    self->OnMessage(text);
  });
}

void PageSession::OnMessage(const std::string& text) {
  Json message = Json::parse(text, nullptr, false);
  if (message.is_discarded() || !message.is_object() || !message.contains("op") ||
      !message["op"].is_string()) {
    return Close("malformed message");
  }
  try {
    Handle(message);
  } catch (const Json::exception&) {
    return Close("malformed message");
  }
  if (!closed_) Read();
}

void PageSession::Handle(const Json& m) {
  const std::string op = m.at("op").get<std::string>();
  const int64_t id = m.value("id", int64_t{0});
  auto date = [&](const char* key) {
    const auto d = ParseDate(m.at(key).get<std::string>());
    if (!d) throw Json::other_error::create(501, "bad date", nullptr);
    return *d;
  };
  if (op == "week") return ReadWeek(date("from"));
  if (op == "title") {
    return ApplyEdit(id, wire::TitleEdit(date("date"),
                                         context_.codec.ToOffice(m.at("text").get<std::string>())));
  }
  if (op == "memo") {
    std::vector<std::string> lines;
    for (const Json& line : m.at("lines"))
      lines.push_back(context_.codec.ToOffice(line.get<std::string>()));
    return ApplyEdit(id, wire::MemoEdit(date("date"), lines));
  }
  if (op == "slot") {
    const int32_t slot = m.at("slot").get<int32_t>();
    if (!wire::day::IsSlotIndex(slot)) {
      throw Json::other_error::create(501, "bad slot", nullptr);
    }
    return ApplyEdit(id, wire::SlotEdit(date("date"), slot,
                                        context_.codec.ToOffice(m.at("time").get<std::string>()),
                                        context_.codec.ToOffice(m.at("text").get<std::string>())));
  }
  if (op == "copy") {
    return ApplyEdit(
        id, wire::CopyDayRequest(date("from"), date("to"), {true, true, true, true, true}));
  }
  throw Json::other_error::create(501, "unknown op", nullptr);
}

void PageSession::ReadWeek(double from) {
  constexpr int kDays = wire::days_reply::kMaxDays;
  if (context_.api == nullptr) {
    // No member API: the datafile is read as the calendar feed reads it, without a lock.
    state::TMyDBUser& group = context_.server.roster.groups[static_cast<size_t>(member_.group)];
    std::vector<wire::DayRecord> days(kDays);
    for (int i = 0; i < kDays; ++i) {
      days[i] = *group.BlankRecord;
      wire::SetDayDate(days[i], from + i);
    }
    try {
      if (!group.FileName.empty()) {
        store::ReadDayRange(group, from, from + kDays - 1, [&](wire::ConstDayBytes day) {
          const int index = static_cast<int>(wire::DayKey(wire::DayDate(day)) - from);
          if (index >= 0 && index < kDays) std::copy(day.begin(), day.end(), days[index].begin());
        });
      }
    } catch (const std::exception& e) {
      return Send({{"type", "error"}, {"reason", e.what()}});
    }
    return SendWeek(from, days);
  }
  service::MemberApi* api = context_.api;
  OnEventThread([self = shared_from_this(), api, from] {
    auto days = std::make_shared<std::vector<wire::DayRecord>>();
    std::string reason;
    const bool ok = api->ReadDays(self->member_, from, kDays, *days, reason);
    asio::post(self->ws_.get_executor(), [self, days, ok, reason, from] {
      if (!ok) return self->Send({{"type", "error"}, {"reason", reason}});
      self->SendWeek(from, *days);
    });
  });
}

void PageSession::SendWeek(double from, const std::vector<wire::DayRecord>& days) {
  Json list = Json::array();
  for (const wire::DayRecord& day : days) list.push_back(context_.codec.Day(day));
  Send({{"type", "week"}, {"from", DateText(from)}, {"days", list}});
}

void PageSession::ApplyEdit(int64_t id, const wire::RequestPackage& request) {
  if (context_.api == nullptr) {
    return Send({{"type", "refused"}, {"id", id}, {"reason", "editing is off on this server"}});
  }
  service::MemberApi* api = context_.api;
  auto package = std::make_shared<wire::RequestPackage>(request);
  OnEventThread([self = shared_from_this(), api, package, id, sink = sink_] {
    const service::ChangeOutcome outcome =
        api->Apply(self->member_, *package, wire::request::kSize, sink.get());
    auto answer = [self, id](Json message) {
      message["id"] = id;
      asio::post(self->ws_.get_executor(), [self, message] { self->Send(message); });
    };
    if (!outcome.Accepted()) {
      return answer({{"type", "refused"}, {"reason", self->context_.codec.ToUtf8(outcome.reason)}});
    }
    api->WhenDurable(outcome.ticket, [answer] { answer({{"type", "ack"}}); });
  });
}

void PageSession::Send(const Json& message) {
  if (closed_) return;
  SendText(std::make_shared<const std::string>(MessageText(message)));
}

void PageSession::SendText(std::shared_ptr<const std::string> text) {
  if (closed_) return;
  queuedBytes_ += text->size();
  if (queuedBytes_.load() > context_.server.setup.limits.sendQueueBytes) {
    return Close("more than " + std::to_string(context_.server.setup.limits.sendQueueBytes) +
                 " bytes waiting");
  }
  outgoing_.push_back(std::move(text));
  if (!writing_) Write();
}

void PageSession::Write() {
  if (outgoing_.empty() || closed_) {
    writing_ = false;
    return;
  }
  writing_ = true;
  auto text = outgoing_.front();
  ws_.text(true);
  ws_.async_write(asio::buffer(*text),
                  [self = shared_from_this(), text](const beast::error_code& ec, size_t) {
                    self->queuedBytes_ -= text->size();
                    if (!self->outgoing_.empty()) self->outgoing_.pop_front();
                    if (ec) {
                      self->closed_ = true;
                      self->writing_ = false;
                      return;
                    }
                    self->Write();
                  });
}

void PageSession::Close(const std::string& why) {
  if (closed_) return;
  closed_ = true;
  if (context_.log) context_.log("page of " + peer_.address + " closed: " + why);
  // A write under way keeps its buffer until it completes.
  while (outgoing_.size() > (writing_ ? 1u : 0u)) outgoing_.pop_back();
  beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(2));
  ws_.async_close(websocket::close_code::policy_error,
                  [self = shared_from_this()](const beast::error_code&) {});
}

}  // namespace qv::feed

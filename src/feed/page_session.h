#pragma once
// One open web page of a member: a WebSocket connection that reads and edits the member's
// group and receives, live, every change and status push of that group.
//
// Every member API call runs on the event thread (posted to the server's event loop); results
// come back to this connection's strand. The sink the page attaches is called on the event
// thread and only queues: a page whose queue passes the per-user cap (limits.sendQueueBytes)
// is cut off, as a native member that stops reading is.
#include <atomic>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "feed/http_listener.h"
#include "feed/package_texts.h"
#include "feed/page_codec.h"
#include "feed/page_fanout.h"
#include "feed/page_roster.h"
#include "service/member_api.h"
#include "state/server.h"

namespace qv::feed {

// What all pages of one listener share.
struct PageContext {
  state::Server& server;
  service::MemberApi* api = nullptr;  // null: reading from the datafile only, no editing
  PageCodec codec;
  HttpListener* listener = nullptr;
  std::string language = "en";  // "en" or "ru", the server's language
  size_t maxMessageBytes = 64 * 1024;
  std::function<void(const std::string&)> log;  // one log line
  PackageTexts texts{codec};                    // the packages' texts, shared by the pages
  std::unique_ptr<PageFanout> fanout;           // set with the listener, before any page opens
  PageRoster roster;                            // who has a page open
  std::atomic<bool> stopping{false};            // the listener is going: pages tell nobody
};

class PageSession : public std::enable_shared_from_this<PageSession> {
 public:
  PageSession(PageContext& context, boost::beast::tcp_stream stream, PeerInfo peer);
  ~PageSession();

  // Completes the WebSocket handshake of `upgrade` and starts serving the page.
  void Start(HttpRequest upgrade);

  // Event thread: one package the group's members receive. False when the page is cut off.
  bool Offer(const state::SharedBytes& payload);
  // A listener thread: a package Offer let through, handed to the page's own strand.
  void Deliver(state::SharedBytes payload);
  // Any thread: text is sent on the page's own strand.
  void PostText(std::shared_ptr<const std::string> text);

 private:
  class Sink;

  void OnAccepted();
  void Read();
  void OnMessage(const std::string& text);
  void Handle(const Json& message);
  void ReadWeek(double from);
  void SendWeek(double from, const std::vector<wire::DayRecord>& days);
  void ApplyEdit(int64_t id, const wire::RequestPackage& request);
  void Send(const Json& message);
  void SendText(std::shared_ptr<const std::string> text);
  // The message telling pages that this page's member now has a page open, or none.
  std::shared_ptr<const std::string> WebText(bool web) const;
  void Write();
  void Close(const std::string& why);
  void OnEventThread(std::function<void()> fn);

  PageContext& context_;
  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
  PeerInfo peer_;
  service::MemberRef member_;
  boost::beast::flat_buffer buffer_;
  std::deque<std::shared_ptr<const std::string>> outgoing_;  // strand
  bool writing_ = false;                                     // strand
  bool closed_ = false;                                      // strand
  std::atomic<size_t> queuedBytes_{0};  // sink packages and messages not yet written
  std::atomic<bool> cutOff_{false};
  std::shared_ptr<Sink> sink_;
  bool inRoster_ = false;
};

}  // namespace qv::feed

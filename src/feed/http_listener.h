#pragma once
// The HTTP and WebSocket listener of the feed: one io_context on a small fixed number of threads
// of its own (never the event thread), asynchronous sessions, no thread per connection.
//
// Bounds: a peer that may not connect gets its 403 as soon as it is accepted, before anything
// it sent is read; a connection that sends nothing for `idle` is closed; requests are at most
// 64 KiB; at most `maxPages` WebSocket pages are open at once.
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "feed/peer_decider.h"

namespace qv::feed {

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;

struct ListenerOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 0;  // 0: any free port (tests)
  int threads = 2;
  std::chrono::milliseconds idle = std::chrono::seconds(5);
  int maxPages = 256;
  size_t maxRequestBytes = 64 * 1024;
  std::string proxy;         // the trusted reverse proxy's dotted address, or empty
  bool lowPriority = false;  // the I/O threads at the lowest CPU priority
};

// What the listener serves; called on its I/O threads.
class HttpRoutes {
 public:
  virtual ~HttpRoutes() = default;
  // A plain request of a peer that may read (members and readers); the Origin rule has passed
  // for requests that are no GET or HEAD.
  virtual HttpResponse Serve(const HttpRequest& request, const PeerInfo& peer) = 0;
  // Whether `target` is the path of the WebSocket page connection.
  virtual bool IsPageTarget(const std::string& target) const = 0;
  // A WebSocket upgrade by a member that passed the Origin rule and the page bound. The route
  // owns the stream from now on and calls PageClosed once it is gone.
  virtual void OpenPage(boost::beast::tcp_stream stream, HttpRequest request,
                        const PeerInfo& peer) = 0;
  // A peer was refused (403); for the log and the counters.
  virtual void Refused(const std::string& address, const std::string& why) = 0;
};

class HttpListener {
 public:
  HttpListener(ListenerOptions options, HttpRoutes& routes, PeerDecider& peers);
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  // Binds and starts the threads; false (with why) when the address cannot be bound.
  bool Start(std::string& why);
  // Stops accepting, closes every connection and joins the threads.
  void Stop();
  uint16_t Port() const { return port_; }

  // The page bound: TakePageSlot is false when maxPages pages are open.
  bool TakePageSlot();
  void PageClosed();
  int OpenPages() const { return pages_.load(); }
  boost::asio::io_context& Context() { return io_; }
  const ListenerOptions& Options() const { return options_; }

 private:
  struct Acceptor;
  friend class HttpSession;
  void Accept();
  void Admit(boost::asio::ip::tcp::socket socket);

  ListenerOptions options_;
  HttpRoutes& routes_;
  PeerDecider& peers_;
  // Before io_: pages still held by its handlers leave their slot when it is destroyed.
  std::atomic<int> pages_{0};
  boost::asio::io_context io_;
  std::unique_ptr<Acceptor> acceptor_;
  std::vector<std::thread> threads_;
  uint16_t port_ = 0;
};

// A plain text response: status, body, text/plain in UTF-8, nosniff.
HttpResponse TextResponse(const HttpRequest& request, boost::beast::http::status status,
                          std::string body,
                          const std::string& contentType = "text/plain; charset=utf-8");

}  // namespace qv::feed

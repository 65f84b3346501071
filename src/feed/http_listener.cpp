#include "feed/http_listener.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <optional>

#include "feed/origin_rule.h"
#include "feed/peer_filter.h"
#include "platform/thread.h"

namespace qv::feed {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr size_t kHeaderLimit = 8 * 1024;
// After a refusal the peer's bytes are drained (unread) for at most this long, so that the
// close does not reset the connection before the 403 has reached it.
constexpr auto kRefusalLinger = std::chrono::seconds(1);

const std::string kRefusal =
    "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "X-Content-Type-Options: nosniff\r\nContent-Length: 10\r\nConnection: close\r\n\r\n"
    "Forbidden\n";

// Writes the fixed 403 without reading the request, then lets the connection go.
void RefuseAtAccept(std::shared_ptr<beast::tcp_stream> stream) {
  stream->expires_after(kRefusalLinger);
  asio::async_write(*stream, asio::buffer(kRefusal), [stream](const beast::error_code& ec, size_t) {
    if (ec) return;
    beast::error_code ignored;
    stream->socket().shutdown(tcp::socket::shutdown_send, ignored);
    auto scratch = std::make_shared<std::array<char, 4096>>();
    // Drained until the peer closes or the linger ends; each chunk dropped.
    // The pending read holds the drain; the drain holds itself only weakly, so an end of the
    // reads, or the read dropped at shutdown, frees it.
    auto drain = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> self = drain;
    *drain = [stream, scratch, self] {
      stream->async_read_some(asio::buffer(*scratch), [stream, scratch, next = self.lock()](
                                                          const beast::error_code& e, size_t) {
        if (!e && next) (*next)();
      });
    };
    (*drain)();
  });
}

std::string LastForwardedAddress(const HttpRequest& request) {
  const auto it = request.find("X-Forwarded-For");
  if (it == request.end()) return {};
  std::string value(it->value());
  const size_t comma = value.rfind(',');
  if (comma != std::string::npos) value.erase(0, comma + 1);
  value.erase(0, value.find_first_not_of(" \t"));
  value.erase(value.find_last_not_of(" \t") + 1);
  return PlainIpv4(value);
}

}  // namespace

HttpResponse TextResponse(const HttpRequest& request, http::status status, std::string body,
                          const std::string& contentType) {
  HttpResponse res{status, request.version()};
  res.set(http::field::content_type, contentType);
  res.set("X-Content-Type-Options", "nosniff");
  res.keep_alive(request.keep_alive());
  res.body() = std::move(body);
  res.prepare_payload();
  return res;
}

// One HTTP connection: requests one after another, each within the idle limit.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(HttpListener& listener, beast::tcp_stream stream, PeerInfo peer)
      : listener_(listener), stream_(std::move(stream)), peer_(std::move(peer)) {}

  void Read() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(listener_.options_.maxRequestBytes);
    stream_.expires_after(listener_.options_.idle);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](const beast::error_code& ec, size_t) { self->OnRead(ec); });
  }

 private:
  void OnRead(const beast::error_code& ec) {
    if (ec == http::error::body_limit || ec == http::error::header_limit) {
      HttpRequest bare;
      bare.version(11);
      bare.keep_alive(false);
      Send(TextResponse(bare, http::status::payload_too_large, "Request too large\n"));
      return;
    }
    if (ec) return Close();
    HttpRequest request = parser_->release();
    PeerInfo peer = peer_;
    std::string scheme = "http";
    if (!listener_.options_.proxy.empty() && peer_.address == listener_.options_.proxy) {
      // The proxy speaks for the browser behind it; without a forwarded address, for itself.
      const std::string forwarded = LastForwardedAddress(request);
      peer = listener_.peers_.DecideByAddress(forwarded.empty() ? peer_.address : forwarded);
      const auto proto = request.find("X-Forwarded-Proto");
      if (proto != request.end() && proto->value() == "https") scheme = "https";
    }
    if (!peer.mayRead) return Forbid(request, peer.address, "not allowed");
    const std::string origin(request[http::field::origin]);
    const std::string host(request[http::field::host]);
    const bool sameOrigin = OriginMatchesHost(origin, host, scheme);
    if (beast::websocket::is_upgrade(request)) {
      const std::string target(request.target());
      if (!listener_.routes_.IsPageTarget(target)) {
        return Send(TextResponse(request, http::status::not_found, "Not found\n"));
      }
      if (peer.member == nullptr) return Forbid(request, peer.address, "no member");
      if (!sameOrigin) return Forbid(request, peer.address, "foreign origin " + origin);
      if (!listener_.TakePageSlot()) {
        return Send(
            TextResponse(request, http::status::service_unavailable, "Too many pages open\n"));
      }
      stream_.expires_never();
      listener_.routes_.OpenPage(std::move(stream_), std::move(request), peer);
      return;
    }
    const bool reading =
        request.method() == http::verb::get || request.method() == http::verb::head;
    if (!reading && !sameOrigin) return Forbid(request, peer.address, "foreign origin " + origin);
    Send(listener_.routes_.Serve(request, peer));
  }

  void Forbid(const HttpRequest& request, const std::string& address, const std::string& why) {
    listener_.routes_.Refused(address, why);
    HttpResponse res = TextResponse(request, http::status::forbidden, "Forbidden\n");
    res.keep_alive(false);
    Send(std::move(res));
  }

  void Send(HttpResponse response) {
    auto shared = std::make_shared<HttpResponse>(std::move(response));
    stream_.expires_after(listener_.options_.idle);
    http::async_write(stream_, *shared,
                      [self = shared_from_this(), shared](const beast::error_code& ec, size_t) {
                        if (ec || !shared->keep_alive()) return self->Close();
                        self->Read();
                      });
  }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.close();
  }

  HttpListener& listener_;
  beast::tcp_stream stream_;
  PeerInfo peer_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

struct HttpListener::Acceptor {
  explicit Acceptor(asio::io_context& io) : acceptor(asio::make_strand(io)) {}
  tcp::acceptor acceptor;
};

HttpListener::HttpListener(ListenerOptions options, HttpRoutes& routes, PeerDecider& peers)
    : options_(std::move(options)), routes_(routes), peers_(peers) {}

HttpListener::~HttpListener() {
  Stop();
}

bool HttpListener::Start(std::string& why) {
  acceptor_ = std::make_unique<Acceptor>(io_);
  beast::error_code ec;
  const auto address = asio::ip::make_address(options_.address, ec);
  if (ec) {
    why = "bad address " + options_.address;
    return false;
  }
  tcp::acceptor& a = acceptor_->acceptor;
  const tcp::endpoint endpoint(address, options_.port);
  a.open(endpoint.protocol(), ec);
  if (!ec) a.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) a.bind(endpoint, ec);
  if (!ec) a.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    why = ec.message();
    return false;
  }
  port_ = a.local_endpoint().port();
  Accept();
  for (int i = 0; i < std::max(1, options_.threads); ++i) {
    threads_.emplace_back([this] {
      if (options_.lowPriority) platform::LowerCallingThreadPriority();
      io_.run();
    });
  }
  return true;
}

void HttpListener::Accept() {
  acceptor_->acceptor.async_accept(
      asio::make_strand(io_), [this](const beast::error_code& ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_->acceptor.is_open()) return;
        if (!ec) Admit(std::move(socket));
        Accept();
      });
}

void HttpListener::Admit(tcp::socket socket) {
  beast::error_code ec;
  const tcp::endpoint remote = socket.remote_endpoint(ec);
  if (ec) return;
  auto stream = std::make_shared<beast::tcp_stream>(std::move(socket));
  const std::string address = PlainIpv4(remote.address().to_string());
  if (!options_.proxy.empty() && address == options_.proxy) {
    // Each request of the trusted proxy is decided by the address it forwards.
    PeerInfo proxy;
    proxy.address = address;
    proxy.mayRead = true;
    std::make_shared<HttpSession>(*this, std::move(*stream), std::move(proxy))->Read();
    return;
  }
  peers_.Decide(address, stream->get_executor(), [this, stream, address](PeerInfo info) {
    if (!info.mayRead) {
      routes_.Refused(address, "not allowed");
      RefuseAtAccept(stream);
      return;
    }
    std::make_shared<HttpSession>(*this, std::move(*stream), std::move(info))->Read();
  });
}

void HttpListener::Stop() {
  if (acceptor_) {
    asio::post(acceptor_->acceptor.get_executor(), [this] {
      beast::error_code ignored;
      acceptor_->acceptor.close(ignored);
    });
  }
  io_.stop();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

bool HttpListener::TakePageSlot() {
  if (pages_.fetch_add(1) < options_.maxPages) return true;
  pages_.fetch_sub(1);
  return false;
}

void HttpListener::PageClosed() {
  pages_.fetch_sub(1);
}

}  // namespace qv::feed

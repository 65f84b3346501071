#pragma once
// The life of a server process once it holds the single-instance name: start-up, the listener,
// the housekeeping timer, and at the end the closing of the windows and the shutdown.
#include <memory>
#include <string>

#include "state/server.h"

namespace qv::net {
class TFormSocksServer;
}
namespace qv::service {
class MemberApi;
class MemberService;
}  // namespace qv::service

namespace qv::core {

class ServerProcess {
 public:
  ServerProcess(std::string exeDir, platform::EventLoop& loop, state::FrontEnd& front);
  ~ServerProcess();

  // Entry steps after the instance check: start-up, listener, log flush, housekeeping timer.
  void Start();
  // The main window closes: sockets close, the window reference is cleared.
  void Close();
  // After the event loop has returned.
  void Shutdown();

  state::Server& server() { return server_; }
  net::TFormSocksServer* socketWindow() { return socketWindow_.get(); }
  // The member API for front ends beside the native one; none before Start.
  service::MemberApi* members();

 private:
  state::Server server_;
  std::shared_ptr<service::MemberService> members_;
  // Destroyed before the server it refers to.
  std::unique_ptr<net::TFormSocksServer> socketWindow_;
  platform::EventLoop::TimerId housekeepingTimer_ = 0;
  bool closed_ = false;
};

}  // namespace qv::core

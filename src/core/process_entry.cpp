#include "core/process_entry.h"

#include "core/housekeeping.h"
#include "core/shutdown.h"
#include "core/startup.h"
#include "net/socket_window.h"
#include "platform/close_quietly.h"
#include "service/request_service.h"

namespace qv::core {

ServerProcess::ServerProcess(std::string exeDir, platform::EventLoop& loop, state::FrontEnd& front)
    : server_(std::move(exeDir), loop, front) {}

ServerProcess::~ServerProcess() = default;

service::MemberApi* ServerProcess::members() {
  return members_.get();
}

void ServerProcess::Start() {
  socketWindow_ = std::make_unique<net::TFormSocksServer>(server_);
  RunStartup(server_);
  members_ = service::InstallRequestHandlers(server_);
  // Not caught: a port that cannot be opened ends the program.
  socketWindow_->OpenListener(server_.setup.settings.Port);
  server_.runtime.log.Flush(server_.runtime.front.View());
  housekeepingTimer_ = server_.runtime.loop.AddTimer(kHousekeepingIntervalMs, true,
                                                     [this] { HousekeepingTick(server_); });
}

void ServerProcess::Close() {
  if (closed_) return;
  closed_ = true;
  if (socketWindow_) platform::CloseQuietly(*socketWindow_);
  if (housekeepingTimer_ != 0) server_.runtime.loop.SetTimerEnabled(housekeepingTimer_, false);
  // Whatever is still pending reaches the view before the window reference goes.
  server_.runtime.log.Flush(server_.runtime.front.View());
  server_.runtime.log.SetWindowOpen(false);
}

void ServerProcess::Shutdown() {
  Close();
  RunShutdown(server_);
}

}  // namespace qv::core

#pragma once
// Packages on their way from the event thread to the open pages. The event thread only appends
// to a list under a lock and posts one job per burst, not one per page: a change reaches 200
// pages for the price of one wake-up of the listener. A listener thread then hands each page its
// packages, in the order they were added.
#include <boost/asio/io_context.hpp>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "state/send_buffers.h"

namespace qv::feed {

class PageSession;

class PageFanout {
 public:
  explicit PageFanout(boost::asio::io_context& io) : io_(io) {}

  // Event thread.
  void Add(std::shared_ptr<PageSession> page, state::SharedBytes payload);

 private:
  void Drain();

  boost::asio::io_context& io_;
  std::mutex mutex_;
  std::vector<std::pair<std::shared_ptr<PageSession>, state::SharedBytes>> pending_;
  // A drain is posted or running. It stays set until the drain finds the list empty, so that
  // a second drain never runs beside the first and hands a page a later package first.
  bool draining_ = false;
};

}  // namespace qv::feed

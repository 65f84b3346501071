#include "feed/page_fanout.h"

#include <boost/asio/post.hpp>

#include "feed/page_session.h"

namespace qv::feed {

void PageFanout::Add(std::shared_ptr<PageSession> page, state::SharedBytes payload) {
  std::lock_guard lock(mutex_);
  pending_.emplace_back(std::move(page), std::move(payload));
  if (draining_) return;
  draining_ = true;
  boost::asio::post(io_, [this] { Drain(); });
}

void PageFanout::Drain() {
  std::vector<std::pair<std::shared_ptr<PageSession>, state::SharedBytes>> batch;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      batch.clear();
      batch.swap(pending_);
      if (batch.empty()) {
        draining_ = false;
        return;
      }
    }
    for (auto& [page, payload] : batch) page->Deliver(std::move(payload));
  }
}

}  // namespace qv::feed

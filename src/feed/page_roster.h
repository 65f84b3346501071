#pragma once
// Which members have a page open, and the open pages of each group. A member whose only way in is
// the web page is not on line for the office clients (their status table counts native sessions,
// and direct messages and polls go only there); the pages show such a member as on the web page.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "service/member_api.h"

namespace qv::feed {

class PageSession;

class PageRoster {
 public:
  // Any thread. True when page is the member's first open page.
  bool Add(const std::shared_ptr<PageSession>& page, service::MemberRef member);
  // Any thread, also from the page's destructor. True when it was the member's last open page.
  bool Remove(const PageSession* page, service::MemberRef member);
  bool OnTheWeb(service::MemberRef member) const;
  // The pages of group that are still alive.
  std::vector<std::shared_ptr<PageSession>> PagesOf(int32_t group) const;

 private:
  struct Entry {
    const PageSession* page;
    std::weak_ptr<PageSession> alive;
    service::MemberRef member;
  };
  int CountOf(service::MemberRef member) const;  // under the lock

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace qv::feed

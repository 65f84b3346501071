#pragma once
// Which members have a page open, and the open pages of each group. A member whose only way in is
// the web page is not on line for the office clients (their status table counts native sessions,
// and direct messages and polls go only there); the pages show such a member as on the web page.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/member_api.h"

namespace qv::feed {

class PageSession;

class PageRoster {
 public:
  // Any thread. When page is its member's first open page, every other page of the group is sent
  // `joined`. The pages are told under the roster's lock, so that what they are told keeps the
  // order of the member's pages opening and closing.
  void Add(const std::shared_ptr<PageSession>& page, service::MemberRef member,
           const std::shared_ptr<const std::string>& joined);
  // Any thread, also from the page's destructor. When it was its member's last open page, the
  // group's pages are sent `left` (unless null).
  void Remove(const PageSession* page, service::MemberRef member,
              const std::shared_ptr<const std::string>& left);
  bool OnTheWeb(service::MemberRef member) const;

 private:
  struct Entry {
    const PageSession* page;
    std::weak_ptr<PageSession> alive;
    service::MemberRef member;
  };
  int CountOf(service::MemberRef member) const;  // under the lock
  // Posts text to the live pages of group other than except; under the lock. The pages are
  // handed out in keep, to be let go only after the lock.
  void Tell(int32_t group, const PageSession* except,
            const std::shared_ptr<const std::string>& text,
            std::vector<std::shared_ptr<PageSession>>& keep) const;

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace qv::feed

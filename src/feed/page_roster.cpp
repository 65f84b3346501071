#include "feed/page_roster.h"

#include <algorithm>

#include "feed/page_session.h"

namespace qv::feed {

int PageRoster::CountOf(service::MemberRef member) const {
  return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
    return e.member.group == member.group && e.member.user == member.user;
  }));
}

void PageRoster::Tell(int32_t group, const PageSession* except,
                      const std::shared_ptr<const std::string>& text,
                      std::vector<std::shared_ptr<PageSession>>& keep) const {
  for (const Entry& e : entries_) {
    if (e.member.group != group || e.page == except) continue;
    if (auto page = e.alive.lock()) {
      page->PostText(text);
      keep.push_back(std::move(page));
    }
  }
}

void PageRoster::Add(const std::shared_ptr<PageSession>& page, service::MemberRef member,
                     const std::shared_ptr<const std::string>& joined) {
  std::vector<std::shared_ptr<PageSession>> keep;  // let go after the lock
  std::lock_guard lock(mutex_);
  entries_.push_back(Entry{page.get(), page, member});
  if (CountOf(member) == 1) Tell(member.group, page.get(), joined, keep);
}

void PageRoster::Remove(const PageSession* page, service::MemberRef member,
                        const std::shared_ptr<const std::string>& left) {
  std::vector<std::shared_ptr<PageSession>> keep;  // let go after the lock
  std::lock_guard lock(mutex_);
  const auto removed = std::erase_if(entries_, [page](const Entry& e) { return e.page == page; });
  if (removed > 0 && left && CountOf(member) == 0) Tell(member.group, page, left, keep);
}

bool PageRoster::OnTheWeb(service::MemberRef member) const {
  std::lock_guard lock(mutex_);
  return CountOf(member) > 0;
}

}  // namespace qv::feed

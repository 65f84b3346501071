#include "feed/page_roster.h"

#include <algorithm>

namespace qv::feed {

int PageRoster::CountOf(service::MemberRef member) const {
  return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
    return e.member.group == member.group && e.member.user == member.user;
  }));
}

bool PageRoster::Add(const std::shared_ptr<PageSession>& page, service::MemberRef member) {
  std::lock_guard lock(mutex_);
  entries_.push_back(Entry{page.get(), page, member});
  return CountOf(member) == 1;
}

bool PageRoster::Remove(const PageSession* page, service::MemberRef member) {
  std::lock_guard lock(mutex_);
  const auto removed = std::erase_if(entries_, [page](const Entry& e) { return e.page == page; });
  return removed > 0 && CountOf(member) == 0;
}

bool PageRoster::OnTheWeb(service::MemberRef member) const {
  std::lock_guard lock(mutex_);
  return CountOf(member) > 0;
}

std::vector<std::shared_ptr<PageSession>> PageRoster::PagesOf(int32_t group) const {
  std::vector<std::shared_ptr<PageSession>> pages;
  std::lock_guard lock(mutex_);
  for (const Entry& e : entries_) {
    if (e.member.group != group) continue;
    if (auto page = e.alive.lock()) pages.push_back(std::move(page));
  }
  return pages;
}

}  // namespace qv::feed

#include "feed/peer_decider.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <mutex>

#include "net/peer_member.h"

namespace qv::feed {

PeerDecider::PeerDecider(state::Server& server, PeerFilter& filter, Resolver resolver,
                         std::chrono::milliseconds lookupLimit)
    : server_(server),
      filter_(filter),
      lookupNeeded_(net::AnyHostIsAName(server)),
      lookupLimit_(lookupLimit),
      cache_(std::move(resolver)) {}

PeerDecider::~PeerDecider() {
  // A lookup still under way finishes against the cache; nothing waits for its answer.
  lookups_.join();
}

PeerInfo PeerDecider::Finish(const std::string& address, const std::string& name) const {
  PeerInfo info;
  info.address = address;
  info.member = net::MemberByPeer(server_, address, name);
  info.mayRead = info.member != nullptr || filter_.MayRead(address);
  return info;
}

PeerInfo PeerDecider::DecideByAddress(const std::string& address) const {
  return Finish(address, {});
}

void PeerDecider::Decide(const std::string& address, const boost::asio::any_io_executor& executor,
                         std::function<void(PeerInfo)> done) {
  PeerInfo direct = Finish(address, {});
  if (direct.member != nullptr || !lookupNeeded_) {
    boost::asio::post(executor, [done = std::move(done), direct] { done(direct); });
    return;
  }
  // Whichever comes first, the name or the time limit, answers; the other finds it done.
  struct Pending {
    std::mutex mutex;
    std::function<void(PeerInfo)> done;
    std::unique_ptr<boost::asio::steady_timer> timer;
  };
  auto pending = std::make_shared<Pending>();
  pending->done = std::move(done);
  pending->timer = std::make_unique<boost::asio::steady_timer>(executor, lookupLimit_);
  auto answer = [pending](PeerInfo info) {
    std::function<void(PeerInfo)> fn;
    {
      std::lock_guard lock(pending->mutex);
      fn = std::move(pending->done);
      pending->done = nullptr;
    }
    if (fn) fn(std::move(info));
  };
  pending->timer->async_wait(
      [answer, direct](const boost::system::error_code&) { answer(direct); });
  boost::asio::post(lookups_, [this, address, executor, answer, pending] {
    // Nothing while another lookup of the address is under way: decided by the address alone.
    const std::string name = cache_.Lookup(address, lookupLimit_).value_or(std::string());
    PeerInfo info = Finish(address, name);
    boost::asio::post(executor, [answer, info, pending] {
      pending->timer->cancel();
      answer(info);
    });
  });
}

}  // namespace qv::feed

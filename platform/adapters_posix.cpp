// POSIX backend of the adapter list and the wait over several sockets.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>

#include <ctime>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include "platform/adapters.h"

namespace {

std::uint32_t ipv4Of(const sockaddr* sa) {
  sockaddr_in sin{};
  std::copy_n(reinterpret_cast<const unsigned char*>(sa), sizeof sin,
              reinterpret_cast<unsigned char*>(&sin));
  return ntohl(sin.sin_addr.s_addr);
}

}  // namespace

std::vector<NetAdapter> netListAdapters() {
  std::vector<NetAdapter> adapters;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return adapters;
  }
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_netmask == nullptr || a->ifa_addr->sa_family != AF_INET ||
        (a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    const NetAdapter adapter{ipv4Of(a->ifa_addr), ipv4Of(a->ifa_netmask)};
    const bool listed = std::any_of(adapters.begin(), adapters.end(), [&](const NetAdapter& x) {
      return x.address == adapter.address;
    });
    if (adapter.address != 0 && !listed) {
      adapters.push_back(adapter);
    }
  }
  freeifaddrs(list);
  return adapters;
}

NetResult netWaitAny(std::span<const NetSocket> sockets, Duration timeout,
                     std::vector<std::size_t>* ready) {
  ready->clear();
  // The loader's wait (its socket and the stop request) polls from the stack:
  // nothing is allocated per datagram. Only long lists of sockets allocate.
  constexpr std::size_t ON_STACK = 8;
  std::array<pollfd, ON_STACK> few{};
  std::vector<pollfd> many;
  if (sockets.size() > ON_STACK) {
    many.resize(sockets.size());
  }
  const std::span<pollfd> fds =
      many.empty() ? std::span<pollfd>(few).first(sockets.size()) : std::span<pollfd>(many);
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    fds[i].fd = static_cast<int>(sockets[i]);
    fds[i].events = POLLIN;
  }
  // ppoll takes the time in nanoseconds: the wait ends at the time asked
  // (plus the system's timer slack), not at the next whole millisecond.
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(timeout, Duration::zero()))
          .count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  const int n = ppoll(fds.data(), fds.size(), &ts, nullptr);
  if (n < 0) {
    return errno == EINTR ? NetResult::timedOut : NetResult::failed;
  }
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if ((fds[i].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0) {
      ready->push_back(i);
    }
  }
  return ready->empty() ? NetResult::timedOut : NetResult::ok;
}

// Windows backend of the adapter list and the wait over several sockets.
//
// GetAdaptersAddresses lists the adapters with their unicast addresses; the
// subnet mask comes from each address's on-link prefix length. The wait is a
// select over at most FD_SETSIZE (64) sockets; further ones are not waited
// on. select takes its time-out in microseconds, the finest any Winsock wait
// offers (WSAPoll and the event waits take milliseconds); the system ends it
// at a tick of its timer, which may come before the time asked. Callers
// with a deadline wait again for what is left, so the last fraction of a
// tick is a few short selects rather than a whole millisecond too many.
#include <winsock2.h>
#include <ws2tcpip.h>
// iphlpapi.h needs the Winsock declarations above.
#include <iphlpapi.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/adapters.h"

namespace {

// The list's first try; it tells how much it needs when that is too little.
constexpr ULONG FIRST_LIST_BYTES = 16 * 1024;
constexpr int LIST_TRIES = 3;

std::uint32_t maskOfPrefix(unsigned length) {
  return length == 0 ? 0 : length >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - length)) - 1u);
}

}  // namespace

std::vector<NetAdapter> netListAdapters() {
  std::vector<NetAdapter> adapters;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = FIRST_LIST_BYTES;
  std::vector<unsigned char> area;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int i = 0; i < LIST_TRIES && result == ERROR_BUFFER_OVERFLOW; ++i) {
    area.assign(size, 0);
    result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(area.data()), &size);
  }
  if (result != NO_ERROR) {
    return adapters;
  }
  for (const IP_ADAPTER_ADDRESSES* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(area.data());
       a != nullptr; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
      continue;
    }
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (sa == nullptr || sa->sa_family != AF_INET) {
        continue;
      }
      const auto* sin = reinterpret_cast<const sockaddr_in*>(sa);
      const NetAdapter adapter{ntohl(sin->sin_addr.s_addr), maskOfPrefix(u->OnLinkPrefixLength)};
      const bool listed = std::any_of(adapters.begin(), adapters.end(), [&](const NetAdapter& x) {
        return x.address == adapter.address;
      });
      // 127.x addresses on an adapter that doesn't call itself loopback
      // still are loopback.
      if (adapter.address != 0 && (adapter.address >> 24) != 127 && !listed) {
        adapters.push_back(adapter);
      }
    }
  }
  return adapters;
}

NetResult netWaitAny(std::span<const NetSocket> sockets, Duration timeout,
                     std::vector<std::size_t>* ready) {
  ready->clear();
  fd_set readable;
  FD_ZERO(&readable);
  const std::size_t count = std::min<std::size_t>(sockets.size(), FD_SETSIZE);
  for (std::size_t i = 0; i < count; ++i) {
    FD_SET(static_cast<SOCKET>(sockets[i]), &readable);
  }
  // Whole microseconds, rounded up so that a wait of less than one still
  // waits.
  const long long us =
      std::chrono::ceil<std::chrono::microseconds>(std::max(timeout, Duration::zero())).count();
  if (count == 0) {
    // select refuses an empty set: the wait is a plain pause then.
    std::this_thread::sleep_for(std::chrono::microseconds(us));
    return NetResult::timedOut;
  }
  timeval tv{};
  tv.tv_sec = static_cast<long>(us / 1'000'000);
  tv.tv_usec = static_cast<long>(us % 1'000'000);
  const int n = select(0, &readable, nullptr, nullptr, &tv);
  if (n == SOCKET_ERROR) {
    return NetResult::failed;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (FD_ISSET(static_cast<SOCKET>(sockets[i]), &readable) != 0) {
      ready->push_back(i);
    }
  }
  return ready->empty() ? NetResult::timedOut : NetResult::ok;
}

// The host's IPv4 adapters, and one wait over several sockets.
//
// Discovery probes from every adapter of the PC and hears the answers on all
// its sockets at once; these two procedures give it what the system knows.
// One backend file per platform implements them (adapters_posix.cpp with
// getifaddrs and poll, adapters_windows.cpp with GetAdaptersAddresses and
// select). Addresses are in host byte order, as in net.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/clock.h"
#include "platform/net.h"

struct NetAdapter {
  std::uint32_t address = 0;  // the adapter's IPv4 address
  std::uint32_t netmask = 0;  // its subnet mask, e.g. 0xFFFFFF00 for a /24
  friend bool operator==(const NetAdapter&, const NetAdapter&) = default;
};

// Every IPv4 address of every adapter that is up and is not loopback, each
// once, in the order the system lists them. Empty when there is none, or
// when the system can't say.
std::vector<NetAdapter> netListAdapters();

// Waits at most timeout (zero or less: not at all) until a datagram waits on
// one of sockets, or a receive on it would fail at once. ok with the indexes
// of those sockets in ready; timedOut when the time ran out first (or a
// signal cut the wait short); failed when the system can't wait on them.
// The timeout is kept to the system's finest unit (POSIX: nanoseconds;
// Windows: microseconds, see adapters_windows.cpp), never rounded up to a
// whole millisecond; a wait may end a little early where the system's timer
// is coarser, so callers that need a deadline wait again until it.
NetResult netWaitAny(std::span<const NetSocket> sockets, Duration timeout,
                     std::vector<std::size_t>* ready);

// How much of the socket's send queue each drive's sends may hold.
//
// A datagram to an address whose link-layer address is not resolved (a
// drive switched off, an address nobody holds) waits in the system, charged
// to the socket's send queue, until resolution gives up seconds later. The
// connection tries to a few such addresses fill a queue of the usual size,
// and then every send fails, the present drives' blocks included. So the
// sends to an address that has not been heard from may hold at most its
// share of the queue: half the queue split evenly among the run's drives,
// at least one datagram, counted over the last RESOLUTION_WINDOW. A send
// beyond its share is deferred, a try without an answer; the drive's other
// tries go on at their pace. An address that has answered is resolved: its
// datagrams leave at once, and its sends are never held back.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <set>

#include "link/transport.h"
#include "protocol/address.h"

class SendBudget {
 public:
  // Longest a datagram waits for address resolution before the system drops
  // it (three requests a second apart, with a margin).
  static constexpr std::chrono::seconds RESOLUTION_WINDOW{4};
  // What the system keeps with each datagram, on top of its bytes.
  static constexpr std::size_t OVERHEAD = 1024;

  // queueBytes: what the socket's send queue holds (0: unknown, no limit).
  SendBudget(std::size_t queueBytes, std::size_t drives);

  // A datagram came from address from: it is resolved.
  void heard(DriveAddress from) { heard_.insert(from); }

  // True when a datagram of size bytes may go to `to` at now; it is then
  // charged to the address.
  bool mayGo(DriveAddress to, std::size_t size, TimePoint now);

 private:
  struct Charge {
    TimePoint at;
    std::size_t bytes = 0;
  };
  struct Account {
    std::deque<Charge> charges;
    std::size_t bytes = 0;
  };

  std::size_t share_ = 0;  // 0: no limit
  std::set<DriveAddress> heard_;
  std::map<DriveAddress, Account> accounts_;
};

// What a drive session and the runner need of the network: send a datagram
// to a drive, wait for the next datagram until a deadline, and the time. The
// link (link/link.h) is the real one; tests put a fake clock and network
// behind the same interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/clock.h"
#include "protocol/address.h"

enum class SendResult : std::uint8_t {
  sent,
  failed,       // this send failed; the next may go out (counts as a try)
  deferred,     // not sent now, to keep the socket's queue for others (counts
                // as a try; nothing to report)
  unreachable,  // no network of this PC leads to the address: no send will
};

struct Received {
  DriveAddress from;     // the sender's address
  std::size_t size = 0;  // bytes placed in the area
};

class Transport {
 public:
  virtual ~Transport() = default;
  Transport() = default;
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Sends one datagram to the drive at `to`, port LOADER_PORT.
  virtual SendResult send(DriveAddress to, std::span<const std::uint8_t> datagram) = 0;

  // Waits for the next datagram until deadline; a datagram longer than the
  // area is cut to it. Empty once the deadline has passed (possibly at once).
  virtual std::optional<Received> receive(std::span<std::uint8_t> area, TimePoint deadline) = 0;

  virtual TimePoint now() const = 0;

  // True once the user asked to stop the run; receive then returns at
  // once, and nothing more may be sent.
  virtual bool stopRequested() const { return false; }

  // True when datagrams sent to `to` come back to this PC, as `to` is one
  // of its own addresses: no drive can be there. (0.0.0.0 is no drive's
  // either: DriveAddress::isUnspecified.)
  virtual bool isOwnAddress(DriveAddress to) const = 0;
};

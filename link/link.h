// The loader link: the one UDP socket of a run on LOADER_PORT, through which
// every drive session sends its commands and takes in its answers.
//
// The socket is bound to the address the host's routing uses to reach the
// drives (else the first address of the host's name), for this process
// alone: a second loader on the same PC can't bind the port as well, and so
// can never take this one's answers. Drives that the routing reaches from
// different addresses (behind different adapters) make it bind every address
// of the host, so that each command leaves by the adapter that leads to its
// drive, with that adapter's address for the answer.
//
// No send ever waits: the socket is non-blocking, its send queue is sized
// for the run's drives, and the sends to drives not yet heard from keep to
// their share of it (link/send_budget.h). A send the queue has no room for
// is deferred, a try without an answer, so a drive that can't be reached
// fails alone and the others keep their pace.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "link/send_budget.h"
#include "link/transport.h"
#include "platform/interrupt.h"
#include "platform/net.h"
#include "protocol/address.h"

enum class LinkError : std::uint8_t {
  none,
  socketFailed,       // the socket library or the socket could not be had
  optionFailed,       // the socket could not be made exclusive, or non-blocking
  hostAddressFailed,  // the host has no address to bind
  bindFailed,         // another program holds the port on that address
};

class Link;

// A link ready for use, or why none could be had.
struct LinkOpening {
  std::unique_ptr<Link> link;  // null unless error is none
  LinkError error = LinkError::none;
};

class Link final : public Transport {
 public:
  // Opens and binds the socket for the drives of the run.
  static LinkOpening open(std::span<const DriveAddress> drives);

  // Every wait of the link also watches the user's request to stop, and
  // ends the moment it comes; the watch outlives the link.
  void watch(const InterruptWatch& interrupts) { interrupts_ = &interrupts; }

  SendResult send(DriveAddress to, std::span<const std::uint8_t> datagram) override;
  std::optional<Received> receive(std::span<std::uint8_t> area, TimePoint deadline) override;
  TimePoint now() const override;
  bool isOwnAddress(DriveAddress to) const override;
  bool stopRequested() const override;

 private:
  explicit Link(NetLibrary library) : library_(std::move(library)) {}
  LinkError bindFor(std::span<const DriveAddress> drives);
  NetResult waitReadable(Duration timeout);

  NetLibrary library_;  // declared first: the socket closes before it is released
  UdpSocket socket_;
  DriveAddress local_;  // the bound address; 0.0.0.0: every address of the host
  const InterruptWatch* interrupts_ = nullptr;
  std::vector<std::size_t> ready_;  // the sockets a wait found readable
  std::optional<SendBudget> budget_;
};

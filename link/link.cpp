#include "link/link.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <vector>

#include "platform/adapters.h"

#include "platform/pause.h"
#include "protocol/loader.h"

namespace {

// Longest a receive may block once the socket said a datagram waits (the
// system may drop it in between): a bound, not a pause.
constexpr int RECEIVE_GUARD_MS = 50;
// After a wait or a receive that failed, before the next: a socket that
// fails at once must not spin the processor.
constexpr int FAILED_RECEIVE_PAUSE_MS = 1;
// The send queue asked for: room for what waits for address resolution to
// each drive (the system keeps a few hundred kB per unresolved address),
// and one share more for the drives that answer.
constexpr std::size_t SEND_QUEUE_PER_DRIVE = 256 * 1024;

// A wait is cut in slices of a minute at most.
constexpr Duration LONGEST_WAIT = std::chrono::minutes(1);
// Without a wake handle, the request to stop is seen between slices.
constexpr Duration UNWATCHED_SLICE = std::chrono::milliseconds(100);

// The address the host's routing sends to `to` from; nothing without a
// route. The platform takes and gives addresses in its own form.
std::optional<DriveAddress> sourceAddressFor(DriveAddress to) {
  std::uint32_t from = 0;
  if (!netSourceAddressFor(to.toNet(), &from)) {
    return std::nullopt;
  }
  return DriveAddress::fromNet(from);
}

}  // namespace

LinkOpening Link::open(std::span<const DriveAddress> drives) {
  std::optional<NetLibrary> library = NetLibrary::start();
  if (!library) {
    return {nullptr, LinkError::socketFailed};
  }
  std::unique_ptr<Link> link(new Link(std::move(*library)));
  const LinkError error = link->bindFor(drives);
  if (error != LinkError::none) {
    return {nullptr, error};
  }
  return {std::move(link), LinkError::none};
}

LinkError Link::bindFor(std::span<const DriveAddress> drives) {
  // The address the routing uses for each drive that has a route; a drive
  // without one fails in its own session.
  std::optional<DriveAddress> source;
  bool differ = false;
  for (const DriveAddress drive : drives) {
    if (const std::optional<DriveAddress> from = sourceAddressFor(drive)) {
      differ = differ || (source && *source != *from);
      source = from;
    }
  }
  if (differ) {
    local_ = DriveAddress();
  } else if (source) {
    local_ = *source;
  } else {
    std::uint32_t hostAddress = 0;
    if (!netHostNameAddress(&hostAddress)) {
      return LinkError::hostAddressFailed;
    }
    local_ = DriveAddress::fromNet(hostAddress);
  }
  socket_ = UdpSocket::open();
  if (!socket_.isOpen()) {
    return LinkError::socketFailed;
  }
  if (!socket_.setExclusiveAddress()) {
    return LinkError::optionFailed;
  }
  if (!socket_.bind(local_.toNet(), LOADER_PORT)) {
    return LinkError::bindFailed;
  }
  if (!socket_.setNonBlocking()) {
    return LinkError::optionFailed;
  }
  socket_.setReceiveTimeout(RECEIVE_GUARD_MS);
  const std::size_t queue = socket_.setSendBuffer((drives.size() + 1) * SEND_QUEUE_PER_DRIVE);
  budget_.emplace(queue, drives.size());
  return LinkError::none;
}

SendResult Link::send(DriveAddress to, std::span<const std::uint8_t> datagram) {
  if (budget_ && !budget_->mayGo(to, datagram.size(), now())) {
    return SendResult::deferred;
  }
  // The do-not-route flag keeps commands to directly attached networks, as
  // the drive's boot monitor is always on the PC's own LAN.
  switch (socket_.send(datagram, to.toNet(), LOADER_PORT, true)) {
    case NetSend::sent:
      return SendResult::sent;
    case NetSend::unreachable:
      return SendResult::unreachable;
    case NetSend::wouldBlock:
      return SendResult::deferred;
    case NetSend::failed:
      break;
  }
  return SendResult::failed;
}

std::optional<Received> Link::receive(std::span<std::uint8_t> area, TimePoint deadline) {
  for (TimePoint t = now(); t < deadline && !stopRequested(); t = now()) {
    // The time left to the deadline, to the system's finest unit: the wait
    // ends at the deadline, not up to a millisecond after it. One that
    // ends early (a coarse system timer) waits again for the rest.
    const NetResult ready = waitReadable(std::min(deadline - t, LONGEST_WAIT));
    if (ready == NetResult::timedOut) {
      continue;
    }
    Received got;
    std::uint32_t from = 0;
    if (ready == NetResult::ok && socket_.receive(area, &got.size, &from) == NetResult::ok) {
      got.from = DriveAddress::fromNet(from);
      if (budget_) {
        budget_->heard(got.from);
      }
      return got;
    }
    pauseMs(FAILED_RECEIVE_PAUSE_MS);
  }
  return std::nullopt;
}

TimePoint Link::now() const { return Clock::now(); }

bool Link::stopRequested() const { return interrupts_ != nullptr && interrupts_->requested(); }

// Waits for a datagram on the socket, or for the request to stop: timedOut
// when the request came first.
NetResult Link::waitReadable(Duration timeout) {
  const NetSocket wake = interrupts_ != nullptr ? interrupts_->wakeHandle() : NET_INVALID_SOCKET;
  if (wake == NET_INVALID_SOCKET) {
    const Duration slice = interrupts_ != nullptr ? std::min(timeout, UNWATCHED_SLICE) : timeout;
    const NetSocket alone = socket_.handle();
    return netWaitAny(std::span(&alone, 1), slice, &ready_);
  }
  const std::array<NetSocket, 2> both = {socket_.handle(), wake};
  const NetResult waited = netWaitAny(both, timeout, &ready_);
  if (waited != NetResult::ok) {
    return waited;
  }
  return ready_.front() == 0 ? NetResult::ok : NetResult::timedOut;
}

bool Link::isOwnAddress(DriveAddress to) const {
  // The routing leads back to the host itself only for its own addresses;
  // 127.0.0.2 and the like are reached from 127.0.0.1.
  return (!local_.isUnspecified() && to == local_) || sourceAddressFor(to) == to;
}

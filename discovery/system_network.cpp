#include <algorithm>
#include <chrono>

#include "discovery/discovery.h"

namespace {

constexpr int RECEIVE_GUARD_MS = 50;

}  // namespace

std::vector<NetAdapter> SystemNetwork::adapters() { return netListAdapters(); }

NetSocket SystemNetwork::openUdp() {
  UdpSocket s = UdpSocket::open();
  if (!s.isOpen()) {
    return NET_INVALID_SOCKET;
  }
  // The wait says when a datagram is there; this bound only keeps a receive
  // from blocking should the datagram be gone by then (a bad checksum).
  s.setReceiveTimeout(RECEIVE_GUARD_MS);
  sockets_.push_back(std::move(s));
  return sockets_.back().handle();
}

UdpSocket* SystemNetwork::socketOf(NetSocket s) {
  const auto found = std::find_if(sockets_.begin(), sockets_.end(),
                                  [&](const UdpSocket& u) { return u.handle() == s; });
  return found != sockets_.end() ? &*found : nullptr;
}

bool SystemNetwork::setBroadcast(NetSocket s) {
  UdpSocket* u = socketOf(s);
  return u != nullptr && u->setBroadcast();
}

bool SystemNetwork::bind(NetSocket s, DriveAddress addr) {
  UdpSocket* u = socketOf(s);
  return u != nullptr && u->bind(addr.toNet(), 0);
}

bool SystemNetwork::sendTo(NetSocket s, std::span<const std::uint8_t> data, DriveAddress addr,
                           std::uint16_t port) {
  // Routed as any datagram: the socket's bound address already picks the
  // adapter for the limited broadcast, and a probe kept from routing is
  // refused where the host's default route goes via a gateway.
  UdpSocket* u = socketOf(s);
  return u != nullptr && u->send(data, addr.toNet(), port) == NetSend::sent;
}

NetResult SystemNetwork::waitAny(std::span<const NetSocket> sockets, Duration timeout,
                                 std::vector<std::size_t>* ready) {
  const NetSocket wake = interrupts_ != nullptr ? interrupts_->wakeHandle() : NET_INVALID_SOCKET;
  if (wake == NET_INVALID_SOCKET) {
    return netWaitAny(sockets, timeout, ready);
  }
  // The wake handle last: a request makes it readable and ends the wait.
  watched_.assign(sockets.begin(), sockets.end());
  watched_.push_back(wake);
  const NetResult waited = netWaitAny(watched_, timeout, ready);
  std::erase(*ready, sockets.size());
  return waited == NetResult::ok && ready->empty() ? NetResult::timedOut : waited;
}

NetResult SystemNetwork::receiveFrom(NetSocket s, std::span<std::uint8_t> area,
                                     std::size_t* received, DriveAddress* from) {
  UdpSocket* u = socketOf(s);
  if (u == nullptr) {
    *received = 0;
    return NetResult::failed;
  }
  std::uint32_t sender = 0;
  const NetResult result = u->receive(area, received, &sender);
  if (result == NetResult::ok) {
    *from = DriveAddress::fromNet(sender);
  }
  return result;
}

void SystemNetwork::close(NetSocket s) {
  std::erase_if(sockets_, [&](const UdpSocket& u) { return u.handle() == s; });
}

TimePoint SystemNetwork::now() const { return Clock::now(); }

bool SystemNetwork::stopRequested() const {
  return interrupts_ != nullptr && interrupts_->requested();
}

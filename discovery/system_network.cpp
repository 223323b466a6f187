#include <chrono>

#include "discovery/discovery.h"

namespace {

constexpr int RECEIVE_GUARD_MS = 50;

}  // namespace

std::vector<NetAdapter> SystemNetwork::adapters() { return netListAdapters(); }

NetSocket SystemNetwork::openUdp() {
  const NetSocket s = netOpenUdp();
  // The wait says when a datagram is there; this bound only keeps a receive
  // from blocking should the datagram be gone by then (a bad checksum).
  if (s != NET_INVALID_SOCKET) {
    netSetReceiveTimeout(s, RECEIVE_GUARD_MS);
  }
  return s;
}

bool SystemNetwork::setBroadcast(NetSocket s) { return netSetBroadcast(s); }

bool SystemNetwork::bind(NetSocket s, std::uint32_t addr) { return netBind(s, addr, 0); }

bool SystemNetwork::sendTo(NetSocket s, std::span<const std::uint8_t> data, std::uint32_t addr,
                           std::uint16_t port) {
  // Routed as any datagram: the socket's bound address already picks the
  // adapter for the limited broadcast, and a probe kept from routing is
  // refused where the host's default route goes via a gateway.
  return netSendTo(s, data.data(), data.size(), addr, port, false);
}

NetResult SystemNetwork::waitAny(std::span<const NetSocket> sockets, int timeoutMs,
                                 std::vector<std::size_t>* ready) {
  const NetSocket wake = interrupts_ != nullptr ? interrupts_->wakeHandle() : NET_INVALID_SOCKET;
  if (wake == NET_INVALID_SOCKET) {
    return netWaitAny(sockets, std::chrono::milliseconds(timeoutMs), ready);
  }
  // The wake handle last: a request makes it readable and ends the wait.
  watched_.assign(sockets.begin(), sockets.end());
  watched_.push_back(wake);
  const NetResult waited = netWaitAny(watched_, std::chrono::milliseconds(timeoutMs), ready);
  std::erase(*ready, sockets.size());
  return waited == NetResult::ok && ready->empty() ? NetResult::timedOut : waited;
}

NetResult SystemNetwork::receiveFrom(NetSocket s, std::span<std::uint8_t> area,
                                     std::size_t* received, std::uint32_t* from) {
  return netReceiveFrom(s, area.data(), area.size(), received, from, nullptr);
}

void SystemNetwork::close(NetSocket s) { netClose(s); }

std::int64_t SystemNetwork::nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool SystemNetwork::stopRequested() { return interrupts_ != nullptr && interrupts_->requested(); }

// Sockets of the link's and discovery's in-process tests, on loopback in the
// test process's own network namespace: the host at 127.0.0.1, a stand-in
// drive at 127.0.0.2.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "link/link.h"
#include "link/threads.h"
#include "platform/net.h"
#include "platform/pause.h"
#include "testkit/netlab.h"

namespace linktest {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t HOST_IP = 0x7F000001u;
inline constexpr std::uint32_t DRIVE_IP = 0x7F000002u;
inline constexpr std::uint16_t PORT = 8995;

template <class Condition>
bool waitUntil(Condition condition, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    pauseMs(1);
  }
  return true;
}

inline double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// A socket of the test's own, closed when the test ends.
struct TestSocket {
  NetSocket s = NET_INVALID_SOCKET;
  TestSocket() = default;
  TestSocket(const TestSocket&) = delete;
  TestSocket& operator=(const TestSocket&) = delete;
  ~TestSocket() {
    if (s != NET_INVALID_SOCKET) {
      netClose(s);
    }
  }
};

// Binds addr:port (port 0: any); receives time out after 2 s.
inline bool openBound(TestSocket& socket, std::uint32_t addr, std::uint16_t port,
                      bool reuse = true) {
  socket.s = netOpenUdp();
  return socket.s != NET_INVALID_SOCKET && (!reuse || netSetReuseAddress(socket.s)) &&
         netBind(socket.s, addr, port) && netSetReceiveTimeout(socket.s, 2000);
}

}  // namespace linktest

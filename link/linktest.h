// Helpers of the link's tests: a stand-in drive on 127.0.0.2:8995 that talks
// to a running link on 127.0.0.1:8995 over real sockets, in the test
// process's own network namespace.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/threads.h"
#include "platform/net.h"
#include "platform/pause.h"
#include "testkit/netlab.h"

namespace linktest {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t HOST_IP = 0x7F000001u;   // 127.0.0.1
inline constexpr std::uint32_t DRIVE_IP = 0x7F000002u;  // 127.0.0.2
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

// A socket of the test's own; closed when the test ends.
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

// Opens s bound to addr:port (port 0: any), receives time out after 2 s.
inline bool openBound(TestSocket& socket, std::uint32_t addr, std::uint16_t port,
                      bool reuse = true) {
  socket.s = netOpenUdp();
  return socket.s != NET_INVALID_SOCKET && (!reuse || netSetReuseAddress(socket.s)) &&
         netBind(socket.s, addr, port) && netSetReceiveTimeout(socket.s, 2000);
}

// One datagram from the stand-in drive to the host's port 8995.
inline void sendToHost(const TestSocket& drive, const Bytes& data) {
  ASSERT_TRUE(netSendTo(drive.s, data.data(), data.size(), HOST_IP, PORT, false));
}

// A datagram with status 0: acknowledged, nothing else.
inline const Bytes PING = {0x00, 0x10, 0x00, 0x00, 0x00};

// Puts the test in its own network namespace, opens the stand-in drive and
// starts the link towards it; returns once the link dispatches datagrams.
inline void startTestLink(TestSocket& drive) {
  enterPrivateNetwork();
  ASSERT_TRUE(openBound(drive, DRIVE_IP, PORT));
  driveIp = DRIVE_IP;
  ackReceived = false;
  ASSERT_TRUE(startLink());
  const bool up = waitUntil(
      [&] {
        sendToHost(drive, PING);
        pauseMs(2);
        return ackReceived.load();
      },
      3000);
  ASSERT_TRUE(up) << "the link never dispatched a datagram";
  pauseMs(50);  // the pings still queued are dispatched before the test goes on
}

// Sends data to the running link and returns what rxthread printed for it.
// A status-0 datagram follows it; once that one is acknowledged, the
// dispatch of data has ended, since datagrams are dispatched in turn.
inline std::string dispatchAndCapture(const TestSocket& drive, const Bytes& data) {
  testing::internal::CaptureStdout();
  for (const Bytes* d : {&data, &PING}) {
    ackReceived = false;
    sendToHost(drive, *d);
    EXPECT_TRUE(waitUntil([] { return ackReceived.load(); }, 2000)) << "no acknowledgment";
  }
  return testing::internal::GetCapturedStdout();
}

// A unit identity record as the simulated drive reports it by default.
inline Bytes identityRecord() {
  Bytes r(112, 0x00);
  const Bytes head = {
      0x00, 0x00, 0x00, 0x05,  // Monitor Revision 5
      0x00, 0x00, 0x04, 0xD2,  // Build Number 1234
      0x41, 0x20, 0x00, 0x00,  // 10.0
      0x41, 0x84, 0x00, 0x00,  // 16.5
      0x43, 0x4C, 0xCC, 0xCD,  // 204.8
      0x00, 0x01, 0xE2, 0x40,  // Serial Number 123456
      0x00, 0x00, 0x00, 0x2A,  // Manufacturing Code 42
      '1',  '0',  '2',  ' ',   // Hardware Revision
      'K',  'V',  '7',  ' ',   // Model Code
  };
  std::copy(head.begin(), head.end(), r.begin());
  const std::string vin = "KV720SIM0001";
  std::copy(vin.begin(), vin.end(), r.begin() + 36);
  const Bytes tail = {0x02, 0x00, 0x00, 0x12, 0x34, 0xAB, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F};
  std::copy(tail.begin(), tail.end(), r.begin() + 100);
  return r;
}

// The report of identityRecord(), byte for byte.
inline const std::string IDENTITY_REPORT =
    "\n\n\t----- Unit Identity -----"
    "\nMonitor Revision              5"
    "\nBuild Number                  1234"
    "\nDrive Current Capability      10.00 Amp"
    "\nBus Sensor Resolution         16.50 Counts/V"
    "\nCurrent Sensor Resolution     204.80 Counts/Amp"
    "\nSerial Number                 123456"
    "\nManufacturing Code            42"
    "\nHardware Revision             1.02"
    "\nModel Code                    KV7"
    "\nVin Number                    KV720SIM0001"
    "\nMac Address                   02 00 00 12 34 ab"
    "\nChecksum                      001f"
    "\n\t-------------------------\n";

// The drive digest used in answers: D0 D1 ... DF.
inline Bytes driveDigest() {
  Bytes d(16);
  for (std::size_t i = 0; i < d.size(); ++i) {
    d[i] = static_cast<std::uint8_t>(0xD0 + i);
  }
  return d;
}

// An answer of size bytes: code, length field and status, then the record
// and the digest as far as size reaches, then 0xEE filler.
inline Bytes answer(std::uint16_t code, std::uint16_t length, std::uint8_t status, std::size_t size,
                    const Bytes& record = identityRecord()) {
  Bytes full = {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code),
                static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), status};
  full.insert(full.end(), record.begin(), record.end());
  const Bytes digest = driveDigest();
  full.insert(full.end(), digest.begin(), digest.end());
  full.resize(size < full.size() ? full.size() : size, 0xEE);
  full.resize(size);
  return full;
}

}  // namespace linktest

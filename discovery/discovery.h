// LAN discovery: broadcast probes and list every drive that answers.
//
// DiscoveryProbe (host to every host on the LAN), 19 bytes, always the same,
// sent to 255.255.255.255:LOADER_PORT without routing:
//   0   1  0x0A
//   1   1  0x0E
//   2   1  0x20
//   3   1  0x00
//   4   1  0x11
//   5   5  0x00 each
//   10  2  0x23 0x23
//   12  4  0x00 each
//   16  1  0x6D ('m')
//   17  2  0x00 each
//
// Discovery reply (drive to host): any datagram of at least 5 bytes whose
// byte 4 is 0x6D; at most the first MAX_PAYLOAD bytes are taken in and
// nothing else in it is looked at. The drive's address is the datagram's
// source address.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t DISCOVERY_PROBE_SIZE = 19;
inline constexpr std::uint8_t DISCOVERY_PROBE[DISCOVERY_PROBE_SIZE] = {
    0x0A, 0x0E, 0x20, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x23, 0x23, 0x00, 0x00, 0x00, 0x00, 0x6D, 0x00, 0x00};
inline constexpr std::size_t DISCOVERY_MARK_OFFSET = 4;
inline constexpr std::uint8_t DISCOVERY_REPLY_MARK = 0x6D;

inline constexpr std::uint32_t BROADCAST_ADDRESS = 0xFFFFFFFFu;  // 255.255.255.255
inline constexpr int DISCOVERY_PROBES = 5;
inline constexpr int COLLECTOR_START_PAUSE_MS = 50;
inline constexpr int PROBE_INTERVAL_MS = 1000;

// The drives found, host byte order, in the order of their first answer.
// Unfilled entries hold 0; entries are never cleared or reordered.
inline constexpr std::size_t MAX_DISCOVERED = 100;
extern std::uint32_t discoveredAddrs[MAX_DISCOVERED];

// Runs one discovery of about five seconds: opens a broadcast socket in
// udpSocket, starts the collector, sends the probes one second apart and
// ends with shutdownLink. Prints the opening line, one line per drive
// found, and a line for each failure.
void runDiscovery();

// Sends one probe on udpSocket. Prints "\nERROR: server sendto failed" and
// returns false when the send fails.
bool sendDiscoveryProbe();

// The collector thread's body: receives on udpSocket, lists and prints every
// new drive that answers, and ends once doneFlag is seen set or when a new
// drive answers while the table is full. Returns 0.
int discoveryCollector();

// LAN discovery: broadcast probes (protocol/probe.h) to 255.255.255.255
// without routing and list every drive that answers; at most the first
// MAX_PAYLOAD bytes of a reply are taken in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/probe.h"

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

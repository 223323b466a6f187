// The simulated drives' answers to a discovery probe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/drivesim_drive.h"

struct ProbeReply {
  std::size_t drive = 0;  // index into the drives
  long delayMs = 0;
  const std::vector<std::uint8_t>* bytes = nullptr;
};

// What each drive sends back to a probe: its --discovery-reply after its
// delay. Nothing for a datagram that is not a probe.
std::vector<ProbeReply> probeReplies(const std::vector<Drive>& drives, const std::uint8_t* data,
                                     std::size_t size);

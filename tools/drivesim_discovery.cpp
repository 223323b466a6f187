#include "tools/drivesim_discovery.h"

#include "protocol/probe.h"

std::vector<ProbeReply> probeReplies(const std::vector<Drive>& drives, const std::uint8_t* data,
                                     std::size_t size) {
  std::vector<ProbeReply> replies;
  if (!isDiscoveryProbe({data, size})) {
    return replies;
  }
  for (std::size_t i = 0; i < drives.size(); ++i) {
    const DriveSettings& s = drives[i].settings();
    replies.push_back({i, s.discoveryDelayMs, &s.discoveryReply});
  }
  return replies;
}

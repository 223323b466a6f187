#include "protocol/probe.h"

bool isDiscoveryProbe(std::span<const std::uint8_t> datagram) {
  return datagram.size() == DISCOVERY_PROBE_SIZE &&
         datagram[DISCOVERY_MARK_OFFSET] == DISCOVERY_PROBE_MARK;
}

bool isDiscoveryReply(std::span<const std::uint8_t> datagram) {
  return datagram.size() > DISCOVERY_MARK_OFFSET &&
         datagram[DISCOVERY_MARK_OFFSET] == DISCOVERY_REPLY_MARK;
}

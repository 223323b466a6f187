// Building and sending one command datagram.
#include <cstdio>

#include "link/link.h"
#include "platform/net.h"
#include "protocol/loader.h"

bool sendCommand(std::uint8_t code, std::uint32_t target, const std::uint8_t* source,
                 std::size_t offset, std::size_t length) {
  const NetSocket s = udpSocket;
  // No socket yet (the link is still being set up, or its set-up failed), or
  // a payload that can't be sent as asked: the send fails like a refused
  // one. Handle 0 is never used, since it would name standard input.
  const bool sendable = s != 0 && s != NET_INVALID_SOCKET && length <= MAX_PAYLOAD &&
                        (length == 0 || source != nullptr);
  bool sent = false;
  if (sendable) {
    const CommandBytes datagram =
        encodeCommand(code, target, {length == 0 ? nullptr : source + offset, length});
    sent = netSendTo(s, datagram.data(), datagram.size(), driveIp, LOADER_PORT, true);
  }
  if (!sent) {
    std::fputs("ERROR: server sendto failed\n", stdout);
  }
  return sent;
}

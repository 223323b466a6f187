// Building and sending one command datagram.
#include <cstdio>
#include <cstring>

#include "link/datagram.h"
#include "link/link.h"
#include "platform/coding.h"
#include "platform/net.h"

void buildCommandDatagram(std::uint8_t* out, std::uint8_t code, std::uint32_t target,
                          const std::uint8_t* source, std::size_t offset, std::size_t length) {
  const std::size_t n = length <= MAX_PAYLOAD ? length : MAX_PAYLOAD;
  std::memcpy(out, COMMAND_MAGIC, sizeof COMMAND_MAGIC);
  putBig16(out + COMMAND_CODE_OFFSET, code);
  putBig16(out + COMMAND_LENGTH_OFFSET, static_cast<std::uint16_t>(n));
  putBig32(out + COMMAND_TARGET_OFFSET, target);
  if (n != 0) {
    std::memcpy(out + COMMAND_HEADER_SIZE, source + offset, n);
  }
  // The drive reads only N payload bytes; the rest of the area goes out as
  // zeros rather than whatever the stack held.
  std::memset(out + COMMAND_HEADER_SIZE + n, 0, MAX_PAYLOAD - n);
}

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
    std::uint8_t datagram[COMMAND_DATAGRAM_SIZE];
    buildCommandDatagram(datagram, code, target, source, offset, length);
    sent = netSendTo(s, datagram, sizeof datagram, driveIp, LOADER_PORT, true);
  }
  if (!sent) {
    std::fputs("ERROR: server sendto failed\n", stdout);
  }
  return sent;
}

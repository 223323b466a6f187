#include "protocol/loader.h"

#include <algorithm>
#include <cstring>

#include "platform/coding.h"

CommandBytes encodeCommand(std::uint16_t code, std::uint32_t target,
                           std::span<const std::uint8_t> payload) {
  const std::size_t n = std::min(payload.size(), MAX_PAYLOAD);
  // The drive reads only N payload bytes; the rest of the area goes out as
  // zeros rather than whatever memory held.
  CommandBytes out{};
  std::memcpy(out.data(), COMMAND_MAGIC, sizeof COMMAND_MAGIC);
  putBig16(out.data() + COMMAND_CODE_OFFSET, code);
  putBig16(out.data() + COMMAND_LENGTH_OFFSET, static_cast<std::uint16_t>(n));
  putBig32(out.data() + COMMAND_TARGET_OFFSET, target);
  if (n != 0) {
    std::memcpy(out.data() + COMMAND_HEADER_SIZE, payload.data(), n);
  }
  return out;
}

std::optional<Command> decodeCommand(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < COMMAND_HEADER_SIZE ||
      std::memcmp(datagram.data(), COMMAND_MAGIC, sizeof COMMAND_MAGIC) != 0) {
    return std::nullopt;
  }
  Command c;
  c.code = getBig16(datagram.data() + COMMAND_CODE_OFFSET);
  c.length = getBig16(datagram.data() + COMMAND_LENGTH_OFFSET);
  c.target = getBig32(datagram.data() + COMMAND_TARGET_OFFSET);
  const std::size_t arrived = datagram.size() - COMMAND_HEADER_SIZE;
  c.payload = datagram.subspan(COMMAND_HEADER_SIZE,
                               std::min({std::size_t{c.length}, arrived, MAX_PAYLOAD}));
  return c;
}

std::optional<Response> decodeResponse(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < RESPONSE_HEADER_SIZE) {
    return std::nullopt;
  }
  Response r;
  r.code = getBig16(datagram.data() + RESPONSE_CODE_OFFSET);
  r.length = getBig16(datagram.data() + RESPONSE_LENGTH_OFFSET);
  r.status = datagram[RESPONSE_STATUS_OFFSET];
  r.content = datagram.subspan(RESPONSE_HEADER_SIZE);
  return r;
}

std::optional<Digest> responseDigest(const Response& response) {
  constexpr std::size_t AT = RESPONSE_DIGEST_OFFSET - RESPONSE_HEADER_SIZE;
  if (response.length <= UNIT_IDENTITY_SIZE || response.content.size() < AT + DIGEST_SIZE) {
    return std::nullopt;
  }
  Digest d{};
  std::memcpy(d.data(), response.content.data() + AT, DIGEST_SIZE);
  return d;
}

std::vector<std::uint8_t> encodeResponse(std::uint16_t code, std::uint8_t status,
                                         std::span<const std::uint8_t> content) {
  std::vector<std::uint8_t> out(RESPONSE_HEADER_SIZE + content.size());
  putBig16(out.data() + RESPONSE_CODE_OFFSET, code);
  putBig16(out.data() + RESPONSE_LENGTH_OFFSET,
           static_cast<std::uint16_t>(std::min<std::size_t>(content.size(), 0xFFFF)));
  out[RESPONSE_STATUS_OFFSET] = status;
  std::copy(content.begin(), content.end(), out.begin() + RESPONSE_HEADER_SIZE);
  return out;
}

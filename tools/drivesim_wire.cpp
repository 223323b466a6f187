#include "tools/drivesim_wire.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/coding.h"

namespace {

// Answer header: code (2), length (2), status (1).
constexpr std::size_t ANSWER_HEADER_SIZE = 5;
// Discovery probe as the loader sends it: 19 bytes, byte 4 is 0x11.
constexpr std::size_t PROBE_SIZE = 19;
constexpr std::uint8_t PROBE_MARK = 0x11;

}  // namespace

std::optional<Command> readCommand(const std::uint8_t* data, std::size_t size) {
  if (size < COMMAND_HEADER_SIZE || std::memcmp(data, COMMAND_MAGIC, sizeof COMMAND_MAGIC) != 0) {
    return std::nullopt;
  }
  Command c;
  c.code = getBig16(data + COMMAND_CODE_OFFSET);
  c.length = getBig16(data + COMMAND_LENGTH_OFFSET);
  c.target = getBig32(data + COMMAND_TARGET_OFFSET);
  c.payload = data + COMMAND_HEADER_SIZE;
  c.payloadSize = std::min<std::size_t>(c.length, size - COMMAND_HEADER_SIZE);
  return c;
}

std::vector<std::uint8_t> buildAnswer(std::uint16_t code, std::uint16_t answerCode,
                                      std::uint8_t status,
                                      const std::array<std::uint8_t, UNIT_IDENTITY_SIZE>& identity,
                                      const std::uint8_t* digest) {
  const bool identityAnswer = code == CMD_ENTER_MONITOR;
  const std::size_t bodySize =
      identityAnswer ? UNIT_IDENTITY_SIZE + (digest != nullptr ? DIGEST_SIZE : 0) : 0;
  std::vector<std::uint8_t> answer(ANSWER_HEADER_SIZE + bodySize, 0);
  if (identityAnswer) {
    std::copy(identity.begin(), identity.end(), answer.begin() + ANSWER_HEADER_SIZE);
    if (digest != nullptr) {
      std::copy(digest, digest + DIGEST_SIZE,
                answer.begin() + ANSWER_HEADER_SIZE + UNIT_IDENTITY_SIZE);
    }
  }
  putBig16(answer.data() + RESPONSE_CODE_OFFSET, answerCode);
  putBig16(answer.data() + RESPONSE_LENGTH_OFFSET, static_cast<std::uint16_t>(bodySize));
  answer[RESPONSE_STATUS_OFFSET] = status;
  return answer;
}

bool isDiscoveryProbe(const std::uint8_t* data, std::size_t size) {
  return size == PROBE_SIZE && data[4] == PROBE_MARK;
}

// Layout of UnitIdentity, every 32-bit field big-endian, the ratings as IEEE
// 754 singles: 0 monitor revision, 4 build number, 8 drive current
// capability (A), 12 bus sensor resolution (counts/V), 16 current sensor
// resolution (counts/A), 20 serial number, 24 manufacturing code, 28
// hardware revision (4 chars), 32 model code (4 chars), 36 VIN (64,
// zero-ended), 100 MAC (6), 106 unused (2), 108 checksum.
std::array<std::uint8_t, UNIT_IDENTITY_SIZE> defaultIdentity(std::size_t n) {
  std::array<std::uint8_t, UNIT_IDENTITY_SIZE> id{};
  std::uint8_t* p = id.data();
  putBig32(p + 0, 5);
  putBig32(p + 4, 1234);
  putBig32(p + 8, std::bit_cast<std::uint32_t>(10.0f));
  putBig32(p + 12, std::bit_cast<std::uint32_t>(16.5f));
  putBig32(p + 16, std::bit_cast<std::uint32_t>(204.8f));
  putBig32(p + 20, static_cast<std::uint32_t>(123456 + n));
  putBig32(p + 24, 42);
  std::memcpy(p + 28, "102 ", 4);
  std::memcpy(p + 32, "KV7 ", 4);
  std::memcpy(p + 36, "KV720SIM0001", 12);
  const std::uint8_t mac[4] = {0x02, 0x00, 0x00, 0x12};
  std::memcpy(p + 100, mac, sizeof mac);
  putBig16(p + 104, static_cast<std::uint16_t>(0x34AB + n));
  putBig32(p + 108, 0x1F);
  return id;
}

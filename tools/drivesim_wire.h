// The datagrams as the simulated drive reads and writes them: commands in,
// answers and probe replies out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "link/datagram.h"

// A command datagram as the drive takes it in. payload points into the
// datagram; payloadSize is what the datagram really holds of the length
// field's bytes.
struct Command {
  std::uint16_t code = 0;
  std::uint16_t length = 0;
  std::uint32_t target = 0;
  const std::uint8_t* payload = nullptr;
  std::size_t payloadSize = 0;
};

// The command in a datagram, or nothing when it is shorter than a command
// header or lacks the magic.
std::optional<Command> readCommand(const std::uint8_t* data, std::size_t size);

// An answer: code, length, status, then for CMD_ENTER_MONITOR the identity
// and, when digest is given, the digest.
std::vector<std::uint8_t> buildAnswer(std::uint16_t code, std::uint16_t answerCode,
                                      std::uint8_t status,
                                      const std::array<std::uint8_t, UNIT_IDENTITY_SIZE>& identity,
                                      const std::uint8_t* digest);

// True for a discovery probe as the loader sends it.
bool isDiscoveryProbe(const std::uint8_t* data, std::size_t size);

// The identity of the n-th simulated drive: serial number 123456 + n, MAC
// 02:00:00:12:34:ab + n (in its last two bytes), the rest alike.
std::array<std::uint8_t, UNIT_IDENTITY_SIZE> defaultIdentity(std::size_t n);

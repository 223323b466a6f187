// The loader protocol: the command datagram the host sends, the response the
// drive sends back, and the codes and sizes both sides share. Pure encoding
// and decoding: no I/O, no state.
//
// CommandDatagram (host to drive), always COMMAND_DATAGRAM_SIZE = 524 bytes,
// every multi-byte field big-endian:
//   0   4  magic 3C 3C C3 C3
//   4   2  command code (16 to 20)
//   6   2  payload length N, 0 to 512
//   8   4  target address: where a CMD_PROGRAM_BLOCK payload goes in the
//          drive's memory (IMAGE_LOAD_ADDRESS plus the block's offset in the
//          image); 0 in every other command
//   12  N  payload, then zeros to the end of the 512-byte payload area
//
// ResponseDatagram (drive to host), at least RESPONSE_HEADER_SIZE bytes; the
// host takes in at most MAX_PAYLOAD:
//   0   2  code of the command answered
//   2   2  length: content bytes after the status byte
//   4   1  status: STATUS_SUCCESS (1), or a refusal
//   5 112  UnitIdentity (protocol/identity.h), in an answer to
//          CMD_ENTER_MONITOR
//   117 16 the drive's firmware digest, when the length is above 112
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

inline constexpr std::uint16_t LOADER_PORT = 8995;  // the drive's and the host's port
inline constexpr std::size_t MAX_PAYLOAD = 512;     // payload area, and the receive area
inline constexpr std::size_t BLOCK_SIZE = 512;      // payload of one full CMD_PROGRAM_BLOCK
inline constexpr std::uint32_t IMAGE_LOAD_ADDRESS = 0x8000;  // drive address of image byte 0
static_assert(BLOCK_SIZE <= MAX_PAYLOAD);

inline constexpr std::size_t COMMAND_HEADER_SIZE = 12;
inline constexpr std::size_t COMMAND_DATAGRAM_SIZE = COMMAND_HEADER_SIZE + MAX_PAYLOAD;
inline constexpr std::uint8_t COMMAND_MAGIC[4] = {0x3C, 0x3C, 0xC3, 0xC3};
inline constexpr std::size_t COMMAND_CODE_OFFSET = 4;
inline constexpr std::size_t COMMAND_LENGTH_OFFSET = 6;
inline constexpr std::size_t COMMAND_TARGET_OFFSET = 8;

inline constexpr std::uint8_t CMD_CONNECT = 16;
inline constexpr std::uint8_t CMD_PROGRAM_BLOCK = 17;
inline constexpr std::uint8_t CMD_VERIFY = 18;
inline constexpr std::uint8_t CMD_REBOOT = 19;
inline constexpr std::uint8_t CMD_ENTER_MONITOR = 20;

inline constexpr std::size_t RESPONSE_CODE_OFFSET = 0;
inline constexpr std::size_t RESPONSE_LENGTH_OFFSET = 2;
inline constexpr std::size_t RESPONSE_STATUS_OFFSET = 4;
inline constexpr std::size_t RESPONSE_HEADER_SIZE = 5;
inline constexpr std::size_t RESPONSE_IDENTITY_OFFSET = RESPONSE_HEADER_SIZE;
inline constexpr std::size_t UNIT_IDENTITY_SIZE = 112;
inline constexpr std::size_t RESPONSE_DIGEST_OFFSET = RESPONSE_IDENTITY_OFFSET + UNIT_IDENTITY_SIZE;
inline constexpr std::size_t DIGEST_SIZE = 16;
// The least an identity answer, and one that also carries the digest, is long.
inline constexpr std::size_t IDENTITY_RESPONSE_SIZE = RESPONSE_DIGEST_OFFSET;              // 117
inline constexpr std::size_t DIGEST_RESPONSE_SIZE = RESPONSE_DIGEST_OFFSET + DIGEST_SIZE;  // 133
inline constexpr std::uint8_t STATUS_SUCCESS = 1;

using CommandBytes = std::array<std::uint8_t, COMMAND_DATAGRAM_SIZE>;
// An MD5 digest, 16 bytes in the order RFC 1321 gives them.
using Digest = std::array<std::uint8_t, DIGEST_SIZE>;

struct Command {
  std::uint16_t code = 0;
  std::uint32_t target = 0;
  // Encoding: the payload, at most MAX_PAYLOAD bytes. Decoding: the payload
  // bytes that arrived, at most the length field's count.
  std::span<const std::uint8_t> payload;
  std::uint16_t length = 0;  // the length field as decoded
};

// The 524-byte command datagram. A payload longer than MAX_PAYLOAD is cut to
// MAX_PAYLOAD, so the area is never overrun.
CommandBytes encodeCommand(std::uint16_t code, std::uint32_t target,
                           std::span<const std::uint8_t> payload = {});

// Reads a command datagram (the drive's side). Empty when it is shorter than
// the header or its magic is wrong. The payload views datagram: the length
// field's bytes, or fewer when fewer arrived (never past MAX_PAYLOAD).
std::optional<Command> decodeCommand(std::span<const std::uint8_t> datagram);

struct Response {
  std::uint16_t code = 0;
  std::uint16_t length = 0;  // the length field
  std::uint8_t status = 0;
  // The bytes after the status byte that arrived (views the datagram).
  std::span<const std::uint8_t> content;
};

// Reads a response: empty when fewer than RESPONSE_HEADER_SIZE bytes arrived.
// Nothing past datagram's end is ever read.
std::optional<Response> decodeResponse(std::span<const std::uint8_t> datagram);

// The drive's digest in an answer: present when the length field is above
// UNIT_IDENTITY_SIZE and the 16 bytes arrived.
std::optional<Digest> responseDigest(const Response& response);

// The response datagram a drive sends: header, then content; the length field
// is the content's size (at most 65535).
std::vector<std::uint8_t> encodeResponse(std::uint16_t code, std::uint8_t status,
                                         std::span<const std::uint8_t> content = {});

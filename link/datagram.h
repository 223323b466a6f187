// The loader protocol's datagrams and command codes.
//
// CommandDatagram (host to drive), always COMMAND_DATAGRAM_SIZE = 524 bytes,
// every multi-byte field big-endian:
//   0   4  magic 3C 3C C3 C3
//   4   2  command code (16 to 20)
//   6   2  payload length N, 0 to 512
//   8   4  target address: where a CMD_PROGRAM_BLOCK payload goes in the
//          drive's memory; 0 in every other command
//   12  N  payload, then zeros to the end of the 512-byte payload area
//
// ResponseDatagram (drive to host), at most MAX_PAYLOAD bytes taken in:
//   0   2  code of the command answered
//   2   2  length: content bytes after the status byte
//   4   1  status: 1 is success; only then are code and content looked at
//   5 112  UnitIdentity, in an answer to CMD_ENTER_MONITOR
//   117 16 the drive's firmware digest, when the length is above 112
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint16_t LOADER_PORT = 8995;  // the drive's and the host's port
inline constexpr std::size_t MAX_PAYLOAD = 512;
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
inline constexpr std::size_t RESPONSE_IDENTITY_OFFSET = 5;
inline constexpr std::size_t UNIT_IDENTITY_SIZE = 112;
inline constexpr std::size_t RESPONSE_DIGEST_OFFSET = RESPONSE_IDENTITY_OFFSET + UNIT_IDENTITY_SIZE;
inline constexpr std::size_t DIGEST_SIZE = 16;
inline constexpr std::uint8_t STATUS_SUCCESS = 1;

// Builds the 524-byte command datagram into out (byte by byte, zero fill).
// A length above MAX_PAYLOAD is cut to MAX_PAYLOAD, so out is never
// overrun; sendCommand refuses such a length before it gets here.
void buildCommandDatagram(std::uint8_t* out, std::uint8_t code, std::uint32_t target,
                          const std::uint8_t* source, std::size_t offset, std::size_t length);

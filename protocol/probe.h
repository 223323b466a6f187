// LAN discovery's datagrams.
//
// DiscoveryProbe (host to every host on the LAN), DISCOVERY_PROBE_SIZE = 19
// bytes, always the same, sent to 255.255.255.255:LOADER_PORT:
//   0   1  0x0A
//   1   1  0x0E
//   2   1  0x20
//   3   1  0x00
//   4   1  0x11  (DISCOVERY_PROBE_MARK)
//   5   5  0x00 each
//   10  2  0x23 0x23
//   12  4  0x00 each
//   16  1  0x6D ('m')
//   17  2  0x00 each
//
// Discovery reply (drive to the probe's sender): any datagram of at least 5
// bytes whose byte 4 is DISCOVERY_REPLY_MARK 0x6D; nothing else in it is
// looked at. The drive's address is the datagram's source address.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t DISCOVERY_PROBE_SIZE = 19;
inline constexpr std::array<std::uint8_t, DISCOVERY_PROBE_SIZE> DISCOVERY_PROBE = {
    0x0A, 0x0E, 0x20, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x23, 0x23, 0x00, 0x00, 0x00, 0x00, 0x6D, 0x00, 0x00};
inline constexpr std::size_t DISCOVERY_MARK_OFFSET = 4;
inline constexpr std::uint8_t DISCOVERY_PROBE_MARK = 0x11;
inline constexpr std::uint8_t DISCOVERY_REPLY_MARK = 0x6D;
// The shortest reply a drive sends: four zero bytes and the mark.
inline constexpr std::array<std::uint8_t, DISCOVERY_MARK_OFFSET + 1> DISCOVERY_REPLY = {
    0x00, 0x00, 0x00, 0x00, DISCOVERY_REPLY_MARK};

// A probe as the drive recognises it: 19 bytes with the probe's mark.
bool isDiscoveryProbe(std::span<const std::uint8_t> datagram);

// A drive's reply to a probe, as the host recognises it.
bool isDiscoveryReply(std::span<const std::uint8_t> datagram);

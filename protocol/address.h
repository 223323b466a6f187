// A drive's address on the LAN, the one value every layer above platform/
// names a drive by (and the PC's adapters and the broadcasts discovery
// probes to, which live on the same LAN).
//
// It is read once, from the command line (parse) or from the datagram a
// drive sent; its one text is addressText (protocol/value_text.h). The
// platform keeps addresses in its own form, an IPv4 address in host byte
// order (platform/net.h, platform/adapters.h): only the code that calls the
// platform (the link, discovery's system network, the simulated drive)
// turns an address into that form and back (toNet, fromNet).
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

class DriveAddress {
 public:
  // 0.0.0.0.
  constexpr DriveAddress() = default;
  // a.b.c.d.
  constexpr DriveAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
      : value_((std::uint32_t{a} << 24) | (std::uint32_t{b} << 16) | (std::uint32_t{c} << 8) |
               std::uint32_t{d}) {}

  // Reads dotted IPv4 text by the classic inet_addr rules but for octal
  // parts: one to four parts separated by points, each decimal or
  // hexadecimal with a leading 0x or 0X; a part of a leading 0 and more
  // digits (octal by the classic rules, "010") is refused, a lone 0 is 0;
  // the last part fills all the bytes that remain (so "10.258" is 10.0.1.2
  // and "3232267384" is 192.168.124.120). The text ends at the end of the
  // view, at a NUL or at the first white-space character after the last
  // part. Nothing when the text is not an address; 255.255.255.255, which
  // the classic rules can't tell from "not an address", is never one.
  static std::optional<DriveAddress> parse(std::string_view text);

  // The platform's form: IPv4 in host byte order, the first dotted part in
  // the most significant byte. For the calls into platform/ alone.
  static constexpr DriveAddress fromNet(std::uint32_t value) {
    DriveAddress address;
    address.value_ = value;
    return address;
  }
  constexpr std::uint32_t toNet() const { return value_; }

  // The four parts, the first dotted one first.
  constexpr std::array<std::uint8_t, 4> parts() const {
    return {static_cast<std::uint8_t>(value_ >> 24), static_cast<std::uint8_t>(value_ >> 16),
            static_cast<std::uint8_t>(value_ >> 8), static_cast<std::uint8_t>(value_)};
  }

  // 0.0.0.0: to a socket "every address of this host", no drive's.
  constexpr bool isUnspecified() const { return value_ == 0; }
  // 224.0.0.0/4: names a group of hosts.
  constexpr bool isMulticast() const { return (value_ >> 28) == 0xEu; }
  // 240.0.0.0/4, the limited broadcast among them: reserved.
  constexpr bool isReserved() const { return (value_ >> 28) == 0xFu; }
  // Neither multicast nor reserved: one host's address (0.0.0.0 too, which
  // isUnspecified tells apart).
  constexpr bool isUnicast() const { return !isMulticast() && !isReserved(); }

  // In the order of the dotted parts, the first one first.
  friend constexpr auto operator<=>(DriveAddress, DriveAddress) = default;

 private:
  std::uint32_t value_ = 0;
};

// 255.255.255.255: every host of the LAN the datagram leaves on.
inline constexpr DriveAddress BROADCAST_ADDRESS{255, 255, 255, 255};

template <>
struct std::hash<DriveAddress> {
  std::size_t operator()(DriveAddress address) const noexcept {
    return std::hash<std::uint32_t>{}(address.toNet());
  }
};

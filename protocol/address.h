// Dotted IPv4 address text, read by the classic inet_addr rules but for
// octal parts.
#pragma once

#include <cstdint>

// The all-ones value that stands for "not an address"; the limited broadcast
// address 255.255.255.255 reads as this value too and so is never accepted.
inline constexpr std::uint32_t ADDRESS_NONE = 0xFFFFFFFFu;

// Reads an address of one to four parts separated by points. Each part is
// decimal or hexadecimal with a leading 0x or 0X; a part of a leading 0 and
// more digits (octal by the classic rules, "010") is refused, a lone 0 is 0;
// the last part fills all the bytes that remain (so "10.258" is 10.0.1.2 and
// "3232267384" is 192.168.124.120). The text ends at its terminator or at
// the first white-space character after the last part. Returns the address
// in host byte order (first part in the most significant byte), or
// ADDRESS_NONE when the text is not an address.
std::uint32_t parseInetAddress(const char* text);

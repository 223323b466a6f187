// The one text of each value a person or a record reads: an address, a
// MAC address, a firmware digest.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/address.h"
#include "protocol/identity.h"
#include "protocol/loader.h"

using MacAddress = std::array<std::uint8_t, 6>;

// Dotted decimal, most significant byte first: "10.0.0.5".
std::string addressText(DriveAddress address);

// "00:1a:2b:3c:4d:5e".
std::string macText(const MacAddress& mac);

// 32 lower-case hexadecimal digits.
std::string md5Text(const Digest& digest);

// The drive's model code and hardware revision as its identity report
// shows them: the first three characters, "KV7"; "1.02".
std::string modelText(const UnitIdentity& identity);
std::string hardwareRevisionText(const UnitIdentity& identity);

// The value of one hexadecimal digit (either case), or -1 for any other
// character.
int hexDigitValue(char c);

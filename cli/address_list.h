// The -ip option's text: one drive address, or several separated by commas.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "protocol/address.h"

// The most drives one run takes on.
inline constexpr std::size_t MAX_DRIVES = 100;

// Reads a comma-separated list of addresses, each element read exactly as a
// single -ip address is. An address that stands more than once counts once,
// at its first place. Returns the addresses in the order given, or nothing when an element is not
// an address (an empty element included) or more than MAX_DRIVES different addresses remain.
std::optional<std::vector<DriveAddress>> parseAddressList(std::string_view text);

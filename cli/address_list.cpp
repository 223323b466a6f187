#include "cli/address_list.h"

#include <algorithm>

std::optional<std::vector<DriveAddress>> parseAddressList(std::string_view text) {
  std::vector<DriveAddress> addresses;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::optional<DriveAddress> address = DriveAddress::parse(text.substr(0, comma));
    if (!address) {
      return std::nullopt;
    }
    if (std::find(addresses.begin(), addresses.end(), *address) == addresses.end()) {
      if (addresses.size() == MAX_DRIVES) {
        return std::nullopt;
      }
      addresses.push_back(*address);
    }
    if (comma == std::string_view::npos) {
      return addresses;
    }
    text.remove_prefix(comma + 1);
  }
}

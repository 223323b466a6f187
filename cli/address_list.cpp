#include "cli/address_list.h"

#include <algorithm>
#include <string>

#include "protocol/address.h"

std::optional<std::vector<std::uint32_t>> parseAddressList(std::string_view text) {
  std::vector<std::uint32_t> addresses;
  for (;;) {
    const std::size_t comma = text.find(',');
    // A copy, so that the single-address reader sees the element's end as
    // the text's end.
    const std::string element(text.substr(0, comma));
    const std::uint32_t address = parseInetAddress(element.c_str());
    if (element.empty() || address == ADDRESS_NONE) {
      return std::nullopt;
    }
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
      if (addresses.size() == MAX_DRIVES) {
        return std::nullopt;
      }
      addresses.push_back(address);
    }
    if (comma == std::string_view::npos) {
      return addresses;
    }
    text.remove_prefix(comma + 1);
  }
}

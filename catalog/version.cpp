#include "catalog/version.h"

#include <algorithm>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool allDigits(std::string_view part) {
  return !part.empty() && std::all_of(part.begin(), part.end(), isDigit);
}

// The part before the first dot, taken off the front of text (with its dot).
std::string_view takePart(std::string_view& text) {
  const std::size_t dot = text.find('.');
  const std::string_view part = text.substr(0, dot);
  text.remove_prefix(dot == std::string_view::npos ? text.size() : dot + 1);
  return part;
}

// Numbers of any length: without their leading zeros, the longer is the
// larger, and of two as long the one that is larger as text.
std::strong_ordering compareNumbers(std::string_view a, std::string_view b) {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) {
    return a.size() <=> b.size();
  }
  return a.compare(b) <=> 0;
}

std::strong_ordering compareParts(std::string_view a, std::string_view b) {
  const bool aNumber = allDigits(a);
  const bool bNumber = allDigits(b);
  if (aNumber && bNumber) {
    return compareNumbers(a, b);
  }
  if (aNumber != bNumber) {
    return aNumber ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  return a.compare(b) <=> 0;
}

}  // namespace

bool validVersion(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.' ||
      text.find("..") != std::string_view::npos) {
    return false;
  }
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

std::strong_ordering compareVersions(std::string_view a, std::string_view b) {
  while (!a.empty() && !b.empty()) {
    const std::strong_ordering order = compareParts(takePart(a), takePart(b));
    if (order != std::strong_ordering::equal) {
      return order;
    }
  }
  return !a.empty() <=> !b.empty();
}

// Release versions: dotted names such as "4.2", "4.10" or "4.2.1-rc".
//
// Two versions are ordered part by part (the parts between the dots): a
// part of decimal digits alone is a number and compares as one ("10" after
// "9", "02" equal to "2"), before any part that is not; other parts compare
// as bytes. A version that runs out of parts first, all else equal, is the
// earlier ("4.2" before "4.2.1").
#pragma once

#include <compare>
#include <string_view>

// True for a version a manifest may name: one part or more, none of them
// empty, of printable ASCII characters other than the space.
bool validVersion(std::string_view text);

std::strong_ordering compareVersions(std::string_view a, std::string_view b);

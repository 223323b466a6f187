// JSON text for the run records.
#pragma once

#include <string>
#include <string_view>

// text as a JSON string, quotes included. Quote, backslash and control
// characters are escaped; valid UTF-8 passes as it is, and each byte that
// is not part of a valid UTF-8 sequence becomes U+FFFD, so the result is
// always valid JSON (a path in a legacy code page included).
std::string jsonString(std::string_view text);

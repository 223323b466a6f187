#include "cli/retry_command.h"

#include <algorithm>

#include "protocol/value_text.h"

namespace {

// Safe in either shell without quotes.
bool plainCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("_-+=.,:/@").find(c) != std::string_view::npos;
}

}  // namespace

std::string quoteWord(std::string_view word, QuoteStyle style) {
  if (!word.empty() && std::all_of(word.begin(), word.end(), plainCharacter)) {
    return std::string(word);
  }
  std::string quoted;
  if (style == QuoteStyle::posix) {
    quoted = "'";
    for (const char c : word) {
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
  }
  // The C runtime's rules: backslashes are literal unless a double quote
  // follows them; then each counts double and the quote is escaped.
  quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted += std::string(2 * backslashes + 1, '\\');
    } else {
      quoted += std::string(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  return quoted + std::string(2 * backslashes, '\\') + "\"";
}

std::string retryCommand(std::string_view program, const std::vector<std::string>& options,
                         const std::vector<DriveAddress>& drives, QuoteStyle style) {
  std::string command = quoteWord(program, style) + " -ip ";
  for (std::size_t i = 0; i < drives.size(); ++i) {
    command += (i > 0 ? "," : "") + addressText(drives[i]);
  }
  for (const auto& option : options) {
    command += " " + quoteWord(option, style);
  }
  return command;
}

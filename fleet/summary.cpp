#include "fleet/summary.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "session/drive_text.h"

namespace {

constexpr std::size_t COLUMNS = 5;
using Row = std::array<std::string, COLUMNS>;

Row rowOf(const DriveState& drive) {
  return {addressText(drive.address),
          drive.serialNumber ? std::to_string(*drive.serialNumber) : "-",
          drive.mac ? macText(*drive.mac) : "-", resultText(drive), secondsText(drive.elapsed)};
}

std::string joined(const Row& row, const std::array<std::size_t, COLUMNS>& widths) {
  // Text columns to the left, the time to the right, two blanks between.
  std::string line;
  for (std::size_t i = 0; i + 1 < COLUMNS; ++i) {
    line += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
  }
  const std::string& time = row[COLUMNS - 1];
  return line + std::string(widths[COLUMNS - 1] - time.size(), ' ') + time + "\n";
}

std::string plural(std::size_t n) { return std::to_string(n) + (n == 1 ? " drive" : " drives"); }

// Safe in either shell without quotes.
bool plainCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("_-+=.,:/@").find(c) != std::string_view::npos;
}

}  // namespace

std::string summaryTable(const std::vector<DriveState>& drives) {
  std::vector<Row> rows = {{"Address", "Serial", "MAC", "Result", "Time"}};
  for (const auto& drive : drives) {
    rows.push_back(rowOf(drive));
  }
  std::array<std::size_t, COLUMNS> widths{};
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < COLUMNS; ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  std::string table;
  for (const auto& row : rows) {
    table += joined(row, widths);
  }
  return table;
}

std::string countLine(const std::vector<DriveState>& drives) {
  static constexpr std::array<std::pair<DriveResult, const char*>, 9> RESULTS = {{
      {DriveResult::programmed, "programmed and verified"},
      {DriveResult::current, "already current"},
      {DriveResult::identified, "identity read"},
      {DriveResult::digestEqual, "digest equal"},
      {DriveResult::digestDiffers, "digest differs"},
      {DriveResult::failed, "failed"},
      {DriveResult::interrupted, "interrupted"},
      {DriveResult::notStarted, "not started"},
      {DriveResult::running, "unfinished"},
  }};
  std::string line = plural(drives.size()) + ":";
  const char* separator = " ";
  for (const auto& counted : RESULTS) {
    const auto n = static_cast<std::size_t>(
        std::count_if(drives.begin(), drives.end(),
                      [&](const DriveState& d) { return d.result == counted.first; }));
    if (n > 0) {
      line += separator + std::to_string(n) + " " + counted.second;
      separator = ", ";
    }
  }
  return line + "\n";
}

bool allSucceeded(const std::vector<DriveState>& drives) {
  return std::all_of(drives.begin(), drives.end(), driveSucceeded);
}

std::vector<std::string> retryOptions(int argc, const char* const* argv) {
  std::vector<std::string> options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-ip") {
      ++i;
    } else if (arg != "-a") {
      options.emplace_back(arg);
      if ((arg == "-fp" || arg == "-r" || arg == "-c") && i + 1 < argc) {
        options.emplace_back(argv[++i]);
      }
    }
  }
  return options;
}

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

std::string retryLine(std::string_view program, const std::vector<std::string>& options,
                      const std::vector<DriveState>& drives, QuoteStyle style) {
  std::string list;
  for (const auto& drive : drives) {
    if (!driveSucceeded(drive) && drive.result != DriveResult::digestDiffers) {
      list += (list.empty() ? "" : ",") + addressText(drive.address);
    }
  }
  if (list.empty()) {
    return {};
  }
  std::string line = "Retry the failed drives: " + quoteWord(program, style) + " -ip " + list;
  for (const auto& option : options) {
    line += " " + quoteWord(option, style);
  }
  return line + "\n";
}

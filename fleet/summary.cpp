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
  // The order the count line names the results in.
  static constexpr std::array<DriveResult, 9> RESULTS = {
      DriveResult::programmed,  DriveResult::current,       DriveResult::identified,
      DriveResult::digestEqual, DriveResult::digestDiffers, DriveResult::failed,
      DriveResult::interrupted, DriveResult::notStarted,    DriveResult::running,
  };
  std::string line = plural(drives.size()) + ":";
  const char* separator = " ";
  for (const DriveResult counted : RESULTS) {
    const auto n = static_cast<std::size_t>(std::count_if(
        drives.begin(), drives.end(), [&](const DriveState& d) { return d.result == counted; }));
    if (n > 0) {
      line += separator + std::to_string(n) + " " + resultPhrase(counted);
      separator = ", ";
    }
  }
  return line + "\n";
}

bool allSucceeded(const std::vector<DriveState>& drives) {
  return std::all_of(drives.begin(), drives.end(), driveSucceeded);
}

std::vector<DriveAddress> drivesToRetry(const std::vector<DriveState>& drives) {
  std::vector<DriveAddress> addresses;
  for (const auto& drive : drives) {
    if (!driveSucceeded(drive) && drive.result != DriveResult::digestDiffers) {
      addresses.push_back(drive.address);
    }
  }
  return addresses;
}

std::string retryLine(const std::vector<DriveState>& drives, const RetryCommand& command) {
  const std::vector<DriveAddress> addresses = drivesToRetry(drives);
  if (addresses.empty() || !command) {
    return {};
  }
  return "Retry the failed drives: " + command(addresses) + "\n";
}

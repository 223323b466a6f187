#include "fleet/summary.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "session/drive_text.h"

namespace {

using Row = std::vector<std::string>;

Row rowOf(const DriveState& drive, bool firmwareColumn) {
  Row row = {addressText(drive.address),
             drive.serialNumber ? std::to_string(*drive.serialNumber) : "-",
             drive.mac ? macText(*drive.mac) : "-"};
  if (firmwareColumn) {
    row.push_back(firmwareText(drive));
  }
  row.push_back(resultText(drive));
  row.push_back(secondsText(drive.elapsed));
  return row;
}

std::string joined(const Row& row, const std::vector<std::size_t>& widths) {
  // Text columns to the left, the time to the right, two blanks between.
  std::string line;
  for (std::size_t i = 0; i + 1 < row.size(); ++i) {
    line += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
  }
  const std::string& time = row.back();
  return line + std::string(widths.back() - time.size(), ' ') + time + "\n";
}

std::string plural(std::size_t n) { return std::to_string(n) + (n == 1 ? " drive" : " drives"); }

}  // namespace

std::string summaryTable(const std::vector<DriveState>& drives, bool firmwareColumn) {
  std::vector<Row> rows = {firmwareColumn
                               ? Row{"Address", "Serial", "MAC", "FIRMWARE", "Result", "Time"}
                               : Row{"Address", "Serial", "MAC", "Result", "Time"}};
  for (const auto& drive : drives) {
    rows.push_back(rowOf(drive, firmwareColumn));
  }
  std::vector<std::size_t> widths(rows.front().size());
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
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
  static constexpr std::array<DriveResult, 12> RESULTS = {
      DriveResult::programmed,   DriveResult::wouldProgram, DriveResult::current,
      DriveResult::identified,   DriveResult::digestEqual,  DriveResult::digestDiffers,
      DriveResult::incompatible, DriveResult::newerOnDrive, DriveResult::failed,
      DriveResult::interrupted,  DriveResult::notStarted,   DriveResult::running,
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
    if (!driveSucceeded(drive) && drive.result != DriveResult::digestDiffers &&
        drive.result != DriveResult::incompatible && drive.result != DriveResult::newerOnDrive) {
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

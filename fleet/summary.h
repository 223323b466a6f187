// The end of a several-drives run: a table with a row per drive, a count
// line and, when some drives failed, the line that retries them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "protocol/address.h"
#include "session/drive_state.h"

// Header and one row per drive, in the order given: address, serial number,
// MAC address, with firmwareColumn (a run with a catalog) the firmware
// release (firmwareText), result, time; columns as wide as their widest
// entry, "-" for what the drive never told. Every line ends with a line
// feed.
std::string summaryTable(const std::vector<DriveState>& drives, bool firmwareColumn = false);

// "3 drives: 2 programmed and verified, 1 failed\n": the drives by result,
// each result that occurred once.
std::string countLine(const std::vector<DriveState>& drives);

// True when every drive did all that the run asked (driveSucceeded): the
// several-drives run then ends with exit status 0.
bool allSucceeded(const std::vector<DriveState>& drives);

// The drives the retry line names: those that failed, were interrupted or
// never started (a drive whose digest differs completed and is left out, as
// is one the catalog refused: the same run would refuse it again).
std::vector<DriveAddress> drivesToRetry(const std::vector<DriveState>& drives);

// The command that runs the given drives again with the run's options.
using RetryCommand = std::function<std::string(const std::vector<DriveAddress>& drives)>;

// "Retry the failed drives: <command>\n" for the drives to retry; empty
// when there are none.
std::string retryLine(const std::vector<DriveState>& drives, const RetryCommand& command);

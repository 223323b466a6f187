// What the several-drives console and the run records know of one drive.
//
// A plain value per drive, filled in from the session's events as they
// come; everything shown or recorded about the drive is read from it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/loader.h"

using MacAddress = std::array<std::uint8_t, 6>;

// What the run does with every drive.
enum class RunKind : std::uint8_t { program, verify, identity };

// Where a drive's session stands.
enum class DriveStage : std::uint8_t {
  waiting,   // not started yet
  connect,   // connection requests with their countdown
  monitor,   // entering the monitor state
  program,   // sending the blocks
  verify,    // the drive checks what it received
  reboot,    // the drive restarts with its new firmware
  report,    // waiting for the drive's identity and digest
  finished,  // the result is known
};

enum class DriveResult : std::uint8_t {
  running,
  programmed,     // programmed, verified by the drive and rebooted
  digestEqual,    // -v: the drive holds the file's firmware
  digestDiffers,  // -v: the drive holds other firmware
  identified,     // -u: the identity was read
  failed,
};

struct DriveState {
  std::uint32_t address = 0;  // host byte order
  DriveStage stage = DriveStage::waiting;
  int countdown = 0;  // connection requests left, while connecting
  std::size_t blocksDone = 0;
  std::size_t blockCount = 0;
  DriveResult result = DriveResult::running;
  // Where and why a failed drive stopped; the block counts from 0.
  DriveStage failedStage = DriveStage::waiting;
  std::optional<std::size_t> failedBlock;
  std::string reason;
  // From the drive's identity, once it was read.
  std::optional<std::int32_t> serialNumber;
  std::optional<MacAddress> mac;
  std::optional<Digest> driveDigest;
  // How long the drive's session ran, and when it ended.
  std::chrono::milliseconds elapsed{0};
  std::chrono::system_clock::time_point finishedAt;
};

// What every drive of a run shares.
struct RunInfo {
  RunKind kind = RunKind::program;
  std::string filePath;  // empty for the identity run
  std::optional<Digest> fileDigest;
};

// True when the drive did all that the run asked and the run may end with
// status 0 for it: programmed, identified, or (for -v) its digest equal.
bool driveSucceeded(const DriveState& drive);

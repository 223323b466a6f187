// What the several-drives console and the run records know of one drive.
//
// A plain value per drive, filled in from its session's events as they come
// (session/board.h); everything shown or recorded about the drive is read
// from it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "catalog/catalog.h"
#include "catalog/guard.h"
#include "protocol/address.h"
#include "protocol/loader.h"
#include "protocol/value_text.h"
#include "session/observer.h"

enum class DriveResult : std::uint8_t {
  running,
  programmed,     // programmed, verified by the drive and rebooted
  digestEqual,    // -v: the drive holds the file's firmware
  digestDiffers,  // -v: the drive holds other firmware
  identified,     // -u: the identity was read
  failed,
  current,      // -s: already held the file's firmware; verified and rebooted
  interrupted,  // the run was interrupted before the drive's session ended
  notStarted,   // -c: never touched, as a canary failed or the run was stopped first
  // With a catalog: the file's release was withheld (DriveState::withheld),
  // no block was sent and the drive was rebooted.
  incompatible,  // the release is not for the drive
  newerOnDrive,  // the drive holds a newer release of the catalog
  wouldProgram,  // -n: the programming run would program the drive
};

// Why a drive was never started (DriveResult::notStarted).
enum class HeldBack : std::uint8_t {
  canaryFailed,  // -c: a canary did not succeed
  interrupted,   // the run was stopped before the drive's turn
};

struct DriveState {
  DriveAddress address;
  std::optional<Stage> stage;  // none until the session starts
  int countdown = 0;           // connection requests left, while connecting
  std::size_t blocksDone = 0;
  std::size_t blockCount = 0;
  DriveResult result = DriveResult::running;
  HeldBack heldBack = HeldBack::canaryFailed;  // of a drive not started
  // Where and why a failed or interrupted drive stopped.
  std::optional<Failure> failure;
  // From the drive's identity, once it was read.
  std::optional<std::int32_t> serialNumber;
  std::optional<MacAddress> mac;
  std::optional<UnitIdentity> identity;
  std::optional<Digest> driveDigest;
  // -s: the drive confirmed it holds the file's image; no block was sent.
  bool verifiedCurrent = false;
  // With a catalog: the run's file's release (null in -u runs), and the
  // release whose digest the drive reported (null where the catalog has
  // none, or the drive reported none). Both point into the run's catalog,
  // which outlives every drive's state.
  const Release* fileRelease = nullptr;
  const Release* driveRelease = nullptr;
  // Why the catalog withheld the file's release from the drive.
  std::optional<Refusal> withheld;
  // How long the drive's session ran, and when it ended.
  std::chrono::milliseconds elapsed{0};
  std::chrono::system_clock::time_point finishedAt;
};

// What every drive of a run shares.
struct RunInfo {
  RunMode mode = RunMode::program;
  std::string filePath;  // empty for the identity run
  std::optional<Digest> fileDigest;
  std::size_t blockCount = 0;  // the image's blocks; 0 for the identity run
  std::string runId;           // shared by every record of the run (runIdText)
};

// The stage as a person and a record tell it apart: the identity exchange
// of -u and -v and the pause before the monitor state are part of the
// monitor state, so both show as Stage::monitor.
Stage shownAs(Stage stage);

// True when the drive did all that the run asked: programmed, already
// current (-s), identified, (for -v) its digest equal, or (for -n) it would
// be programmed.
bool driveSucceeded(const DriveState& drive);

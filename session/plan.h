// What every session of a run is to do, decided once by the command line and
// handed down whole: the mode, the image, -s, and the protocol's pauses.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "catalog/guard.h"
#include "image/image.h"
#include "session/drive_state.h"
#include "session/observer.h"

// The pauses of the protocol, by name. The drive's boot monitor is paced by
// them: after each send the session waits the command's pause before it
// looks at the answer or sends again.
enum class Pause : std::uint8_t {
  none,          // an exchange that is no pause and sends nothing
  linkStart,     // the link had this long to start
  connect,       // after each CMD_CONNECT
  monitorPause,  // before the drive is put into its monitor state
  monitor,       // after each CMD_ENTER_MONITOR
  block,         // after each CMD_PROGRAM_BLOCK
  verify,        // after each CMD_VERIFY
  reboot,        // after each CMD_REBOOT
  rebootPause,   // the drive restarts
};

// How long each pause lasts. The defaults are the pacing the drive's boot
// monitor needs; nothing shortens them for a drive.
struct Pacing {
  std::chrono::milliseconds linkStart{150};
  std::chrono::milliseconds connect{30};
  std::chrono::milliseconds monitorPause{2500};
  std::chrono::milliseconds monitor{150};
  std::chrono::milliseconds block{60};
  std::chrono::milliseconds verify{120};
  std::chrono::milliseconds reboot{30};
  std::chrono::milliseconds rebootPause{5000};

  std::chrono::milliseconds of(Pause pause) const;
};

struct SessionPlan {
  RunMode mode = RunMode::program;
  // The run's firmware image (null in RunMode::identity), shared read-only
  // by every session; it outlives them.
  const FirmwareImage* image = nullptr;
  // -s (programming runs): a drive whose digest equals the file's is asked
  // to verify the image it holds, and when it confirms, rebooted without
  // programming.
  bool skipCurrent = false;
  Pacing pacing{};
  // The release catalog, where the run has one: it names the releases of
  // the digests drives report, and in programming runs it decides, for
  // each drive in its monitor state and before any block, whether the
  // drive gets the file (releases.check). A drive it refuses gets no block
  // and is rebooted.
  ReleaseGuard releases{};
};

// How long the programming run would take, as a plan (-n) foresees it from
// its drives' results: each drive's time is the pauses it would wait (its
// connection, monitor state, blocks, verify and reboot; a current or
// refused drive skips what it would skip), answers taken as coming at once;
// the drives of a phase run side by side, the first `canaries` first (-c),
// the others only when every canary would succeed. A drive that failed adds
// nothing.
std::chrono::milliseconds plannedRunTime(const std::vector<DriveState>& drives,
                                         std::size_t canaries, const Pacing& pacing,
                                         std::size_t blockCount);

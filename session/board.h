// The drives' states, kept up to date from their sessions' events: the
// observer behind the several-drives console and the run records.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "link/transport.h"
#include "protocol/address.h"
#include "session/drive_state.h"
#include "session/observer.h"
#include "session/plan.h"

class DriveBoard : public SessionObserver {
 public:
  // Told after drive number `drive` changed (newStage: it entered a stage
  // with another name, or finished), with every drive's state, and once
  // more when its session ended.
  struct Listener {
    std::function<void(const std::vector<DriveState>& drives, std::size_t drive, bool newStage)>
        changed;
    std::function<void(const DriveState& drive)> ended;
  };

  // One drive per address, in the order given, for the run's plan (its
  // mode and releases); now tells the time of each event (the transport's
  // clock).
  DriveBoard(std::span<const DriveAddress> addresses, const SessionPlan& plan,
             std::function<TimePoint()> now, Listener listener = {});

  const std::vector<DriveState>& drives() const { return drives_; }

  // -c: drive number `drive` was left untouched (a canary failed, or the
  // run was stopped during the canaries); it ends as not started, and the
  // listener is told as for a drive that ended.
  void notStarted(std::size_t drive, HeldBack why);

  void stageStarted(DriveAddress drive, Stage stage) override;
  void countdown(DriveAddress drive, int count) override;
  void blockConfirmed(DriveAddress drive, std::size_t index, std::size_t count) override;
  void identityReceived(DriveAddress drive, const UnitIdentity& identity) override;
  void digestVerdict(DriveAddress drive, const Digest& fileDigest, const Digest& driveDigest,
                     bool equal) override;
  void digestReceived(DriveAddress drive, const Digest& driveDigest) override;
  void alreadyCurrent(DriveAddress drive) override;
  void withheld(DriveAddress drive, Refusal refusal) override;
  void failed(DriveAddress drive, const Failure& failure) override;
  void finished(DriveAddress drive, SessionResult result) override;

 private:
  // The drive's place, and the start of its session's time on the first
  // event; nothing for an address that is not one of the run's.
  std::optional<std::size_t> touch(DriveAddress drive);
  void changed(std::size_t index, bool newStage) const;

  RunMode mode_;
  ReleaseGuard releases_;
  std::function<TimePoint()> now_;
  Listener listener_;
  std::vector<DriveState> drives_;
  std::vector<std::optional<TimePoint>> started_;
  std::vector<std::optional<bool>> digestEqual_;
};

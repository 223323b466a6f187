// The console of a one-drive run: turns the session's events, the image
// load and the link's start into the loader's console texts, byte for byte
// as users and their scripts read them, and the failure lines of runs that fail.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "cli/run_output.h"
#include "image/image.h"
#include "link/link.h"
#include "session/drive_state.h"
#include "session/observer.h"

class ConsoleReporter final : public SessionObserver {
 public:
  ConsoleReporter(RunOutput& out, RunMode mode) : out_(out), mode_(mode) {}

  // With a catalog: the run's releases, named after the digests' lines,
  // and the words for a drive the catalog refuses.
  void nameReleases(const ReleaseGuard& releases) { releases_ = releases; }

  // The file's digest and size lines.
  void imageLoaded(const FirmwareImage& image);
  // path is null when no -fp was given.
  void imageFailed(ImageError error, const char* path);
  void linkFailed(LinkError error);

  void stageStarted(DriveAddress drive, Stage stage) override;
  void stageCompleted(DriveAddress drive, Stage stage) override;
  void countdown(DriveAddress drive, int count) override;
  void sendFailed(DriveAddress drive) override;
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
  // A count of the countdown stands until the next text writes over it.
  void clearCount();
  void writeDigest(const Digest& digest);
  void writeAddress(DriveAddress address);
  void writeExchange(const Failure& failure);
  DriveState seen() const;
  std::string refusalText() const;
  void writePlan();

  RunOutput& out_;
  RunMode mode_;
  bool countShown_ = false;
  std::size_t imageSize_ = 0;
  ReleaseGuard releases_;
  // What the drive told, for the line of a drive the catalog refuses.
  std::optional<UnitIdentity> identity_;
  std::optional<Digest> driveDigest_;
  std::optional<Refusal> refusal_;
  bool current_ = false;
};

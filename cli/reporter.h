// The console of a one-drive run: turns the session's events, the image
// load and the link's start into the loader's console texts, byte for byte
// as users and their scripts read them, and the failure lines of runs that fail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/run_output.h"
#include "image/image.h"
#include "link/link.h"
#include "session/observer.h"

class ConsoleReporter final : public SessionObserver {
 public:
  ConsoleReporter(RunOutput& out, RunMode mode) : out_(out), mode_(mode) {}

  // The file's digest and size lines.
  void imageLoaded(const FirmwareImage& image);
  // path is null when no -fp was given.
  void imageFailed(ImageError error, const char* path);
  void linkFailed(LinkError error);

  void stageStarted(std::uint32_t drive, Stage stage) override;
  void stageCompleted(std::uint32_t drive, Stage stage) override;
  void countdown(std::uint32_t drive, int count) override;
  void sendFailed(std::uint32_t drive) override;
  void blockConfirmed(std::uint32_t drive, std::size_t index, std::size_t count) override;
  void identityReceived(std::uint32_t drive, const UnitIdentity& identity) override;
  void digestVerdict(std::uint32_t drive, const Digest& fileDigest, const Digest& driveDigest,
                     bool equal) override;
  void alreadyCurrent(std::uint32_t drive) override;
  void failed(std::uint32_t drive, const Failure& failure) override;
  void finished(std::uint32_t drive, SessionResult result) override;

 private:
  // A count of the countdown stands until the next text writes over it.
  void clearCount();
  void writeDigest(const Digest& digest);
  void writeAddress(std::uint32_t address);
  void writeExchange(const Failure& failure);

  RunOutput& out_;
  RunMode mode_;
  bool countShown_ = false;
  std::size_t imageSize_ = 0;
};

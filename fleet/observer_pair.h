// Two observers told of the same session events, in order: a one-drive run
// has its console reporter and the board behind its outcome and record.
#pragma once

#include "session/observer.h"

class ObserverPair final : public SessionObserver {
 public:
  ObserverPair(SessionObserver& first, SessionObserver& second) : a_(first), b_(second) {}

  void stageStarted(std::uint32_t drive, Stage stage) override {
    a_.stageStarted(drive, stage);
    b_.stageStarted(drive, stage);
  }
  void stageCompleted(std::uint32_t drive, Stage stage) override {
    a_.stageCompleted(drive, stage);
    b_.stageCompleted(drive, stage);
  }
  void countdown(std::uint32_t drive, int count) override {
    a_.countdown(drive, count);
    b_.countdown(drive, count);
  }
  void sendFailed(std::uint32_t drive) override {
    a_.sendFailed(drive);
    b_.sendFailed(drive);
  }
  void blockConfirmed(std::uint32_t drive, std::size_t index, std::size_t count) override {
    a_.blockConfirmed(drive, index, count);
    b_.blockConfirmed(drive, index, count);
  }
  void identityReceived(std::uint32_t drive, const UnitIdentity& identity) override {
    a_.identityReceived(drive, identity);
    b_.identityReceived(drive, identity);
  }
  void digestVerdict(std::uint32_t drive, const Digest& fileDigest, const Digest& driveDigest,
                     bool equal) override {
    a_.digestVerdict(drive, fileDigest, driveDigest, equal);
    b_.digestVerdict(drive, fileDigest, driveDigest, equal);
  }
  void digestReceived(std::uint32_t drive, const Digest& driveDigest) override {
    a_.digestReceived(drive, driveDigest);
    b_.digestReceived(drive, driveDigest);
  }
  void alreadyCurrent(std::uint32_t drive) override {
    a_.alreadyCurrent(drive);
    b_.alreadyCurrent(drive);
  }
  void failed(std::uint32_t drive, const Failure& failure) override {
    a_.failed(drive, failure);
    b_.failed(drive, failure);
  }
  void finished(std::uint32_t drive, SessionResult result) override {
    a_.finished(drive, result);
    b_.finished(drive, result);
  }

 private:
  SessionObserver& a_;
  SessionObserver& b_;
};

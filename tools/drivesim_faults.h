// The running state of one drive's faults: what it has counted so far, and
// the decisions that follow from its DriveFaults.
#pragma once

#include <cstdint>
#include <map>
#include <random>

#include "tools/drivesim_options.h"

class FaultState {
 public:
  FaultState(const DriveFaults& faults, DriveAddress address);

  // Counts an incoming command of code; true when a --drop-in rule loses it.
  bool loseIncoming(std::uint16_t code);
  // Counts an answer of code about to go; true when a --drop-out rule loses it.
  bool loseAnswer(std::uint16_t code);

  // True when the answer faults hold for code.
  bool appliesTo(std::uint16_t code) const;
  // True when the drive takes in nothing of this command (silence).
  bool silentFor(std::uint16_t code, std::uint32_t target);
  // Counts a try of the command (tries of the same code and target in a
  // row); true when it is answered (--answer-on).
  bool answersTry(std::uint16_t code, std::uint32_t target);
  // True once, for the first command met with a stray datagram.
  bool takeStray();
  // Notes that a command was answered (for --silent-after-block).
  void answered(std::uint16_t code, std::uint32_t target);

  // How late the next answer goes, in ms: the delay and its jitter.
  long answerDelayMs();

  const DriveFaults& faults() const { return faults_; }

 private:
  static bool hits(const std::vector<DropRule>& rules, std::map<long, long>& counts,
                   std::uint16_t code);

  DriveFaults faults_;
  std::mt19937 random_;
  std::map<long, long> incoming_;  // per code, and -1 for all
  std::map<long, long> outgoing_;
  std::uint32_t lastCode_ = 0xFFFFFFFFu;
  std::uint32_t lastTarget_ = 0;
  long tries_ = 0;
  bool wentSilent_ = false;
  bool strayDone_ = false;
};

// The target address of block j.
std::uint64_t blockTarget(long long j);

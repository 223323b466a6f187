#include "tools/drivesim_faults.h"

#include "tools/drivesim_image.h"

std::uint64_t blockTarget(long long j) {
  return ImageStore::BASE + std::uint64_t{MAX_PAYLOAD} * static_cast<std::uint64_t>(j);
}

// Each drive draws its own jitter: the seed is mixed with its address.
FaultState::FaultState(const DriveFaults& faults, DriveAddress address)
    : faults_(faults),
      random_(static_cast<std::uint32_t>(faults.seed) ^ (address.toNet() * 2654435761u)) {}

bool FaultState::hits(const std::vector<DropRule>& rules, std::map<long, long>& counts,
                      std::uint16_t code) {
  const long ofCode = ++counts[code];
  const long ofAll = ++counts[-1];
  for (const DropRule& r : rules) {
    if ((r.code < 0 && r.nth == ofAll) || (r.code == code && r.nth == ofCode)) {
      return true;
    }
  }
  return false;
}

bool FaultState::loseIncoming(std::uint16_t code) { return hits(faults_.dropIn, incoming_, code); }

bool FaultState::loseAnswer(std::uint16_t code) { return hits(faults_.dropOut, outgoing_, code); }

bool FaultState::appliesTo(std::uint16_t code) const {
  return faults_.faultCode < 0 || faults_.faultCode == code;
}

bool FaultState::silentFor(std::uint16_t code, std::uint32_t target) {
  if (code == CMD_PROGRAM_BLOCK && faults_.silentFromBlock >= 0 &&
      target >= blockTarget(faults_.silentFromBlock)) {
    wentSilent_ = true;
  }
  return appliesTo(code) && (faults_.silent || wentSilent_);
}

bool FaultState::answersTry(std::uint16_t code, std::uint32_t target) {
  if (code == lastCode_ && target == lastTarget_) {
    ++tries_;
  } else {
    lastCode_ = code;
    lastTarget_ = target;
    tries_ = 1;
  }
  return !appliesTo(code) || tries_ >= faults_.answerOn;
}

bool FaultState::takeStray() {
  if (!faults_.stray || strayDone_) {
    return false;
  }
  strayDone_ = true;
  return true;
}

void FaultState::answered(std::uint16_t code, std::uint32_t target) {
  if (code == CMD_PROGRAM_BLOCK && faults_.silentAfterBlock >= 0 &&
      target == blockTarget(faults_.silentAfterBlock)) {
    wentSilent_ = true;
  }
}

long FaultState::answerDelayMs() {
  long delay = faults_.delayMs;
  if (faults_.jitterMs > 0) {
    delay += std::uniform_int_distribution<long>(0, faults_.jitterMs)(random_);
  }
  return delay;
}

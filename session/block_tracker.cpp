#include "session/block_tracker.h"

#include <algorithm>

void BlockTracker::noteAnswerTime(Duration taken) {
  longestAnswer_ = std::max(longestAnswer_, taken);
}

BlockTracker::Duration BlockTracker::horizon() const {
  return std::clamp(2 * longestAnswer_, pause_, Duration{MAX_HORIZON});
}

void BlockTracker::dropOldest() {
  head_ = (head_ + 1) % CAPACITY;
  --count_;
}

void BlockTracker::sent(std::size_t block, TimePoint at) {
  if (count_ == CAPACITY) {
    dropOldest();
  }
  sends_[(head_ + count_) % CAPACITY] = Send{block, at};
  ++count_;
}

BlockTracker::Verdict BlockTracker::answered(std::size_t current, TimePoint now) {
  drained(now);
  Verdict verdict;
  if (count_ == 0) {
    // A surplus: re-send from the earliest block confirmed within the
    // horizon, unless a re-send has started there (or later) already.
    std::optional<std::size_t> earliest;
    for (std::size_t i = 0; i < confirmationsCount_; ++i) {
      const Confirmation& c = confirmations_[(confirmationsNext_ + CAPACITY - 1 - i) % CAPACITY];
      if (now - c.at < horizon() && (!earliest || c.block < *earliest)) {
        earliest = c.block;
      }
    }
    if (earliest && (!lastResendFrom_ || *earliest > *lastResendFrom_)) {
      lastResendFrom_ = earliest;
      verdict.resendFrom = earliest;
    }
    return verdict;
  }
  const Send taken = sends_[head_];
  const bool alone = count_ == 1;
  dropOldest();
  if (taken.block != current) {
    return verdict;  // a late answer to an earlier block
  }
  if (alone) {
    noteAnswerTime(now - taken.at);  // it can belong to this one send only
  }
  confirmations_[confirmationsNext_] = Confirmation{current, now};
  confirmationsNext_ = (confirmationsNext_ + 1) % CAPACITY;
  confirmationsCount_ = std::min(confirmationsCount_ + 1, CAPACITY);
  verdict.confirms = true;
  return verdict;
}

bool BlockTracker::drained(TimePoint now) {
  while (count_ > 0 && now - sends_[head_].at >= horizon()) {
    dropOldest();
  }
  return count_ == 0;
}

TimePoint BlockTracker::drainDeadline() const { return sends_[head_].at + horizon(); }

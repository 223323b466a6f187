#include "session/block_tracker.h"

#include <algorithm>

void BlockTracker::noteAnswerTime(Duration taken) {
  longestAnswer_ = std::max(longestAnswer_, taken);
}

void BlockTracker::noteCopyGap(Duration gap) {
  copies_ = true;
  copyGap_ = std::max(copyGap_, std::min(gap, Duration{MAX_HORIZON}));
}

// The oldest send an answer arriving now could belong to: the oldest still
// outstanding, or one given up as lost within MAX_HORIZON (a guess that may
// have been too short).
BlockTracker::Duration BlockTracker::longestPossible(TimePoint now) {
  while (givenUpCount_ > 0 && now - givenUp_[givenUpHead_] >= MAX_HORIZON) {
    givenUpHead_ = (givenUpHead_ + 1) % CAPACITY;
    --givenUpCount_;
  }
  std::optional<TimePoint> oldest;
  if (givenUpCount_ > 0) {
    oldest = givenUp_[givenUpHead_];
  }
  if (count_ > 0 && (!oldest || sends_[head_].at < *oldest)) {
    oldest = sends_[head_].at;
  }
  return oldest ? now - *oldest : Duration{0};
}

void BlockTracker::learn(TimePoint now) { noteAnswerTime(longestPossible(now)); }

void BlockTracker::confirm(std::size_t block, TimePoint now) {
  confirmations_[confirmationsNext_] = Confirmation{block, now};
  confirmationsNext_ = (confirmationsNext_ + 1) % CAPACITY;
  confirmationsCount_ = std::min(confirmationsCount_ + 1, CAPACITY);
}

BlockTracker::Verdict BlockTracker::answeredByTime(std::size_t current, TimePoint now) {
  Verdict verdict;
  if (count_ == 0) {
    // Between blocks nothing is outstanding for a copy to stand in for.
    if (lastAnswer_) {
      noteCopyGap(now - *lastAnswer_);
    }
    return verdict;
  }
  const Send oldest = sends_[head_];
  lastAnswer_ = now;
  if (oldest.block != current) {
    return verdict;
  }
  confirm(current, now);
  verdict.confirms = true;
  return verdict;
}

BlockTracker::Duration BlockTracker::horizon() const {
  return std::clamp(2 * longestAnswer_, pause_, Duration{MAX_HORIZON});
}

void BlockTracker::dropOldest() {
  head_ = (head_ + 1) % CAPACITY;
  --count_;
}

void BlockTracker::giveUpOldest() {
  if (givenUpCount_ == CAPACITY) {
    givenUpHead_ = (givenUpHead_ + 1) % CAPACITY;
    --givenUpCount_;
  }
  givenUp_[(givenUpHead_ + givenUpCount_) % CAPACITY] = sends_[head_].at;
  ++givenUpCount_;
  dropOldest();
}

void BlockTracker::sent(std::size_t block, TimePoint at) {
  if (count_ == CAPACITY) {
    giveUpOldest();
  }
  sends_[(head_ + count_) % CAPACITY] = Send{block, at};
  ++count_;
}

BlockTracker::Verdict BlockTracker::answered(std::size_t current, TimePoint now) {
  // Learnt before anything is given up by the horizon this answer may widen.
  learn(now);
  drained(now);
  if (copies_) {
    return answeredByTime(current, now);
  }
  Verdict verdict;
  if (count_ == 0) {
    if (lastAnswer_) {
      noteCopyGap(now - *lastAnswer_);
    }
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
  dropOldest();
  lastAnswer_ = now;
  if (taken.block != current) {
    return verdict;  // a late answer to an earlier block
  }
  confirm(current, now);
  verdict.confirms = true;
  return verdict;
}

bool BlockTracker::drained(TimePoint now) {
  while (count_ > 0 && now - sends_[head_].at >= horizon()) {
    giveUpOldest();
  }
  return count_ == 0 && (!lastAnswer_ || now >= *lastAnswer_ + 2 * copyGap_);
}

TimePoint BlockTracker::drainDeadline() const {
  const TimePoint copyPast = lastAnswer_ ? *lastAnswer_ + 2 * copyGap_ : TimePoint{};
  return count_ == 0 ? copyPast : std::max(sends_[head_].at + horizon(), copyPast);
}

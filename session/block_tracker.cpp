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
BlockTracker::Duration BlockTracker::longestPossible(TimePoint now) const {
  std::optional<TimePoint> oldest;
  for (std::size_t i = 0; i < givenUp_.size(); ++i) {
    if (now - givenUp_[i] < MAX_HORIZON) {
      oldest = givenUp_[i];
      break;
    }
  }
  if (!sends_.empty() && (!oldest || sends_.front().at < *oldest)) {
    oldest = sends_.front().at;
  }
  return oldest ? now - *oldest : Duration{0};
}

void BlockTracker::learn(TimePoint now) { noteAnswerTime(longestPossible(now)); }

BlockTracker::Verdict BlockTracker::answeredByTime(std::size_t current, TimePoint now) {
  Verdict verdict;
  if (sends_.empty()) {
    // Between blocks nothing is outstanding for a copy to stand in for.
    if (lastAnswer_) {
      noteCopyGap(now - *lastAnswer_);
    }
    return verdict;
  }
  const Event oldest = sends_.front();
  lastAnswer_ = now;
  if (oldest.block != current) {
    return verdict;
  }
  confirmations_.push(Event{current, now});
  verdict.confirms = true;
  return verdict;
}

BlockTracker::Duration BlockTracker::horizon() const {
  return std::clamp(2 * longestAnswer_, pause_, Duration{MAX_HORIZON});
}

void BlockTracker::giveUpOldest() {
  givenUp_.push(sends_.front().at);
  sends_.pop();
}

void BlockTracker::sent(std::size_t block, TimePoint at) {
  if (sends_.full()) {
    giveUpOldest();
  }
  sends_.push(Event{block, at});
}

BlockTracker::Verdict BlockTracker::answered(std::size_t current, TimePoint now) {
  // Learnt before anything is given up by the horizon this answer may widen.
  learn(now);
  giveUpLost(now);
  if (copies_) {
    return answeredByTime(current, now);
  }
  Verdict verdict;
  if (sends_.empty()) {
    if (lastAnswer_) {
      noteCopyGap(now - *lastAnswer_);
    }
    // A surplus: re-send from the earliest block confirmed within the
    // horizon, unless a re-send has started there (or later) already.
    std::optional<std::size_t> earliest;
    for (std::size_t i = 0; i < confirmations_.size(); ++i) {
      const Event& c = confirmations_[i];
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
  const Event taken = sends_.front();
  sends_.pop();
  lastAnswer_ = now;
  if (taken.block != current) {
    return verdict;  // a late answer to an earlier block
  }
  confirmations_.push(Event{current, now});
  verdict.confirms = true;
  return verdict;
}

void BlockTracker::giveUpLost(TimePoint now) {
  while (!sends_.empty() && now - sends_.front().at >= horizon()) {
    giveUpOldest();
  }
}

bool BlockTracker::drained(TimePoint now) const {
  for (std::size_t i = 0; i < sends_.size(); ++i) {
    if (now - sends_[i].at < horizon()) {
      return false;
    }
  }
  return !lastAnswer_ || now >= *lastAnswer_ + 2 * copyGap_;
}

TimePoint BlockTracker::drainDeadline(TimePoint now) const {
  const TimePoint copyPast = lastAnswer_ ? *lastAnswer_ + 2 * copyGap_ : TimePoint{};
  for (std::size_t i = 0; i < sends_.size(); ++i) {
    if (now - sends_[i].at < horizon()) {
      return std::max(sends_[i].at + horizon(), copyPast);
    }
  }
  return copyPast;
}

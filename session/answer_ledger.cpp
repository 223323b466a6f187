#include "session/answer_ledger.h"

#include <algorithm>

#include "protocol/loader.h"

bool AnswerLedger::counted(std::uint16_t code) {
  return code >= CMD_CONNECT && code <= CMD_ENTER_MONITOR && code != CMD_PROGRAM_BLOCK;
}

void AnswerLedger::sent(std::uint16_t code) {
  if (counted(code)) {
    ++counts_[code - CMD_CONNECT].sends;
  }
}

void AnswerLedger::begin(std::uint16_t code) {
  if (counted(code)) {
    Count& c = counts_[code - CMD_CONNECT];
    c.earlier = c.sends;
  }
}

bool AnswerLedger::answered(std::uint16_t code) {
  if (!counted(code)) {
    return false;
  }
  Count& c = counts_[code - CMD_CONNECT];
  // An answer to a command this session never sent belongs to none of its
  // exchanges (a run before this one, or a stranger).
  if (c.sends == 0) {
    return false;
  }
  ++c.answers;
  if (c.answers > c.sends * answersPerSend_) {
    answersPerSend_ = (c.answers + c.sends - 1) / c.sends;
  }
  return c.answers > c.earlier * answersPerSend_;
}

int AnswerLedger::unanswered(std::uint16_t code) const {
  if (!counted(code)) {
    return 0;
  }
  const Count& c = counts_[code - CMD_CONNECT];
  const int owed = c.earlier * answersPerSend_ - c.answers;
  return std::max(0, (owed + answersPerSend_ - 1) / answersPerSend_);
}

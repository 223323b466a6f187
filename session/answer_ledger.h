// Which answers may confirm an exchange whose command the session sent in
// an earlier exchange too.
//
// A session sends CMD_VERIFY twice over with -s: first to check the image
// the drive already holds, then, when that check is not confirmed and the
// drive was programmed, to verify the new image. The drive's answer carries
// only the command's code, and a drive may answer at any delay, so neither
// the answer nor its time tells which send it answers: a check answered late
// can land in the verify's pause, and a drive that never verified its new
// image would be called good. BlockTracker reasons the same way about
// blocks (CMD_PROGRAM_BLOCK is left to it); this ledger does it for every
// other command:
//
// - Every answer from the drive counts, whenever it arrives (in whatever
//   phase, with whatever status): the ledger keeps, per command, how many
//   sends went out and how many answers came.
// - As long as the drive answers each send at most once, the k-th answer to
//   a command answers one of the command's first k sends. An exchange that
//   began after s sends of its command is therefore confirmed (or refused)
//   only by an answer after the first s: whatever the delay, an answer that
//   could belong to an earlier exchange never stands in for this one.
// - A drive that answers some send more than once (more answers to a
//   command than sends of it) makes plain counting too trusting: the ledger
//   learns the most answers per send it has seen, and an exchange then waits
//   for that many answers per earlier send.
// - An earlier send whose answer has not come may still be answered, or may
//   have been lost; its exchange was given up either way. The exchange under
//   way gets one more try for each such send (at most as many again as its
//   own tries), so that a drive whose earlier answers were lost, and which
//   answers every send now, still shows an answer that cannot be an earlier
//   exchange's. A good run has nothing unanswered and keeps its pacing.
//
// What this guarantees: for a drive caught answering at most n times per
// send (n learnt from what it did), no answer to an earlier exchange
// confirms a later one, however late it comes. A drive that answers more
// often than it ever showed, only after the later exchange began, can still
// fool it; the drive's own check at CMD_VERIFY and its reboot are then the
// last guard, as for blocks.
#pragma once

#include <array>
#include <cstdint>

class AnswerLedger {
 public:
  // A send of code went out.
  void sent(std::uint16_t code);
  // An exchange of code begins (before its first send): the sends made
  // before it are the ones its answers must not be taken from.
  void begin(std::uint16_t code);
  // An answer to code arrived from the drive. True when it may be an answer
  // to the exchange begun last with that code: every answer the earlier
  // sends can have drawn has come before it.
  bool answered(std::uint16_t code);
  // Sends of code made before the exchange under way whose answers have not
  // all come: the extra tries the exchange is given.
  int unanswered(std::uint16_t code) const;

 private:
  struct Count {
    int sends = 0;
    int answers = 0;
    int earlier = 0;  // sends before the exchange begun last with this code
  };
  // The commands counted: CMD_CONNECT to CMD_ENTER_MONITOR but the blocks.
  static bool counted(std::uint16_t code);

  std::array<Count, 5> counts_{};  // by code, from CMD_CONNECT on
  int answersPerSend_ = 1;         // the most the drive was seen to answer one send
};

// One drive's session: a state machine driven by deadlines and arriving
// datagrams, that leads the drive's boot monitor through the fixed series of
// command exchanges: connect, enter the monitor state, program block by
// block, verify, reboot; in the identity and verify runs it stops at the
// drive's identity and digest.
//
// It never waits itself: whoever runs it (session/runner.h) calls start
// once, then onDatagram for every datagram from the drive and onDeadline
// once nextDeadline has come, on one thread.
//
// Only the drive's own answer counts: a datagram answers the command in
// flight when it comes from the drive's address, is at least 5 bytes long,
// carries that command's code and cannot be an answer to an earlier
// exchange of the same command (AnswerLedger; BlockTracker for blocks).
// Anything else is ignored. An answer with a status other than 1 is a
// refusal and ends the session at once, with nothing more sent.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "image/image.h"
#include "link/transport.h"
#include "protocol/address.h"
#include "session/answer_ledger.h"
#include "session/block_tracker.h"
#include "session/identity_answers.h"
#include "session/observer.h"
#include "session/plan.h"

class DriveSession {
 public:
  // The plan (its image among it), the transport and the observer outlive
  // the session.
  DriveSession(DriveAddress drive, const SessionPlan& plan, Transport& transport,
               SessionObserver& observer);

  DriveAddress drive() const { return drive_; }

  void start(TimePoint now);
  void onDatagram(DriveAddress from, std::span<const std::uint8_t> datagram, TimePoint now);
  void onDeadline(TimePoint now);
  // The run was stopped: an unfinished session ends at once, sends nothing
  // more and reports where it stopped (failed, then finished, both with
  // the reason or result interrupted).
  void interrupt();

  // When onDeadline is due; empty once the session has finished.
  std::optional<TimePoint> nextDeadline() const { return deadline_; }
  bool finished() const { return step_ == Step::done; }
  SessionResult result() const { return result_; }

 private:
  // Where the session stands in its walk: each step is one row of the
  // exchange table, and each row names the Stage it belongs to (the stage
  // observers are told and failures are reported in). The steps that are no
  // stage of their own (the link's start, draining, the pause after the
  // reboot, done) belong to the stage around them.
  enum class Step : std::uint8_t {
    linkStart,
    identityProbe,
    connection,
    monitorPause,
    monitor,
    currentCheck,  // -s: CMD_VERIFY of the image the drive already holds
    programming,
    draining,  // a block is confirmed; earlier sends may still be answered
    verify,
    reboot,
    rebootPause,
    done,
  };

  // One exchange with the drive, or a pause between exchanges, as the
  // session walks it. Every step has one row (drive_session_exchanges.cpp):
  // a send goes out, its pause runs from the moment it went out; when the
  // pause runs out an answered exchange leads on, an unanswered one is sent
  // again until its tries are spent. A step that sends nothing (a pause)
  // leads on when its pause runs out. Null handlers take the usual course.
  struct Exchange {
    Step step;
    Stage stage;                 // where a failure in it is reported
    std::uint8_t code = 0;       // the command sent and answered; 0: none
    Pause pause = Pause::none;   // after each send; or the pause the step is
    int tries = 0;               // sends at most; 0: it sends nothing
    bool lastPauseHeard = true;  // an answer in the pause after the last send counts
    // An answer to an earlier exchange of the same command serves this one
    // as well: it carries all the exchange asks for (the drive's identity).
    bool earlierAnswersServe = false;
    // Sends one try; null: the command with no payload.
    SendResult (DriveSession::*send)(const Exchange&) = nullptr;
    // Takes an answer with status 1; null: the exchange is answered.
    void (DriveSession::*take)(const Response&, TimePoint) = nullptr;
    // Takes an answer with another status; null: the session fails, refused.
    void (DriveSession::*refused)() = nullptr;
    // The pause after an answered send, or the step's pause, ran out.
    void (DriveSession::*answered)(TimePoint) = nullptr;
    // Every try went unanswered; null: the session fails, no answer.
    void (DriveSession::*unanswered)(TimePoint) = nullptr;
  };
  static const Exchange& exchange(Step step);

  void enter(Step step, TimePoint now);
  void sendTry();
  void pauseFrom(Pause pause);
  std::chrono::milliseconds lengthOf(Pause pause) const { return plan_.pacing.of(pause); }
  SendResult sendCommand(std::uint16_t code, std::uint32_t target,
                         std::span<const std::uint8_t> payload);

  // How each exchange sends, takes answers and leads on.
  SendResult sendConnect(const Exchange& row);
  SendResult sendBlock(const Exchange& row);
  void takeIdentityAnswer(const Response& response, TimePoint now);
  void takeBlockAnswer(const Response& response, TimePoint now);
  void noteCurrentRefused();
  void linkStarted(TimePoint now);
  void beginConnection(TimePoint now);
  void connected(TimePoint now);
  void monitorPauseOver(TimePoint now);
  void identityAnswered(TimePoint now);
  void currentChecked(TimePoint now);
  void beginProgramming(TimePoint now);
  void blockAnswered(TimePoint now);
  void drainThenNext(TimePoint now);
  void nextBlock(TimePoint now);
  void verified(TimePoint now);
  void rebootAnswered(TimePoint now);
  void rebootPauseOver(TimePoint now);
  void finishReport();
  void planDrive(const Digest& driveDigest);

  Failure failureHere(FailureReason reason, std::uint8_t status) const;
  void fail(FailureReason reason, std::uint8_t status = 0);
  void finish(SessionResult result);

  DriveAddress drive_;
  const SessionPlan& plan_;
  bool skipCurrent_;
  bool currentRefused_ = false;    // the drive refused to verify what it holds
  bool programmingBegan_ = false;  // a block was sent: the drive's image is being replaced
  Transport& transport_;
  SessionObserver& observer_;

  Step step_ = Step::linkStart;
  std::optional<TimePoint> deadline_;
  SessionResult result_ = SessionResult::failed;
  TimePoint lastSend_{};         // when the last send went out
  TimePoint exchangeStarted_{};  // when the exchange under way began
  int tries_ = 0;                // sends of the exchange under way
  int triesAllowed_ = 0;         // its sends at most
  bool answered_ = false;        // the exchange under way was answered

  std::size_t block_ = 0;
  std::size_t blockCount_ = 0;
  std::size_t blocksReported_ = 0;
  BlockTracker tracker_;
  AnswerLedger ledger_;

  IdentityAnswers identity_;
  TimePoint identityAnswered_{};
  bool reportDue_ = false;  // -u, -v: the pause after the answered send ran out
};

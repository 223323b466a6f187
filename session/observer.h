// What a drive session tells about its run, as it happens. Every event names
// the drive by its address. The console reporter
// (cli/reporter.h) turns the events of one drive into the loader's console
// texts; other observers show or record many drives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "catalog/guard.h"
#include "protocol/address.h"
#include "protocol/identity.h"
#include "protocol/loader.h"

// Which kind of run the sessions make.
enum class RunMode : std::uint8_t {
  program,   // program the firmware file
  identity,  // -u: show the unit identity
  verify,    // -v: compare the file's digest with the drive's
  // -n: what a programming run would do to each drive, from what a verify
  // run reads of it (its identity and digest); nothing else is sent
  plan,
};

// The stages of a session, in the order they can come. A person and a
// record see the identity probe and the monitor pause as part of the monitor
// state (shownAs, drive_state.h).
enum class Stage : std::uint8_t {
  identityProbe,  // -u, -v: CMD_ENTER_MONITOR before any connection
  connection,     // CMD_CONNECT with its countdown
  monitorPause,   // the pause before the drive is put into its monitor state
  monitor,        // CMD_ENTER_MONITOR; its answer carries the identity
  programming,    // CMD_PROGRAM_BLOCK, block by block
  verify,         // CMD_VERIFY
  reboot,         // CMD_REBOOT and the pause after it
};

enum class FailureReason : std::uint8_t {
  noAnswer,     // every try of the stage went unanswered
  refused,      // the drive answered with a status other than 1
  unreachable,  // no network this PC is attached to leads to the address
  ownAddress,   // the address is this PC's own (or 0.0.0.0)
  noIdentity,   // -u, -v: the drive's answer lacks the whole identity record
  noDigest,     // -u, -v: the drive's answer lacks its firmware digest
  interrupted,  // the user stopped the run (Ctrl+C, SIGTERM, a closed terminal)
  notUnicast,   // a multicast (224.0.0.0/4) or reserved (240.0.0.0/4) address
};

struct Failure {
  Stage stage = Stage::connection;
  std::optional<std::size_t> block;  // the block, counted from 0, in programming
  FailureReason reason = FailureReason::noAnswer;
  std::uint8_t status = 0;  // the drive's status byte, for a refusal
  // The drive took blocks of the image (its programming began) and did not
  // confirm its reboot: it holds part of an image and must be programmed
  // again.
  bool imageIncomplete = false;
};

enum class SessionResult : std::uint8_t {
  completed,  // programmed and rebooted; or identity (and digest) reported
  failed,
  interrupted,  // the run was stopped before the session ended
};

// Every event of a session, once: its name, its parameters, and the names
// they are passed on by. SessionObserver declares each; SessionFanOut passes
// each on to every listener. An event added here reaches both, so no
// listener misses one in silence.
//
// - stageStarted(drive, stage); stageCompleted(drive, stage): the stage got
//   what it waited for (the pause of monitorPause ran out).
// - countdown(drive, count): a CMD_CONNECT went out; count runs from 1000
//   down to 1.
// - sendFailed(drive): a send failed and counts as a try without an answer.
// - blockConfirmed(drive, index, count): block index (from 0) of count was
//   confirmed by the drive for the first time; each block is reported once.
// - identityReceived(drive, identity).
// - digestVerdict(drive, fileDigest, driveDigest, equal): -v, the file's
//   digest beside the drive's.
// - digestReceived(drive, driveDigest): -u, and a programming run before its
//   first block: the drive reported its digest (no comparison is made).
// - alreadyCurrent(drive): -s, the drive reported the file's digest and
//   confirmed a verify of the image it holds; no block is sent and the
//   reboot follows. In a plan (-n, with -s): the drive reported the file's
//   digest, so the programming run would find it current.
// - withheld(drive, refusal): a programming run's catalog refused the drive
//   the file's release (catalog/guard.h); no block is sent and the reboot
//   follows. In a plan: the programming run would refuse it.
// - failed(drive, failure).
// - finished(drive, result): the last event of a session.
#define TOVRIN_SESSION_EVENTS(EVENT)                                                             \
  EVENT(stageStarted, (DriveAddress drive, Stage stage), (drive, stage))                         \
  EVENT(stageCompleted, (DriveAddress drive, Stage stage), (drive, stage))                       \
  EVENT(countdown, (DriveAddress drive, int count), (drive, count))                              \
  EVENT(sendFailed, (DriveAddress drive), (drive))                                               \
  EVENT(blockConfirmed, (DriveAddress drive, std::size_t index, std::size_t count),              \
        (drive, index, count))                                                                   \
  EVENT(identityReceived, (DriveAddress drive, const UnitIdentity& identity), (drive, identity)) \
  EVENT(digestVerdict,                                                                           \
        (DriveAddress drive, const Digest& fileDigest, const Digest& driveDigest, bool equal),   \
        (drive, fileDigest, driveDigest, equal))                                                 \
  EVENT(digestReceived, (DriveAddress drive, const Digest& driveDigest), (drive, driveDigest))   \
  EVENT(alreadyCurrent, (DriveAddress drive), (drive))                                           \
  EVENT(withheld, (DriveAddress drive, Refusal refusal), (drive, refusal))                       \
  EVENT(failed, (DriveAddress drive, const Failure& failure), (drive, failure))                  \
  EVENT(finished, (DriveAddress drive, SessionResult result), (drive, result))

// Every event does nothing unless an observer overrides it.
class SessionObserver {
  static void ignored(const auto&... /*arguments*/) {}

 public:
  virtual ~SessionObserver() = default;
  SessionObserver() = default;
  SessionObserver(const SessionObserver&) = delete;
  SessionObserver& operator=(const SessionObserver&) = delete;

#define TOVRIN_DECLARE_EVENT(name, parameters, arguments) \
  virtual void name parameters { ignored arguments; }
  TOVRIN_SESSION_EVENTS(TOVRIN_DECLARE_EVENT)
#undef TOVRIN_DECLARE_EVENT
};

// The same events told to several listeners, in the order given: a
// one-drive run has its console reporter and the board behind its outcome
// and record.
class SessionFanOut final : public SessionObserver {
 public:
  SessionFanOut(std::initializer_list<SessionObserver*> listeners) : listeners_(listeners) {}

#define TOVRIN_FAN_OUT_EVENT(name, parameters, arguments) \
  void name parameters override {                         \
    for (SessionObserver * listener : listeners_) {       \
      listener->name arguments;                           \
    }                                                     \
  }
  TOVRIN_SESSION_EVENTS(TOVRIN_FAN_OUT_EVENT)
#undef TOVRIN_FAN_OUT_EVENT

 private:
  std::vector<SessionObserver*> listeners_;
};

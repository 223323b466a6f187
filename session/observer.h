// What a drive session tells about its run, as it happens. Every event names
// the drive by its address (host byte order). The console reporter
// (cli/reporter.h) turns the events of one drive into the loader's console
// texts; other observers show or record many drives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/identity.h"
#include "protocol/loader.h"

// Which kind of run the sessions make.
enum class RunMode : std::uint8_t {
  program,   // program the firmware file
  identity,  // -u: show the unit identity
  verify,    // -v: compare the file's digest with the drive's
};

// The stages of a session, in the order they can come.
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

// Every event does nothing unless an observer overrides it.
class SessionObserver {
 public:
  virtual ~SessionObserver() = default;
  SessionObserver() = default;
  SessionObserver(const SessionObserver&) = delete;
  SessionObserver& operator=(const SessionObserver&) = delete;

  virtual void stageStarted(std::uint32_t /*drive*/, Stage /*stage*/) {}
  // The stage got what it waited for (the pause of monitorPause ran out).
  virtual void stageCompleted(std::uint32_t /*drive*/, Stage /*stage*/) {}
  // A CMD_CONNECT went out; count runs from 1000 down to 1.
  virtual void countdown(std::uint32_t /*drive*/, int /*count*/) {}
  // A send failed and counts as a try without an answer.
  virtual void sendFailed(std::uint32_t /*drive*/) {}
  // Block index (from 0) of count was confirmed by the drive for the first
  // time; each block is reported once.
  virtual void blockConfirmed(std::uint32_t /*drive*/, std::size_t /*index*/,
                              std::size_t /*count*/) {}
  virtual void identityReceived(std::uint32_t /*drive*/, const UnitIdentity& /*identity*/) {}
  // -v: the file's digest beside the drive's.
  virtual void digestVerdict(std::uint32_t /*drive*/, const Digest& /*fileDigest*/,
                             const Digest& /*driveDigest*/, bool /*equal*/) {}
  // -u, and a programming run before its first block: the drive reported
  // its digest (no comparison is made).
  virtual void digestReceived(std::uint32_t /*drive*/, const Digest& /*driveDigest*/) {}
  // -s: the drive reported the file's digest and confirmed a verify of the
  // image it holds; no block is sent and the reboot follows.
  virtual void alreadyCurrent(std::uint32_t /*drive*/) {}
  virtual void failed(std::uint32_t /*drive*/, const Failure& /*failure*/) {}
  // Last event of a session.
  virtual void finished(std::uint32_t /*drive*/, SessionResult /*result*/) {}
};

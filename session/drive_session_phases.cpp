// The phases of a drive session as the rest of the program sees them: the
// stage each belongs to, and the command whose answer each waits for.
#include "protocol/loader.h"
#include "session/drive_session.h"

Stage DriveSession::stageOf(Phase phase) {
  switch (phase) {
    case Phase::identityProbe:
      return Stage::identityProbe;
    case Phase::linkStart:
    case Phase::connection:
      return Stage::connection;
    case Phase::monitorPause:
      return Stage::monitorPause;
    case Phase::monitor:
      return Stage::monitor;
    case Phase::programming:
    case Phase::draining:
      return Stage::programming;
    case Phase::currentCheck:
    case Phase::verify:
      return Stage::verify;
    case Phase::reboot:
    case Phase::rebootPause:
    case Phase::done:
      break;
  }
  return Stage::reboot;
}

std::optional<std::uint8_t> DriveSession::codeInFlight() const {
  switch (phase_) {
    case Phase::identityProbe:
    case Phase::monitor:
      return CMD_ENTER_MONITOR;
    case Phase::connection:
      return CMD_CONNECT;
    case Phase::programming:
    case Phase::draining:
      return CMD_PROGRAM_BLOCK;
    case Phase::currentCheck:
    case Phase::verify:
      return CMD_VERIFY;
    case Phase::reboot:
      return CMD_REBOOT;
    case Phase::linkStart:
    case Phase::monitorPause:
    case Phase::rebootPause:
    case Phase::done:
      break;
  }
  return std::nullopt;
}

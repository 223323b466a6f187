#include "session/drive_state.h"

Stage shownAs(Stage stage) {
  switch (stage) {
    case Stage::identityProbe:
    case Stage::monitorPause:
      return Stage::monitor;
    case Stage::connection:
    case Stage::monitor:
    case Stage::programming:
    case Stage::verify:
    case Stage::reboot:
      break;
  }
  return stage;
}

bool driveSucceeded(const DriveState& drive) {
  return drive.result == DriveResult::programmed || drive.result == DriveResult::current ||
         drive.result == DriveResult::identified || drive.result == DriveResult::digestEqual ||
         drive.result == DriveResult::wouldProgram;
}

#include "session/drive_state.h"

ShownStage shownStage(std::optional<Stage> stage) {
  if (!stage) {
    return ShownStage::waiting;
  }
  switch (*stage) {
    case Stage::connection:
      return ShownStage::connection;
    case Stage::identityProbe:
    case Stage::monitorPause:
    case Stage::monitor:
      return ShownStage::monitorState;
    case Stage::programming:
      return ShownStage::programming;
    case Stage::verify:
      return ShownStage::verify;
    case Stage::reboot:
      break;
  }
  return ShownStage::reboot;
}

bool driveSucceeded(const DriveState& drive) {
  return drive.result == DriveResult::programmed || drive.result == DriveResult::current ||
         drive.result == DriveResult::identified || drive.result == DriveResult::digestEqual;
}

#include "session/drive_state.h"

bool driveSucceeded(const DriveState& drive) {
  return drive.result == DriveResult::programmed || drive.result == DriveResult::current ||
         drive.result == DriveResult::identified || drive.result == DriveResult::digestEqual;
}

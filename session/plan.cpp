#include "session/plan.h"

std::chrono::milliseconds Pacing::of(Pause pause) const {
  switch (pause) {
    case Pause::linkStart:
      return linkStart;
    case Pause::connect:
      return connect;
    case Pause::monitorPause:
      return monitorPause;
    case Pause::monitor:
      return monitor;
    case Pause::block:
      return block;
    case Pause::verify:
      return verify;
    case Pause::reboot:
      return reboot;
    case Pause::rebootPause:
      return rebootPause;
    case Pause::none:
      break;
  }
  return std::chrono::milliseconds{0};
}

#include "platform/pause.h"

#include <chrono>
#include <thread>

// Some system sleeps round the time down to their tick and return a little
// early; the loop sleeps again until the full pause has passed on the
// monotonic clock, so a pause is never shorter than asked.
void pauseMs(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (auto now = std::chrono::steady_clock::now(); now < deadline;
       now = std::chrono::steady_clock::now()) {
    std::this_thread::sleep_for(deadline - now);
  }
}

// The one clock of the loader's waits and deadlines: monotonic, so that a
// change of the wall clock never moves a deadline. Every test seam (the
// session's transport, discovery's network) tells time in these types, and
// the fakes behind them in the same types on a virtual clock.
#pragma once

#include <chrono>

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;

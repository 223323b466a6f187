#include "session/runner.h"

#include <algorithm>
#include <array>
#include <memory>

#include "protocol/loader.h"
#include "session/drive_session.h"

std::vector<DriveOutcome> runDrives(std::span<const std::uint32_t> drives, RunMode mode,
                                    const FirmwareImage* image, SessionObserver& observer,
                                    Transport& transport, bool skipCurrent) {
  std::vector<std::unique_ptr<DriveSession>> sessions;
  for (const std::uint32_t drive : drives) {
    const bool known = std::any_of(sessions.begin(), sessions.end(),
                                   [&](const auto& s) { return s->drive() == drive; });
    if (!known) {
      sessions.push_back(
          std::make_unique<DriveSession>(drive, mode, image, transport, observer, skipCurrent));
    }
  }
  const TimePoint start = transport.now();
  for (const auto& session : sessions) {
    session->start(start);
  }

  std::array<std::uint8_t, MAX_PAYLOAD> area{};
  for (;;) {
    std::optional<TimePoint> nearest;
    for (const auto& session : sessions) {
      const std::optional<TimePoint> due = session->nextDeadline();
      if (due && (!nearest || *due < *nearest)) {
        nearest = due;
      }
    }
    if (!nearest) {
      break;  // every session has finished
    }
    const std::optional<Received> got = transport.receive(area, *nearest);
    const TimePoint now = transport.now();
    if (transport.stopRequested()) {
      // Nothing more goes out: every unfinished session says where it
      // stopped, in the order of the run's drives.
      for (const auto& session : sessions) {
        session->interrupt();
      }
      break;
    }
    if (got) {
      for (const auto& session : sessions) {
        if (session->drive() == got->from) {
          session->onDatagram(got->from, std::span(area).first(got->size), now);
          break;
        }
      }
    }
    for (const auto& session : sessions) {
      const std::optional<TimePoint> due = session->nextDeadline();
      if (due && *due <= now) {
        session->onDeadline(now);
      }
    }
  }

  std::vector<DriveOutcome> outcomes;
  for (const std::uint32_t drive : drives) {
    for (const auto& session : sessions) {
      if (session->drive() == drive) {
        outcomes.push_back({drive, session->result()});
        break;
      }
    }
  }
  return outcomes;
}

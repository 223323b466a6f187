#include "session/runner.h"

#include <algorithm>
#include <array>
#include <memory>

#include "protocol/loader.h"
#include "session/board.h"
#include "session/drive_session.h"

std::vector<DriveState> runDrives(std::span<const DriveAddress> drives, const SessionPlan& plan,
                                  SessionObserver& observer, Transport& transport) {
  std::vector<DriveAddress> addresses;
  for (const DriveAddress drive : drives) {
    if (std::find(addresses.begin(), addresses.end(), drive) == addresses.end()) {
      addresses.push_back(drive);
    }
  }
  // The board keeps each drive's state from the same events the observer
  // is told, and is told first.
  DriveBoard board(addresses, plan, [&transport] { return transport.now(); });
  SessionFanOut told{&board, &observer};
  std::vector<std::unique_ptr<DriveSession>> sessions;
  sessions.reserve(addresses.size());
  for (const DriveAddress drive : addresses) {
    sessions.push_back(std::make_unique<DriveSession>(drive, plan, transport, told));
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

  return board.drives();
}

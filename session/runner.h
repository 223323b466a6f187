// Runs one session per drive, all of them on the calling thread over one
// transport: it waits for the next datagram until the nearest deadline of
// any session, hands each datagram to the session of its sender's address
// and each deadline to the session whose deadline it is. No busy waiting:
// between events the thread sleeps in the transport's receive. Once the
// transport says the user asked to stop, no session sends again: each
// unfinished one ends as interrupted.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "image/image.h"
#include "link/transport.h"
#include "session/observer.h"

struct DriveOutcome {
  std::uint32_t drive = 0;  // host byte order
  SessionResult result = SessionResult::failed;
};

// One session per address (each address once), in the mode given; image is
// the run's firmware image (null in RunMode::identity), shared read-only by every
// session. Returns when every session has finished, one outcome per address
// in the order given. skipCurrent: -s (drive_session.h).
std::vector<DriveOutcome> runDrives(std::span<const std::uint32_t> drives, RunMode mode,
                                    const FirmwareImage* image, SessionObserver& observer,
                                    Transport& transport, bool skipCurrent = false);

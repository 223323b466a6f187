// Runs one session per drive, all of them on the calling thread over one
// transport: it waits for the next datagram until the nearest deadline of
// any session, hands each datagram to the session of its sender's address
// and each deadline to the session whose deadline it is. No busy waiting:
// between events the thread sleeps in the transport's receive. Once the
// transport says the user asked to stop, no session sends again: each
// unfinished one ends as interrupted.
#pragma once

#include <span>
#include <vector>

#include "link/transport.h"
#include "protocol/address.h"
#include "session/drive_state.h"
#include "session/observer.h"
#include "session/plan.h"

// One session per address (each address once), each as the plan says,
// telling observer every event. Returns when every session has finished:
// each drive as it ended (its result, where and why it stopped, what it
// reported; session/board.h), once per address in the order given.
std::vector<DriveState> runDrives(std::span<const DriveAddress> drives, const SessionPlan& plan,
                                  SessionObserver& observer, Transport& transport);

// The drive's answers to CMD_ENTER_MONITOR in one session: which identity
// record has been shown, and whether an answer has brought the drive's
// firmware digest.
//
// A drive may answer first without the whole record (fewer than its 112
// bytes) or without its digest (a length field of 112 or less), and send the
// complete answer later. The identity and verify runs keep listening for up
// to WAIT from the first answer for one with the digest. Every answer that
// holds the whole record shows it, whatever its length field says (that
// decides only the digest), unless the same record was shown already.
#pragma once

#include <chrono>
#include <optional>

#include "link/transport.h"
#include "protocol/identity.h"
#include "protocol/loader.h"

class IdentityAnswers {
 public:
  static constexpr std::chrono::seconds WAIT{5};

  // Takes one answer with status 1 that arrived at now; returns its record
  // when it holds one that was not shown before.
  std::optional<UnitIdentity> take(const Response& response, TimePoint now);

  // When the wait for a complete answer ends. Only once an answer came.
  TimePoint waitEnds() const { return *first_ + WAIT; }
  bool identityShown() const { return shown_.has_value(); }
  // The record shown last; none before one was.
  std::optional<UnitIdentity> identity() const;
  const std::optional<Digest>& digest() const { return digest_; }

 private:
  std::optional<TimePoint> first_;
  std::optional<IdentityBytes> shown_;
  std::optional<Digest> digest_;
};

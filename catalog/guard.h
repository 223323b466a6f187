// Whether the run's release may go onto a drive: decided from what the drive
// reported in its monitor state, before any block is sent.
//
// The drive's model, hardware revision, current rating and monitor revision
// are held to the release's manifest, in that order; the first that the
// release does not allow refuses the drive. A drive that reports the digest
// of a release newer than the file's is refused too, unless older releases
// are allowed (--allow-older). A digest unknown to the catalog refuses
// nothing.
#pragma once

#include <cstdint>
#include <optional>

#include "catalog/catalog.h"
#include "protocol/identity.h"
#include "protocol/loader.h"

enum class Refusal : std::uint8_t {
  model,             // the drive's model code is none the release is for
  hardwareRevision,  // nor its hardware revision
  currentRating,     // nor its current rating
  monitorRevision,   // its monitor revision is below the release's lowest
  newerOnDrive,      // it holds a release of the catalog newer than the file's
};

// True for the refusals that say the release is not for the drive.
bool incompatible(Refusal refusal);

// The first of the release's compatibility fields that the drive's identity
// does not meet.
std::optional<Refusal> incompatibility(const Compatibility& allowed, const UnitIdentity& drive);

// What a run knows of the releases: the catalog, the release the run's
// file is, and whether an older one may replace a newer. Without a catalog
// (or, in -u runs, without a file) it names no release and refuses no drive.
struct ReleaseGuard {
  const Catalog* catalog = nullptr;  // outlives the run
  const Release* file = nullptr;     // one of the catalog's releases
  bool allowOlder = false;

  // Why the file's release may not go onto the drive; nothing when it may.
  std::optional<Refusal> check(const UnitIdentity& drive,
                               const std::optional<Digest>& driveDigest) const;
  // The release a drive that reports this digest holds; null when the
  // catalog has none (or there is no catalog).
  const Release* releaseOf(const Digest& driveDigest) const;
};

#include "catalog/guard.h"

#include <algorithm>
#include <string>

#include "catalog/manifest.h"
#include "catalog/version.h"
#include "protocol/value_text.h"

namespace {

// An absent list allows every value.
template <typename T>
bool allows(const std::optional<std::vector<T>>& list, const T& value) {
  return !list || std::find(list->begin(), list->end(), value) != list->end();
}

}  // namespace

bool incompatible(Refusal refusal) { return refusal != Refusal::newerOnDrive; }

std::optional<Refusal> incompatibility(const Compatibility& allowed, const UnitIdentity& drive) {
  const std::string model = modelText(drive);
  if (std::find(allowed.models.begin(), allowed.models.end(), model) == allowed.models.end()) {
    return Refusal::model;
  }
  if (!allows(allowed.hardwareRevisions, hardwareRevisionText(drive))) {
    return Refusal::hardwareRevision;
  }
  if (allowed.currentRatings) {
    // A rating that is no number (NaN, infinite) matches none.
    const std::optional<std::int64_t> rating =
        centiAmperes(static_cast<double>(drive.currentCapability));
    if (!rating || !allows(allowed.currentRatings, *rating)) {
      return Refusal::currentRating;
    }
  }
  if (allowed.minMonitorRevision && drive.monitorRevision < *allowed.minMonitorRevision) {
    return Refusal::monitorRevision;
  }
  return std::nullopt;
}

std::optional<Refusal> ReleaseGuard::check(const UnitIdentity& drive,
                                           const std::optional<Digest>& driveDigest) const {
  if (file == nullptr) {
    return std::nullopt;
  }
  if (const auto refusal = incompatibility(file->manifest.compatibility, drive)) {
    return refusal;
  }
  if (driveDigest && !allowOlder) {
    const Release* held = releaseOf(*driveDigest);
    if (held != nullptr && compareVersions(held->manifest.version, file->manifest.version) > 0) {
      return Refusal::newerOnDrive;
    }
  }
  return std::nullopt;
}

const Release* ReleaseGuard::releaseOf(const Digest& driveDigest) const {
  return catalog != nullptr ? catalog->releaseOfDriveDigest(driveDigest) : nullptr;
}

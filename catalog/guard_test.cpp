// Which drives a release may go onto: the compatibility fields one by one
// and in their order, and the guard against replacing a newer release.
#include "catalog/guard.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

UnitIdentity driveOf(const char* model, const char* revision, float amperes, int monitor) {
  UnitIdentity id;
  id.modelCode = {static_cast<std::uint8_t>(model[0]), static_cast<std::uint8_t>(model[1]),
                  static_cast<std::uint8_t>(model[2]), ' '};
  id.hardwareRevision = {static_cast<std::uint8_t>(revision[0]),
                         static_cast<std::uint8_t>(revision[2]),
                         static_cast<std::uint8_t>(revision[3]), ' '};
  id.currentCapability = amperes;
  id.monitorRevision = monitor;
  return id;
}

TEST(ReleaseGuard, CompatibilityFieldsInTheirOrder) {
  Compatibility all;
  all.models = {"KVB", "KVC"};
  all.hardwareRevisions = {{"1.02", "1.03"}};
  all.currentRatings = {{1000, 2000}};  // 10.00 A, 20.00 A
  all.minMonitorRevision = 3;
  Compatibility modelOnly;
  modelOnly.models = {"KVB"};

  const struct {
    const char* name;
    const Compatibility& allowed;
    UnitIdentity drive;
    std::optional<Refusal> refusal;
  } cases[] = {
      {"every field met", all, driveOf("KVC", "1.03", 20.0F, 3), std::nullopt},
      {"model", all, driveOf("KVA", "1.03", 20.0F, 3), Refusal::model},
      // the model is compared first, whatever else is wrong
      {"model before the rest", all, driveOf("KVA", "9.99", 99.0F, 0), Refusal::model},
      {"hardware revision", all, driveOf("KVB", "1.01", 10.0F, 3), Refusal::hardwareRevision},
      {"current rating", all, driveOf("KVB", "1.02", 30.0F, 9), Refusal::currentRating},
      // compared at the identity's two decimals
      {"rating shown as 10.00", all, driveOf("KVB", "1.02", 10.004F, 3), std::nullopt},
      {"rating shown as 10.01", all, driveOf("KVB", "1.02", 10.006F, 3), Refusal::currentRating},
      {"rating no number", all, driveOf("KVB", "1.02", std::numeric_limits<float>::quiet_NaN(), 3),
       Refusal::currentRating},
      {"monitor revision below", all, driveOf("KVB", "1.02", 10.0F, 2), Refusal::monitorRevision},
      {"absent fields allow every value", modelOnly, driveOf("KVB", "7.77", -1.0F, -5),
       std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(incompatibility(c.allowed, c.drive), c.refusal) << c.name;
  }
}

Release releaseOf(const char* version, std::uint8_t digestByte) {
  Release release;
  release.manifest.version = version;
  release.manifest.compatibility.models = {"KV7"};
  release.driveDigest = Digest{digestByte};
  return release;
}

TEST(ReleaseGuard, NoSilentDowngrade) {
  const Catalog catalog({releaseOf("4.10", 3), releaseOf("4.9", 2), releaseOf("4.2", 1)});
  const Release& v49 = catalog.releases()[1];
  const UnitIdentity drive = driveOf("KV7", "1.02", 10.0F, 5);
  const ReleaseGuard guard{&catalog, &v49, false};
  const ReleaseGuard allowOlder{&catalog, &v49, true};

  EXPECT_EQ(guard.check(drive, Digest{3}), Refusal::newerOnDrive);  // 4.10 after 4.9
  EXPECT_EQ(allowOlder.check(drive, Digest{3}), std::nullopt);
  EXPECT_EQ(guard.check(drive, Digest{2}), std::nullopt);  // the same release
  EXPECT_EQ(guard.check(drive, Digest{1}), std::nullopt);  // an older one
  EXPECT_EQ(guard.check(drive, Digest{9}), std::nullopt);  // unknown to the catalog
  EXPECT_EQ(guard.check(drive, std::nullopt), std::nullopt);
  EXPECT_EQ(guard.releaseOf(Digest{3}), &catalog.releases()[2]);
  // an incompatible drive is refused as such, newer release or not
  EXPECT_EQ(allowOlder.check(driveOf("KVA", "1.02", 10.0F, 5), Digest{3}), Refusal::model);
  // without a catalog (or without the file's release) nothing is refused
  EXPECT_EQ(ReleaseGuard{}.check(driveOf("KVA", "1.02", 10.0F, 5), Digest{3}), std::nullopt);
  EXPECT_EQ(ReleaseGuard{}.releaseOf(Digest{3}), nullptr);
}

}  // namespace

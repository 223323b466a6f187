// Reading manifests: the fields kept, every fault with the field it names,
// and the manifest to fill in.
#include "catalog/manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string SHA = std::string(64, 'a');
const std::string MD5 = std::string(32, 'b');

// A valid manifest's fields with extra put after them (a field given twice
// takes its last value).
std::string manifest(const std::string& extra) {
  return R"({"version": "4.2", "file": "kv-4.2.bin", "sha256": ")" + SHA +
         R"(", "models": ["KVB"])" + (extra.empty() ? "" : ", " + extra) + "}";
}

TEST(Manifest, KeepsItsFields) {
  const ManifestRead read = readManifest(
      manifest(R"("driveDigest": ")" + MD5 +
               R"(", "hardwareRevisions": ["1.02", "1.03"], "currentRatings": [10, 20.5, 0.125],)"
               R"( "minMonitorRevision": 3, "notes": "n", "models": ["KVB", "KV "])"));
  ASSERT_EQ(read.fault, ManifestFault::none) << read.field;
  const Manifest& m = read.manifest;
  EXPECT_EQ(m.version, "4.2");
  EXPECT_EQ(m.file, "kv-4.2.bin");
  EXPECT_EQ(m.sha256->front(), 0xaa);
  EXPECT_EQ(m.driveDigest->back(), 0xbb);
  EXPECT_EQ(m.compatibility.models, (std::vector<std::string>{"KVB", "KV "}));
  EXPECT_EQ(m.compatibility.hardwareRevisions, (std::vector<std::string>{"1.02", "1.03"}));
  // as "%.2f" shows them: 0.125 is exactly that in binary, and rounds to even
  EXPECT_EQ(m.compatibility.currentRatings, (std::vector<std::int64_t>{1000, 2050, 12}));
  EXPECT_EQ(m.compatibility.minMonitorRevision, 3);
  EXPECT_EQ(m.notes, "n");

  // absent and null compatibility fields allow every value; a drive digest
  // may stand for the file
  const ManifestRead bare = readManifest(R"({"version": "1", "driveDigest": ")" + MD5 +
                                         R"(", "models": ["KVB"], "minMonitorRevision": null})");
  ASSERT_EQ(bare.fault, ManifestFault::none) << bare.field;
  EXPECT_FALSE(bare.manifest.file);
  EXPECT_FALSE(bare.manifest.compatibility.hardwareRevisions);
  EXPECT_FALSE(bare.manifest.compatibility.currentRatings);
  EXPECT_FALSE(bare.manifest.compatibility.minMonitorRevision);
}

TEST(Manifest, Faults) {
  using F = ManifestFault;
  const struct {
    std::string text;
    ManifestFault fault;
    const char* field;
  } cases[] = {
      {"", F::notJson, ""},
      {"{\"version\": \"4.2\"", F::notJson, ""},
      {manifest(R"("notes": "\xff")"), F::notJson, ""},  // not UTF-8
      {"[1]", F::notAnObject, ""},
      {"null", F::notAnObject, ""},
      {R"({"file": "a.bin", "sha256": ")" + SHA + R"(", "models": ["KVB"]})", F::missingField,
       "version"},
      {R"({"version": "1", "file": "a.bin", "sha256": ")" + SHA + R"("})", F::missingField,
       "models"},
      {R"({"version": "1", "file": "a.bin", "models": ["KVB"]})", F::missingField, "sha256"},
      {R"({"version": "1", "models": ["KVB"]})", F::missingField, "file"},
      {manifest(R"("version": 4.2)"), F::wrongType, "version"},
      {manifest(R"("version": null)"), F::wrongType, "version"},
      {manifest(R"("models": "KVB")"), F::wrongType, "models"},
      {manifest(R"("models": [1])"), F::wrongType, "models"},
      {manifest(R"("file": ["a"])"), F::wrongType, "file"},
      {manifest(R"("currentRatings": ["10"])"), F::wrongType, "currentRatings"},
      {manifest(R"("minMonitorRevision": 3.5)"), F::wrongType, "minMonitorRevision"},
      {manifest(R"("minMonitorRevision": "3")"), F::wrongType, "minMonitorRevision"},
      {manifest(R"("notes": 1)"), F::wrongType, "notes"},
      {manifest(R"("version": "")"), F::badValue, "version"},
      {manifest(R"("version": "4..2")"), F::badValue, "version"},
      {manifest(R"("file": "")"), F::badValue, "file"},
      {manifest(R"("sha256": "abc")"), F::badValue, "sha256"},
      {manifest(R"("sha256": ")" + std::string(63, 'a') + "g\""), F::badValue, "sha256"},
      {manifest(R"("driveDigest": ")" + SHA + "\""), F::badValue, "driveDigest"},
      {manifest(R"("models": [])"), F::badValue, "models"},
      {manifest(R"("models": ["KVBX"])"), F::badValue, "models"},
      {manifest(R"("models": ["K\tB"])"), F::badValue, "models"},
      {manifest(R"("hardwareRevisions": [])"), F::badValue, "hardwareRevisions"},
      {manifest(R"("hardwareRevisions": ["102"])"), F::badValue, "hardwareRevisions"},
      {manifest(R"("hardwareRevisions": ["1.023"])"), F::badValue, "hardwareRevisions"},
      {manifest(R"("currentRatings": [-1])"), F::badValue, "currentRatings"},
      {manifest(R"("currentRatings": [1e300])"), F::badValue, "currentRatings"},
      {manifest(R"("minMonitorRevision": 2147483648)"), F::badValue, "minMonitorRevision"},
      {manifest(R"("minMonitorRevision": -2147483649)"), F::badValue, "minMonitorRevision"},
      {manifest(R"("model": ["KVB"])"), F::unknownField, "model"},
  };
  for (const auto& c : cases) {
    const ManifestRead read = readManifest(c.text);
    EXPECT_EQ(read.fault, c.fault) << c.text;
    EXPECT_EQ(read.field, c.field) << c.text;
  }
}

// Deep nesting and a large text end as a fault or a manifest, without
// running out of stack.
TEST(Manifest, DeepAndLargeTexts) {
  EXPECT_EQ(readManifest(std::string(1 << 20, '[')).fault, ManifestFault::notJson);
  EXPECT_EQ(readManifest(std::string(1 << 17, '[') + std::string(1 << 17, ']')).fault,
            ManifestFault::notAnObject);
  EXPECT_EQ(readManifest(manifest(R"("notes": ")" + std::string(10 << 20, 'x') + "\"")).fault,
            ManifestFault::none);
}

// The manifest to fill in reads back as one whose version is still to be
// given, and a name that is not UTF-8 still gives JSON.
TEST(Manifest, DraftToFillIn) {
  Sha256Digest sha{};
  sha[0] = 0x12;
  Digest md5{};
  md5[15] = 0xef;
  const std::string draft = draftManifestJson("kv-4.2.bin", sha, md5);
  EXPECT_EQ(draft,
            "{\n"
            "  \"version\": \"\",\n"
            "  \"file\": \"kv-4.2.bin\",\n"
            "  \"sha256\": \"12" +
                std::string(62, '0') +
                "\",\n"
                "  \"driveDigest\": \"" +
                std::string(30, '0') +
                "ef\",\n"
                "  \"models\": [],\n"
                "  \"hardwareRevisions\": [],\n"
                "  \"currentRatings\": [],\n"
                "  \"minMonitorRevision\": null,\n"
                "  \"notes\": \"\"\n"
                "}\n");
  const ManifestRead read = readManifest(draft);
  EXPECT_EQ(read.fault, ManifestFault::badValue);
  EXPECT_EQ(read.field, "version");
  EXPECT_NE(readManifest(draftManifestJson("fw\xff.bin", sha, md5)).fault, ManifestFault::notJson);
}

}  // namespace

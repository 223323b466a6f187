// Loading a catalog folder: the releases it gives, and each way a folder is
// refused, bad and hostile contents among them.
#include "catalog/catalog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "image/image.h"
#include "protocol/value_text.h"
#include "testkit/expected.h"
#include "testkit/process.h"
#include "testkit/scratch_folder.h"

namespace {

// A catalog folder, loaded.
class Folder : public ScratchFolder {
 public:
  CatalogLoad load() const { return loadCatalog(path()); }
};

Digest imageDigest(const std::string& bytes) {
  return makeImage({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}).digest;
}

Sha256Digest sha256Of(const std::string& bytes) {
  Sha256Digest digest{};
  const std::string raw = sha256(bytes);
  std::copy(raw.begin(), raw.end(), digest.begin());
  return digest;
}

TEST(Catalog, ReleasesInVersionOrderFoundByEitherDigest) {
  Folder folder;
  const std::string v410 = folder.release("4.10");
  const std::string v49 = folder.release("4.9");
  const Digest stated{1, 2, 3};
  folder.release("4.9.1", R"(, "driveDigest": ")" + md5Text(stated) + "\"");
  writeFile(folder.path("README.txt"), "not a manifest");
  writeFile(folder.path("4.0.json"), R"({"version": "4.0", "driveDigest": ")" +
                                         std::string(32, 'c') + R"(", "models": ["KVB"]})");

  const CatalogLoad load = folder.load();
  ASSERT_FALSE(load.problem) << load.problem->manifest;
  const auto releases = load.catalog.releases();
  ASSERT_EQ(releases.size(), 4u);
  EXPECT_EQ(releases[0].manifest.version, "4.0");
  EXPECT_EQ(releases[1].manifest.version, "4.9");
  EXPECT_EQ(releases[2].manifest.version, "4.9.1");
  EXPECT_EQ(releases[3].manifest.version, "4.10");
  EXPECT_EQ(releases[3].manifestName, "4.10.json");
  // computed from the file where not stated, as the image module computes it
  EXPECT_EQ(releases[3].driveDigest, imageDigest(v410));
  EXPECT_EQ(releases[2].driveDigest, stated);

  EXPECT_EQ(load.catalog.releaseOfFile(sha256Of(v49)), &releases[1]);
  EXPECT_EQ(load.catalog.releaseOfFile(sha256Of(v49 + "x")), nullptr);
  EXPECT_EQ(load.catalog.releaseOfDriveDigest(imageDigest(v410)), &releases[3]);
  EXPECT_EQ(load.catalog.releaseOfDriveDigest(Digest{}), nullptr);
}

// Each refusal names the manifest at fault and what is wrong with it.
TEST(Catalog, Refusals) {
  using F = CatalogFault;
  const auto sameFile = [](Folder& f) {
    const std::string bytes = f.release("1.0");
    writeFile(f.path("1.1.json"), manifestText("1.1", "fw-1.0.bin", hex(sha256(bytes))));
  };
  const struct {
    const char* what;
    void (*make)(Folder&);
    CatalogFault fault;
    const char* manifest;
    const char* other;
  } cases[] = {
      {"invalid JSON", [](Folder& f) { writeFile(f.path("a.json"), "{"); }, F::badManifest,
       "a.json", ""},
      {"a FIFO", [](Folder& f) { ASSERT_EQ(mkfifo(f.path("x.json").c_str(), 0600), 0); },
       F::cantRead, "x.json", ""},
      {"a loop of links",
       [](Folder& f) { ASSERT_EQ(symlink("x.json", f.path("x.json").c_str()), 0); }, F::cantRead,
       "x.json", ""},
      {"a folder", [](Folder& f) { ASSERT_EQ(mkdir(f.path("d.json").c_str(), 0700), 0); },
       F::cantRead, "d.json", ""},
      {"a manifest of 10 MB",
       [](Folder& f) { writeFile(f.path("big.json"), std::string(10 << 20, ' ')); }, F::tooLarge,
       "big.json", ""},
      {"a path outside",
       [](Folder& f) {
         writeFile(f.path("p.json"), manifestText("1", "../../etc/passwd", std::string(64, 'a')));
       },
       F::fileOutside, "p.json", ""},
      {"an absolute path",
       [](Folder& f) {
         writeFile(f.path("p.json"), manifestText("1", "/etc/passwd", std::string(64, 'a')));
       },
       F::fileOutside, "p.json", ""},
      {"a link leading out",
       [](Folder& f) {
         ASSERT_EQ(symlink("/etc/passwd", f.path("out.bin").c_str()), 0);
         writeFile(f.path("p.json"), manifestText("1", "out.bin", std::string(64, 'a')));
       },
       F::fileOutside, "p.json", ""},
      {"a missing file",
       [](Folder& f) {
         writeFile(f.path("m.json"), manifestText("1", "none.bin", std::string(64, 'a')));
       },
       F::fileMissing, "m.json", ""},
      {"a file too small for an image",
       [](Folder& f) {
         writeFile(f.path("s.bin"), "short");
         writeFile(f.path("s.json"), manifestText("1", "s.bin", hex(sha256("short"))));
       },
       F::fileUnusable, "s.json", ""},
      {"a SHA-256 that differs",
       [](Folder& f) {
         f.release("1.0");
         writeFile(f.path("fw-1.0.bin"), sampleFile(1000, 999));
       },
       F::sha256Differs, "1.0.json", ""},
      {"one version twice",
       [](Folder& f) {
         f.release("4.2");
         f.release("4.02");
       },
       F::duplicateVersion, "4.2.json", "4.02.json"},
      {"one file twice", sameFile, F::duplicateSha256, "1.1.json", "1.0.json"},
      {"one drive digest twice",
       [](Folder& f) {
         // Files that differ only in the bytes the image header replaces.
         std::string bytes = sampleFile(100);
         writeFile(f.path("a.bin"), bytes);
         writeFile(f.path("a.json"), manifestText("1", "a.bin", hex(sha256(bytes))));
         bytes[0] ^= 1;
         writeFile(f.path("b.bin"), bytes);
         writeFile(f.path("b.json"), manifestText("2", "b.bin", hex(sha256(bytes))));
       },
       F::duplicateDigest, "b.json", "a.json"},
  };
  for (const auto& c : cases) {
    Folder folder;
    c.make(folder);
    const CatalogLoad load = folder.load();
    ASSERT_TRUE(load.problem) << c.what;
    EXPECT_EQ(load.problem->fault, c.fault) << c.what;
    EXPECT_EQ(load.problem->manifest, folder.path(c.manifest)) << c.what;
    EXPECT_EQ(load.problem->other, *c.other ? folder.path(c.other) : "") << c.what;
  }
  Folder gone;
  const CatalogLoad missing = loadCatalog(gone.path("none"));
  ASSERT_TRUE(missing.problem);
  EXPECT_EQ(missing.problem->fault, F::cantList);
}

// Many manifests, a manifest's name that is not UTF-8 (its text must be),
// a file in a folder inside.
TEST(Catalog, ManyManifestsAndStrangeNames) {
  Folder folder;
  for (int i = 0; i < 1000; ++i) {
    folder.release("1." + std::to_string(i), "", 64);
  }
  ASSERT_EQ(mkdir(folder.path("sub").c_str(), 0700), 0);
  const std::string bytes = sampleFile(65);
  writeFile(folder.path("sub/fw-\xc3\xa9.bin"), bytes);
  writeFile(folder.path("\xfe.json"),
            manifestText("2.0", "sub/fw-\xc3\xa9.bin", hex(sha256(bytes))));
  const CatalogLoad load = folder.load();
  ASSERT_FALSE(load.problem) << load.problem->manifest;
  EXPECT_EQ(load.catalog.releases().size(), 1001u);
  EXPECT_EQ(load.catalog.releases().back().manifestName, "\xfe.json");
}

// The example in contrib/ is a catalog, its stated drive digest the one its
// file gives.
TEST(Catalog, TheExampleLoads) {
  const CatalogLoad load = loadCatalog(sourcePath("contrib/catalog-example"));
  ASSERT_FALSE(load.problem) << load.problem->manifest;
  ASSERT_EQ(load.catalog.releases().size(), 1u);
  const Release& release = load.catalog.releases().front();
  EXPECT_EQ(release.manifest.version, "1.0");
  const std::string file = sourcePath("contrib/catalog-example/sample-1.0.bin");
  EXPECT_EQ(release.driveDigest, digestFile(file.c_str(), true).driveDigest);
}

TEST(Catalog, DigestFileAsTheImageLoaderRefusesFiles) {
  Folder folder;
  const std::string bytes = sampleFile(5000);
  writeFile(folder.path("fw.bin"), bytes);
  const FileDigests digests = digestFile(folder.path("fw.bin").c_str(), true);
  EXPECT_EQ(digests.error, ImageError::none);
  EXPECT_EQ(digests.sha256, sha256Of(bytes));
  EXPECT_EQ(digests.driveDigest, loadFirmwareImage(folder.path("fw.bin").c_str()).image.digest);
  writeFile(folder.path("empty.bin"), "");
  EXPECT_EQ(digestFile(folder.path("empty.bin").c_str(), false).error, ImageError::empty);
  EXPECT_EQ(digestFile(folder.path("none.bin").c_str(), false).error, ImageError::cantOpen);
}

}  // namespace

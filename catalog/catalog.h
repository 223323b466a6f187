// The release catalog: the firmware releases a plant allows, one manifest
// each (catalog/manifest.h) in one folder.
//
// The folder is read whole when the catalog is loaded: every *.json in it is
// a manifest, every manifest must be valid, every release's file must be in
// the folder with the SHA-256 its manifest states, and no two releases may
// share a version, a SHA-256 or a drive digest. Each file is read once; its
// drive digest is computed only where its manifest does not state it (one
// stated beside a file is taken as stated).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalog/manifest.h"
#include "catalog/sha256.h"
#include "image/image.h"
#include "protocol/loader.h"

struct Release {
  std::string manifestName;  // the manifest's file name in the folder
  Manifest manifest;
  Digest driveDigest{};  // stated, or computed from the file
};

enum class CatalogFault : std::uint8_t {
  none,
  cantList,          // the folder can't be listed
  cantRead,          // a manifest can't be opened or read, or is no regular file
  tooLarge,          // a manifest over MAX_MANIFEST_SIZE
  badManifest,       // a manifest's text: manifestFault and field say what
  fileOutside,       // "file" leads outside the folder
  fileMissing,       // "file" names nothing
  fileUnusable,      // the file can't be read or is no firmware file: imageError
  sha256Differs,     // the file's SHA-256 is not the one stated
  duplicateVersion,  // other: the manifest with the same version
  duplicateSha256,   // other: the manifest with the same SHA-256
  duplicateDigest,   // other: the manifest with the same drive digest
};

// Why a catalog was refused: the first fault found, manifests in the order
// of their names.
struct CatalogProblem {
  CatalogFault fault = CatalogFault::none;
  std::string manifest;  // the manifest's path (the folder's for cantList)
  ManifestFault manifestFault = ManifestFault::none;
  std::string field;
  ImageError imageError = ImageError::none;
  std::string other;  // the path of the other manifest of a duplicate
};

inline constexpr std::uint64_t MAX_MANIFEST_SIZE = 1024 * 1024;

class Catalog {
 public:
  Catalog() = default;
  // The releases, in any order; kept in the order of their versions.
  explicit Catalog(std::vector<Release> releases);

  // Oldest first.
  std::span<const Release> releases() const { return releases_; }

  // The release whose file has this SHA-256; null when none has.
  const Release* releaseOfFile(const Sha256Digest& sha256) const;
  // The release a drive that reports this digest holds; null when none.
  const Release* releaseOfDriveDigest(const Digest& digest) const;

 private:
  std::vector<Release> releases_;
};

struct CatalogLoad {
  std::optional<CatalogProblem> problem;  // set: the catalog is refused
  Catalog catalog;
};

CatalogLoad loadCatalog(const std::string& folder);

// A firmware file's digests, from one read of it: its SHA-256 and, where
// asked for, the digest a drive that holds it reports.
struct FileDigests {
  ImageError error = ImageError::none;  // as loadFirmwareImage refuses files
  Sha256Digest sha256{};
  Digest driveDigest{};
};

FileDigests digestFile(const char* path, bool withDriveDigest);

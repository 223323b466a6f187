// A release's manifest: one JSON object per release, in a file of its own
// (*.json) in the catalog's folder. Its fields:
//
//   version             required  string, a dotted release name
//                                 (catalog/version.h), e.g. "4.2"
//   file                          string, the release's file, a path
//                                 inside the catalog's folder
//   sha256                        string, 64 hex digits: the SHA-256 of the
//                                 file's bytes; required with "file"
//   driveDigest                   string, 32 hex digits: the digest a drive
//                                 that holds the release reports (-v prints
//                                 it), the MD5 of the image
//                                 (image/image.h); required without "file",
//                                 computed from the file where absent
//   models              required  array of model codes as the drive's
//                                 identity shows them: 3 characters, "KVB"
//   hardwareRevisions             array of revisions as the identity shows
//                                 them: "1.02"
//   currentRatings                array of numbers, amperes; compared at
//                                 two decimals, as the identity shows them
//   minMonitorRevision            integer: the lowest monitor revision
//   notes                         string, free text
//
// A compatibility field (the last four but notes) that is absent or null
// allows every value; a list given must name one value at least. Any other
// field is refused: a misspelt one would otherwise allow every value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/sha256.h"
#include "protocol/loader.h"

// What a release allows a drive to be, as the manifest states it.
struct Compatibility {
  std::vector<std::string> models;
  std::optional<std::vector<std::string>> hardwareRevisions;
  // Hundredths of an ampere (centiAmperes()).
  std::optional<std::vector<std::int64_t>> currentRatings;
  std::optional<std::int32_t> minMonitorRevision;
};

struct Manifest {
  std::string version;
  std::optional<std::string> file;
  std::optional<Sha256Digest> sha256;
  std::optional<Digest> driveDigest;
  Compatibility compatibility;
  std::string notes;
};

enum class ManifestFault : std::uint8_t {
  none,
  notJson,       // not valid JSON (or not UTF-8)
  notAnObject,   // valid JSON, but no object
  missingField,  // field: the required field absent
  wrongType,     // field: its value is of another JSON type
  badValue,      // field: of the right type, but no value it may take
  unknownField,  // field: no field of a manifest
};

struct ManifestRead {
  ManifestFault fault = ManifestFault::none;
  std::string field;  // the field at fault, where there is one
  Manifest manifest;  // as far as it was read
};

// Reads a manifest's text. Never throws; any text gives a manifest or a fault.
ManifestRead readManifest(std::string_view text);

// A rating in amperes, in hundredths as the identity shows it ("%.2f");
// nullopt for a value that can't be a rating (not finite, negative, or
// above a million amperes).
std::optional<std::int64_t> centiAmperes(double amperes);

// A manifest for the plant to fill in, as JSON text ending with a line
// feed: the version empty, the file's name, its SHA-256 and drive digest,
// the compatibility fields present but empty (lists empty,
// minMonitorRevision null), the notes empty. A name that is not UTF-8 has
// its bad bytes replaced.
std::string draftManifestJson(std::string_view fileName, const Sha256Digest& sha256,
                              const Digest& driveDigest);

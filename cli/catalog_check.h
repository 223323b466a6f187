// The release catalog in a run: loading it and checking the firmware file
// against it before anything is sent, and --manifest; with their console
// lines.
#pragma once

#include <optional>
#include <string>

#include "catalog/catalog.h"
#include "cli/reporter.h"
#include "cli/run_output.h"
#include "cli/settings.h"

struct CatalogGate {
  bool admitted = true;            // false: the run is refused, its line written
  std::optional<Catalog> catalog;  // the run's catalog, where it has one
  // The firmware file's SHA-256, where it was found to be a release.
  std::optional<Sha256Digest> fileSha256;
};

// Without a catalog folder in settings: admitted, no catalog. With one: the
// catalog, when every manifest in it is valid (else the line that names the
// first manifest at fault and the fault); in a programming or verify run
// with -fp, the file must be one of its releases (else "ERROR: FILE is not
// a release in the catalog"; a file that can't be read gets the line the
// image loader's refusal gets, from reporter).
CatalogGate catalogGate(const RunSettings& settings, RunOutput& out, ConsoleReporter& reporter);

// "ERROR: FILE is not a release in the catalog", after a line feed.
std::string notAReleaseLine(const std::string& path);

// The line for a refused catalog.
std::string catalogProblemLine(const CatalogProblem& problem);

// --manifest FILE: writes a manifest for the file to fill in (JSON) and
// returns true, or writes the file's refusal as a programming run would and
// returns false.
bool writeDraftManifest(const std::string& path, RunOutput& out);

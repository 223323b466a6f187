#include "cli/catalog_check.h"

#include <string_view>

#include "platform/directory.h"

namespace {

std::string quoted(const std::string& field) { return '"' + field + '"'; }

std::string manifestFaultText(const CatalogProblem& p) {
  switch (p.manifestFault) {
    case ManifestFault::notJson:
      return "not valid JSON";
    case ManifestFault::notAnObject:
      return "not a JSON object";
    case ManifestFault::missingField:
      return "the field " + quoted(p.field) + " is missing";
    case ManifestFault::wrongType:
      return "the field " + quoted(p.field) + " is of the wrong type";
    case ManifestFault::badValue:
      return "the field " + quoted(p.field) + " has a bad value";
    case ManifestFault::unknownField:
      return "the field " + quoted(p.field) + " is unknown";
    case ManifestFault::none:
      break;
  }
  return "";
}

std::string fileFaultText(ImageError error) {
  switch (error) {
    case ImageError::empty:
      return "its file is empty";
    case ImageError::tooSmall:
      return "its file is too small for a firmware header";
    case ImageError::tooLarge:
      return "its file is too large for the loader";
    case ImageError::cantOpen:
    case ImageError::cantRead:
    case ImageError::none:
      break;
  }
  return "its file can't be read";
}

std::string faultText(const CatalogProblem& p) {
  switch (p.fault) {
    case CatalogFault::cantRead:
      return "can't be read";
    case CatalogFault::tooLarge:
      return "larger than 1 MiB";
    case CatalogFault::badManifest:
      return manifestFaultText(p);
    case CatalogFault::fileOutside:
      return "its file is outside the catalog folder";
    case CatalogFault::fileMissing:
      return "its file does not exist";
    case CatalogFault::fileUnusable:
      return fileFaultText(p.imageError);
    case CatalogFault::sha256Differs:
      return "its file's SHA-256 is not the one stated";
    case CatalogFault::duplicateVersion:
      return "the same version as " + p.other;
    case CatalogFault::duplicateSha256:
      return "the same sha256 as " + p.other;
    case CatalogFault::duplicateDigest:
      return "the same drive digest as " + p.other;
    case CatalogFault::cantList:
    case CatalogFault::none:
      break;
  }
  return "";
}

// The file's name without its folders.
std::string_view baseName(std::string_view path) {
  const std::size_t slash = path.find_last_of(PATH_SEPARATORS);
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string catalogProblemLine(const CatalogProblem& problem) {
  if (problem.fault == CatalogFault::cantList) {
    return "\nERROR: Can't read the catalog folder " + problem.manifest;
  }
  return "\nERROR: Catalog manifest " + problem.manifest + ": " + faultText(problem);
}

std::string notAReleaseLine(const std::string& path) {
  return "\nERROR: " + path + " is not a release in the catalog";
}

CatalogGate catalogGate(const RunSettings& settings, RunOutput& out, ConsoleReporter& reporter) {
  CatalogGate gate;
  if (!settings.catalogFolder) {
    return gate;
  }
  CatalogLoad load = loadCatalog(*settings.catalogFolder);
  if (load.problem) {
    out.write(catalogProblemLine(*load.problem));
    gate.admitted = false;
    return gate;
  }
  gate.catalog = std::move(load.catalog);
  // A run without -fp is refused by the image's load, as without a catalog.
  if (settings.mode == RunMode::identity || !settings.firmwarePath) {
    return gate;
  }
  const std::string& path = *settings.firmwarePath;
  const FileDigests file = digestFile(path.c_str(), false);
  if (file.error != ImageError::none) {
    reporter.imageFailed(file.error, path.c_str());
    gate.admitted = false;
  } else if (gate.catalog->releaseOfFile(file.sha256) == nullptr) {
    out.write(notAReleaseLine(path));
    gate.admitted = false;
  } else {
    gate.fileSha256 = file.sha256;
  }
  return gate;
}

bool writeDraftManifest(const std::string& path, RunOutput& out) {
  const FileDigests file = digestFile(path.c_str(), true);
  if (file.error != ImageError::none) {
    ConsoleReporter(out, RunMode::program).imageFailed(file.error, path.c_str());
    return false;
  }
  out.write(draftManifestJson(baseName(path), file.sha256, file.driveDigest));
  return true;
}

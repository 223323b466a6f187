#include "catalog/catalog.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "catalog/version.h"
#include "platform/directory.h"
#include "platform/read_file.h"

namespace {

std::string joined(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || std::string_view(PATH_SEPARATORS).find(path.back()) == std::string::npos) {
    path += PATH_SEPARATOR;
  }
  path += name;
  return path;
}

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A name that stays inside the folder as written: relative (no leading
// separator, no drive or stream colon) and without a ".." part. Where it
// leads once links are followed is checked on its resolved path.
bool relativeInside(std::string_view name) {
  if (name.empty() || name.find(':') != std::string_view::npos || name.front() == '/' ||
      name.front() == '\\') {
    return false;
  }
  while (!name.empty()) {
    const std::size_t end = name.find_first_of("/\\");
    if (name.substr(0, end) == "..") {
      return false;
    }
    name.remove_prefix(end == std::string_view::npos ? name.size() : end + 1);
  }
  return true;
}

// True when path (resolved) lies below folder (resolved).
bool below(const std::string& path, const std::string& folder) {
  const std::string prefix = joined(folder, "");
  return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

FileDigests digestInto(const char* path, bool withDriveDigest, std::vector<std::uint8_t>& buffer) {
  FileDigests digests;
  const RegularFile file(path);
  digests.error = file.isOpen() ? fileSizeError(file.size()) : ImageError::cantOpen;
  if (digests.error != ImageError::none) {
    return digests;
  }
  const auto size = static_cast<std::size_t>(file.size());
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    digests.error = ImageError::tooLarge;
    return digests;
  }
  if (!file.read(buffer.data(), size)) {
    digests.error = ImageError::cantRead;
    return digests;
  }
  const std::span<const std::uint8_t> bytes(buffer.data(), size);
  digests.sha256 = sha256Digest(bytes);
  if (withDriveDigest) {
    digests.driveDigest = makeImage(bytes).digest;
  }
  return digests;
}

// Reads the folder's manifests and checks their files, one after another.
class CatalogReader {
 public:
  explicit CatalogReader(const std::string& folder) : folder_(folder) {}

  CatalogLoad load() {
    CatalogLoad load;
    const auto names = listDirectory(folder_.c_str());
    const auto resolvedFolder = resolvedPath(folder_.c_str());
    if (!names || !resolvedFolder) {
      refuse(CatalogFault::cantList, folder_);
      load.problem = std::move(problem_);
      return load;
    }
    resolvedFolder_ = *resolvedFolder;
    std::vector<std::string> manifests;
    std::copy_if(names->begin(), names->end(), std::back_inserter(manifests),
                 [](const std::string& name) { return endsWith(name, ".json"); });
    std::sort(manifests.begin(), manifests.end());
    std::vector<Release> releases;
    releases.reserve(manifests.size());
    for (const std::string& name : manifests) {
      auto release = readRelease(name);
      if (!release) {
        load.problem = std::move(problem_);
        return load;
      }
      releases.push_back(std::move(*release));
    }
    if (!unique(releases)) {
      load.problem = std::move(problem_);
      return load;
    }
    load.catalog = Catalog(std::move(releases));
    return load;
  }

 private:
  std::nullopt_t refuse(CatalogFault fault, const std::string& manifest) {
    problem_.fault = fault;
    problem_.manifest = manifest;
    return std::nullopt;
  }

  std::optional<Release> readRelease(const std::string& name) {
    const std::string path = joined(folder_, name);
    std::string text;
    {
      const RegularFile file(path.c_str());
      if (!file.isOpen()) {
        return refuse(CatalogFault::cantRead, path);
      }
      if (file.size() > MAX_MANIFEST_SIZE) {
        return refuse(CatalogFault::tooLarge, path);
      }
      text.resize(static_cast<std::size_t>(file.size()));
      // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the text's bytes
      if (!file.read(reinterpret_cast<std::uint8_t*>(text.data()), text.size())) {
        return refuse(CatalogFault::cantRead, path);
      }
    }
    ManifestRead read = readManifest(text);
    if (read.fault != ManifestFault::none) {
      problem_.manifestFault = read.fault;
      problem_.field = read.field;
      return refuse(CatalogFault::badManifest, path);
    }
    Release release;
    release.manifestName = name;
    release.manifest = std::move(read.manifest);
    const Manifest& m = release.manifest;
    if (m.driveDigest) {
      release.driveDigest = *m.driveDigest;
    }
    if (!m.file) {
      return release;
    }
    if (!relativeInside(*m.file)) {
      return refuse(CatalogFault::fileOutside, path);
    }
    const auto file = resolvedPath(joined(folder_, *m.file).c_str());
    if (!file) {
      return refuse(CatalogFault::fileMissing, path);
    }
    if (!below(*file, resolvedFolder_)) {
      return refuse(CatalogFault::fileOutside, path);
    }
    const FileDigests digests = digestInto(file->c_str(), !m.driveDigest, buffer_);
    if (digests.error != ImageError::none) {
      problem_.imageError = digests.error;
      return refuse(CatalogFault::fileUnusable, path);
    }
    if (digests.sha256 != *m.sha256) {
      return refuse(CatalogFault::sha256Differs, path);
    }
    if (!m.driveDigest) {
      release.driveDigest = digests.driveDigest;
    }
    return release;
  }

  bool duplicate(CatalogFault fault, const Release& first, const Release& second) {
    problem_.other = joined(folder_, first.manifestName);
    refuse(fault, joined(folder_, second.manifestName));
    return false;
  }

  // No version, SHA-256 or drive digest twice; releases are in the order
  // of their manifests' names.
  bool unique(const std::vector<Release>& releases) {
    std::vector<const Release*> byVersion;
    std::map<Sha256Digest, const Release*> bySha256;
    std::map<Digest, const Release*> byDigest;
    for (const Release& release : releases) {
      byVersion.push_back(&release);
      const auto& sha256 = release.manifest.sha256;
      if (sha256 && !bySha256.emplace(*sha256, &release).second) {
        return duplicate(CatalogFault::duplicateSha256, *bySha256[*sha256], release);
      }
      if (!byDigest.emplace(release.driveDigest, &release).second) {
        return duplicate(CatalogFault::duplicateDigest, *byDigest[release.driveDigest], release);
      }
    }
    std::stable_sort(byVersion.begin(), byVersion.end(), [](const Release* a, const Release* b) {
      return compareVersions(a->manifest.version, b->manifest.version) < 0;
    });
    for (std::size_t i = 1; i < byVersion.size(); ++i) {
      const Release& earlier = *byVersion[i - 1];
      if (compareVersions(earlier.manifest.version, byVersion[i]->manifest.version) == 0) {
        return duplicate(CatalogFault::duplicateVersion, earlier, *byVersion[i]);
      }
    }
    return true;
  }

  const std::string& folder_;
  std::string resolvedFolder_;
  CatalogProblem problem_;
  std::vector<std::uint8_t> buffer_;  // the files' bytes, one after another
};

}  // namespace

Catalog::Catalog(std::vector<Release> releases) : releases_(std::move(releases)) {
  std::stable_sort(releases_.begin(), releases_.end(), [](const Release& a, const Release& b) {
    return compareVersions(a.manifest.version, b.manifest.version) < 0;
  });
}

const Release* Catalog::releaseOfFile(const Sha256Digest& sha256) const {
  const auto found = std::find_if(releases_.begin(), releases_.end(),
                                  [&](const Release& r) { return r.manifest.sha256 == sha256; });
  return found == releases_.end() ? nullptr : &*found;
}

const Release* Catalog::releaseOfDriveDigest(const Digest& digest) const {
  const auto found = std::find_if(releases_.begin(), releases_.end(),
                                  [&](const Release& r) { return r.driveDigest == digest; });
  return found == releases_.end() ? nullptr : &*found;
}

FileDigests digestFile(const char* path, bool withDriveDigest) {
  std::vector<std::uint8_t> buffer;
  return digestInto(path, withDriveDigest, buffer);
}

CatalogLoad loadCatalog(const std::string& folder) { return CatalogReader(folder).load(); }

// A scratch folder for a test's files, removed with everything in it; and
// the release catalog's manifests as a plant writes them.
#pragma once

#include <string>

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder, or name inside it.
  std::string path(const std::string& name = "") const { return path_ + "/" + name; }

  // A release of the catalog: a sample file of size bytes (seeded by the
  // releases made before it) named after the version, and its manifest,
  // <version>.json; extra ends the manifest's object (", \"notes\": \"x\"").
  // Returns the file's bytes.
  std::string release(const std::string& version, const std::string& extra = "",
                      std::size_t size = 1000);

 private:
  std::string path_;
  unsigned releases_ = 0;
};

// A manifest's text: version, file, its SHA-256 (64 hex digits), models
// ["KVB"], then extra.
std::string manifestText(const std::string& version, const std::string& file,
                         const std::string& sha256Hex, const std::string& extra = "");

// A file or folder of the project's sources, by its path from their root.
std::string sourcePath(const std::string& relative);

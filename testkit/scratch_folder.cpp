#include "testkit/scratch_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "testkit/expected.h"
#include "testkit/process.h"

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tovrin-scratch-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("no scratch folder");
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::release(const std::string& version, const std::string& extra,
                                   std::size_t size) {
  std::string bytes = sampleFile(size, ++releases_);
  const std::string file = "fw-" + version + ".bin";
  writeFile(path(file), bytes);
  writeFile(path(version + ".json"), manifestText(version, file, hex(sha256(bytes)), extra));
  return bytes;
}

std::string manifestText(const std::string& version, const std::string& file,
                         const std::string& sha256Hex, const std::string& extra) {
  return R"({"version": ")" + version + R"(", "file": ")" + file + R"(", "sha256": ")" + sha256Hex +
         R"(", "models": ["KVB"])" + extra + "}";
}

std::string sourcePath(const std::string& relative) {
  return std::string(TOVRIN_SOURCE_DIR) + "/" + relative;
}

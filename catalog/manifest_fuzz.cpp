// Fuzz target: the manifest reader.
//
// The input is a manifest's text. Every input must give a manifest or a
// fault, never a crash: a manifest read whole holds what the reader
// promises (a valid version, one model at least, each as the identity
// shows it, a SHA-256 with a file and a drive digest without one); a fault
// in a field names it. The input is also taken as a file's name for the
// manifest to fill in, which must be JSON the reader reads back, whatever
// the name's bytes.
//
// fuzz-options: -max_len=4096
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "catalog/manifest.h"
#include "catalog/version.h"

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ManifestRead read = readManifest(text);
  const Manifest& m = read.manifest;
  switch (read.fault) {
    case ManifestFault::none:
      check(validVersion(m.version));
      check(!m.compatibility.models.empty());
      for (const auto& model : m.compatibility.models) {
        check(model.size() == 3);
      }
      check(!m.file || (!m.file->empty() && m.sha256));
      check(m.file || m.driveDigest);
      break;
    case ManifestFault::notJson:
    case ManifestFault::notAnObject:
      check(read.field.empty());
      break;
    case ManifestFault::missingField:
    case ManifestFault::wrongType:
    case ManifestFault::badValue:
    case ManifestFault::unknownField:
      check(!read.field.empty() || read.fault == ManifestFault::unknownField);
      break;
  }
  const ManifestRead draft = readManifest(draftManifestJson(text, {}, {}));
  check(draft.fault == ManifestFault::badValue && draft.field == "version");
  return 0;
}

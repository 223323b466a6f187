#include "catalog/manifest.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

#include "catalog/version.h"
#include "protocol/value_text.h"

namespace {

// Fields in the order of the text, so that a fault named is the first one
// a reader of the text meets.
using Json = nlohmann::ordered_json;

constexpr double MAX_AMPERES = 1e6;
// A model code and a hardware revision as the identity's report shows
// them: three characters, the revision's first one followed by a dot.
constexpr std::size_t MODEL_LENGTH = 3;
constexpr std::size_t REVISION_LENGTH = 4;

bool printable(char c) { return c >= ' ' && c < 0x7f; }

bool allPrintable(std::string_view text) {
  for (char c : text) {
    if (!printable(c)) {
      return false;
    }
  }
  return true;
}

// Exactly 2 * N hex digits, either case.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> hexBytes(std::string_view text) {
  if (text.size() != 2 * N) {
    return std::nullopt;
  }
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    const int high = hexDigitValue(text[2 * i]);
    const int low = hexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return bytes;
}

std::string hexText(std::span<const std::uint8_t> bytes) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += DIGITS[b >> 4];
    text += DIGITS[b & 15];
  }
  return text;
}

// Reads the object's fields into the manifest; the first fault ends it.
class FieldReader {
 public:
  explicit FieldReader(ManifestRead& read) : read_(read) {}

  bool fault(ManifestFault fault, const std::string& field) {
    read_.fault = fault;
    read_.field = field;
    return false;
  }

  bool string(const std::string& field, const Json& value, std::string& out) {
    if (!value.is_string()) {
      return fault(ManifestFault::wrongType, field);
    }
    out = value.get<std::string>();
    return true;
  }

  template <std::size_t N>
  bool hex(const std::string& field, const Json& value,
           std::optional<std::array<std::uint8_t, N>>& out) {
    std::string text;
    if (!string(field, value, text)) {
      return false;
    }
    out = hexBytes<N>(text);
    return out ? true : fault(ManifestFault::badValue, field);
  }

  // A list of one value at least, each read by item.
  template <typename T, typename Item>
  bool list(const std::string& field, const Json& value, std::vector<T>& out, Item item) {
    if (!value.is_array()) {
      return fault(ManifestFault::wrongType, field);
    }
    if (value.empty()) {
      return fault(ManifestFault::badValue, field);
    }
    for (const Json& element : value) {
      if (!item(element, out)) {
        return false;
      }
    }
    return true;
  }

  // A list of texts of the given length, each printable, with the
  // revision's dot where a revision has it.
  bool texts(const std::string& field, const Json& value, std::vector<std::string>& out,
             std::size_t length) {
    return list(field, value, out, [&](const Json& element, std::vector<std::string>& texts) {
      if (!element.is_string()) {
        return fault(ManifestFault::wrongType, field);
      }
      std::string text = element.get<std::string>();
      const bool revisionDot = length != REVISION_LENGTH || (text.size() > 1 && text[1] == '.');
      if (text.size() != length || !allPrintable(text) || !revisionDot) {
        return fault(ManifestFault::badValue, field);
      }
      texts.push_back(std::move(text));
      return true;
    });
  }

  bool ratings(const std::string& field, const Json& value, std::vector<std::int64_t>& out) {
    return list(field, value, out, [&](const Json& element, std::vector<std::int64_t>& values) {
      if (!element.is_number()) {
        return fault(ManifestFault::wrongType, field);
      }
      const auto hundredths = centiAmperes(element.get<double>());
      if (!hundredths) {
        return fault(ManifestFault::badValue, field);
      }
      values.push_back(*hundredths);
      return true;
    });
  }

  bool revision(const std::string& field, const Json& value, std::optional<std::int32_t>& out) {
    if (!value.is_number_integer()) {
      return fault(ManifestFault::wrongType, field);
    }
    // Unsigned and signed JSON integers alike, within a 32-bit revision.
    const bool fits =
        value.is_number_unsigned()
            ? value.get<std::uint64_t>() <=
                  static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
            : value.get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min() &&
                  value.get<std::int64_t>() <= std::numeric_limits<std::int32_t>::max();
    if (!fits) {
      return fault(ManifestFault::badValue, field);
    }
    out = static_cast<std::int32_t>(value.get<std::int64_t>());
    return true;
  }

  bool field(const std::string& name, const Json& value) {
    Manifest& m = read_.manifest;
    Compatibility& c = m.compatibility;
    // null stands for an absent compatibility field or notes.
    const bool null = value.is_null();
    if (name == "version") {
      return string(name, value, m.version) &&
             (validVersion(m.version) || fault(ManifestFault::badValue, name));
    }
    if (name == "file") {
      std::string file;
      if (!string(name, value, file)) {
        return false;
      }
      m.file = std::move(file);
      return !m.file->empty() || fault(ManifestFault::badValue, name);
    }
    if (name == "sha256") {
      return hex(name, value, m.sha256);
    }
    if (name == "driveDigest") {
      return hex(name, value, m.driveDigest);
    }
    if (name == "models") {
      return texts(name, value, c.models, MODEL_LENGTH);
    }
    if (name == "hardwareRevisions") {
      return null || texts(name, value, c.hardwareRevisions.emplace(), REVISION_LENGTH);
    }
    if (name == "currentRatings") {
      return null || ratings(name, value, c.currentRatings.emplace());
    }
    if (name == "minMonitorRevision") {
      return null || revision(name, value, c.minMonitorRevision);
    }
    if (name == "notes") {
      return null || string(name, value, m.notes);
    }
    return fault(ManifestFault::unknownField, name);
  }

 private:
  ManifestRead& read_;
};

}  // namespace

ManifestRead readManifest(std::string_view text) {
  ManifestRead read;
  // Without exceptions: invalid JSON, invalid UTF-8 among them, is a
  // discarded value. The parser keeps its own stack, so deep nesting does
  // not reach the program's.
  const Json json = Json::parse(text.begin(), text.end(), nullptr, false);
  if (json.is_discarded()) {
    read.fault = ManifestFault::notJson;
    return read;
  }
  if (!json.is_object()) {
    read.fault = ManifestFault::notAnObject;
    return read;
  }
  FieldReader reader(read);
  for (const auto& [name, value] : json.items()) {
    if (!reader.field(name, value)) {
      return read;
    }
  }
  const Manifest& m = read.manifest;
  if (!json.contains("version")) {
    reader.fault(ManifestFault::missingField, "version");
  } else if (!json.contains("models")) {
    reader.fault(ManifestFault::missingField, "models");
  } else if (m.file && !m.sha256) {
    reader.fault(ManifestFault::missingField, "sha256");
  } else if (!m.file && !m.driveDigest) {
    reader.fault(ManifestFault::missingField, "file");
  }
  return read;
}

std::optional<std::int64_t> centiAmperes(double amperes) {
  if (!std::isfinite(amperes) || amperes < 0 || amperes > MAX_AMPERES) {
    return std::nullopt;
  }
  // The identity's text of the value, so that a manifest's 10.005 compares
  // as the report would show it.
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", amperes);
  std::int64_t hundredths = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9') {  // the point, whichever it is, left out
      hundredths = hundredths * 10 + (*p - '0');
    }
  }
  return hundredths;
}

std::string draftManifestJson(std::string_view fileName, const Sha256Digest& sha256,
                              const Digest& driveDigest) {
  Json json;
  json["version"] = "";
  json["file"] = std::string(fileName);
  json["sha256"] = hexText(sha256);
  json["driveDigest"] = md5Text(driveDigest);
  json["models"] = Json::array();
  json["hardwareRevisions"] = Json::array();
  json["currentRatings"] = Json::array();
  json["minMonitorRevision"] = nullptr;
  json["notes"] = "";
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

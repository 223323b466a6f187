#include "testkit/json_line.h"

#include <cctype>
#include <cstring>

namespace {

// A strict reader of RFC 8259 JSON text over one string.
class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  void blanks() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr) {
      ++at_;
    }
  }
  bool done() const { return at_ == text_.size(); }
  bool take(char c) {
    blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  // One value; false when the text there is none.
  bool value() {
    blanks();
    if (at_ >= text_.size()) {
      return false;
    }
    const char c = text_[at_];
    if (c == '"') {
      return string(nullptr);
    }
    if (c == '{') {
      return object(nullptr);
    }
    if (c == '[') {
      ++at_;
      if (take(']')) {
        return true;
      }
      do {
        if (!value()) {
          return false;
        }
      } while (take(','));
      return take(']');
    }
    for (const char* word : {"true", "false", "null"}) {
      if (text_.compare(at_, std::strlen(word), word) == 0) {
        at_ += std::strlen(word);
        return true;
      }
    }
    return number();
  }

  bool string(std::string* out) {
    if (!take('"')) {
      return false;
    }
    for (; at_ < text_.size(); ++at_) {
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        return false;
      }
      if (c != '\\') {
        if (out != nullptr) {
          *out += c;
        }
        continue;
      }
      if (++at_ >= text_.size()) {
        return false;
      }
      const char e = text_[at_];
      const char* plain = std::strchr("\"\\/bfnrt", e);
      if (plain == nullptr && e != 'u') {
        return false;
      }
      if (e == 'u') {
        for (int i = 0; i < 4; ++i) {
          if (++at_ >= text_.size() || std::isxdigit(static_cast<unsigned char>(text_[at_])) == 0) {
            return false;
          }
        }
        if (out != nullptr) {
          *out += '?';
        }
      } else if (out != nullptr) {
        *out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
      }
    }
    return false;
  }

  bool object(std::map<std::string, std::string>* members) {
    if (!take('{')) {
      return false;
    }
    if (take('}')) {
      return true;
    }
    do {
      blanks();
      std::string name;
      if (!string(&name) || !take(':')) {
        return false;
      }
      blanks();
      const std::size_t from = at_;
      if (!value()) {
        return false;
      }
      if (members != nullptr && !members->emplace(name, text_.substr(from, at_ - from)).second) {
        return false;  // a name twice
      }
    } while (take(','));
    return take('}');
  }

 private:
  bool number() {
    const std::size_t from = at_;
    if (at_ < text_.size() && text_[at_] == '-') {
      ++at_;
    }
    const std::size_t digits = at_;
    while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])) != 0) {
      ++at_;
    }
    if (at_ == digits || (text_[digits] == '0' && at_ - digits > 1)) {
      return false;
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      const std::size_t fraction = ++at_;
      while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])) != 0) {
        ++at_;
      }
      if (at_ == fraction) {
        return false;
      }
    }
    return at_ > from;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<std::map<std::string, std::string>> parseJsonObject(const std::string& text) {
  Reader reader(text);
  std::map<std::string, std::string> members;
  if (!reader.object(&members)) {
    return std::nullopt;
  }
  reader.blanks();
  if (!reader.done()) {
    return std::nullopt;
  }
  return members;
}

std::optional<std::string> jsonStringValue(const std::string& value) {
  Reader reader(value);
  std::string text;
  if (!reader.string(&text)) {
    return std::nullopt;
  }
  reader.blanks();
  return reader.done() ? std::optional(text) : std::nullopt;
}

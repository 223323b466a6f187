// JSON strings: every byte a path or a reason may hold comes out as valid
// JSON that reads back as the same text (or U+FFFD for a stray byte).
#include "record/json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(JsonTest, EscapesWhatJsonForbidsAndKeepsValidUtf8) {
  struct Case {
    std::string text;
    std::string json;
  };
  const std::vector<Case> cases = {
      {"", R"("")"},
      {"fw.bin", R"("fw.bin")"},
      {R"(C:\fw\"new".bin)", R"("C:\\fw\\\"new\".bin")"},
      {"a\nb\rc\td", R"("a\nb\rc\td")"},
      {std::string("\0\x01\x1f\x7f", 4), R"("\u0000\u0001\u001f)"
                                         "\x7f\""},
      // valid UTF-8 of each length, the largest code point included
      {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA7 \xF4\x8F\xBF\xBF",
       "\"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\xA7 \xF4\x8F\xBF\xBF\""},
      // a Latin-1 path: each byte outside a sequence becomes U+FFFD
      {"caf\xE9.bin", "\"caf\xEF\xBF\xBD.bin\""},
      // overlong, surrogate, above U+10FFFF, cut short, stray continuation
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xE2\x82", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xE2\x82x", "\"\xEF\xBF\xBD\xEF\xBF\xBDx\""},
      {"\x80", "\"\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(jsonString(c.text), c.json) << "text: " << ::testing::PrintToString(c.text);
  }
}

}  // namespace

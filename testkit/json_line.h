// Reading a run record back in the tests: one JSON object on one line.
#pragma once

#include <map>
#include <optional>
#include <string>

// The members of the JSON object that text holds (and nothing else but
// blanks), each as its value's JSON text: "\"programmed\"", "12", "null",
// "true", "{...}". Empty when text is not one valid JSON object (numbers
// are read without an exponent, as the records write them).
std::optional<std::map<std::string, std::string>> parseJsonObject(const std::string& text);

// A JSON string's text without its quotes and escapes: "\"a\\\"b\"" is
// a"b. Empty when value is no JSON string.
std::optional<std::string> jsonStringValue(const std::string& value);

// Run records in the tests: the schema's verdict (python3-jsonschema), and
// each record's members as a JSON reader reads them (nlohmann-json).
#pragma once

#include <map>
#include <string>
#include <vector>

// "" when every line of text is a JSON object that the schema accepts
// (record/record.schema.json, as the packages ship it); otherwise what was
// wrong, line by line.
std::string recordSchemaErrors(const std::string& text);

// One map per line of text: the members of the line's JSON object, each as
// its value's compact JSON text ("\"programmed\"", "12", "null", "true",
// "{...}"); an empty map for a line that is no JSON object.
std::vector<std::map<std::string, std::string>> recordMembers(const std::string& text);

// Checks run records against the record schema the packages ship
// (record/record.schema.json), with the Debian package python3-jsonschema.
#pragma once

#include <string>

// "" when every line of text is a JSON object that the schema accepts;
// otherwise what was wrong, line by line.
std::string recordSchemaErrors(const std::string& text);

#include "testkit/record_schema.h"

#include <chrono>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "testkit/process.h"

namespace {

// Reads the records from the file named first, the schema from the second;
// prints one line per fault and ends with status 1 when there was one.
constexpr const char* CHECKER = R"(
import json, sys
import jsonschema
schema = json.load(open(sys.argv[2]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
faults = 0
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
if lines[-1] != "":
    print("the last record has no line feed"); faults += 1
for n, line in enumerate(lines[:-1], 1):
    try:
        record = json.loads(line)
    except ValueError as e:
        print("line %d: no JSON: %s" % (n, e)); faults += 1; continue
    for error in validator.iter_errors(record):
        print("line %d: %s: %s" % (n, list(error.path), error.message)); faults += 1
sys.exit(1 if faults else 0)
)";

// Runs a python3 program on text, in a file that is its first argument.
ProcessResult runPython(const char* program, const std::string& text,
                        const std::string& argument = "") {
  ScratchDir dir;
  const std::string file = dir.file("records.jsonl");
  writeFile(file, text);
  std::vector<std::string> argv = {"python3", "-c", program, file};
  if (!argument.empty()) {
    argv.push_back(argument);
  }
  return runProcess(argv, std::chrono::seconds(30));
}

}  // namespace

std::string recordSchemaErrors(const std::string& text) {
  const ProcessResult r =
      runPython(CHECKER, text, std::string(TOVRIN_SOURCE_DIR) + "/record/record.schema.json");
  if (r.exitCode == 0) {
    return "";
  }
  return r.out + r.err + (r.out.empty() && r.err.empty() ? "the schema check did not run" : "");
}

std::vector<std::map<std::string, std::string>> recordMembers(const std::string& text) {
  std::vector<std::map<std::string, std::string>> records;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::map<std::string, std::string> members;
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_object()) {
      for (const auto& [name, value] : record.items()) {
        members[name] = value.dump();
      }
    }
    records.push_back(std::move(members));
  }
  return records;
}

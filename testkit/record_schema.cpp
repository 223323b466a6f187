#include "testkit/record_schema.h"

#include <chrono>
#include <sstream>

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

// Prints each line's members as "name<tab>value" lines, a blank line after
// each record.
constexpr const char* MEMBERS = R"(
import json, sys
for line in open(sys.argv[1], encoding="utf-8").read().splitlines():
    try:
        record = json.loads(line)
    except ValueError:
        record = None
    for name, value in (record.items() if isinstance(record, dict) else []):
        print("%s\t%s" % (name, json.dumps(value, separators=(",", ":"), ensure_ascii=False)))
    print()
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
  std::vector<std::map<std::string, std::string>> records(1);
  std::istringstream out(runPython(MEMBERS, text).out);
  for (std::string line; std::getline(out, line);) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      records.emplace_back();
    } else {
      records.back()[line.substr(0, tab)] = line.substr(tab + 1);
    }
  }
  records.pop_back();  // after the last record's blank line
  return records;
}

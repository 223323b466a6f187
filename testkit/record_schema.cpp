#include "testkit/record_schema.h"

#include <chrono>

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

}  // namespace

std::string recordSchemaErrors(const std::string& text) {
  ScratchDir dir;
  const std::string records = dir.file("records.jsonl");
  writeFile(records, text);
  const ProcessResult r =
      runProcess({"python3", "-c", CHECKER, records,
                  std::string(TOVRIN_SOURCE_DIR) + "/record/record.schema.json"},
                 std::chrono::seconds(30));
  if (r.exitCode == 0) {
    return "";
  }
  return r.out + r.err + (r.out.empty() && r.err.empty() ? "the schema check did not run" : "");
}

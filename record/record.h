// Run records: one JSON object per drive per run, one line each, appended
// to the file named after -r, for the plant's traceability records.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/file.h"
#include "session/drive_state.h"

// "2026-12-07T16:20:05.123Z": UTC, to the millisecond.
std::string utcTimeText(std::chrono::system_clock::time_point time);

// The run's id for its records: its UTC start time and the process id,
// "20261207T214501.123Z-4711".
std::string runIdText(std::chrono::system_clock::time_point start, std::uint32_t processId);

// The drive's record as one line of JSON with its line feed. Its fields
// and their words are described by record/record.schema.json (installed as
// share/tovrin/record.schema.json); every field is present on every
// record, null where it does not apply.
std::string recordLine(const RunInfo& run, const DriveState& drive);

// The file the records go to, open for appending from the start of the run
// to its end, so that a path that can't be written is known before any
// drive is touched.
class RecordFile {
 public:
  RecordFile() = default;
  explicit RecordFile(const char* path) : file_(openAppendFile(path)) {}
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;
  ~RecordFile() { closeAppendFile(file_); }

  bool isOpen() const { return file_ != APPEND_FILE_NONE; }

  // Appends the drive's record in one write; false when it was not written
  // whole.
  bool append(const RunInfo& run, const DriveState& drive) {
    return appendToFile(file_, recordLine(run, drive));
  }

 private:
  AppendFile file_ = APPEND_FILE_NONE;
};

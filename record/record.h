// Run records: one JSON object per drive per run, one line each, appended
// to the file named after -r, for the plant's traceability records.
#pragma once

#include <chrono>
#include <string>

#include "fleet/drive_state.h"
#include "platform/file.h"

// "2026-12-07T16:20:05.123Z": UTC, to the millisecond.
std::string utcTimeText(std::chrono::system_clock::time_point time);

// The drive's record as one line of JSON with its line feed:
//   time          when the drive's session ended (utcTimeText)
//   address       "10.0.0.5"
//   mode          "program", "verify" or "identity"
//   result        "programmed", "digest-equal", "digest-differs",
//                 "identified", "failed" or "unfinished"
//   failedStage   the stage a failed drive stopped in ("connect",
//                 "program", ...), else null
//   failedBlock   the block in flight then (from 0), else null
//   reason        why it failed, else null
//   serialNumber  from the drive's identity, else null
//   mac           "00:1a:2b:3c:4d:5e" from the identity, else null
//   file          the firmware file's path as given, null for identity runs
//   fileDigest    MD5 of the image, 32 hexadecimal digits, else null
//   driveDigest   the digest the drive reported, else null
//   seconds       how long the drive's session ran
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

// Each value of a run, with its two words side by side: the machine word
// that the run records say, and that the Ansible module and other programs
// read (an interface: a word once released stays as it is), and the console
// wording that people read (session/drive_text.h puts it in sentences; it
// may change without touching a record).
#pragma once

#include <optional>

#include "session/drive_state.h"
#include "session/observer.h"

struct ValueWords {
  const char* word;     // the records'
  const char* wording;  // the console's
};

// A drive still running when its record is written was cut short: its word
// is "interrupted", its wording "unfinished".
ValueWords wordsOf(DriveResult result);
// A refusal's wording is followed by its status on the console.
ValueWords wordsOf(FailureReason reason);
// "monitor state" stands for the identity exchange of -u and -v and the
// pause before the monitor state too; "waiting" before the session starts.
ValueWords wordsOf(std::optional<Stage> stage);
// Why a drive was not started: its reason word and wording.
ValueWords wordsOf(HeldBack why);

// Why the catalog withheld the file's release: for an incompatible drive
// its reason word, the field at fault ("hardware-revision"), and the
// field's wording ("hardware revision").
ValueWords wordsOf(Refusal refusal);

const char* modeWord(RunMode mode);

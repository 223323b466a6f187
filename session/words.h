// The machine words of a run's values: what the run records say, and what
// the Ansible module and other programs read. They are an interface: a word
// once released stays as it is. The console's wording of the same values
// belongs to presentation (session/drive_text.h) and may change freely.
#pragma once

#include <optional>

#include "session/drive_state.h"
#include "session/observer.h"

const char* modeWord(RunMode mode);
// A drive still running when its record is written was cut short:
// "interrupted".
const char* resultWord(DriveResult result);
const char* reasonWord(FailureReason reason);
// Why a drive was not started, as a reason word.
const char* heldBackWord(HeldBack why);
// The stage as the records name it: "connection", "monitor state" (the
// identity exchange of -u and -v and the pause before it included),
// "programming", "verify", "reboot"; "waiting" before the session starts.
const char* stageWord(std::optional<Stage> stage);

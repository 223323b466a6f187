// The words and figures that the several-drives console and the run records
// show for a drive.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "protocol/value_text.h"
#include "session/drive_state.h"

// The stage's name, the same for a person and a record: "connection",
// "monitor state" (the identity exchange of -u and -v included),
// "programming", "verify", "reboot"; "waiting" before the session starts.
const char* stageName(std::optional<Stage> stage);

// Why a session failed, in a few words: "no answer", "refused with status
// 0", ...
std::string reasonText(const Failure& failure);

// The result as the count line counts it: "programmed and verified",
// "already current", "identity read", "digest equal", "digest differs",
// "failed", "interrupted", "not started", "unfinished".
const char* resultPhrase(DriveResult result);

// Said of a drive that took blocks and did not confirm its reboot, on the
// one-drive console and in the several-drives table alike.
inline constexpr const char* PARTIAL_IMAGE_TEXT =
    "the drive holds part of the image, program it again";

// The result in words: "programmed and verified", "already current,
// rebooted" ("already current" in a plan, which reboots none), "digest
// equal", "digest differs", "identity read", "not started (a canary
// failed)" or "not started (interrupted)", "running", for a failed drive
// "failed at programming, block 11: no answer" (the block in flight counted
// from 1; none when no block was in flight), and for an interrupted one
// "interrupted at programming, block 11"; a drive that holds part of an
// image gets ": " and PARTIAL_IMAGE_TEXT after that.
std::string resultText(const DriveState& drive);

// Why the catalog withheld the file's release from the drive, with the
// value found and what the release allows: "model KVA; release 4.2 is for
// KVB", "hardware revision 1.01; release 4.2 is for 1.02, 1.03", "current
// rating 30.00 A; release 4.2 is for 10.00 A, 20.00 A", "monitor revision
// 2; release 4.2 needs 3 or later", "the drive holds 4.3, newer than the
// file's 4.2". Empty for a drive that was not refused.
std::string withheldText(const DriveState& drive);

// A release's version; "unknown" for none.
std::string versionText(const Release* release);

// The firmware column of a run with a catalog: for a programmed drive (or
// one that would be, -n) the
// release it held and the file's, "4.1 -> 4.2"; for any other the release
// it holds, "4.2" or "unknown"; "-" when it reported no digest.
std::string firmwareText(const DriveState& drive);

// Whole seconds, rounded up, with minutes from one minute on: "42 s",
// "1 min 5 s".
std::string durationText(std::chrono::milliseconds time);

// Tenths of a second: "15.7 s".
std::string secondsText(std::chrono::milliseconds time);

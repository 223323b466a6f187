// The words and figures that the several-drives console and the run records
// show for a drive.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "fleet/drive_state.h"

// Dotted decimal, most significant byte first: "10.0.0.5".
std::string addressText(std::uint32_t address);

// "00:1a:2b:3c:4d:5e".
std::string macText(const MacAddress& mac);

// 32 lower-case hexadecimal digits.
std::string md5Text(const Digest& digest);

// One word: "probe", "connect", "monitor", "program", "verify", "reboot";
// "waiting" before the session starts.
const char* stageName(std::optional<Stage> stage);

// Why a session failed, in a few words: "no answer", "refused with status
// 0", ...
std::string reasonText(const Failure& failure);

// The result in words: "programmed and verified", "already current,
// rebooted", "digest equal", "digest differs", "identity read", "not
// started", "running", for a failed drive "failed at program, block 10: no
// answer" (no block when none was in flight), and for an interrupted one
// "interrupted at program, block 10", followed by ": partial image,
// program it again" when it holds part of an image.
std::string resultText(const DriveState& drive);

// Tenths of a second: "15.7 s".
std::string secondsText(std::chrono::milliseconds time);

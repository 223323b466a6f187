#include "fleet/texts.h"

#include <cstdio>

std::string addressText(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFFu, (address >> 16) & 0xFFu,
                (address >> 8) & 0xFFu, address & 0xFFu);
  return text;
}

std::string macText(const MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", unsigned{mac[0]},
                unsigned{mac[1]}, unsigned{mac[2]}, unsigned{mac[3]}, unsigned{mac[4]},
                unsigned{mac[5]});
  return text;
}

std::string md5Text(const Digest& digest) {
  static constexpr char HEX[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += HEX[byte >> 4];
    text += HEX[byte & 0x0F];
  }
  return text;
}

const char* stageName(std::optional<Stage> stage) {
  if (!stage) {
    return "waiting";
  }
  switch (*stage) {
    case Stage::connection:
      return "connection";
    case Stage::identityProbe:
    case Stage::monitorPause:
    case Stage::monitor:
      return "monitor state";
    case Stage::programming:
      return "programming";
    case Stage::verify:
      return "verify";
    case Stage::reboot:
      break;
  }
  return "reboot";
}

std::string reasonText(const Failure& failure) {
  switch (failure.reason) {
    case FailureReason::noAnswer:
      return "no answer";
    case FailureReason::refused:
      return "refused with status " + std::to_string(failure.status);
    case FailureReason::unreachable:
      return "no network of this PC leads to the address";
    case FailureReason::ownAddress:
      return "the address is this PC's own";
    case FailureReason::notUnicast:
      return "a multicast or reserved address, not a drive's";
    case FailureReason::noIdentity:
      return "no identity in the answer";
    case FailureReason::interrupted:
      return "interrupted";
    case FailureReason::noDigest:
      break;
  }
  return "no firmware digest in the answer";
}

std::string resultText(const DriveState& drive) {
  switch (drive.result) {
    case DriveResult::running:
      return "running";
    case DriveResult::programmed:
      return "programmed and verified";
    case DriveResult::digestEqual:
      return "digest equal";
    case DriveResult::digestDiffers:
      return "digest differs";
    case DriveResult::identified:
      return "identity read";
    case DriveResult::current:
      return "already current, rebooted";
    case DriveResult::notStarted:
      return "not started";
    case DriveResult::failed:
    case DriveResult::interrupted:
      break;
  }
  const bool interrupted = drive.result == DriveResult::interrupted;
  const char* word = interrupted ? "interrupted" : "failed";
  if (!drive.failure) {
    return word;
  }
  std::string text = std::string(word) + " at " + stageName(drive.failure->stage);
  if (drive.failure->block) {
    // Counted from 1, as the one-drive console counts them.
    text += ", block " + std::to_string(*drive.failure->block + 1);
  }
  if (interrupted) {
    return text + (drive.failure->imageIncomplete ? ": partial image, program it again" : "");
  }
  return text + ": " + reasonText(*drive.failure);
}

std::string secondsText(std::chrono::milliseconds time) {
  const long long tenths = (time.count() + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

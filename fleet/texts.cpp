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

const char* stageName(DriveStage stage) {
  switch (stage) {
    case DriveStage::waiting:
      return "waiting";
    case DriveStage::connect:
      return "connect";
    case DriveStage::monitor:
      return "monitor";
    case DriveStage::program:
      return "program";
    case DriveStage::verify:
      return "verify";
    case DriveStage::reboot:
      return "reboot";
    case DriveStage::report:
      return "report";
    case DriveStage::finished:
      break;
  }
  return "finished";
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
    case DriveResult::failed:
      break;
  }
  std::string text = std::string("failed at ") + stageName(drive.failedStage);
  if (drive.failedBlock) {
    text += ", block " + std::to_string(*drive.failedBlock);
  }
  if (!drive.reason.empty()) {
    text += ": " + drive.reason;
  }
  return text;
}

std::string secondsText(std::chrono::milliseconds time) {
  const long long tenths = (time.count() + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

// The drive's UnitIdentity record, carried at offset 5 of its answer to
// CMD_ENTER_MONITOR (protocol/loader.h).
//
// UNIT_IDENTITY_SIZE = 112 bytes; offsets from the start of the record, every
// 32-bit word big-endian (the three reals are IEEE 754 singles, most
// significant byte first):
//   0   4  Monitor Revision           signed
//   4   4  Build Number               signed
//   8   4  Drive Current Capability   real, amperes
//   12  4  Bus Sensor Resolution      real, counts per volt
//   16  4  Current Sensor Resolution  real, counts per ampere
//   20  4  Serial Number              signed
//   24  4  Manufacturing Code         signed
//   28  4  Hardware Revision          characters; the first three are shown "1.02"
//   32  4  Model Code                 characters; the first three are shown
//   36 64  Vin Number                 text, ended by a zero byte or by the field's end
//   100 6  Mac Address                in transmission order
//   106 2  (unused)
//   108 4  Checksum                   unsigned, shown as it came, not verified
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/loader.h"

struct UnitIdentity {
  std::int32_t monitorRevision = 0;
  std::int32_t buildNumber = 0;
  float currentCapability = 0;
  float busSensorResolution = 0;
  float currentSensorResolution = 0;
  std::int32_t serialNumber = 0;
  std::int32_t manufacturingCode = 0;
  std::array<std::uint8_t, 4> hardwareRevision{};
  std::array<std::uint8_t, 4> modelCode{};
  std::array<std::uint8_t, 64> vinNumber{};  // as it came; not necessarily ended by a zero
  std::array<std::uint8_t, 6> macAddress{};
  std::array<std::uint8_t, 2> unused{};
  std::uint32_t checksum = 0;
};

using IdentityBytes = std::array<std::uint8_t, UNIT_IDENTITY_SIZE>;

UnitIdentity decodeIdentity(std::span<const std::uint8_t, UNIT_IDENTITY_SIZE> record);
IdentityBytes encodeIdentity(const UnitIdentity& identity);

// The record in an answer, when all of its bytes arrived.
std::optional<UnitIdentity> responseIdentity(const Response& response);

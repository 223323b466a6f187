#include "protocol/identity.h"

#include <algorithm>
#include <bit>

#include "platform/coding.h"

namespace {

// Field offsets, as laid out in identity.h.
constexpr std::size_t MONITOR_REVISION = 0;
constexpr std::size_t BUILD_NUMBER = 4;
constexpr std::size_t CURRENT_CAPABILITY = 8;
constexpr std::size_t BUS_SENSOR_RESOLUTION = 12;
constexpr std::size_t CURRENT_SENSOR_RESOLUTION = 16;
constexpr std::size_t SERIAL_NUMBER = 20;
constexpr std::size_t MANUFACTURING_CODE = 24;
constexpr std::size_t HARDWARE_REVISION = 28;
constexpr std::size_t MODEL_CODE = 32;
constexpr std::size_t VIN_NUMBER = 36;
constexpr std::size_t MAC_ADDRESS = 100;
constexpr std::size_t UNUSED = 106;
constexpr std::size_t CHECKSUM = 108;
static_assert(CHECKSUM + 4 == UNIT_IDENTITY_SIZE);

std::int32_t signedAt(const std::uint8_t* r, std::size_t at) {
  return static_cast<std::int32_t>(getBig32(r + at));
}

float realAt(const std::uint8_t* r, std::size_t at) {
  return std::bit_cast<float>(getBig32(r + at));
}

template <std::size_t N>
void take(std::array<std::uint8_t, N>& field, const std::uint8_t* r, std::size_t at) {
  std::copy_n(r + at, N, field.begin());
}

template <std::size_t N>
void give(IdentityBytes& out, std::size_t at, const std::array<std::uint8_t, N>& field) {
  std::copy(field.begin(), field.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

UnitIdentity decodeIdentity(std::span<const std::uint8_t, UNIT_IDENTITY_SIZE> record) {
  const std::uint8_t* r = record.data();
  UnitIdentity id;
  id.monitorRevision = signedAt(r, MONITOR_REVISION);
  id.buildNumber = signedAt(r, BUILD_NUMBER);
  id.currentCapability = realAt(r, CURRENT_CAPABILITY);
  id.busSensorResolution = realAt(r, BUS_SENSOR_RESOLUTION);
  id.currentSensorResolution = realAt(r, CURRENT_SENSOR_RESOLUTION);
  id.serialNumber = signedAt(r, SERIAL_NUMBER);
  id.manufacturingCode = signedAt(r, MANUFACTURING_CODE);
  take(id.hardwareRevision, r, HARDWARE_REVISION);
  take(id.modelCode, r, MODEL_CODE);
  take(id.vinNumber, r, VIN_NUMBER);
  take(id.macAddress, r, MAC_ADDRESS);
  take(id.unused, r, UNUSED);
  id.checksum = getBig32(r + CHECKSUM);
  return id;
}

IdentityBytes encodeIdentity(const UnitIdentity& id) {
  IdentityBytes out{};
  std::uint8_t* r = out.data();
  putBig32(r + MONITOR_REVISION, static_cast<std::uint32_t>(id.monitorRevision));
  putBig32(r + BUILD_NUMBER, static_cast<std::uint32_t>(id.buildNumber));
  putBig32(r + CURRENT_CAPABILITY, std::bit_cast<std::uint32_t>(id.currentCapability));
  putBig32(r + BUS_SENSOR_RESOLUTION, std::bit_cast<std::uint32_t>(id.busSensorResolution));
  putBig32(r + CURRENT_SENSOR_RESOLUTION, std::bit_cast<std::uint32_t>(id.currentSensorResolution));
  putBig32(r + SERIAL_NUMBER, static_cast<std::uint32_t>(id.serialNumber));
  putBig32(r + MANUFACTURING_CODE, static_cast<std::uint32_t>(id.manufacturingCode));
  give(out, HARDWARE_REVISION, id.hardwareRevision);
  give(out, MODEL_CODE, id.modelCode);
  give(out, VIN_NUMBER, id.vinNumber);
  give(out, MAC_ADDRESS, id.macAddress);
  give(out, UNUSED, id.unused);
  putBig32(r + CHECKSUM, id.checksum);
  return out;
}

std::optional<UnitIdentity> responseIdentity(const Response& response) {
  if (response.content.size() < UNIT_IDENTITY_SIZE) {
    return std::nullopt;
  }
  return decodeIdentity(response.content.first<UNIT_IDENTITY_SIZE>());
}

// The unit identity and digest report.
#include "link/report.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "image/image.h"
#include "link/datagram.h"
#include "link/link.h"
#include "platform/coding.h"

namespace {

// UnitIdentity, UNIT_IDENTITY_SIZE = 112 bytes; offsets from the start of the
// record, every 32-bit word big-endian (the three reals are IEEE 754 singles,
// most significant byte first):
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
constexpr int VIN_NUMBER_SIZE = 64;
constexpr std::size_t MAC_ADDRESS = 100;
constexpr std::size_t CHECKSUM = 108;
static_assert(CHECKSUM + 4 == UNIT_IDENTITY_SIZE);

struct IdentityCopy {
  std::uint8_t bytes[UNIT_IDENTITY_SIZE];
};

int signedWord(const IdentityCopy& r, std::size_t at) {
  return static_cast<int>(static_cast<std::int32_t>(getBig32(r.bytes + at)));
}

double realWord(const IdentityCopy& r, std::size_t at) {
  return static_cast<double>(std::bit_cast<float>(getBig32(r.bytes + at)));
}

int character(const IdentityCopy& r, std::size_t at) { return r.bytes[at]; }

void printDigest(const std::uint8_t* digest) {
  for (std::size_t i = 0; i < DIGEST_SIZE; ++i) {
    std::printf("%02x", static_cast<unsigned>(digest[i]));
  }
}

}  // namespace

void printUnitIdentity(const std::uint8_t* record) {
  IdentityCopy r;
  std::memcpy(r.bytes, record, sizeof r.bytes);
  const std::uint8_t* mac = r.bytes + MAC_ADDRESS;
  std::fputs("\n\n\t----- Unit Identity -----", stdout);
  std::printf("\nMonitor Revision              %d", signedWord(r, MONITOR_REVISION));
  std::printf("\nBuild Number                  %d", signedWord(r, BUILD_NUMBER));
  std::printf("\nDrive Current Capability      %.2f Amp", realWord(r, CURRENT_CAPABILITY));
  std::printf("\nBus Sensor Resolution         %.2f Counts/V", realWord(r, BUS_SENSOR_RESOLUTION));
  std::printf("\nCurrent Sensor Resolution     %.2f Counts/Amp",
              realWord(r, CURRENT_SENSOR_RESOLUTION));
  std::printf("\nSerial Number                 %d", signedWord(r, SERIAL_NUMBER));
  std::printf("\nManufacturing Code            %d", signedWord(r, MANUFACTURING_CODE));
  std::printf("\nHardware Revision             %c.%c%c", character(r, HARDWARE_REVISION),
              character(r, HARDWARE_REVISION + 1), character(r, HARDWARE_REVISION + 2));
  std::printf("\nModel Code                    %c%c%c", character(r, MODEL_CODE),
              character(r, MODEL_CODE + 1), character(r, MODEL_CODE + 2));
  // The precision stops the text at the field's end when no zero byte
  // ends it earlier.
  std::printf("\nVin Number                    %.*s", VIN_NUMBER_SIZE,
              reinterpret_cast<const char*>(r.bytes + VIN_NUMBER));
  std::printf("\nMac Address                   %02x %02x %02x %02x %02x %02x",
              static_cast<unsigned>(mac[0]), static_cast<unsigned>(mac[1]),
              static_cast<unsigned>(mac[2]), static_cast<unsigned>(mac[3]),
              static_cast<unsigned>(mac[4]), static_cast<unsigned>(mac[5]));
  std::printf("\nChecksum                      %04lx",
              static_cast<unsigned long>(getBig32(r.bytes + CHECKSUM)));
  std::fputs("\n\t-------------------------\n", stdout);
}

void reportDriveDigest(const std::uint8_t* driveDigest) {
  if (runMode == MODE_VERIFY) {
    std::fputs("\nDrive Firmware MD5 : ", stdout);
    printDigest(driveDigest);
    std::fputs("\nFile  Firmware MD5 : ", stdout);
    printDigest(fileDigest);
    if (std::memcmp(driveDigest, fileDigest, DIGEST_SIZE) == 0) {
      std::fputs("\nFile Firmware matches with Drive Firmware - Verifyed Successfully", stdout);
    } else {
      std::fputs("\nFile Firmware in the DOES NOT match with Drive Firmware - Verification Failed",
                 stdout);
    }
  }
  doneFlag = true;
}

// The unit identity and digest report.
#include "link/report.h"

#include <cstdio>
#include <cstring>

#include "image/image.h"
#include "link/link.h"
#include "protocol/identity.h"

namespace {

int character(std::uint8_t c) { return c; }

void printDigest(const std::uint8_t* digest) {
  for (std::size_t i = 0; i < DIGEST_SIZE; ++i) {
    std::printf("%02x", static_cast<unsigned>(digest[i]));
  }
}

}  // namespace

void printUnitIdentity(const std::uint8_t* record) {
  const UnitIdentity r =
      decodeIdentity(std::span<const std::uint8_t, UNIT_IDENTITY_SIZE>(record, UNIT_IDENTITY_SIZE));
  const auto& mac = r.macAddress;
  std::fputs("\n\n\t----- Unit Identity -----", stdout);
  std::printf("\nMonitor Revision              %d", static_cast<int>(r.monitorRevision));
  std::printf("\nBuild Number                  %d", static_cast<int>(r.buildNumber));
  std::printf("\nDrive Current Capability      %.2f Amp", static_cast<double>(r.currentCapability));
  std::printf("\nBus Sensor Resolution         %.2f Counts/V",
              static_cast<double>(r.busSensorResolution));
  std::printf("\nCurrent Sensor Resolution     %.2f Counts/Amp",
              static_cast<double>(r.currentSensorResolution));
  std::printf("\nSerial Number                 %d", static_cast<int>(r.serialNumber));
  std::printf("\nManufacturing Code            %d", static_cast<int>(r.manufacturingCode));
  std::printf("\nHardware Revision             %c.%c%c", character(r.hardwareRevision[0]),
              character(r.hardwareRevision[1]), character(r.hardwareRevision[2]));
  std::printf("\nModel Code                    %c%c%c", character(r.modelCode[0]),
              character(r.modelCode[1]), character(r.modelCode[2]));
  // The precision stops the text at the field's end when no zero byte
  // ends it earlier.
  std::printf("\nVin Number                    %.*s", static_cast<int>(r.vinNumber.size()),
              reinterpret_cast<const char*>(r.vinNumber.data()));
  std::printf("\nMac Address                   %02x %02x %02x %02x %02x %02x",
              static_cast<unsigned>(mac[0]), static_cast<unsigned>(mac[1]),
              static_cast<unsigned>(mac[2]), static_cast<unsigned>(mac[3]),
              static_cast<unsigned>(mac[4]), static_cast<unsigned>(mac[5]));
  std::printf("\nChecksum                      %04lx", static_cast<unsigned long>(r.checksum));
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

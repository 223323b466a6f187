// The unit identity and digest report, printed on rxthread for the drive's
// answer to CMD_ENTER_MONITOR.
#pragma once

#include <cstdint>

// Prints the UNIT_IDENTITY_SIZE-byte record at record (response byte 5).
// Reads nothing past the record; changes no shared state.
void printUnitIdentity(const std::uint8_t* record);

// In MODE_VERIFY prints the DIGEST_SIZE-byte drive digest at driveDigest
// (response byte 117) beside fileDigest with the verdict. Sets doneFlag in
// every mode.
void reportDriveDigest(const std::uint8_t* driveDigest);

// The identity report, field by field, from answers that a running rxthread
// takes in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link.h"
#include "link/linktest.h"

using namespace linktest;

namespace {

struct FieldCase {
  const char* name;
  std::size_t offset;  // in the record
  Bytes bytes;
  std::string line;  // as printed: a line feed, the label padded to 30 columns, the value
};

const std::vector<FieldCase> FIELD_CASES = {
    {"revision 5", 0, {0x00, 0x00, 0x00, 0x05}, "\nMonitor Revision              5"},
    {"negative build", 4, {0xFF, 0xFF, 0xFF, 0xFE}, "\nBuild Number                  -2"},
    {"serial -1", 20, {0xFF, 0xFF, 0xFF, 0xFF}, "\nSerial Number                 -1"},
    {"code, high byte first",
     24,
     {0x01, 0x02, 0x03, 0x04},
     "\nManufacturing Code            16909060"},
    {"10.00 Amp", 8, {0x41, 0x20, 0x00, 0x00}, "\nDrive Current Capability      10.00 Amp"},
    {"1.00 Amp", 8, {0x3F, 0x80, 0x00, 0x00}, "\nDrive Current Capability      1.00 Amp"},
    {"bus resolution",
     12,
     {0xC2, 0xF7, 0x00, 0x00},
     "\nBus Sensor Resolution         -123.50 Counts/V"},
    {"current resolution rounded",
     16,
     {0x3E, 0xAA, 0xAA, 0xAB},
     "\nCurrent Sensor Resolution     0.33 Counts/Amp"},
    {"hardware 1.02, fourth byte unused",
     28,
     {'1', '0', '2', '9'},
     "\nHardware Revision             1.02"},
    {"model, fourth byte unused", 32, {'A', 'B', 'C', 'D'}, "\nModel Code                    ABC"},
    {"lower-case MAC",
     100,
     {0xDE, 0xAD, 0x0B, 0xEF, 0x00, 0xFF},
     "\nMac Address                   de ad 0b ef 00 ff"},
    {"checksum 001f", 108, {0x00, 0x00, 0x00, 0x1F}, "\nChecksum                      001f"},
    {"checksum 12345", 108, {0x00, 0x01, 0x23, 0x45}, "\nChecksum                      12345"},
    {"checksum all digits",
     108,
     {0xFF, 0xFF, 0xFF, 0xFF},
     "\nChecksum                      ffffffff"},
    {"empty VIN", 36, {0x00, 'X', 'Y'}, "\nVin Number                    "},
    // A VIN that fills its 64 bytes: the MAC's 0x02 behind it is not text.
    {"VIN without terminator", 36, Bytes(64, 'V'),
     "\nVin Number                    " + std::string(64, 'V')},
};

TEST(ReportTest, EachFieldIsDecodedAsItsLabelSays) {
  runMode = MODE_PROGRAM;
  TestSocket drive;
  startTestLink(drive);
  for (const FieldCase& c : FIELD_CASES) {
    Bytes record = identityRecord();
    std::copy(c.bytes.begin(), c.bytes.end(), record.begin() + static_cast<long>(c.offset));
    // The whole report, with this field's line in place of the default one.
    std::string expected = IDENTITY_REPORT;
    const std::size_t at = expected.find(c.line.substr(0, 31));
    ASSERT_NE(at, std::string::npos) << c.name;
    expected.replace(at, expected.find('\n', at + 1) - at, c.line);
    EXPECT_EQ(dispatchAndCapture(drive, answer(20, 112, 1, 117, record)), expected) << c.name;
  }
  shutdownLink();
}

}  // namespace

// The link threads: what rxthread makes of each datagram a stand-in drive
// sends it (dispatch, identity and digest report), and the link's end in
// every state the end can meet it in.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "image/image.h"
#include "link/datagram.h"
#include "link/linktest.h"
#include "testkit/expected.h"

using namespace linktest;

namespace {

// About 100 ms at most, with some slack for a busy machine.
constexpr double SHUTDOWN_LIMIT_MS = 150;

// Nothing holds 127.0.0.1:8995: a socket without address reuse binds it.
bool hostPortIsFree() {
  TestSocket probe;
  return openBound(probe, HOST_IP, PORT, false);
}

// Runs shutdownLink twice, each within the limit.
void shutDownTwice() {
  for (int i = 1; i <= 2; ++i) {
    const auto start = std::chrono::steady_clock::now();
    shutdownLink();
    EXPECT_LT(millisecondsSince(start), SHUTDOWN_LIMIT_MS) << "shutdown " << i;
  }
}

// A link running towards a stand-in drive. Its end is quick, quiet, may come
// twice, and frees the link's port.
class RunningLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    runMode = MODE_PROGRAM;
    startTestLink(drive);
  }
  void TearDown() override {
    testing::internal::CaptureStdout();
    shutDownTwice();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(hostPortIsFree());
  }

  TestSocket drive;
};

// The link sends from port 8995 of the address the host reaches the drive
// from: 127.0.0.1 for 127.0.0.2.
TEST_F(RunningLinkTest, SendsFromItsPortOnTheAddressFacingTheDrive) {
  ASSERT_TRUE(sendCommand(CMD_CONNECT, 0, nullptr, 0, 0));
  std::uint8_t area[1024];
  std::size_t received = 0;
  std::uint32_t from = 0;
  std::uint16_t fromPort = 0;
  ASSERT_EQ(netReceiveFrom(drive.s, area, sizeof area, &received, &from, &fromPort), NetResult::ok);
  EXPECT_EQ(from, HOST_IP);
  EXPECT_EQ(fromPort, PORT);
  EXPECT_FALSE(hostPortIsFree());
}

struct DispatchCase {
  const char* name;
  Bytes datagram;
  std::string printed;
  bool done;  // doneFlag afterwards
};

const std::string ID = IDENTITY_REPORT;
const std::string WRONG = "\nERROR : Oops! wrong command code";

// In turn on one link, each acknowledged. Short datagrams follow complete
// answers, whose bytes are still in the receive area; answers after a digest
// report (done) must still be taken in.
TEST_F(RunningLinkTest, EveryDatagramIsAnAnswerAndOnlyCompleteOnesAreReported) {
  const DispatchCase cases[] = {
      {"600 bytes, the first 512 count", answer(20, 128, 1, 600), ID, true},
      {"4 bytes", answer(20, 128, 1, 4), "", false},
      {"status 0", answer(20, 128, 0, 133), "", false},
      {"status 2", answer(20, 128, 2, 133), "", false},
      {"identity alone, length 112", answer(20, 112, 1, 117), ID, false},
      {"identity again, length 0", answer(20, 0, 1, 117), ID, false},
      {"empty", {}, "", false},
      {"connect", answer(16, 0, 1, 5), "", false},
      {"reboot", answer(19, 0, 1, 5), "", false},
      {"code 15", answer(15, 0, 1, 5), WRONG, false},
      {"code 21", answer(21, 0, 1, 5), WRONG, false},
      {"code 276 (01 14), full identity", answer(276, 128, 1, 133), WRONG, false},
      {"digest, length 113", answer(20, 113, 1, 133), ID, true},
      {"program block after the digest", answer(17, 0, 1, 5), "", false},
      {"digest, length 65535", answer(20, 0xFFFF, 1, 133), ID, true},
      {"digest cut short", answer(20, 128, 1, 132), ID, false},
      {"digest announced, not sent", answer(20, 128, 1, 117), ID, false},
      {"identity cut short", answer(20, 128, 1, 116), "", false},
  };
  for (const DispatchCase& c : cases) {
    doneFlag = false;
    EXPECT_EQ(dispatchAndCapture(drive, c.datagram), c.printed) << c.name;
    EXPECT_EQ(doneFlag.load(), c.done) << c.name;
  }
}

// Only a verify run prints the digests and its verdict; every run is done.
TEST_F(RunningLinkTest, TheDigestReportComparesDigestsByteForByteInAVerifyRun) {
  const Bytes digest = driveDigest();
  const std::string same(digest.begin(), digest.end());
  std::string other = same;
  other[15] = '\xEF';
  for (const auto& [mode, file] : {std::pair{MODE_IDENTITY, same}, std::pair{MODE_VERIFY, same},
                                   std::pair{MODE_VERIFY, other}}) {
    runMode = mode;
    std::copy(file.begin(), file.end(), fileDigest);
    doneFlag = false;
    EXPECT_EQ(dispatchAndCapture(drive, answer(20, 128, 1, 133)),
              ID + (mode == MODE_VERIFY ? verifyLines(same, file) : ""));
    EXPECT_TRUE(doneFlag);
  }
}

struct FieldCase {
  std::size_t offset;  // in the record
  Bytes bytes;
  std::string line;  // the label padded to 30 columns, the value
};

// Each row puts bytes of its own into one field of the record; the report is
// the whole default one with that field's line replaced.
TEST_F(RunningLinkTest, EachIdentityFieldIsDecodedAsItsLabelSays) {
  const FieldCase cases[] = {
      {20, {0xFF, 0xFF, 0xFF, 0xFF}, "Serial Number                 -1"},
      {24, {0x01, 0x02, 0x03, 0x04}, "Manufacturing Code            16909060"},
      {8, {0x3F, 0x80, 0x00, 0x00}, "Drive Current Capability      1.00 Amp"},
      {12, {0xC2, 0xF7, 0x00, 0x00}, "Bus Sensor Resolution         -123.50 Counts/V"},
      {16, {0x3E, 0xAA, 0xAA, 0xAB}, "Current Sensor Resolution     0.33 Counts/Amp"},
      {28, {'3', '0', '7', '9'}, "Hardware Revision             3.07"},
      {32, {'A', 'B', 'C', 'D'}, "Model Code                    ABC"},
      {102, {0x0B, 0xEF, 0x00, 0xFF}, "Mac Address                   02 00 0b ef 00 ff"},
      {108, {0x00, 0x01, 0x23, 0x45}, "Checksum                      12345"},
      {108, {0xFF, 0xFF, 0xFF, 0xFF}, "Checksum                      ffffffff"},
      {36, {0x00, 'X', 'Y'}, "Vin Number                    "},
      // 64 bytes without a zero: the MAC's 0x02 behind them is not text.
      {36, Bytes(64, 'V'), "Vin Number                    " + std::string(64, 'V')},
  };
  for (const FieldCase& c : cases) {
    Bytes record = identityRecord();
    std::copy(c.bytes.begin(), c.bytes.end(), record.begin() + static_cast<long>(c.offset));
    std::string expected = ID;
    const std::size_t at = expected.find("\n" + c.line.substr(0, 30));
    ASSERT_NE(at, std::string::npos) << c.line;
    expected.replace(at, expected.find('\n', at + 1) - at, "\n" + c.line);
    EXPECT_EQ(dispatchAndCapture(drive, answer(20, 112, 1, 117, record)), expected) << c.line;
  }
}

// Before anything started it only sets doneFlag; however far comthread has
// got with its set-up, the end leaves nothing bound.
TEST(ShutdownTest, BeforeTheStartAndDuringTheSetUpItIsQuickAndQuiet) {
  enterPrivateNetwork();
  ASSERT_TRUE(resetLink());
  doneFlag = false;
  driveIp = DRIVE_IP;
  testing::internal::CaptureStdout();
  shutDownTwice();
  EXPECT_TRUE(doneFlag);
  EXPECT_EQ(udpSocket.load(), 0);
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(startLink()) << i;
    std::this_thread::sleep_for(std::chrono::microseconds(i * 50));
    shutDownTwice();
    EXPECT_TRUE(hostPortIsFree()) << i;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A bind that fails is reported and changes nothing about the end.
TEST(ShutdownTest, AFailedBindIsReportedAndTheEndStillComesAtOnce) {
  enterPrivateNetwork();
  TestSocket holder;  // holds the port for itself alone
  ASSERT_TRUE(openBound(holder, HOST_IP, PORT, false));
  driveIp = DRIVE_IP;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(startLink());
  ASSERT_TRUE(waitUntil([] { return udpSocket.load() != 0; }, 2000));
  shutDownTwice();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nERROR: udpSocket bind failed");
}

}  // namespace

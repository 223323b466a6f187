// The response dispatcher, fed by real datagrams through a running rxthread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"
#include "link/link.h"
#include "link/linktest.h"

using namespace linktest;

namespace {

const std::string WRONG_CODE = "\nERROR : Oops! wrong command code";

class DispatchTest : public testing::Test {
 protected:
  void SetUp() override {
    runMode = MODE_PROGRAM;
    doneFlag = false;
    startTestLink(drive);
  }
  void TearDown() override { shutdownLink(); }

  TestSocket drive;
};

struct DispatchCase {
  const char* name;
  Bytes datagram;
  std::string printed;
  bool done;  // doneFlag afterwards
};

TEST_F(DispatchTest, EveryDatagramIsAcknowledgedAndOnlyCompleteAnswersAreReported) {
  const std::vector<DispatchCase> cases = {
      {"status 0, full identity answer", answer(20, 128, 0, 133), "", false},
      {"status 2", answer(20, 128, 2, 133), "", false},
      {"4 bytes", {0x00, 0x14, 0x00, 0x80}, "", false},
      {"nothing but a header", {0x00, 0x14, 0x00, 0x80, 0x01}, "", false},
      {"empty datagram", {}, "", false},
      {"connect", answer(16, 0, 1, 5), "", false},
      {"program block", answer(17, 0, 1, 5), "", false},
      {"verify", answer(18, 0, 1, 5), "", false},
      {"reboot", answer(19, 0, 1, 5), "", false},
      {"code 15", answer(15, 0, 1, 5), WRONG_CODE, false},
      {"code 21", answer(21, 0, 1, 5), WRONG_CODE, false},
      {"code 0", answer(0, 0, 1, 5), WRONG_CODE, false},
      {"code 276 (01 14) with a full identity", answer(276, 128, 1, 133), WRONG_CODE, false},
      {"length 112: identity alone", answer(20, 112, 1, 117), IDENTITY_REPORT, false},
      {"length 0: identity all the same", answer(20, 0, 1, 117), IDENTITY_REPORT, false},
      {"length 113 with the digest", answer(20, 113, 1, 133), IDENTITY_REPORT, true},
      {"length 65535 with the digest", answer(20, 0xFFFF, 1, 133), IDENTITY_REPORT, true},
      {"digest announced, not sent", answer(20, 128, 1, 117), IDENTITY_REPORT, false},
      {"digest cut short", answer(20, 128, 1, 132), IDENTITY_REPORT, false},
      {"identity cut short", answer(20, 128, 1, 116), "", false},
      {"600 bytes: the first 512 count", answer(20, 128, 1, 600), IDENTITY_REPORT, true},
  };
  for (const DispatchCase& c : cases) {
    doneFlag = false;
    EXPECT_EQ(dispatchAndCapture(drive, c.datagram), c.printed) << c.name;
    EXPECT_EQ(doneFlag.load(), c.done) << c.name;
  }
}

// The receive area is reused; a short datagram must not be read as if it
// carried what the one before it left there.
TEST_F(DispatchTest, AShortDatagramIsNotCompletedByAnEarlierOne) {
  EXPECT_EQ(dispatchAndCapture(drive, answer(20, 128, 1, 133)), IDENTITY_REPORT);
  doneFlag = false;
  EXPECT_EQ(dispatchAndCapture(drive, answer(20, 128, 1, 10)), "");
  EXPECT_FALSE(doneFlag);
  EXPECT_EQ(dispatchAndCapture(drive, answer(20, 128, 1, 4)), "");
  EXPECT_FALSE(doneFlag);
}

TEST_F(DispatchTest, EveryIdentityAnswerIsPrintedAgain) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(dispatchAndCapture(drive, answer(20, 112, 1, 117)), IDENTITY_REPORT) << i;
  }
}

// A drive answers CMD_ENTER_MONITOR with its digest in a programming run
// too; the blocks that follow must still be acknowledged.
TEST_F(DispatchTest, TheDigestReportDoesNotEndTheLink) {
  EXPECT_EQ(dispatchAndCapture(drive, answer(20, 128, 1, 133)), IDENTITY_REPORT);
  EXPECT_TRUE(doneFlag);
  for (int block = 0; block < 3; ++block) {
    EXPECT_EQ(dispatchAndCapture(drive, answer(17, 0, 1, 5)), "") << block;
  }
}

TEST_F(DispatchTest, TheVerifyRunComparesTheDigestsByteForByte) {
  runMode = MODE_VERIFY;
  const Bytes same = driveDigest();
  std::copy(same.begin(), same.end(), fileDigest);
  const std::string digestLines =
      "\nDrive Firmware MD5 : d0d1d2d3d4d5d6d7d8d9dadbdcdddedf"
      "\nFile  Firmware MD5 : d0d1d2d3d4d5d6d7d8d9dadbdcdddedf";
  EXPECT_EQ(dispatchAndCapture(drive, answer(20, 128, 1, 133)),
            IDENTITY_REPORT + digestLines +
                "\nFile Firmware matches with Drive Firmware - Verifyed Successfully");
  EXPECT_TRUE(doneFlag);

  doneFlag = false;
  fileDigest[15] = 0xEF;
  EXPECT_EQ(dispatchAndCapture(drive, answer(20, 128, 1, 133)),
            IDENTITY_REPORT +
                "\nDrive Firmware MD5 : d0d1d2d3d4d5d6d7d8d9dadbdcdddedf"
                "\nFile  Firmware MD5 : d0d1d2d3d4d5d6d7d8d9dadbdcdddeef" +
                "\nFile Firmware in the DOES NOT match with Drive Firmware - Verification Failed");
  EXPECT_TRUE(doneFlag);
}

TEST_F(DispatchTest, TheIdentityRunPrintsNoDigestAndIsDone) {
  runMode = MODE_IDENTITY;
  EXPECT_EQ(dispatchAndCapture(drive, answer(20, 128, 1, 133)), IDENTITY_REPORT);
  EXPECT_TRUE(doneFlag);
}

}  // namespace

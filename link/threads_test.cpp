// The link over real sockets, with a stand-in drive: the commands on the
// wire, what rxthread makes of each datagram (dispatch, identity and digest
// report), and the link's end in every state it can meet.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "image/image.h"
#include "link/linktest.h"
#include "protocol/loader.h"
#include "testkit/expected.h"

using namespace linktest;

namespace {

Bytes fromHex(std::string text) {
  std::erase(text, ' ');
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// The simulated drive's default identity record, reported as IDENTITY.
Bytes identityRecord() {
  // 5, 1234, 10.0, 16.5, 204.8, 123456, 42, "102 ", "KV7 ", the VIN to byte 99
  Bytes r = fromHex("00000005 000004d2 41200000 41840000 434ccccd 0001e240 0000002a");
  const std::string text = "102 KV7 KV720SIM0001";
  r.insert(r.end(), text.begin(), text.end());
  r.resize(100);
  const Bytes tail = fromHex("020000 1234ab 0000 0000001f");  // MAC, unused, checksum
  r.insert(r.end(), tail.begin(), tail.end());
  return r;
}

const Bytes DRIVE_DIGEST = fromHex("d0d1d2d3d4d5d6d7d8d9dadbdcdddedf");
const Bytes PING = {0x00, 0x10, 0x00, 0x00, 0x00};  // status 0: acknowledged, nothing else

// An answer of size bytes: head (code, length field, status), then the
// record and the digest as far as size reaches, then 0xEE filler.
Bytes answer(const std::string& head, std::size_t size, const Bytes& record = identityRecord()) {
  Bytes full = fromHex(head);
  full.insert(full.end(), record.begin(), record.end());
  full.insert(full.end(), DRIVE_DIGEST.begin(), DRIVE_DIGEST.end());
  full.resize(size, 0xEE);
  return full;
}

// Each end within about 100 ms, with slack for a busy machine.
void shutDownTwice() {
  for (int i = 1; i <= 2; ++i) {
    const auto start = std::chrono::steady_clock::now();
    shutdownLink();
    EXPECT_LT(millisecondsSince(start), 150) << "shutdown " << i;
  }
}

bool hostPortIsFree() {
  TestSocket probe;
  return openBound(probe, HOST_IP, PORT, false);
}

const std::string SEND_FAILED = "ERROR: server sendto failed\n";

// A link running towards a stand-in drive; its end is quick, quiet, may come
// twice and frees the link's port.
class RunningLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    enterPrivateNetwork();
    ASSERT_TRUE(openBound(drive, DRIVE_IP, PORT));
    runMode = MODE_PROGRAM;
    driveIp = DRIVE_IP;
    ackReceived = false;
    ASSERT_TRUE(startLink());
    ASSERT_TRUE(waitUntil([&] { return send(PING) && waitUntil(acknowledged, 2); }, 3000));
    pauseMs(50);  // the pings still queued are dispatched before the test goes on
  }
  void TearDown() override {
    testing::internal::CaptureStdout();
    shutDownTwice();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(hostPortIsFree());
  }
  static bool acknowledged() { return ackReceived; }
  bool send(const Bytes& data) const {
    return netSendTo(drive.s, data.data(), data.size(), HOST_IP, PORT, false);
  }
  // A datagram's bytes, or "" when none came in time.
  std::string receive(std::uint32_t* from = nullptr, std::uint16_t* fromPort = nullptr) const {
    std::uint8_t area[2048];
    std::size_t n = 0;
    const NetResult r = netReceiveFrom(drive.s, area, sizeof area, &n, from, fromPort);
    return r == NetResult::ok ? std::string(area, area + n) : "";
  }
  // What rxthread printed for data: datagrams are dispatched in turn, so its
  // dispatch has ended once the ping sent behind it is acknowledged.
  std::string dispatch(const Bytes& data) const {
    testing::internal::CaptureStdout();
    for (const Bytes* d : {&data, &PING}) {
      ackReceived = false;
      EXPECT_TRUE(send(*d) && waitUntil(acknowledged, 2000)) << "no acknowledgment";
    }
    return testing::internal::GetCapturedStdout();
  }

  TestSocket drive;
};

// 524 bytes, big-endian, zero-filled behind the payload even when built over
// other bytes, and sent from port 8995 of the address facing the drive.
TEST_F(RunningLinkTest, EveryCommandIs524BigEndianBytesWithZeroFill) {
  Bytes image(2048);  // no zero byte in it, so payload and fill are told apart
  std::generate(image.begin(), image.end(), [n = 0]() mutable { return n++ % 251 + 1; });
  // Code, target, payload offset and length; the header: magic, code, length, target.
  const std::tuple<std::uint8_t, std::uint32_t, std::size_t, std::size_t, std::string> cases[] = {
      {20, 0, 0, 0, "3c3cc3c3 0014 0000 00000000"},
      {17, 0x8000, 0, 512, "3c3cc3c3 0011 0200 00008000"},       // first full block
      {17, 0x8400, 1024, 100, "3c3cc3c3 0011 0064 00008400"},    // last block, 100 bytes
      {17, 0x12345678, 2047, 1, "3c3cc3c3 0011 0001 12345678"},  // one byte, high address
  };
  for (const auto& [code, target, offset, length, header] : cases) {
    const auto payload = image.begin() + static_cast<long>(offset);
    std::string expected =
        header + hex(std::string(payload, payload + length)) + std::string(2 * (512 - length), '0');
    std::erase(expected, ' ');
    ASSERT_TRUE(sendCommand(code, target, image.data(), offset, length));
    std::uint32_t from = 0;
    std::uint16_t fromPort = 0;
    EXPECT_EQ(hex(receive(&from, &fromPort)), expected) << header;
    EXPECT_TRUE(from == HOST_IP && fromPort == PORT) << std::hex << from << ":" << fromPort;
  }
  // Longer than the payload area, and a payload without a buffer.
  testing::internal::CaptureStdout();
  EXPECT_FALSE(sendCommand(17, 0x8000, image.data(), 0, 513));
  EXPECT_FALSE(sendCommand(17, 0x8000, nullptr, 0, 4));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), SEND_FAILED + SEND_FAILED);
  ASSERT_TRUE(netSetReceiveTimeout(drive.s, 50));
  EXPECT_EQ(receive(), "") << "a refused command reached the drive";
}

const std::string WRONG = "\nERROR : Oops! wrong command code";

// In turn on one link: short datagrams follow complete answers, whose bytes
// are still in the receive area, and answers after a digest are taken in.
TEST_F(RunningLinkTest, EveryDatagramIsAnAnswerAndOnlyCompleteOnesAreReported) {
  const std::tuple<const char*, Bytes, std::string, bool> cases[] = {
      {"600 bytes, the first 512 count", answer("0014 0080 01", 600), IDENTITY, true},
      {"4 bytes", answer("0014 0080 01", 4), "", false},
      {"status 0", answer("0014 0080 00", 133), "", false},
      {"status 2", answer("0014 0080 02", 133), "", false},
      {"identity, length 112", answer("0014 0070 01", 117), IDENTITY, false},
      {"identity again, length 0", answer("0014 0000 01", 117), IDENTITY, false},
      {"empty", {}, "", false},
      {"code 15", answer("000f 0000 01", 5), WRONG, false},
      {"code 21", answer("0015 0000 01", 5), WRONG, false},
      {"code 276, full identity", answer("0114 0080 01", 133), WRONG, false},
      {"digest, length 113", answer("0014 0071 01", 133), IDENTITY, true},
      {"connect after the digest", answer("0010 0000 01", 5), "", false},
      {"reboot", answer("0013 0000 01", 5), "", false},
      {"digest, length 65535", answer("0014 ffff 01", 133), IDENTITY, true},
      {"digest cut short", answer("0014 0080 01", 132), IDENTITY, false},
      {"identity cut short", answer("0014 0080 01", 116), "", false},
  };
  for (const auto& [name, datagram, printed, done] : cases) {
    doneFlag = false;
    EXPECT_EQ(dispatch(datagram), printed) << name;
    EXPECT_EQ(doneFlag.load(), done) << name;
  }
}

// Only a verify run prints the digests and its verdict; every run is done.
TEST_F(RunningLinkTest, TheDigestReportComparesDigestsByteForByteInAVerifyRun) {
  const std::string same(DRIVE_DIGEST.begin(), DRIVE_DIGEST.end());
  const std::string other = same.substr(0, 15) + '\xEF';
  for (const auto& [mode, file] : {std::pair{MODE_IDENTITY, same}, std::pair{MODE_VERIFY, same},
                                   std::pair{MODE_VERIFY, other}}) {
    runMode = mode;
    std::copy(file.begin(), file.end(), fileDigest);
    doneFlag = false;
    EXPECT_EQ(dispatch(answer("0014 0080 01", 133)),
              IDENTITY + (mode == MODE_VERIFY ? verifyLines(same, file) : ""));
    EXPECT_TRUE(doneFlag);
  }
}

// Each row puts bytes of its own into one field of the record: the report is
// the default one with that field's line (label padded to 30 columns) replaced.
TEST_F(RunningLinkTest, EachIdentityFieldIsDecodedAsItsLabelSays) {
  const std::tuple<std::size_t, Bytes, std::string> cases[] = {
      {20, {0xFF, 0xFF, 0xFF, 0xFF}, "Serial Number                 -1"},
      {8, {0x3F, 0x80, 0x00, 0x00}, "Drive Current Capability      1.00 Amp"},
      {12, {0xC2, 0xF7, 0x00, 0x00}, "Bus Sensor Resolution         -123.50 Counts/V"},
      {16, {0x3E, 0xAA, 0xAA, 0xAB}, "Current Sensor Resolution     0.33 Counts/Amp"},
      {108, {0x00, 0x01, 0x23, 0x45}, "Checksum                      12345"},
      {36, {0x00, 'X', 'Y'}, "Vin Number                    "},
      // 64 bytes without a zero: the MAC's 0x02 behind them is not text.
      {36, Bytes(64, 'V'), "Vin Number                    " + std::string(64, 'V')},
  };
  for (const auto& [offset, bytes, line] : cases) {
    Bytes record = identityRecord();
    std::copy(bytes.begin(), bytes.end(), record.begin() + static_cast<long>(offset));
    std::string expected = IDENTITY;
    const std::size_t at = expected.find("\n" + line.substr(0, 30));
    ASSERT_NE(at, std::string::npos) << line;
    expected.replace(at, expected.find('\n', at + 1) - at, "\n" + line);
    EXPECT_EQ(dispatch(answer("0014 0070 01", 117, record)), expected) << line;
  }
}

// Before the start a command is refused (no socket yet, or its creation
// failed) and the end only sets doneFlag; however far comthread has got with
// its set-up, the end leaves nothing bound; a failed bind is reported.
TEST(ShutdownTest, BeforeTheStartDuringTheSetUpAndAfterAFailedBindItIsQuick) {
  enterPrivateNetwork();
  ASSERT_TRUE(resetLink());
  doneFlag = false;
  driveIp = DRIVE_IP;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(sendCommand(CMD_CONNECT, 0, nullptr, 0, 0));
  udpSocket = NET_INVALID_SOCKET;
  EXPECT_FALSE(sendCommand(CMD_CONNECT, 0, nullptr, 0, 0));
  udpSocket = 0;
  shutDownTwice();
  EXPECT_TRUE(doneFlag);
  EXPECT_EQ(udpSocket.load(), 0);
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(startLink()) << i;
    std::this_thread::sleep_for(std::chrono::microseconds(i * 50));
    shutDownTwice();
    EXPECT_TRUE(hostPortIsFree()) << i;
  }
  TestSocket holder;  // holds the port for itself alone
  ASSERT_TRUE(openBound(holder, HOST_IP, PORT, false));
  ASSERT_TRUE(startLink());
  ASSERT_TRUE(waitUntil([] { return udpSocket.load() != 0; }, 2000));
  shutDownTwice();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            SEND_FAILED + SEND_FAILED + "\nERROR: udpSocket bind failed");
}

}  // namespace

// What sendCommand puts on the wire, read back by a socket of the test's own
// and decoded here byte by byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/datagram.h"
#include "link/link.h"
#include "link/linktest.h"
#include "link/threads.h"

using namespace linktest;

namespace {

// A firmware image without zero bytes, so the zero fill behind a payload is
// told apart from payload bytes.
Bytes sampleImage() {
  Bytes image(2048);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(i % 251 + 1);
  }
  return image;
}

struct WireCase {
  const char* name;
  std::uint8_t code;
  std::uint32_t target;
  std::size_t offset;
  std::size_t length;
  Bytes header;  // bytes 0 to 11 as the drive must see them
};

const std::vector<WireCase> WIRE_CASES = {
    {"enter monitor",
     20,
     0,
     0,
     0,
     {0x3C, 0x3C, 0xC3, 0xC3, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {"connect",
     16,
     0,
     0,
     0,
     {0x3C, 0x3C, 0xC3, 0xC3, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {"verify",
     18,
     0,
     0,
     0,
     {0x3C, 0x3C, 0xC3, 0xC3, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {"reboot",
     19,
     0,
     0,
     0,
     {0x3C, 0x3C, 0xC3, 0xC3, 0x00, 0x13, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {"first full block",
     17,
     0x8000,
     0,
     512,
     {0x3C, 0x3C, 0xC3, 0xC3, 0x00, 0x11, 0x02, 0x00, 0x00, 0x00, 0x80, 0x00}},
    {"last block of 100 at 1024",
     17,
     0x8400,
     1024,
     100,
     {0x3C, 0x3C, 0xC3, 0xC3, 0x00, 0x11, 0x00, 0x64, 0x00, 0x00, 0x84, 0x00}},
    {"one byte, high address",
     17,
     0x12345678,
     2047,
     1,
     {0x3C, 0x3C, 0xC3, 0xC3, 0x00, 0x11, 0x00, 0x01, 0x12, 0x34, 0x56, 0x78}},
};

void expectDatagram(const WireCase& c, const Bytes& image, const Bytes& got) {
  SCOPED_TRACE(c.name);
  ASSERT_EQ(got.size(), 524u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 12), c.header);
  for (std::size_t i = 0; i < c.length; ++i) {
    ASSERT_EQ(got[12 + i], image[c.offset + i]) << "payload byte " << i;
  }
  for (std::size_t i = 12 + c.length; i < got.size(); ++i) {
    ASSERT_EQ(got[i], 0) << "fill byte " << i;
  }
}

// The test's own sending socket in udpSocket, and the stand-in drive on
// 127.0.0.2:8995.
struct WireLab {
  TestSocket sender;
  TestSocket drive;
};

void openWireLab(WireLab& lab) {
  enterPrivateNetwork();
  ASSERT_TRUE(resetLink());
  ASSERT_TRUE(openBound(lab.sender, HOST_IP, 0));
  ASSERT_TRUE(openBound(lab.drive, DRIVE_IP, PORT));
  udpSocket = lab.sender.s;
  driveIp = DRIVE_IP;
}

Bytes receive(const TestSocket& drive) {
  Bytes area(2048);
  std::size_t received = 0;
  if (netReceiveFrom(drive.s, area.data(), area.size(), &received, nullptr, nullptr) !=
      NetResult::ok) {
    return {};
  }
  area.resize(received);
  return area;
}

TEST(SendCommandTest, EveryCommandIs524BytesOnTheWire) {
  WireLab lab;
  openWireLab(lab);
  const Bytes image = sampleImage();
  for (const WireCase& c : WIRE_CASES) {
    EXPECT_TRUE(sendCommand(c.code, c.target, image.data(), c.offset, c.length)) << c.name;
    expectDatagram(c, image, receive(lab.drive));
  }
  udpSocket = 0;
}

// The build itself fills the area behind the payload, whatever the buffer
// held before.
TEST(SendCommandTest, TheRestOfThePayloadAreaIsZeroWhateverTheBufferHeld) {
  const Bytes image = sampleImage();
  for (const WireCase& c : WIRE_CASES) {
    Bytes out(524, 0xAA);
    buildCommandDatagram(out.data(), c.code, c.target, image.data(), c.offset, c.length);
    expectDatagram(c, image, out);
  }
}

TEST(SendCommandTest, ASendThatCantGoOutIsReportedAndReturnsFalse) {
  WireLab lab;
  openWireLab(lab);
  const Bytes image = sampleImage();
  struct FailCase {
    const char* name;
    NetSocket socket;
    std::size_t length;
    const std::uint8_t* source;
  };
  const FailCase cases[] = {
      {"no socket yet", 0, 0, nullptr},
      {"socket creation failed", NET_INVALID_SOCKET, 0, nullptr},
      {"payload longer than the area", lab.sender.s, 513, image.data()},
      {"payload without a buffer", lab.sender.s, 4, nullptr},
  };
  for (const FailCase& c : cases) {
    udpSocket = c.socket;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(sendCommand(17, 0x8000, c.source, 0, c.length)) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: server sendto failed\n") << c.name;
  }
  // Nothing of the refused commands reached the drive.
  ASSERT_TRUE(netSetReceiveTimeout(lab.drive.s, 50));
  EXPECT_TRUE(receive(lab.drive).empty());
  udpSocket = 0;
}

}  // namespace

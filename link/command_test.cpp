// What sendCommand puts on the wire, read back by a socket of the test's own.
#include <gtest/gtest.h>

#include <string>

#include "link/datagram.h"
#include "link/linktest.h"
#include "testkit/expected.h"

using namespace linktest;

namespace {

struct WireCase {
  std::uint8_t code;
  std::uint32_t target;
  std::size_t offset;
  std::size_t length;
  std::string header;  // bytes 0 to 11: magic, code, length, target
};

const WireCase WIRE_CASES[] = {
    {20, 0, 0, 0, "3c3cc3c3 0014 0000 00000000"},
    {16, 0, 0, 0, "3c3cc3c3 0010 0000 00000000"},
    {18, 0, 0, 0, "3c3cc3c3 0012 0000 00000000"},
    {19, 0, 0, 0, "3c3cc3c3 0013 0000 00000000"},
    {17, 0x8000, 0, 512, "3c3cc3c3 0011 0200 00008000"},       // first full block
    {17, 0x8400, 1024, 100, "3c3cc3c3 0011 0064 00008400"},    // last block, 100 bytes
    {17, 0x12345678, 2047, 1, "3c3cc3c3 0011 0001 12345678"},  // one byte, high address
};

std::string receive(const TestSocket& drive) {
  std::uint8_t area[2048];
  std::size_t received = 0;
  const NetResult r = netReceiveFrom(drive.s, area, sizeof area, &received, nullptr, nullptr);
  return r == NetResult::ok ? std::string(area, area + received) : "";
}

// Each datagram is also what buildCommandDatagram writes over a buffer of
// other bytes: the zero fill is its own, not what the stack happened to hold.
TEST(SendCommandTest, EveryCommandIs524BigEndianBytesWithZeroFill) {
  enterPrivateNetwork();
  ASSERT_TRUE(resetLink());
  TestSocket sender;
  TestSocket drive;
  ASSERT_TRUE(openBound(sender, HOST_IP, 0));
  ASSERT_TRUE(openBound(drive, DRIVE_IP, PORT));
  udpSocket = sender.s;
  driveIp = DRIVE_IP;
  Bytes image(2048);  // no zero byte in it, so payload and fill are told apart
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(i % 251 + 1);
  }
  for (const WireCase& c : WIRE_CASES) {
    SCOPED_TRACE(c.header);
    const auto payload = image.begin() + static_cast<long>(c.offset);
    std::string expected = c.header + hex(std::string(payload, payload + c.length)) +
                           std::string(2 * (512 - c.length), '0');
    std::erase(expected, ' ');
    ASSERT_TRUE(sendCommand(c.code, c.target, image.data(), c.offset, c.length));
    EXPECT_EQ(hex(receive(drive)), expected);
    Bytes built(524, 0xAA);
    buildCommandDatagram(built.data(), c.code, c.target, image.data(), c.offset, c.length);
    EXPECT_EQ(hex(std::string(built.begin(), built.end())), expected);
  }

  const auto refused = [&](NetSocket socket, std::size_t length, const std::uint8_t* source) {
    udpSocket = socket;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(sendCommand(17, 0x8000, source, 0, length));
    return testing::internal::GetCapturedStdout();
  };
  const std::string failed = "ERROR: server sendto failed\n";
  EXPECT_EQ(refused(0, 0, nullptr), failed) << "no socket yet";
  EXPECT_EQ(refused(NET_INVALID_SOCKET, 0, nullptr), failed) << "its creation failed";
  EXPECT_EQ(refused(sender.s, 513, image.data()), failed) << "longer than the payload area";
  EXPECT_EQ(refused(sender.s, 4, nullptr), failed) << "a payload without a buffer";
  ASSERT_TRUE(netSetReceiveTimeout(drive.s, 50));
  EXPECT_EQ(receive(drive), "") << "a refused command reached the drive";
  udpSocket = 0;
}

}  // namespace

// The loader datagrams against their wire bytes, written as hex.
#include "protocol/loader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/probe.h"
#include "testkit/expected.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string toHex(std::span<const std::uint8_t> bytes) {
  return hex(std::string(bytes.begin(), bytes.end()));
}

Bytes counting(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) {
    b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  return b;
}

TEST(CommandTest, HeaderPayloadAndZeroFillOnTheWire) {
  struct Case {
    std::uint16_t code;
    std::uint32_t target;
    std::size_t payload;
    const char* header;
    std::size_t sent;  // payload bytes in the datagram
  };
  for (const Case& c : {
           Case{CMD_ENTER_MONITOR, 0, 0, "3c3cc3c3 0014 0000 00000000", 0},
           Case{CMD_CONNECT, 0, 0, "3c3cc3c3 0010 0000 00000000", 0},
           Case{CMD_PROGRAM_BLOCK, 0x8000, 512, "3c3cc3c3 0011 0200 00008000", 512},
           Case{CMD_PROGRAM_BLOCK, 0x8400, 100, "3c3cc3c3 0011 0064 00008400", 100},
           // A payload beyond the area is cut, never written past it.
           Case{CMD_PROGRAM_BLOCK, 0xA200, 600, "3c3cc3c3 0011 0200 0000a200", 512},
       }) {
    const Bytes payload = counting(c.payload);
    const CommandBytes wire = encodeCommand(c.code, c.target, payload);
    std::string header = c.header;
    std::erase(header, ' ');
    const std::string expected =
        header + toHex({payload.data(), c.sent}) + std::string(2 * (MAX_PAYLOAD - c.sent), '0');
    EXPECT_EQ(toHex(wire), expected) << c.header;

    const auto decoded = decodeCommand(wire);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->code, c.code);
    EXPECT_EQ(decoded->target, c.target);
    EXPECT_EQ(decoded->length, c.sent);
    EXPECT_EQ(Bytes(decoded->payload.begin(), decoded->payload.end()),
              Bytes(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(c.sent)));
  }
}

// The drive's side: only the bytes that arrived, never past the area.
TEST(CommandTest, DecodingTakesOnlyWhatArrived) {
  struct Case {
    const char* wire;
    bool command;
    std::size_t payload;
  };
  for (const Case& c : {
           Case{"", false, 0},
           Case{"3c3cc3c3 0010 0000 000000", false, 0},  // 11 bytes
           Case{"3c3cc3c4 0010 0000 00000000", false, 0},
           Case{"3c3cc3c3 0010 0000 00000000", true, 0},
           Case{"3c3cc3c3 0011 0004 00008000 aabb", true, 2},  // cut short
           Case{"3c3cc3c3 0011 0001 00008000 aabbcc", true, 1},
       }) {
    const Bytes wire = fromHex(c.wire);
    const auto decoded = decodeCommand(wire);
    EXPECT_EQ(decoded.has_value(), c.command) << c.wire;
    if (decoded) {
      EXPECT_EQ(decoded->payload.size(), c.payload) << c.wire;
    }
  }
  Bytes big = fromHex("3c3cc3c3 0011 ffff 00008000");
  big.resize(COMMAND_HEADER_SIZE + 600, 0xEE);
  EXPECT_EQ(decodeCommand(big)->payload.size(), MAX_PAYLOAD);
}

TEST(ResponseTest, HeaderFieldsAndTheDigestOnlyWhenAnnouncedAndPresent) {
  const std::string digest = "d0d1d2d3d4d5d6d7d8d9dadbdcdddedf";
  struct Case {
    std::string head;
    std::size_t size;  // bytes that arrived, head first, then filler, then digest at 117
    bool response;
    int code;
    int length;
    int status;
    bool hasDigest;
  };
  for (const Case& c : {
           Case{"", 0, false, 0, 0, 0, false},
           Case{"00140070", 4, false, 0, 0, 0, false},
           Case{"0014007001", 5, true, 20, 112, 1, false},
           Case{"0114008001", 133, true, 276, 128, 1, true},
           Case{"0014008001", 133, true, 20, 128, 1, true},
           Case{"0014008001", 132, true, 20, 128, 1, false},  // digest cut short
           Case{"0014007001", 133, true, 20, 112, 1, false},  // not announced
           Case{"0011000000", 5, true, 17, 0, 0, false},
       }) {
    Bytes full = fromHex(c.head);
    full.resize(RESPONSE_DIGEST_OFFSET, 0xEE);
    const Bytes d = fromHex(digest);
    full.insert(full.end(), d.begin(), d.end());
    // Exactly the bytes that arrived, on the heap, so a read past them shows.
    const Bytes wire(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(c.size));
    const auto r = decodeResponse(wire);
    ASSERT_EQ(r.has_value(), c.response) << c.head << " " << c.size;
    if (!r) {
      continue;
    }
    EXPECT_EQ(r->code, c.code);
    EXPECT_EQ(r->length, c.length);
    EXPECT_EQ(r->status, c.status);
    EXPECT_EQ(r->content.size(), c.size - RESPONSE_HEADER_SIZE);
    const auto driveDigest = responseDigest(*r);
    ASSERT_EQ(driveDigest.has_value(), c.hasDigest) << c.head << " " << c.size;
    if (driveDigest) {
      EXPECT_EQ(toHex(*driveDigest), digest);
    }
  }
}

TEST(ResponseTest, EncodedAnswersReadBack) {
  EXPECT_EQ(toHex(encodeResponse(CMD_VERIFY, STATUS_SUCCESS)), "0012000001");
  EXPECT_EQ(toHex(encodeResponse(CMD_CONNECT, 0, fromHex("abcd"))), "0010000200abcd");
  const Bytes content = counting(UNIT_IDENTITY_SIZE + DIGEST_SIZE);
  const Bytes wire = encodeResponse(CMD_ENTER_MONITOR, STATUS_SUCCESS, content);
  EXPECT_EQ(toHex({wire.data(), RESPONSE_HEADER_SIZE}), "0014008001");
  EXPECT_EQ(wire.size(), DIGEST_RESPONSE_SIZE);
  const auto r = decodeResponse(wire);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(Bytes(r->content.begin(), r->content.end()), content);
}

TEST(ProbeTest, TheProbeAndItsReplyAreRecognisedByTheirMark) {
  EXPECT_EQ(toHex(DISCOVERY_PROBE),
            "0a0e2000110000000000232300000000"
            "6d0000");
  EXPECT_TRUE(isDiscoveryProbe(DISCOVERY_PROBE));
  Bytes probe(DISCOVERY_PROBE.begin(), DISCOVERY_PROBE.end());
  probe.push_back(0);
  EXPECT_FALSE(isDiscoveryProbe(probe));
  EXPECT_FALSE(isDiscoveryProbe(fromHex("0a0e2000120000000000232300000000 6d0000")));
  EXPECT_TRUE(isDiscoveryReply(DISCOVERY_REPLY));
  EXPECT_TRUE(isDiscoveryReply(fromHex("ffffffff6d ffff")));
  EXPECT_FALSE(isDiscoveryReply(fromHex("0000006d")));
  EXPECT_FALSE(isDiscoveryReply(fromHex("000000006c")));
  EXPECT_FALSE(isDiscoveryReply(DISCOVERY_PROBE));  // our own probe, heard back
}

}  // namespace

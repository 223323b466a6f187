// The digest against RFC 1321's test suite and OpenSSL's MD5 as the oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "image/md5.h"
#include "testkit/expected.h"

namespace {

// Our digest of length bytes at input, in hex. The output buffer has room to
// spare, which must keep its bytes.
std::string ours(const std::uint8_t* input, std::size_t length) {
  std::uint8_t out[MD5_DIGEST_SIZE + 8];
  std::fill(std::begin(out), std::end(out), 0xa5);
  EXPECT_EQ(md5Digest(out, input, static_cast<std::int32_t>(length)), out);
  EXPECT_EQ(std::count(out + MD5_DIGEST_SIZE, std::end(out), 0xa5), 8) << "written past the end";
  return hex({reinterpret_cast<const char*>(out), MD5_DIGEST_SIZE});
}

std::string theirs(const std::uint8_t* input, std::size_t length) {
  return hex(md5({reinterpret_cast<const char*>(input), length}));
}

TEST(Md5Digest, PublishedTestSuite) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [message, digest] : cases) {
    EXPECT_EQ(ours(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()), digest)
        << '"' << message << '"';
  }
}

// Every length around the block and padding edges from every alignment, then
// random lengths, and a length whose bit count needs all four bytes of the
// length field; one call after another over the same input, which must stay
// as it was. A digest that reads past either end of its range would
// take in bytes that differ from those inside it.
TEST(Md5Digest, MatchesOpensslAtEveryLength) {
  std::mt19937 random(1);
  std::vector<std::uint8_t> input((std::size_t{1} << 26) + 16);
  std::generate(input.begin(), input.end(), [&] { return static_cast<std::uint8_t>(random()); });
  const std::vector<std::uint8_t> copy = input;
  std::vector<std::pair<std::size_t, std::size_t>> cases;  // length and offset
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t base : {0, 64, 128, 192, 1024}) {
      for (std::size_t near : {0, 1, 2, 3, 4, 54, 55, 56, 57, 62, 63}) {
        cases.emplace_back(base + near, offset);
      }
    }
    for (std::size_t length : {119, 120, 121, 183, 184, 3071}) {
      cases.emplace_back(length, offset);
    }
  }
  std::uniform_int_distribution<std::size_t> lengthOf(0, 300000);
  for (std::size_t round = 0; round < 40; ++round) {
    cases.emplace_back(lengthOf(random), round % 4);
  }
  cases.emplace_back((std::size_t{1} << 26) + 13, 0);
  for (const auto& [length, offset] : cases) {
    const std::uint8_t* at = input.data() + 1 + offset;
    ASSERT_EQ(ours(at, length), theirs(at, length)) << "length " << length << ", offset " << offset;
  }
  EXPECT_TRUE(input == copy) << "the input was written to";
}

}  // namespace

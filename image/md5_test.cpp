// The digest against the published test suite and against OpenSSL's MD5 as
// an independent oracle.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/md5.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "image/md5.h"

namespace {

std::string hexOf(const std::uint8_t* digest) {
  std::string text;
  char pair[3];
  for (int i = 0; i < MD5_DIGEST_SIZE; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

std::string ourDigest(const std::uint8_t* input, std::size_t length) {
  std::uint8_t out[MD5_DIGEST_SIZE];
  EXPECT_EQ(md5Digest(out, input, static_cast<std::int32_t>(length)), out);
  return hexOf(out);
}

std::string opensslDigest(const std::uint8_t* input, std::size_t length) {
  std::uint8_t out[MD5_DIGEST_SIZE];
  MD5(input, length, out);
  return hexOf(out);
}

std::vector<std::uint8_t> randomBytes(std::size_t length, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(length);
  for (auto& byte : bytes) {
    byte = static_cast<std::uint8_t>(generator());
  }
  return bytes;
}

TEST(Md5Digest, PublishedTestSuite) {
  const struct {
    const char* message;
    const char* digest;
  } cases[] = {
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
  for (const auto& c : cases) {
    const std::string message = c.message;
    EXPECT_EQ(ourDigest(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()),
              c.digest)
        << '"' << message << '"';
  }
}

// Every length around the block and padding boundaries, each from every
// alignment of the input, against the oracle. The bytes around the range are
// different from those inside it, so a digest that reads past either end
// shows.
TEST(Md5Digest, BoundaryLengthsAtEveryAlignmentMatchOpenssl) {
  const std::vector<std::uint8_t> source = randomBytes(4096, 1);
  std::vector<std::size_t> lengths;
  for (std::size_t base : {0, 64, 128, 192, 1024}) {
    for (std::size_t near : {0, 1, 2, 3, 4, 54, 55, 56, 57, 62, 63}) {
      lengths.push_back(base + near);
    }
  }
  lengths.insert(lengths.end(), {119, 120, 121, 183, 184, 3071});
  for (std::size_t length : lengths) {
    for (std::size_t offset = 0; offset < 8; ++offset) {
      const std::uint8_t* input = source.data() + 1 + offset;
      ASSERT_EQ(ourDigest(input, length), opensslDigest(input, length))
          << "length " << length << ", offset " << offset;
    }
  }
}

TEST(Md5Digest, RandomLengthsMatchOpenssl) {
  std::mt19937 generator(7);
  std::uniform_int_distribution<std::size_t> lengthOf(0, 300000);
  for (int round = 0; round < 40; ++round) {
    const std::size_t length = lengthOf(generator);
    const std::vector<std::uint8_t> bytes = randomBytes(length + 3, static_cast<unsigned>(round));
    const std::uint8_t* input = bytes.data() + round % 4;
    ASSERT_EQ(ourDigest(input, length), opensslDigest(input, length)) << "length " << length;
  }
}

// A length whose bit count needs all four bytes of the length field.
TEST(Md5Digest, LargeInputMatchesOpenssl) {
  const std::size_t length = (std::size_t{1} << 26) + 13;
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 2654435761U >> 24);
  }
  EXPECT_EQ(ourDigest(bytes.data(), length), opensslDigest(bytes.data(), length));
}

// The input is only read, exactly 16 bytes of the output are written, and a
// second call on other data and then on the first gives the first result
// again: nothing of a call survives into the next.
TEST(Md5Digest, WritesOnlyTheDigestAndKeepsNothingBetweenCalls) {
  const std::vector<std::uint8_t> first = randomBytes(1000, 2);
  const std::vector<std::uint8_t> second = randomBytes(77, 3);
  const std::vector<std::uint8_t> firstCopy = randomBytes(1000, 2);

  std::uint8_t out[MD5_DIGEST_SIZE + 8];
  std::fill(std::begin(out), std::end(out), std::uint8_t{0xa5});
  md5Digest(out, first.data(), 1000);
  const std::string once = hexOf(out);
  for (int i = MD5_DIGEST_SIZE; i < MD5_DIGEST_SIZE + 8; ++i) {
    EXPECT_EQ(out[i], 0xa5) << "byte " << i << " after the digest";
  }
  EXPECT_EQ(first, firstCopy);

  md5Digest(out, second.data(), 77);
  EXPECT_EQ(hexOf(out), opensslDigest(second.data(), 77));
  md5Digest(out, first.data(), 1000);
  EXPECT_EQ(hexOf(out), once);
  EXPECT_EQ(once, opensslDigest(first.data(), 1000));
}

}  // namespace

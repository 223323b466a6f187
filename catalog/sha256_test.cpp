// The SHA-256 digest against OpenSSL's, with both engines.
#include "catalog/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "testkit/expected.h"

namespace {

std::string ours(const std::string& input, std::size_t offset, std::size_t length,
                 Sha256Engine engine) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data()) + offset;
  const Sha256Digest digest = sha256Digest({bytes, length}, engine);
  return hex({reinterpret_cast<const char*>(digest.data()), digest.size()});
}

// Every length around the padding's edges (55 bytes still fit one tail
// block, 56 need two), whole blocks, from several alignments, and a large
// input; the extensions' engine where the processor has it.
TEST(Sha256Digest, MatchesOpenssl) {
  const std::string input = sampleFile((std::size_t{1} << 24) + 64);
  std::vector<Sha256Engine> engines = {Sha256Engine::portable};
  if (fastestSha256Engine() == Sha256Engine::shaExtensions) {
    engines.push_back(Sha256Engine::shaExtensions);
  }
  const std::size_t lengths[] = {0,
                                 1,
                                 3,
                                 55,
                                 56,
                                 57,
                                 63,
                                 64,
                                 65,
                                 119,
                                 120,
                                 127,
                                 128,
                                 129,
                                 1000,
                                 4096,
                                 std::size_t{1} << 20,
                                 (std::size_t{1} << 24) + 13};
  for (const Sha256Engine engine : engines) {
    for (const std::size_t length : lengths) {
      for (const std::size_t offset : {0, 1, 7}) {
        EXPECT_EQ(ours(input, offset, length, engine), hex(sha256(input.substr(offset, length))))
            << "length " << length << ", offset " << offset << ", engine "
            << static_cast<int>(engine);
      }
    }
  }
  // The published value of "abc", against an oracle that could be wrong too.
  EXPECT_EQ(ours("abc", 0, 3, fastestSha256Engine()),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace

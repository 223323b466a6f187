// Loading and stamping the firmware image in-process: the image bytes, the
// digest kept for the verify report and the two console lines, each checked
// against an image built here independently, with OpenSSL's MD5 as oracle.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/md5.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image.h"
#include "testkit/process.h"

namespace {

std::string hexOf(const std::string& bytes) {
  std::string text;
  char pair[3];
  for (unsigned char byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

std::string md5Of(const std::string& bytes) {
  unsigned char digest[MD5_DIGEST_LENGTH];
  MD5(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  return std::string(reinterpret_cast<const char*>(digest), MD5_DIGEST_LENGTH);
}

// The image a file must give: rounded up to a multiple of 4 with zeros, then
// digest, zero word and big-endian length over the first 24 bytes.
std::string expectedImage(const std::string& file) {
  std::string image = file;
  image.resize((file.size() + 3) / 4 * 4, '\0');
  const std::size_t length = image.size() - 20;
  const char header[8] = {0,
                          0,
                          0,
                          0,
                          static_cast<char>(length >> 24),
                          static_cast<char>(length >> 16),
                          static_cast<char>(length >> 8),
                          static_cast<char>(length)};
  image.replace(16, 8, header, 8);
  image.replace(0, 16, md5Of(image.substr(20)));
  return image;
}

std::string fileBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = 0x9e3779b9U * (seed + 1);
  for (auto& byte : bytes) {
    x = x * 1664525U + 1013904223U;
    byte = static_cast<char>(x >> 24);
  }
  return bytes;
}

struct Loaded {
  std::string image;
  std::string digest;  // fileDigest after the load
  std::string console;
};

// Loads path as the session does. Before the load, a freed block of the same
// size full of 0xee lies on the heap, so bytes the load leaves unwritten
// would likely show.
Loaded load(const std::string& path, std::size_t sizeHint) {
  void* dirty = std::malloc(sizeHint + 4);
  std::memset(dirty, 0xee, sizeHint + 4);
  std::free(dirty);

  testing::internal::CaptureStdout();
  const FirmwareImage image = loadFirmwareImage(path.c_str());
  Loaded loaded;
  loaded.console = testing::internal::GetCapturedStdout();
  loaded.image.assign(reinterpret_cast<const char*>(image.bytes), image.size);
  loaded.digest.assign(reinterpret_cast<const char*>(fileDigest), sizeof fileDigest);
  std::free(image.bytes);
  return loaded;
}

std::string fileLines(const std::string& image) {
  return "File Firmware MD5  : \t" + hexOf(image.substr(0, 16)) + "\nFile Firmware Size : \t" +
         std::to_string(image.size() - 20);
}

// Sizes at every remainder mod 4, the smallest files, and sizes around the
// digest's block boundaries (N - 20 = 55, 56, 64, 120).
TEST(LoadFirmwareImage, ImageDigestAndLinesForEverySizeClass) {
  ScratchDir dir;
  for (std::size_t size : {21, 22,  23,  24,   25,   26,   27,   28,   75,   76,
                           84, 140, 141, 1000, 1001, 1002, 1003, 1004, 4097, 65539}) {
    const std::string file = fileBytes(size, static_cast<unsigned>(size));
    writeFile(dir.file("fw.bin"), file);
    const Loaded loaded = load(dir.file("fw.bin"), size);
    const std::string expected = expectedImage(file);
    ASSERT_EQ(loaded.image.size(), expected.size()) << "file of " << size << " bytes";
    EXPECT_TRUE(loaded.image == expected) << "file of " << size << " bytes";
    EXPECT_EQ(hexOf(loaded.digest), hexOf(expected.substr(0, 16))) << "file of " << size;
    EXPECT_EQ(loaded.console, fileLines(expected)) << "file of " << size << " bytes";
  }
}

// The worked examples, written out by hand: the image's size, header bytes
// 16 to 23 and size line; from 21 to 24 bytes nothing of the file survives
// and the digest covers the length field 00 00 00 04 alone.
TEST(LoadFirmwareImage, WorkedExamples) {
  ScratchDir dir;
  const struct {
    std::size_t fileSize;
    std::size_t imageSize;
    const char* zeroAndLength;
    const char* sizeLine;
  } cases[] = {
      {1000, 1000, "00000000000003d4", "\nFile Firmware Size : \t980"},
      {1001, 1004, "00000000000003d8", "\nFile Firmware Size : \t984"},
      {1004, 1004, "00000000000003d8", "\nFile Firmware Size : \t984"},
      {21, 24, "0000000000000004", "\nFile Firmware Size : \t4"},
      {24, 24, "0000000000000004", "\nFile Firmware Size : \t4"},
  };
  const std::string lengthOnly = md5Of(std::string("\x00\x00\x00\x04", 4));
  for (const auto& c : cases) {
    writeFile(dir.file("fw.bin"), fileBytes(c.fileSize, 9));
    const Loaded loaded = load(dir.file("fw.bin"), c.fileSize);
    ASSERT_EQ(loaded.image.size(), c.imageSize) << "file of " << c.fileSize << " bytes";
    EXPECT_EQ(hexOf(loaded.image.substr(16, 8)), c.zeroAndLength);
    EXPECT_THAT(loaded.console, testing::EndsWith(c.sizeLine));
    EXPECT_EQ(loaded.image.substr(0, 16), md5Of(loaded.image.substr(20)));
    if (c.imageSize == 24) {
      EXPECT_EQ(loaded.image.substr(0, 16), lengthOnly);
    }
  }
}

// Whatever the first 24 bytes held, they reach neither the image nor the
// digest; and loading the same file twice gives the same image.
TEST(LoadFirmwareImage, FirstTwentyFourBytesDoNotMatterAndLoadsRepeat) {
  ScratchDir dir;
  std::string first = fileBytes(1001, 5);
  std::string second = first;
  second.replace(0, 24, std::string(24, '\xff'));
  writeFile(dir.file("a.bin"), first);
  writeFile(dir.file("b.bin"), second);
  const Loaded a = load(dir.file("a.bin"), 1001);
  const Loaded b = load(dir.file("b.bin"), 1001);
  const Loaded again = load(dir.file("a.bin"), 1001);
  EXPECT_TRUE(a.image == b.image);
  EXPECT_EQ(a.console, b.console);
  EXPECT_TRUE(a.image == again.image);
}

// Caps the address space at what the process holds now and 64 MiB more,
// sends standard output to where a death test reads, and loads path.
void loadWithLittleMemory(const std::string& path) {
  long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) {
      pages = 0;
    }
    std::fclose(statm);
  }
  const rlim_t cap =
      static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{64} << 20);
  const rlimit limit = {cap, cap};
  setrlimit(RLIMIT_AS, &limit);
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  loadFirmwareImage(path.c_str());
}

// A file the process can't find memory for is refused with a message, not a
// crash: the address space is capped in the child the death test runs in.
TEST(LoadFirmwareImageDeathTest, NoMemoryForTheImage) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer reserves more address space than the cap allows";
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
  GTEST_SKIP() << "a sanitizer reserves more address space than the cap allows";
#endif
#endif
  ScratchDir dir;
  const std::string path = dir.file("big.bin");
  // A sparse file of 256 MiB.
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fseek(file, (256L << 20) - 1, SEEK_SET), 0);
  std::fputc(0, file);
  std::fclose(file);

  EXPECT_EXIT(loadWithLittleMemory(path), testing::ExitedWithCode(1),
              testing::Eq("\nERROR: Not enough memory to load file " + path + "\r\n"));
}

}  // namespace

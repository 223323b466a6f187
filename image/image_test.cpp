// The firmware image, loaded in-process and compared with the test kit's
// image (OpenSSL's MD5 as the oracle); and the built loader's refusals and
// largest file. The loader starts its link before it reads the file, so it
// runs inside a private network lab.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "image/image.h"
#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Every remainder mod 4, the smallest files, and N - 20 = 55, 56, 64, 120
// around the digest's block edges, against the oracle; where given, header
// bytes 16 to 23 as worked out by hand. From 21 to 24 bytes nothing of the
// file is left, and the digest covers the length field 00 00 00 04 alone.
TEST(LoadFirmwareImage, MatchesTheOracle) {
  const std::map<std::size_t, std::string> byHand = {{21, "0000000000000004"},
                                                     {24, "0000000000000004"},
                                                     {1000, "00000000000003d4"},
                                                     {1001, "00000000000003d8"},
                                                     {1004, "00000000000003d8"}};
  ScratchDir dir;
  for (std::size_t size : {21, 22,  23,  24,   25,   26,   27,   28,   75,   76,
                           84, 140, 141, 1000, 1001, 1002, 1003, 1004, 4097, 65539}) {
    const std::string file = sampleFile(size, static_cast<std::uint32_t>(size));
    writeFile(dir.file("fw.bin"), file);
    // A freed block full of 0xee on the heap: bytes the load leaves unwritten would show.
    std::free(std::memset(std::malloc(size + 4), 0xee, size + 4));
    const ImageLoad load = loadFirmwareImage(dir.file("fw.bin").c_str());
    ASSERT_EQ(load.error, ImageError::none) << size;
    const FirmwareImage& image = load.image;
    const std::string loaded(reinterpret_cast<const char*>(image.data.get()), image.size);
    const std::string digest(image.digest.begin(), image.digest.end());
    const std::string expected = expectedImage(file);
    EXPECT_TRUE(loaded == expected) << "file of " << size << " bytes";
    EXPECT_EQ(hex(digest), hex(expected.substr(0, 16))) << size;
    if (byHand.contains(size)) {
      EXPECT_EQ(hex(loaded.substr(16, 8)), byHand.at(size)) << size;
    }
    if (size <= 24) {
      EXPECT_EQ(digest, md5(std::string("\0\0\0\4", 4))) << size;
    }
    // The same image from the bytes in memory.
    const FirmwareImage made =
        makeImage(std::span(reinterpret_cast<const std::uint8_t*>(file.data()), file.size()));
    EXPECT_TRUE(std::string(made.bytes().begin(), made.bytes().end()) == loaded) << size;
  }
}

constexpr long MAX_FILE = 512L << 20;

// A sparse file of size bytes: zero but for a text at 24 and in the middle
// and 0xa5 last, so the large cases cost no disk.
void writeSparse(const std::string& path, long size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  for (const long at : {24L, size / 2}) {
    std::fseek(file, at, SEEK_SET);
    std::fputs("FIRMWARE", file);
  }
  std::fseek(file, size - 1, SEEK_SET);
  std::fputc(0xa5, file);
  ASSERT_EQ(std::fclose(file), 0);
}

// Every file the loader can't use is refused with its reason, without
// blocking on what is no regular file (a FIFO without a writer would block
// an ordinary open for ever).
TEST(LoadFirmwareImage, RefusalsNameTheirReason) {
  ScratchDir dir;
  const auto path = [&](const char* name) { return dir.file(name); };
  writeFile(path("empty.bin"), "");
  writeFile(path("one.bin"), "x");
  writeFile(path("twenty.bin"), std::string(20, 'x'));
  writeSparse(path("toolarge.bin"), MAX_FILE + 1);
  ASSERT_EQ(mkdir(path("folder").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  std::vector<std::pair<std::string, ImageError>> refusals = {
      {path("missing.bin"), ImageError::cantOpen},  {path("empty.bin"), ImageError::empty},
      {path("one.bin"), ImageError::tooSmall},      {path("twenty.bin"), ImageError::tooSmall},
      {path("folder"), ImageError::cantOpen},       {path("fifo"), ImageError::cantOpen},
      {path("toolarge.bin"), ImageError::tooLarge}, {"/dev/zero", ImageError::cantOpen},
  };
  // A file that promises more than it delivers: sysfs reports a page and
  // reads back a line.
  const std::string shortFile = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (access(shortFile.c_str(), R_OK) == 0) {
    refusals.emplace_back(shortFile, ImageError::cantRead);
  }
  for (const auto& [file, error] : refusals) {
    EXPECT_EQ(loadFirmwareImage(file.c_str()).error, error) << file;
  }
  EXPECT_EQ(loadFirmwareImage(nullptr).error, ImageError::cantOpen);
}

// ---- the built loader ----------------------------------------------------------------

// The loader's two lines for the file at path, whose size is a multiple of
// 4: OpenSSL's digest of the length field and the file from byte 24 on, taken
// a piece at a time.
std::string expectedLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const auto covered = static_cast<std::uint32_t>(in.tellg()) - 20;
  const unsigned char length[4] = {
      static_cast<unsigned char>(covered >> 24), static_cast<unsigned char>(covered >> 16),
      static_cast<unsigned char>(covered >> 8), static_cast<unsigned char>(covered)};
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context, EVP_md5(), nullptr);
  EVP_DigestUpdate(context, length, 4);
  std::vector<char> piece(1 << 20);
  in.seekg(24);
  while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
    EVP_DigestUpdate(context, piece.data(), static_cast<std::size_t>(in.gcount()));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  EVP_DigestFinal_ex(context, digest, &digestSize);
  EVP_MD_CTX_free(context);
  return "File Firmware MD5  : \t" + hex({reinterpret_cast<char*>(digest), digestSize}) +
         "\nFile Firmware Size : \t" + std::to_string(covered);
}

ProcessResult runLoader(const NetLab& lab, const std::vector<std::string>& args,
                        std::vector<std::string> argv = {}) {
  const std::vector<std::string> loader = tovrinCommand();
  argv.insert(argv.end(), loader.begin(), loader.end());
  argv.insert(argv.end(), {"-ip", lab.driveIp});
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(lab.inHost(argv), seconds(60));
}

// A file the loader can't use ends the run right after the banner with its
// line and status 1, before anything is sent: no file named, a file that
// can't be opened, and a file there is no memory for (the address space
// capped at 128 MiB; a sanitized build reserves far more than that to start
// at all). (Each refusal's reason is the loader's test above, its line the
// reporter's.)
TEST(FirmwareFile, RefusalsEndTheRunWithTheirLine) {
  ScratchDir dir;
  writeSparse(dir.file("big.bin"), 256L << 20);
  struct Refusal {
    std::vector<std::string> args;
    std::string line;
    std::vector<std::string> before = {};  // in front of the loader's command
  };
  std::vector<Refusal> refusals = {
      {{}, "\nERROR: Can't open file (null)\r\n"},
      {{"-fp", dir.path}, "\nERROR: Can't open file " + dir.path + "\r\n"},
  };
#ifndef TOVRIN_SANITIZED
  refusals.push_back({{"-fp", dir.file("big.bin")},
                      "\nERROR: File is too large for the loader.\r\n",
                      {"prlimit", "--as=" + std::to_string(128 << 20)}});
#endif
  auto lab = makeNetLab();
  for (const Refusal& refusal : refusals) {
    const ProcessResult run = runLoader(*lab, refusal.args, refusal.before);
    const std::string shown = refusal.args.empty() ? "(no -fp)" : refusal.args.back();
    EXPECT_EQ(run.exitCode, 1) << shown;
    EXPECT_EQ(run.out, asConsoleBytes(BANNER + refusal.line)) << shown;
    EXPECT_EQ(run.err, "") << shown;
  }
}

// The largest file the loader takes: its digest and size lines. A verify run
// against the simulated drive ends quickly once they are shown.
TEST(FirmwareFile, TheLargestFileIsTaken) {
  ScratchDir dir;
  writeSparse(dir.file("fw.bin"), MAX_FILE);
  auto lab = makeNetLab();
  BackgroundProcess drive =
      startProcess(lab->inDrive({drivesimPath(), "--ip", lab->driveIp, "--idle-timeout", "120"}));
  ASSERT_TRUE(waitForOutput(drive, "ready", seconds(10))) << readFile(drive.errPath);
  const ProcessResult run = runLoader(*lab, {"-fp", dir.file("fw.bin"), "-v"});
  stopProcess(drive, milliseconds(0));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(
      run.out.starts_with(asConsoleBytes(BANNER + expectedLines(dir.file("fw.bin")) + "\n")))
      << run.out;
  EXPECT_EQ(run.err, "");
}

}  // namespace

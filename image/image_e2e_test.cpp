// The firmware file as the built loader takes it: every refusal byte for byte
// with its exit status, and the digest and size lines of accepted files up to
// the largest one, against expectations computed here (OpenSSL's MD5 as the
// digest oracle). The loader starts its link before it reads the file, so
// every run happens inside a private network lab.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string RULE(63, '-');
const std::string BANNER = "\r\n" + RULE + "\r\n" + "KV720 Drive" + std::string(26, ' ') +
                           "(c) Tovrin Motion Controls" + "\r\n" + "Ethernet Firmware Loader" +
                           std::string(27, ' ') + "Version 1.00" + "\r\n" + RULE + "\r\n";

constexpr long MAX_FILE = 512L << 20;

std::string hexOf(const unsigned char* bytes, std::size_t count) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// A file of size bytes, zero but for the bytes in marks, written as a sparse
// file: the large cases cost no disk.
struct Mark {
  long offset;
  std::string bytes;
};

void writeSparse(const std::string& path, long size, const std::vector<Mark>& marks) {
  std::FILE* file = std::fopen(path.c_str(), "w+b");
  ASSERT_NE(file, nullptr);
  for (const Mark& mark : marks) {
    ASSERT_EQ(std::fseek(file, mark.offset, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(mark.bytes.data(), 1, mark.bytes.size(), file), mark.bytes.size());
  }
  ASSERT_EQ(std::fseek(file, size - 1, SEEK_SET), 0);
  const int last = std::fgetc(file);  // a mark may already hold the last byte
  ASSERT_EQ(std::fseek(file, size - 1, SEEK_SET), 0);
  std::fputc(last == EOF ? 0 : last, file);
  ASSERT_EQ(std::fclose(file), 0);
}

// The two lines the loader must print for such a file, computed in a stream
// over the image (length field, then the file from byte 24, then the
// rounding's zeros) a piece at a time, without building it.
std::string expectedLines(long size, const std::vector<Mark>& marks) {
  const long imageSize = (size + 3) / 4 * 4;
  const auto covered = static_cast<std::uint32_t>(imageSize - 20);
  const unsigned char lengthField[4] = {
      static_cast<unsigned char>(covered >> 24), static_cast<unsigned char>(covered >> 16),
      static_cast<unsigned char>(covered >> 8), static_cast<unsigned char>(covered)};
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context, EVP_md5(), nullptr);
  EVP_DigestUpdate(context, lengthField, 4);
  constexpr long PIECE = 1L << 20;
  std::vector<unsigned char> piece;
  for (long start = 24; start < imageSize; start += PIECE) {
    const long end = std::min(imageSize, start + PIECE);
    piece.assign(static_cast<std::size_t>(end - start), 0);
    for (const Mark& mark : marks) {
      for (std::size_t i = 0; i < mark.bytes.size(); ++i) {
        const long at = mark.offset + static_cast<long>(i);
        if (at >= start && at < end) {
          piece[static_cast<std::size_t>(at - start)] = static_cast<unsigned char>(mark.bytes[i]);
        }
      }
    }
    EVP_DigestUpdate(context, piece.data(), piece.size());
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  EVP_DigestFinal_ex(context, digest, &digestSize);
  EVP_MD_CTX_free(context);
  return "File Firmware MD5  : \t" + hexOf(digest, digestSize) + "\nFile Firmware Size : \t" +
         std::to_string(covered);
}

ProcessResult runLoader(const NetLab& lab, const std::vector<std::string>& args) {
  std::vector<std::string> argv = tovrinCommand();
  argv.insert(argv.end(), {"-ip", lab.driveIp});
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(lab.inHost(argv), seconds(60));
}

// Every file the loader can't use ends the run right after the banner with
// one line and status 1, before anything is sent.
TEST(FirmwareFile, RefusalsEndTheRunWithTheirLine) {
  ScratchDir dir;
  writeFile(dir.file("empty.bin"), "");
  writeFile(dir.file("one.bin"), "x");
  writeFile(dir.file("twenty.bin"), std::string(20, 'x'));
  writeSparse(dir.file("toolarge.bin"), MAX_FILE + 1, {});
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);

  struct Refusal {
    std::vector<std::string> args;
    std::string line;
  };
  std::vector<Refusal> refusals = {
      {{"-fp", dir.file("missing.bin")},
       "\nERROR: Can't open file " + dir.file("missing.bin") + "\r\n"},
      {{}, "\nERROR: Can't open file (null)\r\n"},
      {{"-fp", dir.file("empty.bin")}, "\nERROR: File is empty. Nothing to load.\r\n"},
      {{"-fp", dir.file("one.bin")}, "\nERROR: File is too small for a firmware header.\r\n"},
      {{"-fp", dir.file("twenty.bin")}, "\nERROR: File is too small for a firmware header.\r\n"},
      {{"-fp", dir.file("toolarge.bin")},
       "\nERROR: File is too large for a firmware image (512 MiB at most).\r\n"},
      {{"-fp", dir.file("folder")}, "\nERROR: Can't read file " + dir.file("folder") + "\r\n"},
  };
  // A file that promises more than it delivers: sysfs reports a page for
  // every attribute and reads back a line.
  const std::string shortFile = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (std::FILE* probe = std::fopen(shortFile.c_str(), "rb")) {
    std::fclose(probe);
    refusals.push_back({{"-fp", shortFile}, "\nERROR: Can't read file " + shortFile + "\r\n"});
  }

  auto lab = makeNetLab();
  for (const Refusal& refusal : refusals) {
    const ProcessResult run = runLoader(*lab, refusal.args);
    const std::string shown = refusal.args.empty() ? "(no -fp)" : refusal.args.back();
    EXPECT_EQ(run.exitCode, 1) << shown;
    EXPECT_FALSE(run.timedOut) << shown;
    EXPECT_EQ(run.out, asConsoleBytes(BANNER + refusal.line)) << shown;
    EXPECT_EQ(run.err, "") << shown;
  }
}

// Files from the smallest to the largest the loader takes print the digest
// and size of their image. A verify run against the simulated drive ends
// quickly once they are printed.
TEST(FirmwareFile, AcceptedFilesPrintDigestAndSize) {
  ScratchDir dir;
  const std::string text = "FIRMWARE";
  struct Accepted {
    const char* name;
    long size;
    std::vector<Mark> marks;
  };
  const Accepted files[] = {
      {"smallest", 21, {{0, std::string(21, '\x5a')}}},
      {"rounded", 1001, {{0, std::string(24, '\x11')}, {24, text}, {1000, "\x7f"}}},
      {"largest", MAX_FILE, {{24, text}, {MAX_FILE / 2, text}, {MAX_FILE - 1, "\xa5"}}},
  };

  auto lab = makeNetLab();
  BackgroundProcess drive =
      startProcess(lab->inDrive({drivesimPath(), "--ip", lab->driveIp, "--idle-timeout", "120"}));
  ASSERT_TRUE(waitForOutput(drive, "ready", seconds(10))) << readFile(drive.outPath);

  for (const Accepted& file : files) {
    writeSparse(dir.file("fw.bin"), file.size, file.marks);
    const ProcessResult run = runLoader(*lab, {"-fp", dir.file("fw.bin"), "-v"});
    EXPECT_EQ(run.exitCode, 1) << file.name;
    EXPECT_FALSE(run.timedOut) << file.name;
    const std::string expected =
        asConsoleBytes(BANNER + expectedLines(file.size, file.marks) + "\n");
    EXPECT_EQ(run.out.substr(0, expected.size()), expected) << file.name;
    EXPECT_EQ(run.err, "") << file.name;
  }
  stopProcess(drive, milliseconds(0));
}

}  // namespace

// The built loader against a hostile network: random datagrams of random
// lengths flooding the host's port while a run waits on it, and a drive that
// answers every command twice or late. Whatever arrives, the loader must not
// crash, must not grow, must end within the limits of its run and with
// status 1, and must write nothing to standard error.
//
// Each test builds a LAN of its own in network namespaces (as root; without
// them the tests skip, since a flood belongs on no shared network): the
// loader runs in the host namespace, the simulated drive and the flooding
// socket in the drive namespace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::uint16_t PORT = 8995;

std::unique_ptr<NetLab> isolatedLab() {
  if (!canMakeNamespaces()) {
    return nullptr;
  }
  return makeNetLab({.requireIsolation = true});
}

std::uint32_t ipOf(const std::string& dotted) {
  unsigned a = 0;
  unsigned b = 0;
  unsigned c = 0;
  unsigned d = 0;
  if (std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) {
    throw std::invalid_argument(dotted);
  }
  return (a << 24) | (b << 16) | (c << 8) | d;
}

// Sample firmware bytes; no two nearby blocks alike.
std::string sampleFile(std::size_t size) {
  std::string file(size, '\0');
  std::mt19937 random(12345);
  for (auto& c : file) {
    c = static_cast<char>(random());
  }
  return file;
}

// ---- the flood -------------------------------------------------------------------

// Sends random datagrams of 0 to 2000 bytes from the drive namespace to the
// host's port until stopped: first a burst that overfills the receive
// queue, then about 5000 a second. A quarter of them look like answers
// (status 1, a code of 16 to 20 or outside, the identity code with short or
// cut content), so the dispatcher's every branch is hit, but none is a
// complete identity answer with the digest, which would end a waiting run
// early.
struct Flood {
  std::atomic<bool> stop{false};
  std::atomic<long> sent{0};
  std::atomic<bool> failed{false};
  std::thread thread;

  void start(const std::string& namespaceName, const std::string& hostIp) {
    thread = std::thread([this, namespaceName, hostIp] { run(namespaceName, ipOf(hostIp)); });
  }

  void finish() {
    stop = true;
    if (thread.joinable()) {
      thread.join();
    }
  }

  ~Flood() { finish(); }

  void run(const std::string& namespaceName, std::uint32_t host) {
    // This thread alone moves into the drive's namespace.
    const int nsFd = open(("/run/netns/" + namespaceName).c_str(), O_RDONLY | O_CLOEXEC);
    if (nsFd < 0 || setns(nsFd, CLONE_NEWNET) != 0) {
      failed = true;
      if (nsFd >= 0) {
        close(nsFd);
      }
      return;
    }
    close(nsFd);
    const NetSocket s = netOpenUdp();
    if (s == NET_INVALID_SOCKET) {
      failed = true;
      return;
    }
    std::mt19937 random(20240607);
    std::uniform_int_distribution<std::size_t> length(0, 2000);
    std::vector<std::uint8_t> datagram(2000);
    long count = 0;
    while (!stop) {
      const std::size_t n = length(random);
      for (std::size_t i = 0; i < n; ++i) {
        datagram[i] = static_cast<std::uint8_t>(random());
      }
      if (count % 4 == 0 && n >= 5) {
        const unsigned kind = random() % 4;
        datagram[0] = 0;
        datagram[1] = static_cast<std::uint8_t>(kind == 0   ? 20
                                                : kind == 1 ? 16 + random() % 4
                                                            : random() % 256);
        datagram[4] = 1;
        if (datagram[1] == 20 && n >= 133) {
          datagram[2] = 0;  // the identity without the digest
          datagram[3] = static_cast<std::uint8_t>(random() % 113);
        }
      }
      // Sends that fail (a full queue) are part of a flood.
      netSendTo(s, datagram.data(), n, host, PORT, false);
      ++count;
      if (count > 3000 && count % 10 == 0) {
        std::this_thread::sleep_for(milliseconds(2));
      }
    }
    sent = count;
    netClose(s);
  }
};

// ---- the loader's memory -------------------------------------------------------

// The resident size of a running process in kB, or -1 once it has ended.
long residentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long rss = -1;
  while (status >> key) {
    if (key == "State:") {
      std::string state;
      status >> state;
      if (state == "Z" || state == "X") {
        return -1;
      }
    } else if (key == "VmRSS:") {
      status >> rss;
    }
    status.ignore(4096, '\n');
  }
  return rss;
}

struct MemoryTrace {
  long settledKb = -1;  // the first sample after the settling time
  long peakKb = -1;     // the largest sample after it
  int samples = 0;
};

// Samples the process every 50 ms until it ends or the limit passes.
MemoryTrace traceMemory(pid_t pid, milliseconds settle, milliseconds limit) {
  MemoryTrace trace;
  const auto start = Clock::now();
  while (Clock::now() - start < limit) {
    const long kb = residentKb(pid);
    if (kb < 0) {
      break;
    }
    if (Clock::now() - start >= settle) {
      if (trace.settledKb < 0) {
        trace.settledKb = kb;
      }
      trace.peakKb = std::max(trace.peakKb, kb);
      ++trace.samples;
    }
    std::this_thread::sleep_for(milliseconds(50));
  }
  return trace;
}

// ---- the runs ----------------------------------------------------------------------

struct FloodCase {
  const char* name;
  std::vector<std::string> args;  // "fw.bin" stands for the sample file
  seconds limit;                  // the run's own bound, with room for slow builds
};

class FloodTest : public testing::TestWithParam<FloodCase> {};

// No drive at all: every exchange is "answered" by the flood, so the runs
// go their whole way on junk; the identity and verify runs then wait for a
// report that never comes, until their limit.
TEST_P(FloodTest, TheLoaderNeitherCrashesNorGrowsAndEndsInTime) {
  const FloodCase& c = GetParam();
  auto lab = isolatedLab();
  if (!lab) {
    GTEST_SKIP() << "a flood needs a private network (network namespaces, as root)";
  }
  ScratchDir dir;
  writeFile(dir.file("fw.bin"), sampleFile(20000));
  std::vector<std::string> argv = tovrinCommand();
  for (const auto& a : c.args) {
    argv.push_back(a == "fw.bin" ? dir.file("fw.bin") : a);
  }
  // The namespace is entered by exec, so the pid is the loader's own.
  const bool direct = argv.size() == 1;

  Flood flood;
  flood.start(lab->driveNs, lab->hostIp);
  BackgroundProcess loader = startProcess(lab->inHost(argv));
  const MemoryTrace trace = traceMemory(loader.pid, milliseconds(1500), c.limit);
  const ProcessResult r = stopProcess(loader, milliseconds(0));
  flood.finish();

  std::printf("flood: %ld datagrams in %.1f s; resident size %ld kB, at most %ld kB (%d samples)\n",
              flood.sent.load(), r.seconds, trace.settledKb, trace.peakKb, trace.samples);
  ASSERT_FALSE(flood.failed) << "the flooding socket could not be opened in the drive namespace";
  EXPECT_GT(flood.sent.load(), 10000);
  EXPECT_EQ(r.signal, 0) << "ended by a signal";
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_LT(r.seconds, static_cast<double>(c.limit.count())) << "ran past its bound";
  EXPECT_EQ(r.err, "");
  if (direct) {
    ASSERT_GT(trace.samples, 10);
    // Nothing is allocated per datagram: a flood of tens of thousands may
    // not move the resident size by more than a few pages.
    EXPECT_LE(trace.peakKb - trace.settledKb, 256)
        << "resident size grew from " << trace.settledKb << " kB to " << trace.peakKb << " kB";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FloodTest,
    testing::Values(FloodCase{"IdentityRun", {"-u"}, seconds(20)},
                    FloodCase{"VerifyRun", {"-fp", "fw.bin", "-v"}, seconds(20)},
                    FloodCase{"ProgrammingRun", {"-fp", "fw.bin"}, seconds(30)}),
    [](const testing::TestParamInfo<FloodCase>& row) { return std::string(row.param.name); });

// ---- a drive that answers twice, or late ---------------------------------------

struct DriveCase {
  const char* name;
  std::vector<std::string> driveArgs;
  std::vector<std::string> loaderArgs;
  seconds limit;
  const char* lastText;  // what the run ends with; empty: any end will do
};

class OddDriveTest : public testing::TestWithParam<DriveCase> {};

TEST_P(OddDriveTest, TheRunEndsCleanly) {
  const DriveCase& c = GetParam();
  auto lab = isolatedLab();
  if (!lab) {
    GTEST_SKIP() << "needs a private network (network namespaces, as root)";
  }
  ScratchDir dir;
  writeFile(dir.file("fw.bin"), sampleFile(9000));
  std::vector<std::string> driveArgv = {drivesimPath(), "--ip", lab->driveIp, "--idle-timeout",
                                        "60"};
  driveArgv.insert(driveArgv.end(), c.driveArgs.begin(), c.driveArgs.end());
  BackgroundProcess drive = startProcess(lab->inDrive(driveArgv));
  ASSERT_TRUE(waitForOutput(drive, "ready", seconds(10)));

  std::vector<std::string> argv = tovrinCommand();
  for (const auto& a : c.loaderArgs) {
    argv.push_back(a == "fw.bin" ? dir.file("fw.bin") : a);
  }
  const ProcessResult r = runProcess(lab->inHost(argv), c.limit);
  const ProcessResult d = stopProcess(drive, milliseconds(0));

  EXPECT_FALSE(r.timedOut) << "ran past its bound";
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(d.err, "");
  const std::string last = asConsoleBytes(c.lastText);
  if (!last.empty()) {
    ASSERT_GE(r.out.size(), last.size());
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last) << r.out;
  }
}

const char* const PROGRAMMED = "\nReboot :\t\t\tDONE\n";
const char* const IDENTIFIED = "\n\t-------------------------\n";

INSTANTIATE_TEST_SUITE_P(
    Drives, OddDriveTest,
    testing::Values(
        // Every second answer counts for the next exchange: the run still
        // goes through, and the drive still holds the whole image.
        DriveCase{"TwiceProgram", {"--twice"}, {"-fp", "fw.bin"}, seconds(40), PROGRAMMED},
        DriveCase{"TwiceIdentity", {"--twice"}, {"-u"}, seconds(20), IDENTIFIED},
        // Answers after the pause of most exchanges (30 to 150 ms): each
        // lands in a later try or a later exchange.
        DriveCase{"LateProgram", {"--delay-ms", "100"}, {"-fp", "fw.bin"}, seconds(60), ""},
        DriveCase{"LateVerify", {"--delay-ms", "200"}, {"-fp", "fw.bin", "-v"}, seconds(60), ""},
        // Later than five tries of a block (300 ms): the programming stops
        // at a block with no answer, silently.
        DriveCase{"TooLateProgram", {"--delay-ms", "400"}, {"-fp", "fw.bin"}, seconds(60), ""}),
    [](const testing::TestParamInfo<DriveCase>& row) { return std::string(row.param.name); });

}  // namespace

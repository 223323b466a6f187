// The built loader on a hostile network: random datagrams flooding the
// host's port while a run waits on it, and drives that answer twice or late.
// Whatever arrives, the loader must not crash or grow, must end within its
// bounds with status 1, and must write nothing to standard error.
//
// Each test has a LAN of its own in network namespaces (as root; otherwise
// they skip, since a flood belongs on no shared network): the loader in the
// host namespace, the drive or the flooding socket in the drive namespace.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Sends random datagrams of 0 to 2000 bytes from namespace ns to port 8995
// of host until stopped: a burst that overfills the receive queue, then about
// 5000 a second. Every fourth looks like an answer (status 1, code 16 to 20
// or any, the identity cut short), so every branch of the dispatcher is hit,
// but none is an identity answer with its digest, which would end a waiting
// run early. Returns how many it sent, or -1 without a socket in ns.
long flood(const std::string& ns, std::uint32_t host, const std::stop_token& stop) {
  // This thread alone moves into the namespace.
  const int nsFd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
  const bool entered = nsFd >= 0 && setns(nsFd, CLONE_NEWNET) == 0;
  if (nsFd >= 0) {
    close(nsFd);
  }
  const NetSocket s = entered ? netOpenUdp() : NET_INVALID_SOCKET;
  if (s == NET_INVALID_SOCKET) {
    return -1;
  }
  std::mt19937 random(20240607);
  std::uniform_int_distribution<std::size_t> length(0, 2000);
  std::vector<std::uint8_t> datagram(2000);
  long sent = 0;
  for (; !stop.stop_requested(); ++sent) {
    const std::size_t n = length(random);
    std::generate_n(datagram.begin(), n, [&] { return static_cast<std::uint8_t>(random()); });
    if (sent % 4 == 0 && n >= 5) {
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
    netSendTo(s, datagram.data(), n, host, 8995, false);  // a full queue is part of a flood
    if (sent > 3000 && sent % 10 == 0) {
      std::this_thread::sleep_for(milliseconds(2));
    }
  }
  netClose(s);
  return sent;
}

// The resident size of a process in kB, or -1 once it has ended.
long residentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string key; status >> key;) {
    if (key == "VmRSS:") {
      long kb = -1;
      status >> kb;
      return kb;
    }
  }
  return -1;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

struct HostileCase {
  const char* name;
  std::string loaderArgs;  // "fw.bin" stands for a sample file
  std::string driveArgs;   // empty: no drive, a flood instead
  seconds limit;           // the run's bound, with room for slow builds
  std::string lastText;    // what the console ends with
};

// Names the case in the test list (GoogleTest looks for this very name).
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileRun : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileRun, EndsCleanlyWithinItsBound) {
  const HostileCase& c = GetParam();
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "needs a private network (network namespaces, as root)";
  }
  auto lab = makeNetLab({.requireIsolation = true});
  ScratchDir dir;
  writeFile(dir.file("fw.bin"), sampleFile(9000));
  std::vector<std::string> argv = tovrinCommand();
  // The namespace is entered by exec, so without a launcher the pid is the
  // loader's. A sanitized loader's resident size also holds the sanitizer's
  // quarantine and shadow memory, which grow with any work; its memory is
  // judged by the sanitizer instead.
#ifdef TOVRIN_SANITIZED
  const bool direct = false;
#else
  const bool direct = argv.size() == 1;
#endif
  for (const auto& a : words(c.loaderArgs)) {
    argv.push_back(a == "fw.bin" ? dir.file("fw.bin") : a);
  }

  const bool flooded = c.driveArgs.empty();
  long sent = 0;
  std::jthread flooding;
  BackgroundProcess drive;
  if (flooded) {
    flooding =
        std::jthread([&, host = ntohl(inet_addr(lab->hostIp.c_str()))](
                         const std::stop_token& stop) { sent = flood(lab->driveNs, host, stop); });
  } else {
    std::vector<std::string> driveArgv = {drivesimPath(), "--ip", lab->driveIp};
    std::ranges::copy(words("--idle-timeout 60 " + c.driveArgs), std::back_inserter(driveArgv));
    drive = startProcess(lab->inDrive(driveArgv));
    ASSERT_TRUE(waitForOutput(drive, "ready", seconds(10)));
  }
  BackgroundProcess loader = startProcess(lab->inHost(argv));
  // The resident size every 50 ms, from 1.5 s on, until the loader ends.
  long settledKb = -1;
  long peakKb = -1;
  int samples = 0;
  for (auto start = std::chrono::steady_clock::now();
       std::chrono::steady_clock::now() - start < c.limit;
       std::this_thread::sleep_for(milliseconds(50))) {
    const long kb = residentKb(loader.pid);
    if (kb < 0) {
      break;
    }
    if (std::chrono::steady_clock::now() - start >= milliseconds(1500)) {
      settledKb = settledKb < 0 ? kb : settledKb;
      peakKb = std::max(peakKb, kb);
      ++samples;
    }
  }
  const ProcessResult r = stopProcess(loader, milliseconds(0));
  if (flooded) {
    flooding.request_stop();
    flooding.join();
  } else {
    EXPECT_EQ(stopProcess(drive, milliseconds(0)).err, "");
  }

  EXPECT_EQ(r.signal, 0) << "ended by a signal";
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_LT(r.seconds, static_cast<double>(c.limit.count())) << "ran past its bound";
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.ends_with(asConsoleBytes(c.lastText))) << r.out;
  if (flooded) {
    std::printf("flood: %ld datagrams in %.1f s; resident %ld kB, at most %ld kB (%d samples)\n",
                sent, r.seconds, settledKb, peakKb, samples);
    ASSERT_GE(sent, 0) << "no flooding socket in the drive namespace";
    EXPECT_GT(sent, 10000);
    if (direct) {
      // Nothing is allocated per datagram: tens of thousands of them may not
      // move the resident size by more than a few pages.
      ASSERT_GT(samples, 10);
      EXPECT_LE(peakKb - settledKb, 256) << "grew from " << settledKb << " kB to " << peakKb;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileRun,
    testing::Values(
        // No drive: the flood "answers" every exchange, so the runs go their
        // whole way on junk (and print what junk asks for); the identity and
        // verify runs then wait for a report that never comes.
        HostileCase{"FloodIdentityRun", "-u", "", seconds(20), ""},
        HostileCase{"FloodVerifyRun", "-fp fw.bin -v", "", seconds(20), ""},
        HostileCase{"FloodProgrammingRun", "-fp fw.bin", "", seconds(30), ""},
        // Every second answer counts for the next exchange: the run still
        // goes through.
        HostileCase{"TwiceProgram", "-fp fw.bin", "--twice", seconds(40), REBOOT + "DONE\n"},
        HostileCase{"TwiceIdentity", "-u", "--twice", seconds(20), IDENTITY},
        // Answers after the pause of an exchange land in a later try or a
        // later exchange; later than five tries of a block (300 ms), the
        // programming stops at a block silently.
        HostileCase{"LateVerify", "-fp fw.bin -v", "--delay-ms 200", seconds(60), ""},
        HostileCase{"TooLateProgram", "-fp fw.bin", "--delay-ms 400", seconds(60), ""}),
    testing::PrintToStringParamName());

}  // namespace

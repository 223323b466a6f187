// The built loader on a hostile network, on real sockets and the real clock,
// in a LAN of its own (as root; a flood belongs on no shared network):
// random datagrams flooding the host's port while a run waits on it, and
// drives that answer twice or late, or lose chosen datagrams around the
// pause after a block. The loader must end within its bound with status 1,
// without a signal, with nothing on standard error, and, flooded, without
// growing. (The same faults, and many more of them, are played on the fake
// network and clock by answers_test.cpp.)
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
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "testkit/drive_lan.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Random datagrams of 0 to 2000 bytes from namespace ns (this thread alone
// moves there) to host:8995 until stopped: a burst that overfills the receive
// queue, then about 5000 a second. Every fourth is an answer of code 16 to 21
// (an identity without the digest, which would end a waiting run). Returns
// how many it sent, or -1 without a socket.
long flood(const std::string& ns, std::uint32_t host, const std::stop_token& stop) {
  const int nsFd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
  const bool entered = nsFd >= 0 && setns(nsFd, CLONE_NEWNET) == 0;
  if (nsFd >= 0) {
    close(nsFd);
  }
  UdpSocket s = entered ? UdpSocket::open() : UdpSocket();
  if (!s.isOpen()) {
    return -1;
  }
  std::mt19937 random(20240607);
  std::vector<std::uint8_t> datagram(2000);
  long sent = 0;
  for (; !stop.stop_requested(); ++sent) {
    const std::size_t n = random() % 2001;
    std::generate_n(datagram.begin(), n, [&] { return static_cast<std::uint8_t>(random()); });
    if (sent % 4 == 0 && n >= 5) {
      datagram[0] = 0;
      datagram[1] = static_cast<std::uint8_t>(16 + random() % 6);
      datagram[4] = 1;
      if (datagram[1] == 20 && n >= 133) {
        datagram[2] = 0;
        datagram[3] = static_cast<std::uint8_t>(random() % 113);
      }
    }
    s.send(std::span(datagram).first(n), host, 8995);  // a full queue is part of a flood
    if (sent > 3000 && sent % 10 == 0) {
      std::this_thread::sleep_for(milliseconds(2));
    }
  }
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

struct HostileCase {
  const char* name;
  std::string loaderArgs;  // "fw.bin" stands for a sample file
  std::string driveArgs;   // empty: no drive, a flood instead
  // The bound that tells a run that ends from one that hangs: several times
  // what the run takes on an idle machine, so that it holds on a loaded one
  // and under the sanitizers.
  seconds limit;
  std::string lastText;      // what the console ends with
  bool floodedLong = false;  // the run lasts through seconds of flood
};

// Names the case in the test list (GoogleTest looks for this very name).
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileRun : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileRun, EndsCleanlyWithinItsBound) {
  const HostileCase& c = GetParam();
  if (!canMakeNamespaces()) {
    GTEST_SKIP() << "needs a private network (network namespaces, as root)";
  }
  const bool flooded = c.driveArgs.empty();
  DriveLan lan({.driveArgs = c.driveArgs,
                .firmware = sampleFile(9000),
                .lab = {.requireIsolation = true},
                .startDrives = !flooded});
  ASSERT_TRUE(flooded || lan.ready);
  // Without a launcher the pid is the loader's (ip netns exec execs it). A
  // sanitized loader's resident size grows with the sanitizer's own memory;
  // the sanitizer judges its memory instead.
#ifdef TOVRIN_SANITIZED
  const bool direct = false;
#else
  const bool direct = tovrinCommand().size() == 1;
#endif
  long sent = 0;
  std::jthread flooding;
  if (flooded) {
    flooding = std::jthread(
        [&, host = ntohl(inet_addr(lan.lab->hostIp.c_str()))](const std::stop_token& stop) {
          sent = flood(lan.lab->driveNs, host, stop);
        });
  }
  BackgroundProcess loader = startProcess(lan.loader(c.loaderArgs));
  std::vector<long> kb;  // the resident size every 50 ms from 1.5 s on, until the loader ends
  for (std::chrono::steady_clock::duration ran{}; ran < c.limit && residentKb(loader.pid) >= 0;
       ran = std::chrono::steady_clock::now() - loader.started) {
    std::this_thread::sleep_for(milliseconds(50));
    if (ran >= milliseconds(1500)) {
      kb.push_back(residentKb(loader.pid));
    }
  }
  const ProcessResult r = stopProcess(loader, milliseconds(0));
  flooding = std::jthread();  // a flood stops here
  EXPECT_EQ(r.exitCode, 1) << "signal " << r.signal;
  EXPECT_LT(r.seconds, static_cast<double>(c.limit.count())) << "ran past its bound";
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.ends_with(asConsoleBytes(c.lastText))) << r.out;
  if (c.floodedLong) {
    EXPECT_GT(sent, 10000) << "-1: no flooding socket in the drive namespace";
    // Nothing is allocated per datagram: tens of thousands of them may not
    // move the resident size by more than a few pages.
    std::erase(kb, -1);
    if (direct) {
      ASSERT_GT(kb.size(), 10u);
      EXPECT_LE(*std::ranges::max_element(kb) - kb.front(), 256) << "from " << kb.front() << " kB";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileRun,
    testing::Values(
        // No drive, junk from the drive's address instead: the identity and
        // verify runs end at the first junk that answers their command
        // without the whole identity and digest, or refuses it; the
        // programming run goes on as long as junk answers its commands.
        HostileCase{"FloodIdentityRun", "-u", "", seconds(20), ""},
        HostileCase{"FloodVerifyRun", "-fp fw.bin -v", "", seconds(20), ""},
        HostileCase{"FloodProgrammingRun", "-fp fw.bin", "", seconds(90), "", true},
        // Every second answer is a surplus: blocks are sent again, each at
        // most once more, and the run goes through.
        HostileCase{"TwiceProgram", "-fp fw.bin", "--twice", seconds(90), REBOOT + "DONE\n"},
        // Blocks and answers lost around the pause after a block, a copy of
        // an answer in the next block's pause, block answers later than the
        // pause: every block is sent again until it is answered, and the
        // drive's own check of its image at verify lets the run complete.
        HostileCase{"BlockAndLaterAnswerLost", "-fp fw.bin", "--drop-in 17:4 --drop-out 17:8",
                    seconds(90), REBOOT + "DONE\n"},
        HostileCase{"CopyInTheNextPauseBlockLost", "-fp fw.bin", "--twice-gap-ms 70 --drop-in 17:4",
                    seconds(90), REBOOT + "DONE\n"},
        HostileCase{"BlocksLate100BlockAndAnswerLost", "-fp fw.bin",
                    "--delay-ms 100 --fault-code 17 --drop-in 17:4 --drop-out 17:8", seconds(90),
                    REBOOT + "DONE\n"},
        HostileCase{"TwiceIdentity", "-u", "--twice", seconds(20), IDENTITY},
        // Answers land in a later try; later than five tries of a block
        // (300 ms), the programming stops at the first block with its line.
        HostileCase{"LateVerify", "-fp fw.bin -v", "--delay-ms 200", seconds(60), ""},
        HostileCase{
            "TooLateProgram", "-fp fw.bin", "--delay-ms 400", seconds(60),
            "\nERROR: No answer from the drive (block 1 of 18): the drive holds part of the "
            "image, program it again"}),
    testing::PrintToStringParamName());

}  // namespace

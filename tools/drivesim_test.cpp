// The simulated drive as the loader's end-to-end tests rely on it, spoken to
// from a socket of the test in a private network namespace (loopback only):
// the drive at 127.0.0.2, the test at 127.0.0.1.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/coding.h"
#include "platform/net.h"
#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t HOST = 0x7F000001;   // 127.0.0.1
constexpr std::uint32_t DRIVE = 0x7F000002;  // 127.0.0.2
constexpr std::uint16_t PORT = 8995;

NetSocket openSocket(std::uint16_t port) {
  const NetSocket s = netOpenUdp();
  netSetReuseAddress(s);
  EXPECT_TRUE(netBind(s, HOST, port));
  netSetReceiveTimeout(s, 20);
  return s;
}

// A loader command: magic, code, payload length, target, payload, zeros to 524 bytes.
Bytes command(std::uint16_t code, std::uint32_t target = 0, const std::string& payload = "") {
  Bytes d(524, 0);
  putBig32(&d[0], 0x3C3CC3C3);
  putBig16(&d[4], code);
  putBig16(&d[6], static_cast<std::uint16_t>(payload.size()));
  putBig32(&d[8], target);
  std::copy(payload.begin(), payload.end(), d.begin() + 12);
  return d;
}

void sendTo(NetSocket s, const Bytes& d, std::uint32_t to = DRIVE) {
  ASSERT_TRUE(netSendTo(s, d.data(), d.size(), to, PORT, false));
}

// What arrives within the window, up to want datagrams, as "code:status:size"
// ("@N" added when from 127.0.0.N, not the drive) joined by '+', "-" for
// none. last, when given, gets the last datagram's bytes.
std::string receive(NetSocket s, std::chrono::milliseconds window, std::size_t want,
                    std::string* last = nullptr) {
  std::string text;
  Bytes d(65536);
  std::uint32_t from = 0;
  const auto end = Clock::now() + window;
  for (std::size_t got = 0, n = 0; got < want && Clock::now() < end;) {
    if (netReceiveFrom(s, d.data(), d.size(), &n, &from, nullptr) != NetResult::ok) {
      continue;
    }
    text += got++ == 0 ? "" : "+";
    if (n < 5 || getBig16(&d[2]) + 5u != n) {
      text += "malformed";
    } else {
      text += std::to_string(getBig16(&d[0])) + ":" + std::to_string(d[4]) + ":" +
              std::to_string(n) + (from == DRIVE ? "" : "@" + std::to_string(from & 0xFF));
    }
    if (last != nullptr) {
      last->assign(d.begin(), d.begin() + static_cast<long>(n));
    }
  }
  return text.empty() ? "-" : text;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

// The drive at 127.0.0.2, with further options.
BackgroundProcess startSim(const std::string& options) {
  BackgroundProcess sim =
      startProcess(words(drivesimPath() + " --ip 127.0.0.2 --idle-timeout 60 " + options));
  EXPECT_TRUE(waitForOutput(sim, "ready\n", 10s)) << readFile(sim.outPath);
  return sim;
}

ProcessResult terminate(BackgroundProcess& sim) {
  kill(sim.pid, SIGTERM);
  return stopProcess(sim, 3s);
}

struct Drivesim : ::testing::Test {
  void SetUp() override {
    isolated = enterPrivateNetwork();
    host = openSocket(PORT);
    prober = openSocket(0);
  }
  void TearDown() override {
    netClose(host);
    netClose(prober);
  }
  std::string ask(const Bytes& cmd, std::string* answer = nullptr) {
    sendTo(host, cmd);
    return receive(host, 2000ms, 1, answer);
  }
  bool isolated = false;
  NetSocket host = NET_INVALID_SOCKET;
  NetSocket prober = NET_INVALID_SOCKET;
};

struct Scenario {
  const char* name;
  const char* args;      // drive options, blank-separated
  const char* commands;  // "code" or "code@target" (hex), blank-separated
  const char* answers;   // as receive() gives them, a word per command
  const char* log = "";  // lines the drive must have written
};

void PrintTo(const Scenario& c, std::ostream* os) { *os << c.name; }

struct DrivesimScenario : Drivesim, ::testing::WithParamInterface<Scenario> {};

TEST_P(DrivesimScenario, AnswersAsItsOptionsSay) {
  BackgroundProcess sim = startSim(GetParam().args);
  std::string answers;
  for (const std::string& c : words(GetParam().commands)) {
    unsigned code = 0;
    unsigned target = 0;
    std::sscanf(c.c_str(), "%u@%x", &code, &target);
    sendTo(host, command(static_cast<std::uint16_t>(code), target,
                         code == 17 ? std::string(512, 'x') : ""));
    // Waiting for more datagrams than expected shows that no more came.
    answers += (answers.empty() ? "" : " ") + receive(host, 600ms, 3);
  }
  EXPECT_EQ(answers, GetParam().answers);
  const ProcessResult r = terminate(sim);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find(GetParam().log), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Options, DrivesimScenario,
    ::testing::Values(
        Scenario{"EveryCommand", "", "16 17@8000 18 19 20 276",
                 "16:1:5 17:1:5 18:1:5 19:1:5 20:1:133 276:1:5",
                 "rx 127.0.0.1:8995 code=17 len=512 target=0x8000 size=524\n"
                 "tx 127.0.0.1:8995 code=17 status=1 length=0 size=5\n"},
        // Tries are counted per code and target.
        Scenario{"AnswerOnThirdTry", "--answer-on 3", "16 16 16 16 17@8000 17@8200 17@8200 17@8200",
                 "- - 16:1:5 16:1:5 - - - 17:1:5"},
        Scenario{"AnswerOnSecondTryOfBlocksOnly", "--answer-on 2 --fault-code 17",
                 "16 17@8000 17@8000 18", "16:1:5 - 17:1:5 18:1:5"},
        Scenario{"SilentAfterBlockOne", "--silent-after-block 1",
                 "16 17@8000 17@8200 17@8400 18 16", "16:1:5 17:1:5 17:1:5 - - -"},
        Scenario{"NoDigest", "--no-digest", "20 16", "20:1:117 16:1:5"},
        Scenario{"StatusZero", "--status 0", "16 20", "16:0:5 20:0:133"},
        Scenario{"WrongCodeForTheIdentityOnly", "--wrong-code 276 --fault-code 20", "20 16",
                 "276:1:133 16:1:5"},
        Scenario{"Twice", "--twice", "16 20", "16:1:5+16:1:5 20:1:133+20:1:133"},
        Scenario{"Silent", "--silent", "20 16 17@8000", "- - -"},
        Scenario{"SilentToVerifyOnly", "--silent --fault-code 18", "16 18 19", "16:1:5 - 19:1:5"},
        // Five zero bytes from another address stand in for the first answer.
        Scenario{"Stray", "--stray-from 127.0.0.9", "20 20", "0:0:5@9 20:1:133",
                 "stray 127.0.0.9 -> 127.0.0.1:8995\n"}),
    [](const ::testing::TestParamInfo<Scenario>& p) { return p.param.name; });

// Blocks land at their target from 0x8000 (others are answered, not kept),
// the identity answer carries the image header's first 16 bytes as digest,
// verify and the stop write the image out, a new image replaces the old.
TEST_F(Drivesim, KeepsTheProgrammedImageAndReportsItsHeaderDigest) {
  ScratchDir dir;
  const std::string out = dir.file("image.bin");
  const std::string given(16, 'Z');
  BackgroundProcess sim = startSim("--image-out " + out + " --digest " + hex(given));
  auto digestNow = [&] {
    std::string answer;
    return ask(command(20), &answer) == "20:1:133" ? answer.substr(117) : "no answer";
  };
  EXPECT_EQ(digestNow(), given);
  const std::string first = sampleFile(1124, 1);  // two full blocks and 100 bytes
  for (std::uint32_t off = 0; off < first.size(); off += 512) {
    ASSERT_EQ(ask(command(17, 0x8000 + off, first.substr(off, 512))), "17:1:5");
  }
  for (std::uint32_t target : {0x10u, 0xFFFFFFFFu, 0x8000u + (65u << 20)}) {
    ASSERT_EQ(ask(command(17, target, std::string(512, 'x'))), "17:1:5");
  }
  EXPECT_EQ(digestNow(), first.substr(0, 16));
  ASSERT_EQ(ask(command(18)), "18:1:5");
  EXPECT_EQ(readFile(out), first);

  const std::string second = sampleFile(300, 2);
  ASSERT_EQ(ask(command(17, 0x8000, second)), "17:1:5");
  EXPECT_EQ(digestNow(), second.substr(0, 16));
  const ProcessResult r = terminate(sim);
  EXPECT_EQ(readFile(out), second);
  EXPECT_NE(r.out.find("image 1124 -> " + out + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ignored block at 0xffffffff"), std::string::npos) << r.out;
}

TEST_F(Drivesim, LateAnswersDoNotHoldUpOtherCommands) {
  BackgroundProcess sim = startSim("--delay-ms 400");
  const auto start = Clock::now();
  sendTo(host, command(16));
  std::this_thread::sleep_for(100ms);
  sendTo(host, command(20));
  EXPECT_EQ(receive(host, 3000ms, 1), "16:1:5");
  const auto first = Clock::now();
  EXPECT_EQ(receive(host, 3000ms, 1), "20:1:133");
  EXPECT_GE(first - start, 390ms);
  // Had the first delay held up the receive, 400 ms would lie between them.
  EXPECT_LT(Clock::now() - first, 350ms);
  terminate(sim);
}

// Without a test to stop it the drive ends by itself: when idle (the first
// case), or at once, before binding, on a bad option.
TEST_F(Drivesim, EndsByItselfWhenIdleOrOnBadOptions) {
  const char* const cases[] = {"--ip 127.0.0.2 --idle-timeout 1",
                               "",
                               "--ip 300.1.1.1",
                               "--ip 127.0.0.2+0",
                               "--ip 127.0.0.2 --bogus",
                               "--ip 127.0.0.2 --digest 0011",
                               "--ip 127.0.0.2 --answer-on 0",
                               "--ip 127.0.0.2 --delay-ms"};
  for (const char* args : cases) {
    const ProcessResult r = runProcess(words(drivesimPath() + " " + args), 5s);
    const bool good = args == cases[0];
    EXPECT_EQ(r.exitCode, good ? 0 : 2) << r.out;
    EXPECT_NE(r.out.find(good ? "ready\nidle\n" : "error: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ready") != std::string::npos, good) << r.out;
    EXPECT_LT(r.seconds, 3.0);
  }
}

// Every address of the drive answers commands itself and, with discovery
// (bound on 0.0.0.0:8995), replies to a probe after its own delay. A probe
// to 127.0.0.254, which no address holds, reaches the wildcard socket alone,
// as a broadcast probe would.
TEST_F(Drivesim, EveryAddressAnswersCommandsAndProbes) {
  if (!isolated) {
    GTEST_SKIP() << "needs a private network namespace (root)";
  }
  BackgroundProcess sim = startSim("--ip 127.0.0.3+2 --discovery --discovery-delays 300,0,150");
  sendTo(host, command(16), 0x7F000004);
  EXPECT_EQ(receive(host, 2000ms, 1), "16:1:5@4");
  const Bytes probe = {0x0a, 0x0e, 0x20, 0, 0x11, 0, 0,    0, 0, 0,
                       0x23, 0x23, 0,    0, 0,    0, 0x6d, 0, 0};
  Bytes longer = probe;
  longer.push_back(0);
  Bytes unmarked = probe;
  unmarked[4] = 0x6D;
  for (const Bytes& p : {probe, longer, unmarked}) {  // only the first is a probe
    sendTo(prober, p, 0x7F0000FE);
  }
  // The reply 00 00 00 00 6d reads as code 0, status 109.
  EXPECT_EQ(receive(prober, 1000ms, 4), "0:109:5@3+0:109:5@4+0:109:5");
  const ProcessResult r = terminate(sim);
  EXPECT_NE(r.out.find("listening 127.0.0.2:8995\nlistening 127.0.0.3:8995\n"
                       "listening 127.0.0.4:8995\nlistening 0.0.0.0:8995\nready\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("probe 127.0.0.1:"), std::string::npos);
  EXPECT_NE(r.out.find("reply 127.0.0.3 -> 127.0.0.1:"), std::string::npos);
}

}  // namespace

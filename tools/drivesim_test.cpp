// What the simulated drives do that the loader's end-to-end runs could not
// tell apart themselves, spoken to from a socket of the test (127.0.0.1) in a
// private network namespace, the drives at 127.0.0.2 and on.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "platform/coding.h"
#include "platform/net.h"
#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t DRIVE = 0x7F000002;  // 127.0.0.2
constexpr std::uint32_t SECOND_DRIVE = 0x7F000003;

struct Drivesim : ::testing::Test {
  void SetUp() override {
    enterPrivateNetwork();  // before the socket, which belongs to the namespace it is opened in
    host = UdpSocket::open();
    host.setReuseAddress();
    ASSERT_TRUE(host.bind(0x7F000001, 8995));
    host.setReceiveTimeout(20);
  }

  BackgroundProcess startSim(const std::string& options) {
    BackgroundProcess sim = startProcess(words(drivesimPath() + " --idle-timeout 60 " + options));
    EXPECT_TRUE(waitForOutput(sim, "ready\n", 10s)) << readFile(sim.outPath);
    return sim;
  }
  // Sends a command (magic, code, payload length, target, payload, zeros to 524 bytes), gives
  // what comes back in 300 ms as "code:status:size", '+' between answers, "-" for none.
  std::string ask(std::uint16_t code, std::uint32_t target = 0, const std::string& payload = "",
                  std::uint32_t to = DRIVE) {
    std::vector<std::uint8_t> d(524, 0);
    putBig32(&d[0], 0x3C3CC3C3);
    putBig16(&d[4], code);
    putBig16(&d[6], static_cast<std::uint16_t>(payload.size()));
    putBig32(&d[8], target);
    std::copy(payload.begin(), payload.end(), d.begin() + 12);
    EXPECT_EQ(host.send(d, to, 8995), NetSend::sent);
    std::string text;
    std::size_t n = 0;
    for (auto end = std::chrono::steady_clock::now() + 300ms;
         std::chrono::steady_clock::now() < end;) {
      if (host.receive(d, &n) == NetResult::ok) {
        text += (text.empty() ? "" : "+") + std::to_string(getBig16(&d[0])) + ":" +
                std::to_string(d[4]) + ":" + std::to_string(n);
        lastAnswer.assign(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(n));
      }
    }
    return text.empty() ? "-" : text;
  }
  // Programs image into the drive at to, block by block in the order given.
  void program(const std::string& image, const std::vector<std::size_t>& offsets,
               std::uint32_t to = DRIVE) {
    for (std::size_t off : offsets) {
      ASSERT_EQ(ask(17, static_cast<std::uint32_t>(0x8000 + off), image.substr(off, 512), to),
                "17:1:5");
    }
  }
  UdpSocket host;
  std::vector<std::uint8_t> lastAnswer;
};

struct Scenario {
  const char* name;
  const char* args;      // drive options
  const char* commands;  // "code" or "code@target" (hex), blank-separated
  const char* answers;   // as ask() gives them, a word per command
};

void PrintTo(const Scenario& c, std::ostream* os) { *os << c.name; }

struct DrivesimScenario : Drivesim, ::testing::WithParamInterface<Scenario> {};

TEST_P(DrivesimScenario, AnswersAsItsOptionsSay) {
  BackgroundProcess sim = startSim(std::string("--ip 127.0.0.2 ") + GetParam().args);
  std::string answers;
  for (const std::string& c : words(GetParam().commands)) {
    unsigned code = 0;
    unsigned target = 0;
    std::sscanf(c.c_str(), "%u@%x", &code, &target);
    answers += (answers.empty() ? "" : " ") + ask(static_cast<std::uint16_t>(code), target);
  }
  EXPECT_EQ(answers, GetParam().answers);
  kill(sim.pid, SIGTERM);
  EXPECT_EQ(stopProcess(sim, 3s).exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Options, DrivesimScenario,
    ::testing::Values(
        // Tries are counted per code and target.
        Scenario{"AnswerOnThirdTry", "--answer-on 3", "16 16 16 16 17@8000 17@8200 17@8200 17@8200",
                 "- - 16:1:5 16:1:5 - - - 17:1:5"},
        Scenario{"OddAnswersToTheIdentityOnly", "--status 0 --wrong-code 276 --fault-code 20",
                 "20 16", "276:0:133 16:1:5"},
        Scenario{"SilentToVerifyOnly", "--silent --fault-code 18", "16 18 19", "16:1:5 - 19:1:5"},
        Scenario{"SilentFromTheSecondBlock", "--silent-from-block 1", "17@8000 17@8200 17@8000 16",
                 "17:1:5 - - -"},
        // A lost command is no try: the third block command is the second try.
        Scenario{"DropsCountPerCodeOrOverAll",
                 "--answer-on 2 --fault-code 17 --drop-in 17:2,any:5 --drop-out 16:1",
                 "17@8000 17@8000 17@8000 16 16 16", "- - 17:1:5 - - 16:1:5"},
        Scenario{"TwiceWithAGap", "--twice-gap-ms 100", "16", "16:1:5+16:1:5"},
        Scenario{"JitterStaysWithinItsBound", "--delay-ms 100 --jitter-ms 150", "16 16 16",
                 "16:1:5 16:1:5 16:1:5"}),
    [](const ::testing::TestParamInfo<Scenario>& p) { return p.param.name; });

// Blocks land at their target (0x8000 on), in any order after the first; the
// drive checks the image against its header on verify, and refuses it when
// a block was rewritten with other bytes.
TEST_F(Drivesim, WritesBlocksAtTheirTargetAndChecksThemOnVerify) {
  ScratchDir dir;
  BackgroundProcess sim = startSim("--ip 127.0.0.2 --image-out " + dir.file("image.bin"));
  const std::string image = expectedImage(sampleFile(1124, 1));  // two full blocks and 100 bytes
  EXPECT_EQ(ask(18), "18:0:5") << "nothing programmed yet";
  program(image, {0, 1024, 512});
  ASSERT_EQ(ask(18), "18:1:5");
  EXPECT_TRUE(readFile(dir.file("image.bin")) == image);
  ASSERT_EQ(ask(20), "20:1:133");
  EXPECT_TRUE(std::string(lastAnswer.begin() + 117, lastAnswer.end()) == image.substr(0, 16));

  program(image, {0, 1024});  // a new image, the middle block other bytes
  program(sampleFile(512, 2), {512});
  EXPECT_EQ(ask(18), "18:0:5");
  kill(sim.pid, SIGTERM);
  stopProcess(sim, 3s);
}

// Each address is a drive of its own: its faults, its identity, its image
// file; the options before --drive are common to all.
TEST_F(Drivesim, ManyDrivesEachWithItsOwnStateFaultsAndImage) {
  ScratchDir dir;
  BackgroundProcess sim = startSim("--ip 127.0.0.2 --image-out " + dir.file("%a.bin") +
                                   " --drive 127.0.0.3+2 --status 0 --fault-code 16");
  const std::string first = expectedImage(sampleFile(600, 1));
  const std::string second = expectedImage(sampleFile(700, 2));
  EXPECT_EQ(ask(16, 0, "", DRIVE), "16:1:5");
  EXPECT_EQ(ask(16, 0, "", SECOND_DRIVE), "16:0:5");
  EXPECT_EQ(ask(16, 0, "", SECOND_DRIVE + 1), "16:0:5");
  program(first, {0, 512}, DRIVE);
  program(second, {0, 512}, SECOND_DRIVE);
  EXPECT_EQ(ask(18, 0, "", DRIVE), "18:1:5");
  EXPECT_EQ(ask(18, 0, "", SECOND_DRIVE), "18:1:5");
  EXPECT_TRUE(readFile(dir.file("127.0.0.2.bin")) == first);
  EXPECT_TRUE(readFile(dir.file("127.0.0.3.bin")) == second);
  // Serial numbers 123456 and 123457 (identity bytes 20 to 23).
  ASSERT_EQ(ask(20, 0, "", SECOND_DRIVE), "20:1:133");
  EXPECT_EQ(getBig32(lastAnswer.data() + 5 + 20), 123457u);
  kill(sim.pid, SIGTERM);
  stopProcess(sim, 3s);
}

// Unstopped, the drive ends by itself within 5 s: when idle, or at once on a bad option.
TEST(DrivesimOptions, EndsByItselfWhenIdleOrOnBadOptions) {
  enterPrivateNetwork();
  const char* const cases[] = {"--ip 127.0.0.2 --idle-timeout 1",
                               "",
                               "--ip 300.1.1.1",
                               "--ip 127.0.0.2 --bogus",
                               "--ip 127.0.0.2 --answer-on 0",
                               "--ip 127.0.0.2,127.0.0.3 --image-out same.bin",
                               "--drive 127.0.0.2 --idle-timeout 5",
                               "--ip 127.0.0.2 --drop-in 17"};
  for (const char* args : cases) {
    const ProcessResult r = runProcess(words(drivesimPath() + " " + args), 5s);
    const bool good = args == cases[0];  // the others stop before binding
    EXPECT_EQ(r.exitCode, good ? 0 : 2) << args << r.out;
    EXPECT_NE(r.out.find(good ? "ready\nidle\n" : "error: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ready") != std::string::npos, good) << r.out;
  }
}

}  // namespace

// Which datagrams a session takes for the drive's answer, on the fake clock
// and network: only the drive's own answer to the command in flight; a
// refusal ends the run; late, lost and doubled answers never leave a block
// out of the drive's image unnoticed.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "image/image.h"
#include "session/runner.h"
#include "testkit/fake_network.h"

namespace {

using fake::Bytes;
using fake::DRIVE;
using fake::milliseconds;
using fake::Network;
using fake::Script;

// Tells how a run ended, and whether it ever claimed the image complete.
class Verdicts final : public SessionObserver {
 public:
  std::vector<std::string> lines;
  void stageCompleted(std::uint32_t, Stage stage) override {
    if (stage == Stage::programming) {
      lines.emplace_back("programmed");
    }
  }
  void sendFailed(std::uint32_t) override { lines.emplace_back("sendFailed"); }
  void identityReceived(std::uint32_t, const UnitIdentity&) override {
    lines.emplace_back("identity");
  }
  void failed(std::uint32_t, const Failure& f) override {
    lines.push_back("failed " + std::to_string(static_cast<int>(f.reason)) + " " +
                    std::to_string(static_cast<int>(f.stage)) + " " + std::to_string(f.status));
  }
  void finished(std::uint32_t, SessionResult result) override {
    lines.emplace_back(result == SessionResult::completed ? "completed" : "failed");
  }
  std::string text() const {
    std::string out;
    for (const auto& l : lines) {
      out += (out.empty() ? "" : ", ") + l;
    }
    return out;
  }
};

FirmwareImage imageOf(std::size_t fileSize) {
  std::vector<std::uint8_t> file(fileSize);
  std::iota(file.begin(), file.end(), std::uint8_t{1});
  return makeImage(file);
}

std::string runText(Network& net, RunMode mode, const FirmwareImage* image,
                    std::uint32_t drive = DRIVE) {
  Verdicts verdicts;
  const std::uint32_t drives[] = {drive};
  runDrives(drives, mode, image, verdicts, net);
  return verdicts.text();
}

std::string failure(FailureReason reason, Stage stage, int status = 0) {
  return "failed " + std::to_string(static_cast<int>(reason)) + " " +
         std::to_string(static_cast<int>(stage)) + " " + std::to_string(status);
}

// While the identity probe waits, datagrams that are not the drive's answer
// arrive at once after each probe; none ends the probe, which sends its five
// tries and goes on with the connection.
TEST(Answers, OnlyTheDrivesOwnAnswerToTheCommandInFlightCounts) {
  const IdentityBytes id = encodeIdentity(fake::sampleIdentity());
  Bytes identity(id.begin(), id.end());
  identity.resize(identity.size() + DIGEST_SIZE);
  const Bytes answer = encodeResponse(CMD_ENTER_MONITOR, STATUS_SUCCESS, identity);
  const CommandBytes echo = encodeCommand(CMD_ENTER_MONITOR, 0);
  const struct {
    const char* what;
    std::uint32_t from;
    Bytes bytes;
  } strays[] = {
      {"another sender", fake::OTHER, answer},
      {"four bytes", DRIVE, Bytes(answer.begin(), answer.begin() + 4)},
      {"our own command", DRIVE, Bytes(echo.begin(), echo.end())},
      {"an answer to another command", DRIVE, encodeResponse(CMD_CONNECT, STATUS_SUCCESS)},
      {"an empty datagram", DRIVE, {}},
  };
  for (const auto& stray : strays) {
    Script script;
    script.silentUntil = milliseconds(100000);
    Network net(script);
    for (int probe = 0; probe < 5; ++probe) {
      net.inject(milliseconds(151 + 150 * probe), stray.from, stray.bytes);
    }
    const std::string text = runText(net, RunMode::identity, nullptr);
    ASSERT_GE(net.log.size(), 6u) << stray.what;
    EXPECT_EQ(net.log[4].code, CMD_ENTER_MONITOR) << stray.what;
    EXPECT_EQ(net.log[5].code, CMD_CONNECT) << stray.what;
    EXPECT_EQ(text, failure(FailureReason::noAnswer, Stage::connection) + ", failed") << stray.what;
  }
}

// A refusal ends the run where it comes, with nothing more sent: no reboot
// after a refused verify.
TEST(Answers, ARefusalEndsTheRunAtOnce) {
  const FirmwareImage image = imageOf(2000);
  const struct {
    std::uint16_t code;
    std::uint8_t status;
    RunMode mode;
    Stage stage;
  } cases[] = {
      {CMD_CONNECT, 0, RunMode::program, Stage::connection},
      {CMD_ENTER_MONITOR, 0, RunMode::program, Stage::monitor},
      {CMD_ENTER_MONITOR, 2, RunMode::verify, Stage::identityProbe},
      {CMD_PROGRAM_BLOCK, 0, RunMode::program, Stage::programming},
      {CMD_VERIFY, 0, RunMode::program, Stage::verify},
      {CMD_REBOOT, 7, RunMode::program, Stage::reboot},
  };
  for (const auto& c : cases) {
    Script script;
    script.status[c.code] = c.status;
    Network net(script);
    const std::string text = runText(net, c.mode, &image);
    EXPECT_TRUE(text.ends_with(failure(FailureReason::refused, c.stage, c.status) + ", failed"))
        << text;
    EXPECT_EQ(net.log.back().code, c.code);
    EXPECT_EQ(std::count_if(net.log.begin(), net.log.end(),
                            [&](const fake::Sent& s) { return s.code == c.code; }),
              1);
  }
}

// No network leads to the address: one failure, nothing more tried. A
// transient failure is a try without an answer. The PC's own address is
// refused before anything is sent.
TEST(Answers, SendFailuresAndTheOwnAddress) {
  {
    Network net;
    net.unreachable = true;
    EXPECT_EQ(runText(net, RunMode::identity, nullptr),
              failure(FailureReason::unreachable, Stage::identityProbe) + ", failed");
    EXPECT_EQ(net.waits, 1);  // the link start's pause; then it ended
  }
  {
    Script script;
    Network net(script);
    net.failingSends = {0, 1, 2, 3, 4};
    EXPECT_EQ(runText(net, RunMode::identity, nullptr),
              "sendFailed, sendFailed, sendFailed, sendFailed, sendFailed, identity, completed");
    EXPECT_EQ(net.log.front().code, CMD_CONNECT);  // after five failed probes
  }
  for (const std::uint32_t own : {fake::OWN, 0u}) {
    Network net;
    EXPECT_EQ(runText(net, RunMode::program, nullptr, own),
              failure(FailureReason::ownAddress, Stage::connection) + ", failed");
    EXPECT_TRUE(net.log.empty());
  }
}

// Drives that answer late, lose commands or answers, jitter or answer twice:
// the drive ends up with the whole image, or the run fails without claiming
// it complete.
TEST(Answers, NoBlockIsSkippedSilently) {
  const FirmwareImage image = imageOf(40 * 512 + 100);  // 41 blocks
  // The sends from the first block command on, by number: a and a + 1...
  const std::size_t firstBlock = 2;  // after one connect and one monitor command
  const struct {
    const char* name;
    milliseconds latency;
    std::set<std::size_t> lostCommands;
    std::set<std::size_t> lostAnswers;
    std::optional<milliseconds> twiceAfter;
    bool jitter;
    bool mustComplete;
  } cases[] = {
      {"on time", milliseconds(0), {}, {}, {}, false, true},
      {"50 ms", milliseconds(50), {firstBlock + 3}, {firstBlock + 9}, {}, false, true},
      {"70 ms, a block lost", milliseconds(70), {firstBlock + 4}, {}, {}, false, true},
      {"70 ms, blocks and answers lost",
       milliseconds(70),
       {firstBlock + 4, firstBlock + 5, firstBlock + 20},
       {firstBlock + 11},
       {},
       false,
       true},
      {"100 ms, a block lost", milliseconds(100), {firstBlock + 7}, {}, {}, false, true},
      {"jitter", milliseconds(40), {firstBlock + 6}, {}, {}, true, true},
      {"twice at once", milliseconds(1), {firstBlock + 5}, {}, milliseconds(0), false, true},
      {"twice, 70 ms late", milliseconds(70), {firstBlock + 6}, {}, milliseconds(5), false, true},
      {"twice, late gap", milliseconds(10), {firstBlock + 8}, {}, milliseconds(65), false, true},
      // The copy of block 2's answer comes after block 3's send, which is lost.
      {"twice, copy after the next send",
       milliseconds(1),
       {firstBlock + 3},
       {},
       milliseconds(70),
       false,
       true},
  };
  for (const auto& c : cases) {
    Script script;
    script.latency = c.latency;
    script.lostCommands = c.lostCommands;
    script.lostAnswers = c.lostAnswers;
    script.twiceAfter = c.twiceAfter;
    if (c.jitter) {
      script.jitter = [](std::size_t n) { return milliseconds((n * 37) % 50); };
    }
    Network net(script);
    const std::string text = runText(net, RunMode::program, &image);
    const bool complete = std::string(net.memory.begin(), net.memory.end()) ==
                          std::string(image.bytes().begin(), image.bytes().end());
    if (c.mustComplete) {
      EXPECT_TRUE(text.ends_with("completed") && complete) << c.name << ": " << text;
    } else {
      EXPECT_TRUE(complete ||
                  (text.find("programmed") == std::string::npos && text.ends_with("failed")))
          << c.name << ": " << text;
    }
  }
}

// Two drives over one network, each told apart by its address, one twice
// as slow: both are programmed, each at its own pace.
TEST(Answers, SessionsOfSeveralDrivesShareOneNetwork) {
  const FirmwareImage image = imageOf(3000);
  Script script;
  Network net(script);
  Verdicts verdicts;
  const std::uint32_t drives[] = {DRIVE, fake::OTHER};
  const std::vector<DriveOutcome> outcomes =
      runDrives(drives, RunMode::program, &image, verdicts, net);
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].result, SessionResult::completed);
  // The fake answers only for DRIVE: the other gives up after its connects.
  EXPECT_EQ(outcomes[1].drive, fake::OTHER);
  EXPECT_EQ(outcomes[1].result, SessionResult::failed);
  EXPECT_EQ(std::string(net.memory.begin(), net.memory.end()),
            std::string(image.bytes().begin(), image.bytes().end()));
}

}  // namespace

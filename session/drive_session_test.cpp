// Whole runs of the sessions on a fake clock and network (session/
// fake_network.h): every command on the wire with its time, every pause,
// tries and give-ups, what a drive ends up holding, and the events the
// observer is told, in milliseconds of test time.
#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "image/image.h"
#include "session/runner.h"
#include "testkit/fake_network.h"

namespace {

using fake::DRIVE;
using fake::milliseconds;
using fake::Network;
using fake::Script;

// The events, one word each: "connect", "1000", "|3" (block 3 confirmed),
// "identity", "fail:programming:noAnswer:b18", "done", ...
class Recorder final : public SessionObserver {
 public:
  std::vector<std::string> events;
  int counts = 0;

  void stageStarted(std::uint32_t, Stage stage) override { add("+" + name(stage)); }
  void stageCompleted(std::uint32_t, Stage stage) override { add("-" + name(stage)); }
  void countdown(std::uint32_t, int) override { ++counts; }
  void sendFailed(std::uint32_t) override { add("sendFailed"); }
  void blockConfirmed(std::uint32_t, std::size_t index, std::size_t) override {
    add("|" + std::to_string(index));
  }
  void identityReceived(std::uint32_t, const UnitIdentity& id) override {
    add("identity" + std::to_string(id.serialNumber));
  }
  void digestVerdict(std::uint32_t, const Digest&, const Digest&, bool equal) override {
    add(equal ? "equal" : "differ");
  }
  void digestReceived(std::uint32_t, const Digest&) override { add("digest"); }
  void alreadyCurrent(std::uint32_t) override { add("current"); }
  void failed(std::uint32_t, const Failure& f) override {
    static const char* const reasons[] = {"noAnswer",   "refused",  "unreachable", "ownAddress",
                                          "noIdentity", "noDigest", "interrupted", "notUnicast"};
    add("fail:" + name(f.stage) + ":" + reasons[static_cast<int>(f.reason)] +
        (f.block ? ":b" + std::to_string(*f.block) : "") +
        (f.reason == FailureReason::refused ? ":s" + std::to_string(f.status) : ""));
  }
  void finished(std::uint32_t, SessionResult result) override {
    add(result == SessionResult::completed ? "completed" : "failed");
  }

  std::string text() const {
    std::string out;
    for (const auto& e : events) {
      out += (out.empty() ? "" : " ") + e;
    }
    return out;
  }

 private:
  void add(const std::string& e) { events.push_back(e); }
  static std::string name(Stage s) {
    static const char* const names[] = {"probe",       "connection", "pause", "monitor",
                                        "programming", "verify",     "reboot"};
    return names[static_cast<int>(s)];
  }
};

FirmwareImage imageOf(std::size_t fileSize) {
  std::vector<std::uint8_t> file(fileSize);
  std::iota(file.begin(), file.end(), std::uint8_t{7});
  return makeImage(file);
}

struct Outcome {
  std::string events;
  int counts = 0;
  SessionResult result = SessionResult::failed;
};

Outcome run(Network& net, RunMode mode, const FirmwareImage* image, bool skipCurrent = false) {
  Recorder recorder;
  const std::uint32_t drives[] = {DRIVE};
  const SessionResult result =
      runDrives(drives, mode, image, recorder, net, skipCurrent).front().result;
  return {recorder.text(), recorder.counts, result};
}

// The sends as "code@ms" words; block sends as "17:block@ms".
std::string sends(const Network& net, std::size_t from = 0, std::size_t count = 1000000) {
  std::string out;
  for (std::size_t i = from; i < net.log.size() && i < from + count; ++i) {
    const fake::Sent& s = net.log[i];
    out += (out.empty() ? "" : " ") + std::to_string(s.code) +
           (s.code == CMD_PROGRAM_BLOCK ? ":" + std::to_string((s.target - 0x8000) / 512) : "") +
           "@" + std::to_string(s.at.count());
  }
  return out;
}

std::string memoryOf(const Network& net) { return {net.memory.begin(), net.memory.end()}; }
std::string bytesOf(const FirmwareImage& image) {
  return {image.bytes().begin(), image.bytes().end()};
}

// A drive that answers every command at once: the link start, the
// connection, the monitor pause, then one send per exchange, each followed
// by its pause; the blocks tile the image from 0x8000 on; a mark for each
// block; the reboot pause last.
TEST(SessionTimeline, AProgrammingRunSendsEveryCommandAfterItsPause) {
  Network net;
  const FirmwareImage image = imageOf(8706);  // 8708 bytes: 17 blocks and 4 bytes
  const Outcome r = run(net, RunMode::program, &image);
  EXPECT_EQ(r.result, SessionResult::completed);
  std::string expected = "16@150 20@2680";
  for (int j = 0; j < 18; ++j) {
    expected += " 17:" + std::to_string(j) + "@" + std::to_string(2830 + 60 * j);
  }
  expected += " 18@3910 19@4030";
  EXPECT_EQ(sends(net), expected);
  EXPECT_EQ(net.log.back().length, 0u);
  EXPECT_EQ(net.log[2 + 17].length, 4u);  // the last block
  EXPECT_EQ(net.since(net.now()), milliseconds(4030 + 30 + 5000));
  EXPECT_EQ(memoryOf(net), bytesOf(image));
  std::string events =
      "+connection -connection +pause -pause +monitor identity123456 digest -monitor "
      "+programming";
  for (int j = 0; j < 18; ++j) {
    events += " |" + std::to_string(j);
  }
  events += " -programming +verify -verify +reboot -reboot completed";
  EXPECT_EQ(r.events, events);
  EXPECT_EQ(r.counts, 1);
}

TEST(SessionTimeline, IdentityAndVerifyRunsStopAtTheDrivesReport) {
  Script script;
  const FirmwareImage image = imageOf(1000);
  script.driveDigest = image.digest;
  {
    Network net(script);
    const Outcome r = run(net, RunMode::verify, &image);
    EXPECT_EQ(sends(net), "20@150");
    EXPECT_EQ(net.since(net.now()), milliseconds(300));  // the probe's pause ends the run
    EXPECT_EQ(r.events, "+probe identity123456 equal completed");
  }
  script.driveDigest[15] ^= 1;
  {
    Network net(script);
    EXPECT_EQ(run(net, RunMode::verify, &image).events, "+probe identity123456 differ completed");
  }
  {
    Network net(script);
    EXPECT_EQ(run(net, RunMode::identity, nullptr).events,
              "+probe identity123456 digest completed");
  }
  script.digest = false;
  {
    Network net(script);
    const Outcome r = run(net, RunMode::identity, nullptr);
    EXPECT_EQ(r.events, "+probe identity123456 fail:probe:noDigest failed");
    // The answer came at 151; the wait for one with the digest ends 5 s on.
    EXPECT_EQ(net.since(net.now()), milliseconds(5151));
  }
  // A drive not yet in its monitor state: five probes, then the connection
  // and the monitor stage as for programming, and nothing after the report.
  script.digest = true;
  script.silentUntil = milliseconds(1000);
  {
    Network net(script);
    const Outcome r = run(net, RunMode::identity, nullptr);
    EXPECT_EQ(sends(net, 0, 7), "20@150 20@300 20@450 20@600 20@750 16@900 16@930");
    EXPECT_EQ(sends(net, net.log.size() - 1), "20@" + std::to_string(net.log.back().at.count()));
    EXPECT_EQ(r.events,
              "+probe +connection -connection +pause -pause +monitor identity123456 digest "
              "completed");
    EXPECT_EQ(r.counts, 5);  // 900 to 1020: the answer to the 1020 connect counts
  }
}

// An exchange answered after its fourth send takes four; one never answered
// takes five and ends the run; the connection gives up after its 1000th
// send even when the answer comes in the pause after it.
TEST(SessionTimeline, TriesAndGiveUps) {
  const FirmwareImage image = imageOf(600);  // two blocks
  {
    Script script;
    script.answerFromTry = 4;
    Network net(script);
    const Outcome r = run(net, RunMode::program, &image);
    EXPECT_EQ(r.result, SessionResult::completed);
    EXPECT_EQ(sends(net, 4, 8),
              "20@2770 20@2920 20@3070 20@3220 17:0@3370 17:0@3430 17:0@3490 17:0@3550");
    EXPECT_EQ(memoryOf(net), bytesOf(image));
  }
  for (const std::uint16_t silent :
       {CMD_ENTER_MONITOR, CMD_PROGRAM_BLOCK, CMD_VERIFY, CMD_REBOOT}) {
    // Every send of that command is lost on the way: the sends are numbered
    // as a run with a drive that answers everything numbers them.
    Network counting;
    run(counting, RunMode::program, &image);
    Script lost;
    for (std::size_t i = 0; i < counting.log.size(); ++i) {
      if (counting.log[i].code == silent) {
        for (std::size_t k = i; k < i + 5; ++k) {
          lost.lostCommands.insert(k);
        }
        break;
      }
    }
    Network net(lost);
    const Outcome r = run(net, RunMode::program, &image);
    EXPECT_EQ(r.result, SessionResult::failed);
    EXPECT_EQ(net.log.back().code, silent);
    const auto tries = std::count_if(net.log.begin(), net.log.end(),
                                     [&](const fake::Sent& s) { return s.code == silent; });
    EXPECT_EQ(tries, 5) << silent;
    EXPECT_TRUE(
        r.events.ends_with(":noAnswer" + std::string(silent == 17 ? ":b0" : "") + " failed"))
        << r.events;
  }
  {
    Script script;
    script.silentUntil = milliseconds(150 + 999 * 30 + 1);  // only the 1000th is answered
    Network net(script);
    const Outcome r = run(net, RunMode::program, &image);
    EXPECT_EQ(net.log.size(), 1000u);
    EXPECT_EQ(r.counts, 1000);
    EXPECT_EQ(net.since(net.now()), milliseconds(150 + 1000 * 30));
    EXPECT_EQ(r.events, "+connection fail:connection:noAnswer failed");
    EXPECT_LT(net.waits, 1100);  // one wait per pause: no busy waiting
  }
}

// -s: a drive that reports the file's digest is asked to verify what it
// holds; confirmed, it is rebooted with no block sent. A refusal, no
// answer, another digest or none at all: it is programmed in full, as
// without -s. Without -s the digest changes nothing.
TEST(SessionTimeline, SkippingADriveThatHoldsTheFile) {
  const FirmwareImage image = imageOf(1500);  // three blocks
  const std::string programmed = "16@150 20@2680 17:0@2830 17:1@2890 17:2@2950 18@3010 19@3130";
  const std::string checkedThenProgrammed =
      "16@150 20@2680 18@2830 17:0@2950 17:1@3010 17:2@3070 18@3130 19@3250";
  const std::string head =
      "+connection -connection +pause -pause +monitor identity123456 digest "
      "-monitor";
  const std::string blocks =
      " +programming |0 |1 |2 -programming +verify -verify +reboot -reboot completed";
  struct Case {
    const char* name;
    bool skip;
    bool sameDigest;
    bool digest;
    std::optional<milliseconds> refusalAt;  // the check's answer: a refusal then
    std::string sends;
    std::string events;
    bool holdsImage;  // the drive ends with the image (false: nothing sent)
  };
  const Case cases[] = {
      {"holds the file", true, true, true, std::nullopt, "16@150 20@2680 18@2830 19@2950",
       head + " current +reboot -reboot completed", false},
      {"without -s", false, true, true, std::nullopt, programmed, head + blocks, true},
      {"another digest", true, false, true, std::nullopt, programmed, head + blocks, true},
      {"no digest", true, true, false, std::nullopt, programmed,
       "+connection -connection +pause -pause +monitor identity123456 -monitor" + blocks, true},
      // the drive's answer to the check is a refusal: the next send waits
      // out the check's pause, then every block goes
      {"verify refused", true, true, true, milliseconds(2840), checkedThenProgrammed, head + blocks,
       true},
  };
  for (const Case& c : cases) {
    Script script;
    script.digest = c.digest;
    script.driveDigest = image.digest;
    if (!c.sameDigest) {
      script.driveDigest[3] ^= 0x40;
    }
    if (c.refusalAt) {
      script.lostAnswers.insert(2);  // the drive's own answer to the check
    }
    Network net(script);
    if (c.refusalAt) {
      net.inject(*c.refusalAt, DRIVE, encodeResponse(CMD_VERIFY, 0, {}));
    }
    const Outcome r = run(net, RunMode::program, &image, c.skip);
    EXPECT_EQ(r.result, SessionResult::completed) << c.name;
    EXPECT_EQ(sends(net), c.sends) << c.name;
    EXPECT_EQ(r.events, c.events) << c.name;
    EXPECT_EQ(memoryOf(net) == bytesOf(image), c.holdsImage) << c.name;
  }
  // Five checks unanswered: programmed in full after the fifth's pause.
  Script silentCheck;
  silentCheck.driveDigest = image.digest;
  silentCheck.lostAnswers = {2, 3, 4, 5, 6};
  Network net(silentCheck);
  const Outcome r = run(net, RunMode::program, &image, true);
  EXPECT_EQ(r.result, SessionResult::completed);
  EXPECT_EQ(sends(net, 2, 6), "18@2830 18@2950 18@3070 18@3190 18@3310 17:0@3430");
  EXPECT_EQ(memoryOf(net), bytesOf(image));
}

}  // namespace

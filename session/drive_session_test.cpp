// Whole runs of the sessions on a fake clock and network (testkit/
// fake_network.h): every command on the wire with its time, every pause,
// tries and give-ups, what a drive ends up holding, the events the observer
// is told, and the user's stop in every stage, in milliseconds of test time.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "image/image.h"
#include "session/runner.h"
#include "session/words.h"
#include "testkit/fake_network.h"

namespace {

using fake::DRIVE;
using fake::milliseconds;
using fake::Network;
using fake::Script;

// The events, one word each: "+connection" (a stage started), "-monitor" (and
// completed), "|3" (block 3 confirmed), "identity123456",
// "fail:programming:noAnswer:b18" (":partial" when the drive holds part of
// an image), "completed", ...
class Recorder final : public SessionObserver {
 public:
  std::vector<std::string> events;
  int counts = 0;

  void stageStarted(DriveAddress, Stage stage) override { add("+" + name(stage)); }
  void stageCompleted(DriveAddress, Stage stage) override { add("-" + name(stage)); }
  void countdown(DriveAddress, int) override { ++counts; }
  void sendFailed(DriveAddress) override { add("sendFailed"); }
  void blockConfirmed(DriveAddress, std::size_t index, std::size_t) override {
    add("|" + std::to_string(index));
  }
  void identityReceived(DriveAddress, const UnitIdentity& id) override {
    add("identity" + std::to_string(id.serialNumber));
  }
  void digestVerdict(DriveAddress, const Digest&, const Digest&, bool equal) override {
    add(equal ? "equal" : "differ");
  }
  void digestReceived(DriveAddress, const Digest&) override { add("digest"); }
  void alreadyCurrent(DriveAddress) override { add("current"); }
  void withheld(DriveAddress, Refusal refusal) override {
    add(std::string("withheld:") + wordsOf(refusal).word);
  }
  void failed(DriveAddress, const Failure& f) override {
    static const char* const reasons[] = {"noAnswer",   "refused",  "unreachable", "ownAddress",
                                          "noIdentity", "noDigest", "interrupted", "notUnicast"};
    add("fail:" + name(f.stage) + ":" + reasons[static_cast<int>(f.reason)] +
        (f.block ? ":b" + std::to_string(*f.block) : "") +
        (f.reason == FailureReason::refused ? ":s" + std::to_string(f.status) : "") +
        (f.imageIncomplete ? ":partial" : ""));
  }
  void finished(DriveAddress, SessionResult result) override {
    static const char* const results[] = {"completed", "failed", "interrupted"};
    add(results[static_cast<int>(result)]);
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
  DriveResult driveResult = DriveResult::running;
};

Outcome run(Network& net, RunMode mode, const FirmwareImage* image, bool skipCurrent = false,
            ReleaseGuard releases = {}) {
  Recorder recorder;
  const DriveAddress drives[] = {DRIVE};
  const SessionPlan plan{.mode = mode,
                         .image = mode == RunMode::identity ? nullptr : image,
                         .skipCurrent = skipCurrent,
                         .releases = releases};
  const DriveResult result = runDrives(drives, plan, recorder, net).front().result;
  // How the session ended, whatever the run asked of it.
  const SessionResult ended = result == DriveResult::interrupted ? SessionResult::interrupted
                              : result == DriveResult::failed    ? SessionResult::failed
                                                                 : SessionResult::completed;
  return {recorder.text(), recorder.counts, ended, result};
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

// With a catalog, the drive's identity and digest decide in its monitor
// state whether it gets the file: a drive the release is not for, or one
// that holds a newer release, gets no block and is rebooted; a plan (-n)
// reads what a verify run reads and foresees the same.
TEST(SessionTimeline, TheCatalogDecidesBeforeTheFirstBlock) {
  const FirmwareImage image = imageOf(1000);  // two blocks
  const auto release = [&](const char* version, const char* model, std::uint8_t digest) {
    Release r;
    r.manifest.version = version;
    r.manifest.compatibility.models = {model};
    r.driveDigest = Digest{digest};
    return r;
  };
  const std::string fakeModel(3, '\0');  // the fake drive's model code
  Release file = release("4.2", fakeModel.c_str(), 0);
  file.manifest.compatibility.models = {fakeModel};
  file.driveDigest = image.digest;
  const Catalog catalog({file, release("4.1", "KVB", 1), release("4.3", "KVB", 3)});
  const Release& v42 = catalog.releases()[1];
  Release otherModel = v42;
  otherModel.manifest.compatibility.models = {"KVB"};

  const std::string monitor =
      "+connection -connection +pause -pause +monitor identity123456 digest -monitor";
  const std::string rebooted = " +reboot -reboot completed";
  const std::string programmed = "16@150 20@2680 17:0@2830 17:1@2890 18@2950 19@3070";
  const struct {
    const char* name;
    RunMode mode;
    const Release* file;
    bool allowOlder;
    std::uint8_t held;  // the digest the drive reports: a release's first byte
    std::string sends;
    std::string events;
    DriveResult result;
  } cases[] = {
      {"older release held", RunMode::program, &v42, false, 1, programmed, "",
       DriveResult::programmed},
      {"unknown release held", RunMode::program, &v42, false, 9, programmed, "",
       DriveResult::programmed},
      {"newer release held", RunMode::program, &v42, false, 3, "16@150 20@2680 19@2830",
       monitor + " withheld:newer-on-drive" + rebooted, DriveResult::newerOnDrive},
      {"newer release, --allow-older", RunMode::program, &v42, true, 3, programmed, "",
       DriveResult::programmed},
      {"another model", RunMode::program, &otherModel, true, 1, "16@150 20@2680 19@2830",
       monitor + " withheld:model" + rebooted, DriveResult::incompatible},
      {"plan: program", RunMode::plan, &v42, false, 1, "20@150", "", DriveResult::wouldProgram},
      {"plan: newer", RunMode::plan, &v42, false, 3, "20@150",
       "+probe identity123456 digest withheld:newer-on-drive completed", DriveResult::newerOnDrive},
      {"plan: another model", RunMode::plan, &otherModel, false, 1, "20@150", "",
       DriveResult::incompatible},
  };
  for (const auto& c : cases) {
    Script script;
    script.driveDigest = Digest{c.held};
    Network net(script);
    const Outcome r = run(net, c.mode, &image, false, {&catalog, c.file, c.allowOlder});
    EXPECT_EQ(sends(net), c.sends) << c.name;
    if (!c.events.empty()) {
      EXPECT_EQ(r.events, c.events) << c.name;
    }
    EXPECT_EQ(r.driveResult, c.result) << c.name;
  }
  // -s in a plan: a drive that reports the file's digest would be current.
  Script holdsFile;
  holdsFile.driveDigest = image.digest;
  Network net(holdsFile);
  EXPECT_EQ(run(net, RunMode::plan, &image, true, {&catalog, &v42, false}).driveResult,
            DriveResult::current);
}

// (Every other way the identity wait ends is the identity wait's test in
// answers_test.cpp.)
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
  // A drive not yet in its monitor state: five probes, then the connection
  // and the monitor stage as for programming, and nothing after the report.
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
  // Unanswered from the first block on, the drive holds part of an image.
  const std::map<std::uint16_t, std::string> failures = {
      {CMD_ENTER_MONITOR, "fail:monitor:noAnswer failed"},
      {CMD_PROGRAM_BLOCK, "fail:programming:noAnswer:b0:partial failed"},
      {CMD_VERIFY, "fail:verify:noAnswer:partial failed"},
      {CMD_REBOOT, "fail:reboot:noAnswer:partial failed"}};
  for (const auto& [silent, failure] : failures) {
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
    const auto tries =
        std::count_if(net.log.begin(), net.log.end(),
                      [code = silent](const fake::Sent& s) { return s.code == code; });
    EXPECT_EQ(tries, 5) << silent;
    EXPECT_TRUE(r.events.ends_with(failure)) << r.events;
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

// --- the user's stop ----------------------------------------------------------------

struct StopCase {
  const char* name;
  RunMode mode;
  int stopMs;
  std::string stopped;  // the failure event
  bool silent = false;  // the drive never answers
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopInStage : public testing::TestWithParam<StopCase> {};

// In every stage the run ends at the moment of the stop, sends nothing
// after it, and the session says where it stopped and whether its drive
// holds part of an image. A drive that answers at once: connection at 150,
// monitor at 2680, 18 blocks from 2830 every 60 ms, verify at 3910, reboot
// at 4030, its pause to 9060.
TEST_P(StopInStage, EndsAtOnceSaysWhereAndSendsNothingMore) {
  const StopCase& c = GetParam();
  Script script;
  if (c.silent) {
    script.silentUntil = milliseconds(1'000'000);
  }
  Network net(script);
  net.stopAt = milliseconds(c.stopMs);
  const FirmwareImage image = imageOf(8706);
  const Outcome r = run(net, c.mode, &image);
  EXPECT_EQ(r.result, SessionResult::interrupted);
  EXPECT_TRUE(r.events.ends_with(c.stopped + " interrupted")) << r.events;
  EXPECT_EQ(net.since(net.now()), milliseconds(c.stopMs));
  for (const fake::Sent& s : net.log) {
    EXPECT_LE(s.at, milliseconds(c.stopMs)) << "code " << s.code;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Session, StopInStage,
    testing::Values(
        StopCase{"LinkStart", RunMode::program, 100, "fail:connection:interrupted"},
        StopCase{"Connecting", RunMode::program, 20000, "fail:connection:interrupted", true},
        StopCase{"MonitorPause", RunMode::program, 1500, "fail:pause:interrupted"},
        StopCase{"Monitor", RunMode::program, 2700, "fail:monitor:interrupted"},
        StopCase{"FirstBlock", RunMode::program, 2831, "fail:programming:interrupted:b0:partial"},
        StopCase{"MidProgramming", RunMode::program, 3000,
                 "fail:programming:interrupted:b2:partial"},
        StopCase{"Verify", RunMode::program, 3950, "fail:verify:interrupted:partial"},
        StopCase{"RebootUnconfirmed", RunMode::program, 4031, "fail:reboot:interrupted:partial"},
        StopCase{"RebootPause", RunMode::program, 6000, "fail:reboot:interrupted"},
        StopCase{"IdentityProbe", RunMode::identity, 200, "fail:probe:interrupted", true},
        StopCase{"VerifyConnecting", RunMode::verify, 5000, "fail:connection:interrupted", true}),
    testing::PrintToStringParamName());

// A session that has ended stays as it ended; those still running are
// interrupted.
TEST(StopTest, OnlyUnfinishedSessionsAreInterrupted) {
  Network net;
  net.stopAt = milliseconds(2000);
  Recorder recorder;
  const DriveAddress drives[] = {fake::OTHER, DRIVE, fake::OWN};
  const auto outcomes = runDrives(drives, SessionPlan{.mode = RunMode::identity}, recorder, net);
  EXPECT_EQ(outcomes[0].result, DriveResult::interrupted);
  EXPECT_EQ(outcomes[1].result, DriveResult::identified);
  EXPECT_EQ(outcomes[2].result, DriveResult::failed);  // its own address
  EXPECT_EQ(
      std::count(recorder.events.begin(), recorder.events.end(), "fail:connection:interrupted"), 1);
}

}  // namespace

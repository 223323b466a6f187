// Which datagrams a session takes for the drive's answer, and how long it
// waits for them, on the fake clock and network: only the drive's own
// answer to the command in flight counts; a refusal ends the run; late,
// lost, jittering and doubled answers never leave a block out of the
// drive's image unnoticed (the drive's answer time is learnt from every
// answer, never guessed too short); the wait for the complete identity
// answer; and the pause after each send, whatever the other sessions' sends
// cost.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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

// The events that tell what a run claimed, a word each: identities shown,
// the digest and its verdict, blocks programmed, the failure
// ("fail:reason@stage", a refusal with its status) and the end.
class Events final : public SessionObserver {
 public:
  std::string text;
  std::optional<Failure> failure;
  void stageCompleted(DriveAddress, Stage stage) override {
    add(stage == Stage::programming ? "programmed" : "");
  }
  void sendFailed(DriveAddress) override { add("sendFailed"); }
  void identityReceived(DriveAddress, const UnitIdentity& id) override {
    add("identity" + std::to_string(id.serialNumber));
  }
  void digestVerdict(DriveAddress, const Digest&, const Digest&, bool equal) override {
    add(equal ? "equal" : "differ");
  }
  void digestReceived(DriveAddress, const Digest&) override { add("digest"); }
  void alreadyCurrent(DriveAddress) override { add("current"); }
  void failed(DriveAddress, const Failure& f) override {
    failure = f;
    static const char* const reasons[] = {"noAnswer",   "refused",  "unreachable", "ownAddress",
                                          "noIdentity", "noDigest", "interrupted", "notUnicast"};
    static const char* const stages[] = {"probe",       "connection", "pause", "monitor",
                                         "programming", "verify",     "reboot"};
    add(std::string("fail:") + reasons[static_cast<int>(f.reason)] +
        (f.reason == FailureReason::refused ? std::to_string(f.status) : "") + "@" +
        stages[static_cast<int>(f.stage)]);
  }
  void finished(DriveAddress, SessionResult result) override {
    add(result == SessionResult::completed ? "completed" : "failed");
  }

 private:
  void add(const std::string& e) {
    if (!e.empty()) {
      text += (text.empty() ? "" : " ") + e;
    }
  }
};

FirmwareImage imageOf(std::size_t fileSize) {
  std::vector<std::uint8_t> file(fileSize);
  std::iota(file.begin(), file.end(), std::uint8_t{3});
  return makeImage(file);
}

struct Told {
  std::string text;
  std::optional<Failure> failure;
};

Told runSession(Network& net, RunMode mode, const FirmwareImage* image, DriveAddress drive = DRIVE,
                bool skipCurrent = false) {
  Events events;
  const DriveAddress drives[] = {drive};
  runDrives(drives, SessionPlan{.mode = mode, .image = image, .skipCurrent = skipCurrent}, events,
            net);
  return {events.text, events.failure};
}

std::string runEvents(Network& net, RunMode mode, const FirmwareImage* image,
                      DriveAddress drive = DRIVE) {
  return runSession(net, mode, image, drive).text;
}

bool holds(const Network& net, const FirmwareImage& image) {
  return std::equal(net.memory.begin(), net.memory.end(), image.bytes().begin(),
                    image.bytes().end());
}

// --- whose answer counts ---------------------------------------------------------------

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
    DriveAddress from;
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
    const std::string text = runEvents(net, RunMode::identity, nullptr);
    ASSERT_GE(net.log.size(), 6u) << stray.what;
    EXPECT_EQ(net.log[4].code, CMD_ENTER_MONITOR) << stray.what;
    EXPECT_EQ(net.log[5].code, CMD_CONNECT) << stray.what;
    EXPECT_EQ(text, "fail:noAnswer@connection failed") << stray.what;
  }
}

// Another host sends plausible answers, every code with status 1, every
// 7 ms all through a programming run of a drive that never answers: none
// is taken for the drive's, so the run ends at the connection.
TEST(Answers, ForgedAnswersFromAnotherHostAreNoAnswers) {
  const FirmwareImage image = imageOf(20 * 512);
  Script script;
  script.silentUntil = milliseconds(100000);
  Network net(script);
  for (int at = 0; at < 40000; at += 7) {
    const auto code = static_cast<std::uint16_t>(CMD_CONNECT + at % 5);
    net.inject(milliseconds(at), fake::OTHER, encodeResponse(code, STATUS_SUCCESS));
  }
  EXPECT_EQ(runEvents(net, RunMode::program, &image), "fail:noAnswer@connection failed");
  EXPECT_EQ(net.log.back().code, CMD_CONNECT);
}

// A refusal ends the run where it comes, with nothing more sent: no reboot
// after a refused verify.
TEST(Answers, ARefusalEndsTheRunAtOnce) {
  const FirmwareImage image = imageOf(2000);
  const struct {
    std::uint16_t code;
    std::uint8_t status;
    RunMode mode;
    const char* failure;
  } cases[] = {
      {CMD_CONNECT, 0, RunMode::program, "fail:refused0@connection failed"},
      {CMD_ENTER_MONITOR, 0, RunMode::program, "fail:refused0@monitor failed"},
      {CMD_ENTER_MONITOR, 2, RunMode::verify, "fail:refused2@probe failed"},
      {CMD_PROGRAM_BLOCK, 0, RunMode::program, "fail:refused0@programming failed"},
      {CMD_VERIFY, 0, RunMode::program, "fail:refused0@verify failed"},
      {CMD_REBOOT, 7, RunMode::program, "fail:refused7@reboot failed"},
  };
  for (const auto& c : cases) {
    Script script;
    script.status[c.code] = c.status;
    Network net(script);
    const std::string text = runEvents(net, c.mode, &image);
    EXPECT_TRUE(text.ends_with(c.failure)) << text;
    EXPECT_EQ(net.log.back().code, c.code);
    EXPECT_EQ(std::count_if(net.log.begin(), net.log.end(),
                            [&](const fake::Sent& s) { return s.code == c.code; }),
              1);
  }
}

// No network leads to the address: one failure, nothing more tried. A
// transient failure is a try without an answer. The PC's own address is
// refused before anything is sent, and so are multicast and reserved ones.
TEST(Answers, SendFailuresAndAddressesThatAreNoDrives) {
  {
    Network net;
    net.unreachable = true;
    EXPECT_EQ(runEvents(net, RunMode::identity, nullptr), "fail:unreachable@probe failed");
    EXPECT_EQ(net.waits, 1);  // the link start's pause; then it ended
  }
  {
    Script script;
    Network net(script);
    net.failingSends = {0, 1, 2, 3, 4};
    EXPECT_EQ(runEvents(net, RunMode::identity, nullptr),
              "sendFailed sendFailed sendFailed sendFailed sendFailed identity123456 digest "
              "completed");
    EXPECT_EQ(net.log.front().code, CMD_CONNECT);  // after five failed probes
  }
  const struct {
    DriveAddress address;
    const char* events;
  } refused[] = {
      {fake::OWN, "fail:ownAddress@connection failed"},
      {{0, 0, 0, 0}, "fail:ownAddress@connection failed"},
      {{224, 0, 0, 1}, "fail:notUnicast@connection failed"},
      {{239, 255, 255, 255}, "fail:notUnicast@connection failed"},
      {{240, 0, 0, 1}, "fail:notUnicast@connection failed"},
      {{255, 255, 255, 254}, "fail:notUnicast@connection failed"},
  };
  for (const auto& c : refused) {
    Network net;
    const RunMode mode =
        c.address.isUnspecified() || c.address == fake::OWN ? RunMode::program : RunMode::identity;
    EXPECT_EQ(runEvents(net, mode, nullptr, c.address), c.events) << addressText(c.address);
    EXPECT_TRUE(net.log.empty());
  }
  Network net;
  EXPECT_EQ(runEvents(net, RunMode::identity, nullptr, {223, 255, 255, 254}),
            "fail:noAnswer@connection failed");
}

// --- answers to an earlier exchange of the same command ----------------------------

// With -s a drive that reports the file's digest is asked to verify the
// image it holds; here its answers to those five checks come late (about a
// second, 5 s or 20 s; twice each from a drive that answers everything
// twice), as refusals, or never, while programming takes a fifth of a
// second or 2.4 s. The drive's own answer to the verify after programming
// comes at once or never. No answer to a check may stand in for that
// verify: without its own answer the drive fails at verify, holding part of
// an image; with it the drive is programmed and verified.
TEST(EarlierExchanges, NoAnswerToTheCheckConfirmsTheVerifyAfterProgramming) {
  constexpr int CHECK_AT = 2830;  // the first check's send; one every 120 ms
  const struct {
    const char* what;
    std::optional<std::uint8_t> checkStatus;  // of the late answers; none: never answered
    bool twice;                               // the drive answers everything twice
    bool verifyAnswered;
  } drives[] = {
      {"checks answered late, verify never", STATUS_SUCCESS, false, false},
      {"checks answered late, verify at once", STATUS_SUCCESS, false, true},
      {"checks refused late, verify at once", 0, false, true},
      {"checks never answered, verify at once", std::nullopt, false, true},
      {"checks never answered, verify never", std::nullopt, false, false},
      {"every answer twice, checks late, verify never", STATUS_SUCCESS, true, false},
      {"every answer twice, checks late, verify at once", STATUS_SUCCESS, true, true},
  };
  for (const std::size_t blocks : {3, 40}) {
    const FirmwareImage image = imageOf(blocks * 512 - 100);
    for (const int delay : {900, 5000, 20000}) {
      for (const auto& d : drives) {
        const std::string name = std::string(d.what) + ", " + std::to_string(blocks) +
                                 " blocks, checks " + std::to_string(delay) + " ms late";
        Script script;
        script.driveDigest = image.digest;
        if (d.twice) {
          script.twiceAfter = milliseconds(5);
        }
        const bool verifyAnswered = d.verifyAnswered;
        script.answerAfter[CMD_VERIFY] = [verifyAnswered](int n) -> std::optional<milliseconds> {
          if (n < 5 || !verifyAnswered) {
            return std::nullopt;  // the checks' answers come below
          }
          return milliseconds(1);
        };
        Network net(script);
        for (int check = 0; d.checkStatus && check < 5; ++check) {
          // Spread over 0.4 s, as a drive's late answers are.
          const auto at = milliseconds(CHECK_AT + 120 * check + delay + 100 * (check % 5));
          const Bytes late = encodeResponse(CMD_VERIFY, *d.checkStatus);
          net.inject(at, DRIVE, late);
          if (d.twice) {
            net.inject(at + milliseconds(5), DRIVE, late);
          }
        }
        const Told events = runSession(net, RunMode::program, &image, DRIVE, true);
        ASSERT_GE(net.log.size(), 3u) << name;
        EXPECT_EQ(net.log[2].code, CMD_VERIFY) << name;
        EXPECT_EQ(net.log[2].at, milliseconds(CHECK_AT)) << name;
        EXPECT_FALSE(events.text.find("current") != std::string::npos) << name;
        if (d.verifyAnswered) {
          EXPECT_TRUE(events.text.ends_with("programmed completed")) << name << ": " << events.text;
          EXPECT_TRUE(holds(net, image)) << name;
        } else {
          EXPECT_TRUE(events.text.ends_with("programmed fail:noAnswer@verify failed"))
              << name << ": " << events.text;
          ASSERT_TRUE(events.failure) << name;
          EXPECT_TRUE(events.failure->imageIncomplete) << name;
          EXPECT_NE(net.log.back().code, CMD_REBOOT) << name;
        }
      }
    }
  }
}

// --- block answers later than the pause ----------------------------------------------

// Drives that answer everything or only the blocks late, jitter, or answer
// twice, each with blocks and answers lost: the drive ends up with the whole
// image, or the run fails without claiming it complete. The sends are
// numbered from the first block's: one connect and one identity request go
// before it.
TEST(Horizon, EveryBlockReachesTheDriveOrTheRunFails) {
  const FirmwareImage image = imageOf(30 * 512 + 200);  // 31 blocks
  constexpr std::size_t B = 2;                          // the first block's send
  const struct {
    const char* loss;
    std::set<std::size_t> lostCommands;
    std::set<std::size_t> lostAnswers;
  } losses[] = {
      {"nothing lost", {}, {}},
      {"a block lost", {B + 5}, {}},
      {"an answer lost", {}, {B + 5}},
      {"a block and an answer lost", {B + 5}, {B + 9}},
      {"a block lost twice", {B + 5, B + 6}, {}},
      {"blocks and answers lost", {B + 4, B + 5, B + 20}, {B + 11}},
  };
  const struct {
    int late;                     // ms, every answer
    int blocksLate;               // ms, block answers alone (the identity's at once)
    int jitter;                   // ms at most, more or less by the send
    std::optional<int> twiceGap;  // ms to the second copy of every answer
  } drives[] = {{0, 0, 0, {}},   {1, 30, 0, {}},  {1, 59, 0, {}}, {50, 0, 0, {}},  {70, 0, 0, {}},
                {100, 0, 0, {}}, {40, 0, 50, {}}, {1, 0, 0, 0},   {70, 0, 0, 5},   {10, 0, 0, 65},
                {1, 0, 0, 70},   {1, 50, 0, {}},  {1, 70, 0, {}}, {1, 100, 0, {}}, {1, 150, 0, {}},
                {1, 250, 0, {}}, {1, 40, 60, {}}, {1, 90, 60, {}}};
  for (const auto& d : drives) {
    for (const auto& loss : losses) {
      Script script;
      script.latency = milliseconds(d.late);
      if (d.blocksLate > 0) {
        script.blockLatency = milliseconds(d.blocksLate);
      }
      const int jitter = d.jitter;
      script.jitter = [jitter](std::size_t n) {
        return milliseconds(static_cast<int>(n * 37) % (jitter + 1));
      };
      if (d.twiceGap) {
        script.twiceAfter = milliseconds(*d.twiceGap);
      }
      script.lostCommands = loss.lostCommands;
      script.lostAnswers = loss.lostAnswers;
      Network net(script);
      const std::string events = runEvents(net, RunMode::program, &image);
      const std::string what = std::to_string(d.late) + "/" + std::to_string(d.blocksLate) +
                               " ms late, jitter " + std::to_string(d.jitter) + ", twice " +
                               std::to_string(d.twiceGap.value_or(-1)) + ", " + loss.loss;
      const bool completed = events.ends_with("programmed completed");
      EXPECT_TRUE(completed ? holds(net, image)
                            : events.ends_with("fail:noAnswer@programming failed") &&
                                  events.find("programmed") == std::string::npos)
          << what << ": " << events;
      // A good run keeps its pace: one send per block, 60 ms apart, while
      // every answer comes within the pause after its send.
      std::vector<milliseconds> blocks;
      for (const fake::Sent& s : net.log) {
        if (s.code == CMD_PROGRAM_BLOCK) {
          blocks.push_back(s.at);
        }
      }
      if (loss.lostCommands.empty() && loss.lostAnswers.empty() && !d.twiceGap &&
          std::max(d.late, d.blocksLate) + d.jitter < 60) {
        ASSERT_EQ(blocks.size(), 31u) << what;
        EXPECT_EQ(blocks.back() - blocks.front(), milliseconds(30 * 60)) << what;
      }
      // A retry's answer comes within the five tries unless the drive takes
      // longer than the four pauses after the first.
      if (std::max(d.late, d.blocksLate) + d.jitter < 4 * 60 ||
          loss.lostCommands.size() + loss.lostAnswers.size() == 0) {
        EXPECT_TRUE(completed) << what << ": " << events;
      }
    }
  }
}

// --- the identity wait ---------------------------------------------------------------

Bytes identityAnswer(std::int32_t serial, std::size_t contentBytes, std::uint16_t lengthField,
                     std::uint8_t status = STATUS_SUCCESS) {
  UnitIdentity id = fake::sampleIdentity();
  id.serialNumber = serial;
  const IdentityBytes record = encodeIdentity(id);
  Bytes content(record.begin(), record.end());
  content.resize(UNIT_IDENTITY_SIZE + DIGEST_SIZE);
  Bytes answer = encodeResponse(CMD_ENTER_MONITOR, status, content);
  answer.resize(RESPONSE_HEADER_SIZE + contentBytes);
  answer[2] = static_cast<std::uint8_t>(lengthField >> 8);
  answer[3] = static_cast<std::uint8_t>(lengthField & 0xFF);
  return answer;
}

// -u and -v wait up to 5 s from the first answer for one that carries the
// identity and the digest; every whole record is shown once; a refusal ends
// the wait at once. The drive takes in nothing itself: the answers come at
// the times given, the first request having gone out at 150 ms.
TEST(IdentityWait, TheCompleteAnswerEndsTheWait) {
  const FirmwareImage image = imageOf(1000);
  const Bytes full = identityAnswer(7, 128, 128);
  const struct {
    const char* name;
    RunMode mode;
    std::vector<std::pair<int, Bytes>> answers;
    std::string events;
    int endsAt;  // ms
  } cases[] = {
      {"short, then full",
       RunMode::identity,
       {{160, identityAnswer(1, 100, 100)}, {660, full}},
       "identity7 digest completed",
       660},
      {"no digest, then full",
       RunMode::verify,
       {{160, identityAnswer(7, 112, 112)}, {900, full}},
       "identity7 differ completed",
       900},
      {"the whole record, its length field short",
       RunMode::identity,
       {{160, identityAnswer(7, 128, 40)}, {400, identityAnswer(8, 128, 112)}},
       "identity7 identity8 fail:noDigest@probe failed",
       5160},
      {"never complete",
       RunMode::verify,
       {{160, identityAnswer(1, 90, 90)}},
       "fail:noIdentity@probe failed",
       5160},
      {"full at once",
       RunMode::identity,
       {{160, full}, {200, full}},
       "identity7 digest completed",
       300},
      {"too late",
       RunMode::identity,
       {{160, identityAnswer(7, 112, 112)}, {5161, full}},
       "identity7 fail:noDigest@probe failed",
       5160},
      {"refused while waiting",
       RunMode::verify,
       {{160, identityAnswer(7, 112, 112)}, {700, identityAnswer(7, 128, 128, 0)}, {800, full}},
       "identity7 fail:refused0@probe failed",
       700},
  };
  for (const auto& c : cases) {
    Script script;
    script.silentUntil = milliseconds(100000);
    Network net(script);
    for (const auto& [at, bytes] : c.answers) {
      net.inject(milliseconds(at), DRIVE, bytes);
    }
    EXPECT_EQ(runEvents(net, c.mode, &image), c.events) << c.name;
    EXPECT_EQ(net.since(net.now()), milliseconds(c.endsAt)) << c.name;
    EXPECT_EQ(net.log.size(), 1u) << c.name;  // one request, then only listening
  }
}

// --- pauses --------------------------------------------------------------------------

// Whatever a send costs the thread, every drive's next send comes its whole
// pause after its own last send went out.
TEST(Pauses, ASlowSendShortensNoOtherDrivesPause) {
  const FirmwareImage image = imageOf(3000);
  Script script;
  Network net(script);
  for (std::size_t n = 0; n < 60; n += 3) {
    net.slowSends[n] = milliseconds(17 + n % 23);
  }
  Events events;
  const DriveAddress drives[] = {DRIVE, fake::OTHER};  // the other never answers
  runDrives(drives, SessionPlan{.image = &image}, events, net);
  EXPECT_TRUE(holds(net, image));
  const std::map<std::uint16_t, int> pauses = {{CMD_CONNECT, 30},
                                               {CMD_ENTER_MONITOR, 150},
                                               {CMD_PROGRAM_BLOCK, 60},
                                               {CMD_VERIFY, 120},
                                               {CMD_REBOOT, 30}};
  std::map<DriveAddress, const fake::Sent*> last;
  int checked = 0;
  for (const fake::Sent& s : net.log) {
    if (const auto* before = last[s.to]) {
      EXPECT_GE(s.at - before->at, milliseconds(pauses.at(before->code)))
          << "to " << addressText(s.to) << " at " << s.at.count() << " ms";
      ++checked;
    }
    last[s.to] = &s;
  }
  EXPECT_GT(checked, 1000);
}

}  // namespace

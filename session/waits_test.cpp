// How long a session waits, on the fake clock and network: for block answers
// that come later than the pause after a send (the drive's answer time is
// learnt from every answer, never guessed too short), for the complete
// answer to its identity request, and after each of its own sends, whatever
// the other sessions' sends cost.
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

// The events that tell what a run claimed: identities shown, blocks
// programmed, the failure and the end.
class Events final : public SessionObserver {
 public:
  std::string text;
  void stageCompleted(std::uint32_t, Stage stage) override {
    add(stage == Stage::programming ? "programmed" : "");
  }
  void identityReceived(std::uint32_t, const UnitIdentity& id) override {
    add("identity" + std::to_string(id.serialNumber));
  }
  void digestVerdict(std::uint32_t, const Digest&, const Digest&, bool equal) override {
    add(equal ? "equal" : "differ");
  }
  void digestReceived(std::uint32_t, const Digest&) override { add("digest"); }
  void failed(std::uint32_t, const Failure& f) override {
    static const char* const reasons[] = {"noAnswer",   "refused",  "unreachable", "ownAddress",
                                          "noIdentity", "noDigest", "interrupted", "notUnicast"};
    add(std::string("fail:") + reasons[static_cast<int>(f.reason)]);
  }
  void finished(std::uint32_t, SessionResult result) override {
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

std::string runEvents(Network& net, RunMode mode, const FirmwareImage* image,
                      std::uint32_t drive = DRIVE) {
  Events events;
  const std::uint32_t drives[] = {drive};
  runDrives(drives, mode, image, events, net);
  return events.text;
}

// --- block answers later than the pause ----------------------------------------------

// The drive answers its identity request at once, so nothing is learnt of
// its answer time before the blocks; each block answer comes this late. The
// sends are numbered from the first block's: one connect and one identity
// request go before it.
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
  };
  const struct {
    int late;
    bool jitter;
  } drives[] = {{0, false},   {50, false},  {70, false}, {100, false},
                {150, false}, {250, false}, {40, true},  {90, true}};
  for (const auto& d : drives) {
    for (const auto& loss : losses) {
      Script script;
      script.blockLatency = milliseconds(d.late);
      if (d.jitter) {
        script.jitter = [](std::size_t n) { return milliseconds((n * 37) % 61); };
      }
      script.lostCommands = loss.lostCommands;
      script.lostAnswers = loss.lostAnswers;
      Network net(script);
      const std::string events = runEvents(net, RunMode::program, &image);
      const std::string what =
          std::to_string(d.late) + " ms" + (d.jitter ? " with jitter, " : ", ") + loss.loss;
      const bool whole = std::equal(net.memory.begin(), net.memory.end(), image.bytes().begin(),
                                    image.bytes().end());
      const bool completed = events == "identity123456 digest programmed completed";
      EXPECT_TRUE(completed ? whole : events == "identity123456 digest fail:noAnswer failed")
          << what << ": " << events;
      // A retry's answer comes within the five tries unless the drive takes
      // longer than the four pauses after the first.
      if (d.late + (d.jitter ? 60 : 0) < 4 * 60 ||
          loss.lostCommands.size() + loss.lostAnswers.size() == 0) {
        EXPECT_TRUE(completed) << what << ": " << events;
      }
    }
  }
}

// A good run keeps its pace: one send per block, 60 ms apart.
TEST(Horizon, APromptDriveGetsOneSendPerBlock) {
  const FirmwareImage image = imageOf(20 * 512);
  for (const int late : {0, 30, 59}) {
    Script script;
    script.blockLatency = milliseconds(late);
    Network net(script);
    runEvents(net, RunMode::program, &image);
    std::vector<milliseconds> blocks;
    for (const fake::Sent& s : net.log) {
      if (s.code == CMD_PROGRAM_BLOCK) {
        blocks.push_back(s.at);
      }
    }
    ASSERT_EQ(blocks.size(), 20u) << late;
    EXPECT_EQ(blocks.back() - blocks.front(), milliseconds(19 * 60)) << late;
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
       "identity7 identity8 fail:noDigest failed",
       5160},
      {"never complete",
       RunMode::verify,
       {{160, identityAnswer(1, 90, 90)}},
       "fail:noIdentity failed",
       5160},
      {"full at once",
       RunMode::identity,
       {{160, full}, {200, full}},
       "identity7 digest completed",
       300},
      {"too late",
       RunMode::identity,
       {{160, identityAnswer(7, 112, 112)}, {5161, full}},
       "identity7 fail:noDigest failed",
       5160},
      {"refused while waiting",
       RunMode::verify,
       {{160, identityAnswer(7, 112, 112)}, {700, identityAnswer(7, 128, 128, 0)}, {800, full}},
       "identity7 fail:refused failed",
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

// --- pauses and addresses ------------------------------------------------------------

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
  const std::uint32_t drives[] = {DRIVE, fake::OTHER};  // the other never answers
  runDrives(drives, RunMode::program, &image, events, net);
  EXPECT_TRUE(
      std::equal(net.memory.begin(), net.memory.end(), image.bytes().begin(), image.bytes().end()));
  const std::map<std::uint16_t, int> pauses = {{CMD_CONNECT, 30},
                                               {CMD_ENTER_MONITOR, 150},
                                               {CMD_PROGRAM_BLOCK, 60},
                                               {CMD_VERIFY, 120},
                                               {CMD_REBOOT, 30}};
  std::map<std::uint32_t, const fake::Sent*> last;
  int checked = 0;
  for (const fake::Sent& s : net.log) {
    if (const auto* before = last[s.to]) {
      EXPECT_GE(s.at - before->at, milliseconds(pauses.at(before->code)))
          << "to " << s.to << " at " << s.at.count() << " ms";
      ++checked;
    }
    last[s.to] = &s;
  }
  EXPECT_GT(checked, 1000);
}

// Multicast and reserved addresses are refused before anything is sent.
TEST(Addresses, NoCommandGoesToAGroupOrReservedAddress) {
  for (const std::uint32_t address : {0xE0000001u, 0xEFFFFFFFu, 0xF0000001u, 0xFFFFFFFEu}) {
    Network net;
    EXPECT_EQ(runEvents(net, RunMode::identity, nullptr, address), "fail:notUnicast failed")
        << address;
    EXPECT_TRUE(net.log.empty());
  }
  Network net;
  EXPECT_EQ(runEvents(net, RunMode::identity, nullptr, 0xDFFFFFFEu), "fail:noAnswer failed");
}

}  // namespace

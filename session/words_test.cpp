// The records' words of every value, as released: programs that read the
// records (the Ansible module, a plant's scripts) rely on each of them.
#include "session/words.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

template <typename Value, std::size_t N>
void expectWords(const std::pair<Value, const char*> (&released)[N]) {
  for (const auto& [value, word] : released) {
    EXPECT_EQ(std::string(wordsOf(value).word), word);
  }
}

TEST(WordsTest, EveryValueKeepsItsReleasedWord) {
  const std::pair<DriveResult, const char*> results[] = {
      {DriveResult::programmed, "programmed"},    {DriveResult::current, "current"},
      {DriveResult::digestEqual, "digest-equal"}, {DriveResult::digestDiffers, "digest-differs"},
      {DriveResult::identified, "identified"},    {DriveResult::failed, "failed"},
      {DriveResult::interrupted, "interrupted"},  {DriveResult::running, "interrupted"},
      {DriveResult::notStarted, "not-started"},
  };
  expectWords(results);
  const std::pair<FailureReason, const char*> reasons[] = {
      {FailureReason::noAnswer, "no-answer"},      {FailureReason::refused, "refused"},
      {FailureReason::unreachable, "unreachable"}, {FailureReason::notUnicast, "unreachable"},
      {FailureReason::ownAddress, "own-address"},  {FailureReason::noIdentity, "no-identity"},
      {FailureReason::noDigest, "no-digest"},      {FailureReason::interrupted, "interrupted"},
  };
  expectWords(reasons);
  const std::pair<HeldBack, const char*> heldBack[] = {
      {HeldBack::canaryFailed, "canary-failed"},
      {HeldBack::interrupted, "interrupted"},
  };
  expectWords(heldBack);
  const std::pair<std::optional<Stage>, const char*> stages[] = {
      {std::nullopt, "waiting"},         {Stage::identityProbe, "monitor state"},
      {Stage::connection, "connection"}, {Stage::monitorPause, "monitor state"},
      {Stage::monitor, "monitor state"}, {Stage::programming, "programming"},
      {Stage::verify, "verify"},         {Stage::reboot, "reboot"},
  };
  expectWords(stages);
  EXPECT_STREQ(modeWord(RunMode::program), "program");
  EXPECT_STREQ(modeWord(RunMode::verify), "verify");
  EXPECT_STREQ(modeWord(RunMode::identity), "identity");
}

}  // namespace

// The records' words of every value, as released: programs that read the
// records (the Ansible module, a plant's scripts) rely on each of them.
#include "session/words.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WordsTest, EveryValueKeepsItsReleasedWord) {
  const std::pair<DriveResult, const char*> results[] = {
      {DriveResult::programmed, "programmed"},    {DriveResult::current, "current"},
      {DriveResult::digestEqual, "digest-equal"}, {DriveResult::digestDiffers, "digest-differs"},
      {DriveResult::identified, "identified"},    {DriveResult::failed, "failed"},
      {DriveResult::interrupted, "interrupted"},  {DriveResult::running, "interrupted"},
      {DriveResult::notStarted, "not-started"},
  };
  for (const auto& [value, word] : results) {
    EXPECT_EQ(std::string(resultWord(value)), word);
  }
  const std::pair<FailureReason, const char*> reasons[] = {
      {FailureReason::noAnswer, "no-answer"},      {FailureReason::refused, "refused"},
      {FailureReason::unreachable, "unreachable"}, {FailureReason::notUnicast, "unreachable"},
      {FailureReason::ownAddress, "own-address"},  {FailureReason::noIdentity, "no-identity"},
      {FailureReason::noDigest, "no-digest"},      {FailureReason::interrupted, "interrupted"},
  };
  for (const auto& [value, word] : reasons) {
    EXPECT_EQ(std::string(reasonWord(value)), word);
  }
  EXPECT_STREQ(heldBackWord(HeldBack::canaryFailed), "canary-failed");
  EXPECT_STREQ(heldBackWord(HeldBack::interrupted), "interrupted");
  const std::pair<std::optional<Stage>, const char*> stages[] = {
      {std::nullopt, "waiting"},         {Stage::identityProbe, "monitor state"},
      {Stage::connection, "connection"}, {Stage::monitorPause, "monitor state"},
      {Stage::monitor, "monitor state"}, {Stage::programming, "programming"},
      {Stage::verify, "verify"},         {Stage::reboot, "reboot"},
  };
  for (const auto& [value, word] : stages) {
    EXPECT_EQ(std::string(stageWord(value)), word);
  }
  EXPECT_STREQ(modeWord(RunMode::program), "program");
  EXPECT_STREQ(modeWord(RunMode::verify), "verify");
  EXPECT_STREQ(modeWord(RunMode::identity), "identity");
}

}  // namespace

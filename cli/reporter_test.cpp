// The console texts the reporter makes of events that whole runs meet only
// rarely: the countdown around failed sends, and every failure line. (The
// texts of whole runs are checked byte for byte by the end-to-end tests.)
#include "cli/reporter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DriveAddress DRIVE{10, 0, 0, 5};

// What the reporter writes for the events that act on it.
std::string console(RunMode mode, const std::function<void(ConsoleReporter&)>& act,
                    bool terminal = false) {
  std::string text;
  {
    ConsoleWriter writer([&text](std::string_view written) {
      text += written;
      return true;
    });
    RunOutput out(writer);
    {
      ConsoleReporter reporter(out, mode);
      act(reporter);
    }
    out.endRun(terminal, [] { return false; });
  }
  return text;
}

// A count stands until the next text writes over it: the failed send's line
// comes after the backspaces, the next count after the line.
TEST(ReporterTest, TheCountdownAroundFailedSends) {
  EXPECT_EQ(console(RunMode::program,
                    [](ConsoleReporter& r) {
                      r.stageStarted(DRIVE, Stage::connection);
                      r.countdown(DRIVE, 1000);
                      r.sendFailed(DRIVE);
                      r.countdown(DRIVE, 999);
                      r.stageCompleted(DRIVE, Stage::connection);
                      r.stageStarted(DRIVE, Stage::monitorPause);
                    }),
            "\nEstablishing connection with selected device :\t1000\b\b\b\b"
            "ERROR: server sendto failed\n 999\b\b\b\b\n\nEnter Monitor State :\t\t");
}

TEST(ReporterTest, FailureLines) {
  const auto failure = [](Stage stage, FailureReason reason, std::optional<std::size_t> block = {},
                          std::uint8_t status = 0, bool imageIncomplete = false) {
    Failure f;
    f.stage = stage;
    f.reason = reason;
    f.block = block;
    f.status = status;
    f.imageIncomplete = imageIncomplete;
    return f;
  };
  const struct {
    Failure failure;
    const char* line;
  } cases[] = {
      {failure(Stage::connection, FailureReason::noAnswer),
       "\nERROR: No answer from the drive (connection)"},
      // after the first block every failure says what the drive holds
      {failure(Stage::programming, FailureReason::noAnswer, 17, 0, true),
       "\nERROR: No answer from the drive (block 18 of 20): the drive holds part of the image, "
       "program it again"},
      {failure(Stage::verify, FailureReason::refused, {}, 0, true),
       "\nERROR: The drive refused verify (status 0): the drive holds part of the image, program "
       "it again"},
      {failure(Stage::programming, FailureReason::refused, 0, 255, true),
       "\nERROR: The drive refused block 1 of 20 (status 255): the drive holds part of the "
       "image, program it again"},
      {failure(Stage::identityProbe, FailureReason::refused, {}, 2),
       "\nERROR: The drive refused monitor state (status 2)"},
      {failure(Stage::connection, FailureReason::unreachable),
       "ERROR: server sendto failed\nERROR: 10.0.0.5 is not on a network this PC is attached to"},
      {failure(Stage::connection, FailureReason::ownAddress),
       "\nERROR: 10.0.0.5 is an address of this PC, not of a drive"},
      {failure(Stage::identityProbe, FailureReason::noIdentity),
       "\nERROR: Drive did not report its identity"},
      {failure(Stage::monitor, FailureReason::noDigest),
       "\nERROR: Drive did not report its firmware digest"},
      {failure(Stage::connection, FailureReason::interrupted),
       "\nERROR: Interrupted during connection"},
      {failure(Stage::monitorPause, FailureReason::interrupted),
       "\nERROR: Interrupted during monitor state"},
      {failure(Stage::programming, FailureReason::interrupted, 11, 0, true),
       "\nERROR: Interrupted during block 12 of 20: the drive holds part of the image, program it "
       "again"},
      {failure(Stage::reboot, FailureReason::interrupted, {}, 0, true),
       "\nERROR: Interrupted during reboot: the drive holds part of the image, program it again"},
      {failure(Stage::reboot, FailureReason::interrupted), "\nERROR: Interrupted during reboot"},
  };
  FirmwareImage image;
  image.size = 20 * 512 - 100;  // 20 blocks, the last partial
  for (const auto& c : cases) {
    EXPECT_EQ(console(RunMode::program,
                      [&](ConsoleReporter& r) {
                        r.imageLoaded(image);
                        r.failed(DRIVE, c.failure);
                        r.finished(DRIVE, SessionResult::failed);
                      })
                  .substr(std::string("File Firmware MD5  : \t").size() + 32 +
                          std::string("\nFile Firmware Size : \t10120").size()),
              c.line);
  }
}

TEST(ReporterTest, LinkAndFileRefusals) {
  EXPECT_EQ(
      console(RunMode::program, [](ConsoleReporter& r) { r.linkFailed(LinkError::bindFailed); }),
      "\nERROR: udpSocket bind failed\nERROR: Another program (another loader?) holds UDP "
      "port 8995; close it and try again");
  const struct {
    ImageError error;
    const char* path;
    const char* line;
  } files[] = {
      {ImageError::cantOpen, nullptr, "\nERROR: Can't open file (null)\r\n"},
      {ImageError::cantOpen, "/dev/zero", "\nERROR: Can't open file /dev/zero\r\n"},
      {ImageError::cantRead, "fw.bin", "\nERROR: Can't read file fw.bin\r\n"},
      {ImageError::empty, "fw.bin", "\nERROR: File is empty. Nothing to load.\r\n"},
      {ImageError::tooSmall, "fw.bin", "\nERROR: File is too small for a firmware header.\r\n"},
      {ImageError::tooLarge, "fw.bin", "\nERROR: File is too large for the loader.\r\n"},
  };
  for (const auto& f : files) {
    EXPECT_EQ(console(RunMode::verify, [&](ConsoleReporter& r) { r.imageFailed(f.error, f.path); }),
              f.line);
  }
}

// On a terminal a run that ends inside a line gets a line feed for the
// prompt; files and pipes keep the bytes as they were written.
TEST(ReporterTest, TheLastLineIsEndedOnATerminalOnly) {
  const auto endsInALine = [](ConsoleReporter& r) { r.stageStarted(DRIVE, Stage::verify); };
  EXPECT_EQ(console(RunMode::program, endsInALine, true), "\nVerifing Firmware :\t\t\n");
  EXPECT_EQ(console(RunMode::program, endsInALine, false), "\nVerifing Firmware :\t\t");
  const auto completes = [](ConsoleReporter& r) { r.finished(DRIVE, SessionResult::completed); };
  EXPECT_EQ(console(RunMode::program, completes, true), "DONE\n");
  EXPECT_EQ(console(RunMode::identity, completes, true), "");
}

}  // namespace

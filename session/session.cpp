// The programming session: a fixed series of command exchanges with the
// drive's boot monitor, paced by fixed pauses. An exchange is judged by one
// thing only: whether rxthread took in any datagram (ackReceived) while it
// ran. The session never blocks on the socket; it sleeps between its tests.
#include "session/session.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image/image.h"
#include "link/link.h"
#include "platform/console.h"
#include "platform/pause.h"
#include "protocol/loader.h"

const char* firmwarePath = nullptr;

namespace {

// A progress mark follows every MARK_EVERY-th block, the first one included.
constexpr std::size_t MARK_EVERY = 16;

constexpr int EXCHANGE_TRIES = 5;
constexpr int CONNECT_TRIES = 1000;

// Pauses, in milliseconds.
constexpr int LINK_START_PAUSE = 150;
constexpr int MONITOR_PAUSE = 2500;
constexpr int REBOOT_PAUSE = 5000;
constexpr int REPORT_POLL = 30;
// How long the identity and verify runs wait for the drive's digest once the
// drive has answered; a drive that answers without it would otherwise keep
// the loader waiting for ever.
constexpr int REPORT_WAIT_LIMIT = 5000;

// The pause after each send, by command.
constexpr int CONNECT_PAUSE = 30;
constexpr int ENTER_MONITOR_PAUSE = 150;
constexpr int PROGRAM_BLOCK_PAUSE = 60;
constexpr int VERIFY_PAUSE = 120;
constexpr int REBOOT_SEND_PAUSE = 30;

// The image of this run; empty in the identity mode. Kept to the end of the
// process.
FirmwareImage image;

// One exchange: the command is sent at most EXCHANGE_TRIES times, each send
// followed by its pause, until a datagram has come in. The flag is tested
// before every send and once more after the last pause. A failed send is a
// try without an answer. The payload is length bytes of the image from
// offset; the caller keeps it inside the image.
bool exchangeCommand(std::uint8_t code, std::uint32_t target, std::size_t offset,
                     std::size_t length, int pause) {
  ackReceived = false;
  for (int tries = 0; tries < EXCHANGE_TRIES && !ackReceived; ++tries) {
    sendCommand(code, target, image.bytes, offset, length);
    pauseMs(pause);
  }
  return ackReceived;
}

// The connection: CMD_CONNECT up to CONNECT_TRIES times with a countdown
// that writes over itself. Gives up after the last send even when an
// answer came in the pause after it.
bool connectDrive() {
  std::fputs("\nEstablishing connection with selected device :\t", stdout);
  ackReceived = false;
  for (int count = CONNECT_TRIES; count > 0; --count) {
    if (ackReceived) {
      return true;
    }
    sendCommand(CMD_CONNECT, 0, nullptr, 0, 0);
    std::printf("%4d", count);
    pauseMs(CONNECT_PAUSE);
    std::fputs("\b\b\b\b", stdout);
  }
  return false;
}

// Waits for the identity and digest report to set doneFlag, testing it
// every REPORT_POLL ms, for at most REPORT_WAIT_LIMIT ms.
int waitForReport() {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(REPORT_WAIT_LIMIT);
  while (!doneFlag) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      std::fputs("\nERROR: Drive did not report its firmware digest", stdout);
      return 0;
    }
    pauseMs(left.count() < REPORT_POLL ? static_cast<int>(left.count()) : REPORT_POLL);
  }
  return 1;
}

// Sends the image block by block from IMAGE_LOAD_ADDRESS on: the full blocks,
// then the partial last block when there is one. The blocks tile the image
// exactly, so no payload reaches past its end.
bool programImage() {
  std::fputs("\nProgramming Firmware :\t\t", stdout);
  const std::size_t fullBlocks = image.size / BLOCK_SIZE;
  const std::size_t rest = image.size % BLOCK_SIZE;
  for (std::size_t j = 0; j < fullBlocks; ++j) {
    const std::size_t offset = j * BLOCK_SIZE;
    if (!exchangeCommand(CMD_PROGRAM_BLOCK, IMAGE_LOAD_ADDRESS + static_cast<std::uint32_t>(offset),
                         offset, BLOCK_SIZE, PROGRAM_BLOCK_PAUSE)) {
      return false;
    }
    if (j % MARK_EVERY == 0) {
      std::fputs("|", stdout);
    }
  }
  if (rest != 0) {
    const std::size_t offset = fullBlocks * BLOCK_SIZE;
    if (!exchangeCommand(CMD_PROGRAM_BLOCK, IMAGE_LOAD_ADDRESS + static_cast<std::uint32_t>(offset),
                         offset, rest, PROGRAM_BLOCK_PAUSE)) {
      return false;
    }
    std::fputs("|", stdout);
  }
  return true;
}

}  // namespace

int runSession() {
  if (!startLink()) {
    std::fputs("\nERROR: Creating comthread", stdout);
    endProcess(1);
  }
  pauseMs(LINK_START_PAUSE);

  if (runMode != MODE_IDENTITY) {
    image = loadFirmwareImage(firmwarePath);
  }

  // In the identity and verify runs a drive that is already in its monitor
  // state answers at once; otherwise the connection is made as for
  // programming.
  if (runMode != MODE_PROGRAM && exchangeCommand(CMD_ENTER_MONITOR, 0, 0, 0, ENTER_MONITOR_PAUSE)) {
    return waitForReport();
  }

  if (!connectDrive()) {
    return 0;
  }

  std::fputs("\n", stdout);
  std::fputs("\nEnter Monitor State :\t\t", stdout);
  pauseMs(MONITOR_PAUSE);
  std::fputs("DONE", stdout);
  // The drive's answer carries its identity, which rxthread prints.
  if (!exchangeCommand(CMD_ENTER_MONITOR, 0, 0, 0, ENTER_MONITOR_PAUSE)) {
    return 0;
  }
  if (runMode != MODE_PROGRAM) {
    return waitForReport();
  }

  if (!programImage()) {
    return 0;
  }

  std::fputs("\nVerifing Firmware :\t\t", stdout);
  if (!exchangeCommand(CMD_VERIFY, 0, 0, 0, VERIFY_PAUSE)) {
    return 0;
  }
  std::fputs("DONE", stdout);

  std::fputs("\nReboot :\t\t\t", stdout);
  if (!exchangeCommand(CMD_REBOOT, 0, 0, 0, REBOOT_SEND_PAUSE)) {
    return 0;
  }
  pauseMs(REBOOT_PAUSE);
  std::fputs("DONE\n", stdout);
  return 1;
}

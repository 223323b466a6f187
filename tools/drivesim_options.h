// The simulated drive's command line: which addresses it answers from, and
// how each of those drives behaves.
//
// Every address is a drive of its own (its own socket, state, image and
// faults). Options before the first --drive apply to every drive; options
// after `--drive A[,B|A+N]` apply only to the drives of that group, on top of
// the common ones. The process-wide options (--discovery, --idle-timeout,
// --quiet) belong before the first --drive.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/address.h"
#include "protocol/identity.h"
#include "protocol/loader.h"
#include "protocol/probe.h"
#include "protocol/value_text.h"

// A command line the simulated drive can't run; its text says why.
struct OptionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// "The k-th datagram of code C" (code -1: of any code).
struct DropRule {
  long code = -1;
  long nth = 0;
};

// How a drive misbehaves. The answer faults hold for every command, or only
// for the code given with --fault-code; the drop rules name their own codes.
struct DriveFaults {
  long faultCode = -1;  // -1: the answer faults apply to every code
  long answerOn = 1;    // answer from the K-th try of a command in a row on
  long long silentAfterBlock = -1;
  long long silentFromBlock = -1;
  bool silent = false;
  bool noDigest = false;
  long status = STATUS_SUCCESS;
  long wrongCode = -1;
  long delayMs = 0;
  long jitterMs = 0;  // a random extra delay, 0 to jitterMs, per answer
  unsigned long seed = 1;
  bool twice = false;
  long twiceGapMs = 0;  // the second copy goes this long after the first
  bool stray = false;   // meet the first command with a stray datagram instead
  DriveAddress strayFrom;
  bool answerElsewhere = false;  // answers go out from answerFrom, not the drive's address
  DriveAddress answerFrom;
  std::vector<DropRule> dropIn;   // incoming commands lost before the drive sees them
  std::vector<DropRule> dropOut;  // answers lost on their way
};

struct DriveSettings {
  DriveAddress address;
  std::string imageOut;  // empty: no file; "%a" in it stands for the address
  Digest digest{};
  // --holds: the image the drive holds from the start (as the loader stamps
  // the file); empty: none until it is programmed.
  std::vector<std::uint8_t> heldImage;
  bool identityGiven = false;
  IdentityBytes identity{};
  // --model, --hardware-revision: put into the identity, given or default.
  std::string model;             // three characters, "KV7"
  std::string hardwareRevision;  // as shown, "1.02"
  std::vector<std::uint8_t> discoveryReply{DISCOVERY_REPLY.begin(), DISCOVERY_REPLY.end()};
  long discoveryDelayMs = 0;
  DriveFaults faults;
};

struct SimSettings {
  std::vector<DriveSettings> drives;  // in the order their addresses were given
  bool discovery = false;
  long idleTimeoutS = 120;
  bool quiet = false;       // log no line per datagram
  bool timestamps = false;  // end each datagram's line with its time
  bool help = false;
};

inline constexpr std::size_t MAX_DRIVES = 1000;

// Reads the command line (argv[0] is the program). Throws OptionError.
SimSettings parseSimOptions(int argc, const char* const* argv);

// The file a drive writes its image to: pattern with "%a" replaced by the
// drive's address.
std::string imagePathFor(const std::string& pattern, DriveAddress address);

// The usage text, one option a line.
const char* simUsage();

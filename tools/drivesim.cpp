// drivesim: a simulated KV720 boot monitor for the tests and the demo.
//
// One process plays one drive that answers from one or more IPv4 addresses,
// each bound on UDP port 8995. It answers every loader command, keeps the
// firmware image it is programmed with, reports a unit identity and the
// digest of the firmware it holds, and, with --discovery, answers broadcast
// discovery probes from every address. Fault options make it misbehave in
// the ways a loader must survive. Every datagram in and out is logged as one
// line on standard output, flushed at once, so tests can follow along.
//
// Everything runs on the main thread: one poll() over all bound sockets, and
// a queue of pending sends ordered by the time they are due, so delayed
// answers never hold up a receive. Run `drivesim --help` for the options.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/coding.h"
#include "platform/console.h"
#include "platform/net.h"
#include "protocol/loader.h"

namespace {

using Clock = std::chrono::steady_clock;

// Drive memory address of image byte 0; blocks land at their target minus this.
constexpr std::uint32_t IMAGE_BASE = 0x8000;
constexpr std::uint32_t BLOCK_BYTES = 512;
// The largest image kept: firmware is far smaller; anything beyond is hostile
// or broken input and is logged and ignored.
constexpr std::size_t IMAGE_LIMIT = (64u << 20) + (64u << 10);
// Discovery probe as the loader sends it: 19 bytes, byte 4 is 0x11.
constexpr std::size_t PROBE_SIZE = 19;
constexpr std::uint8_t PROBE_MARK = 0x11;
// Answer header: code (2), length (2), status (1).
constexpr std::size_t ANSWER_HEADER_SIZE = 5;
constexpr std::size_t MAX_ADDRESSES = 1000;
constexpr std::size_t MAX_PENDING = 100000;
constexpr int POLL_SLICE_MS = 100;  // longest wait before the stop flag is seen again

struct Options {
  std::vector<std::uint32_t> ips;
  bool discovery = false;
  std::vector<int> discoveryDelays;
  std::vector<std::uint8_t> discoveryReply = {0x00, 0x00, 0x00, 0x00, 0x6D};
  std::string imageOut;
  std::array<std::uint8_t, DIGEST_SIZE> digest{};
  std::array<std::uint8_t, UNIT_IDENTITY_SIZE> identity{};
  long faultCode = -1;  // -1: faults apply to every code
  long answerOn = 1;
  long long silentAfterBlock = -1;
  bool noDigest = false;
  long status = STATUS_SUCCESS;
  long wrongCode = -1;
  long delayMs = 0;
  bool twice = false;
  bool stray = false;
  std::uint32_t strayFrom = 0;
  bool silent = false;
  long idleTimeoutS = 120;
};

// One bound socket and what arrives on it.
enum class SocketRole : std::uint8_t { drive, wildcard, strayOnly };

struct Endpoint {
  std::uint32_t addr = 0;
  NetSocket sock = NET_INVALID_SOCKET;
  SocketRole role = SocketRole::drive;
};

struct PendingSend {
  NetSocket sock = NET_INVALID_SOCKET;
  std::uint32_t fromAddr = 0;
  std::uint32_t toAddr = 0;
  std::uint16_t toPort = 0;
  bool isReply = false;  // a discovery reply (else a loader answer)
  std::vector<std::uint8_t> bytes;
};

Options options;
std::vector<Endpoint> endpoints;  // drive addresses first, in list order
std::multimap<Clock::time_point, PendingSend> pending;

std::vector<std::uint8_t> image;
bool imageHasHeader = false;  // a block at IMAGE_BASE arrived

// Tries of the same command in a row (per code and target).
std::uint32_t lastCode = 0xFFFFFFFFu;
std::uint32_t lastTarget = 0;
long tryCount = 0;
bool wentSilent = false;  // --silent-after-block has struck
bool strayDone = false;

std::atomic<int> stopSignal{0};

// --- logging ---------------------------------------------------------------

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

void logLine(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  std::size_t len = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), sizeof line - 2);
  line[len++] = '\n';
  std::fwrite(line, 1, len, stdout);
  std::fflush(stdout);
}

std::string dotted(std::uint32_t addr) {
  return std::to_string(addr >> 24) + "." + std::to_string((addr >> 16) & 0xFF) + "." +
         std::to_string((addr >> 8) & 0xFF) + "." + std::to_string(addr & 0xFF);
}

[[noreturn]] void fail(const std::string& message) {
  logLine("error: %s", message.c_str());
  endProcess(2);
}

// --- option parsing ----------------------------------------------------------

bool parseNumber(const std::string& text, long long low, long long high, long long* out) {
  if (text.empty() || text.size() > 18) {
    return false;
  }
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || text[0] == '-' || text[0] == '+' || text[0] == ' ' || v < low || v > high) {
    return false;
  }
  *out = v;
  return true;
}

long numberOption(const std::string& name, const std::string& text, long low, long high) {
  long long v = 0;
  if (!parseNumber(text, low, high, &v)) {
    fail(name + " wants a number from " + std::to_string(low) + " to " + std::to_string(high) +
         ", not '" + text + "'");
  }
  return static_cast<long>(v);
}

// Strict dotted quad: four decimal components 0 to 255.
bool parseIp(const std::string& text, std::uint32_t* out) {
  std::uint32_t addr = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t digits = 0;
    std::uint32_t v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
      v = v * 10 + static_cast<std::uint32_t>(text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || v > 255) {
      return false;
    }
    addr = (addr << 8) | v;
    if (part < 3) {
      if (pos >= text.size() || text[pos] != '.') {
        return false;
      }
      ++pos;
    }
  }
  if (pos != text.size()) {
    return false;
  }
  *out = addr;
  return true;
}

std::vector<std::string> splitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) {
      return parts;
    }
    start = comma + 1;
  }
}

// "A[,B,...]" where each item is an address or "A+N" (N addresses from A).
void parseIpList(const std::string& text, std::vector<std::uint32_t>* out) {
  for (const std::string& item : splitCommas(text)) {
    const std::size_t plus = item.find('+');
    std::uint32_t first = 0;
    if (!parseIp(item.substr(0, plus), &first)) {
      fail("--ip: '" + item + "' is not an IPv4 address A.B.C.D or a range A.B.C.D+N");
    }
    long long count = 1;
    if (plus != std::string::npos &&
        !parseNumber(item.substr(plus + 1), 1, static_cast<long long>(MAX_ADDRESSES), &count)) {
      fail("--ip: the count in '" + item + "' must be 1 to " + std::to_string(MAX_ADDRESSES));
    }
    if (std::uint64_t{first} + static_cast<std::uint64_t>(count) - 1 > 0xFFFFFFFFull) {
      fail("--ip: the range '" + item + "' runs past 255.255.255.255");
    }
    for (long long i = 0; i < count; ++i) {
      const std::uint32_t addr = first + static_cast<std::uint32_t>(i);
      if (addr == 0 || addr == 0xFFFFFFFFu) {
        fail("--ip: " + dotted(addr) + " can't be a drive address");
      }
      // A repeated address would be bound twice; keep its first place.
      if (std::find(out->begin(), out->end(), addr) == out->end()) {
        out->push_back(addr);
      }
    }
  }
  if (out->size() > MAX_ADDRESSES) {
    fail("--ip: at most " + std::to_string(MAX_ADDRESSES) + " addresses");
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digits, two per byte; blanks and colons between them are allowed.
std::vector<std::uint8_t> hexOption(const std::string& name, const std::string& text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':') {
      continue;
    }
    const int v = hexValue(c);
    if (v < 0) {
      fail(name + ": '" + text + "' is not hexadecimal");
    }
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) {
    fail(name + ": odd number of hex digits");
  }
  return bytes;
}

// The identity a fresh simulated drive reports (layout of UnitIdentity,
// every 32-bit field big-endian, the ratings as IEEE 754 singles):
//   0 monitor revision, 4 build number, 8 drive current capability (A),
//   12 bus sensor resolution (counts/V), 16 current sensor resolution
//   (counts/A), 20 serial number, 24 manufacturing code, 28 hardware revision
//   (4 chars), 32 model code (4 chars), 36 VIN (64, zero-ended), 100 MAC (6),
//   106 unused (2), 108 checksum.
std::array<std::uint8_t, UNIT_IDENTITY_SIZE> defaultIdentity() {
  std::array<std::uint8_t, UNIT_IDENTITY_SIZE> id{};
  std::uint8_t* p = id.data();
  putBig32(p + 0, 5);
  putBig32(p + 4, 1234);
  putBig32(p + 8, std::bit_cast<std::uint32_t>(10.0f));
  putBig32(p + 12, std::bit_cast<std::uint32_t>(16.5f));
  putBig32(p + 16, std::bit_cast<std::uint32_t>(204.8f));
  putBig32(p + 20, 123456);
  putBig32(p + 24, 42);
  std::memcpy(p + 28, "102 ", 4);
  std::memcpy(p + 32, "KV7 ", 4);
  std::memcpy(p + 36, "KV720SIM0001", 12);
  const std::uint8_t mac[6] = {0x02, 0x00, 0x00, 0x12, 0x34, 0xAB};
  std::memcpy(p + 100, mac, sizeof mac);
  putBig32(p + 108, 0x1F);
  return id;
}

void printUsage() {
  std::fputs(
      "usage: drivesim --ip A[,B,...|A+N] [options]\n"
      "  a simulated drive boot monitor on UDP port 8995 of each address\n"
      "  --discovery              also answer broadcast discovery probes (binds 0.0.0.0:8995)\n"
      "  --discovery-delays D,..  ms each address waits before its probe reply\n"
      "  --discovery-reply HEX    bytes of a probe reply (default 000000006d)\n"
      "  --image-out FILE         write the programmed image on verify and at exit\n"
      "  --digest HEX32           digest reported before any image was programmed\n"
      "  --identity-hex HEX224    the 112-byte unit identity\n"
      "  --idle-timeout S         end after S seconds without a datagram (120; 0 never)\n"
      "faults (for every command, or only for --fault-code C):\n"
      "  --answer-on K            answer only from the K-th try of a command on\n"
      "  --silent-after-block J   answer nothing after block J (target 0x8000+512*J)\n"
      "  --no-digest              identity answer without the digest (length 112)\n"
      "  --status S               status byte S in answers\n"
      "  --wrong-code C           code C in answers\n"
      "  --delay-ms D             answer D ms late\n"
      "  --twice                  send every answer two times\n"
      "  --stray-from ADDR        meet the first command with a stray datagram from ADDR\n"
      "  --silent                 answer no command\n",
      stdout);
  std::fflush(stdout);
}

void parseOptions(int argc, char** argv) {
  options.identity = defaultIdentity();
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string value;
    bool hasValue = false;
    const std::size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    auto takeValue = [&]() -> std::string {
      if (hasValue) {
        return value;
      }
      if (i + 1 >= argc) {
        fail(name + " needs a value");
      }
      return argv[++i];
    };
    auto noValue = [&]() {
      if (hasValue) {
        fail(name + " takes no value");
      }
    };
    if (name == "--help" || name == "-h") {
      printUsage();
      endProcess(0);
    } else if (name == "--ip") {
      parseIpList(takeValue(), &options.ips);
    } else if (name == "--discovery") {
      noValue();
      options.discovery = true;
    } else if (name == "--discovery-delays") {
      options.discoveryDelays.clear();
      for (const std::string& d : splitCommas(takeValue())) {
        options.discoveryDelays.push_back(static_cast<int>(numberOption(name, d, 0, 600000)));
      }
    } else if (name == "--discovery-reply") {
      options.discoveryReply = hexOption(name, takeValue());
      if (options.discoveryReply.size() > 1400) {
        fail(name + ": at most 1400 bytes");
      }
    } else if (name == "--image-out") {
      options.imageOut = takeValue();
      if (options.imageOut.empty()) {
        fail(name + " needs a file name");
      }
    } else if (name == "--digest") {
      const auto bytes = hexOption(name, takeValue());
      if (bytes.size() != DIGEST_SIZE) {
        fail(name + " wants 32 hex digits");
      }
      std::copy(bytes.begin(), bytes.end(), options.digest.begin());
    } else if (name == "--identity-hex") {
      const auto bytes = hexOption(name, takeValue());
      if (bytes.size() != UNIT_IDENTITY_SIZE) {
        fail(name + " wants 224 hex digits (112 bytes)");
      }
      std::copy(bytes.begin(), bytes.end(), options.identity.begin());
    } else if (name == "--idle-timeout") {
      options.idleTimeoutS = numberOption(name, takeValue(), 0, 86400);
    } else if (name == "--fault-code") {
      options.faultCode = numberOption(name, takeValue(), 0, 0xFFFF);
    } else if (name == "--answer-on") {
      options.answerOn = numberOption(name, takeValue(), 1, 1000000);
    } else if (name == "--silent-after-block") {
      options.silentAfterBlock = numberOption(name, takeValue(), 0, 0x7FFFFFFF);
    } else if (name == "--no-digest") {
      noValue();
      options.noDigest = true;
    } else if (name == "--status") {
      options.status = numberOption(name, takeValue(), 0, 255);
    } else if (name == "--wrong-code") {
      options.wrongCode = numberOption(name, takeValue(), 0, 0xFFFF);
    } else if (name == "--delay-ms") {
      options.delayMs = numberOption(name, takeValue(), 0, 600000);
    } else if (name == "--twice") {
      noValue();
      options.twice = true;
    } else if (name == "--stray-from") {
      if (!parseIp(takeValue(), &options.strayFrom)) {
        fail("--stray-from wants an IPv4 address A.B.C.D");
      }
      options.stray = true;
    } else if (name == "--silent") {
      noValue();
      options.silent = true;
    } else {
      printUsage();
      fail("unknown option '" + std::string(argv[i]) + "'");
    }
  }
  if (options.ips.empty()) {
    printUsage();
    fail("--ip is required");
  }
}

// --- sockets -----------------------------------------------------------------

NetSocket bindUdp(std::uint32_t addr) {
  const NetSocket s = netOpenUdp();
  if (s == NET_INVALID_SOCKET) {
    fail("can't open a UDP socket");
  }
  if (!netSetReuseAddress(s) || !netBind(s, addr, LOADER_PORT)) {
    fail("can't bind " + dotted(addr) + ":" + std::to_string(LOADER_PORT));
  }
  // poll() says when a datagram waits; the time-out only guards against a
  // receive that would block all the same.
  netSetReceiveTimeout(s, 50);
  return s;
}

void openSockets() {
  for (std::uint32_t addr : options.ips) {
    endpoints.push_back({addr, bindUdp(addr), SocketRole::drive});
  }
  if (options.discovery) {
    const NetSocket s = bindUdp(0);
    netSetBroadcast(s);
    endpoints.push_back({0, s, SocketRole::wildcard});
  }
  if (options.stray &&
      std::find(options.ips.begin(), options.ips.end(), options.strayFrom) == options.ips.end()) {
    endpoints.push_back({options.strayFrom, bindUdp(options.strayFrom), SocketRole::strayOnly});
  }
  for (const Endpoint& e : endpoints) {
    if (e.role != SocketRole::strayOnly) {
      logLine("listening %s:%u", dotted(e.addr).c_str(), unsigned{LOADER_PORT});
    }
  }
  logLine("ready");
}

NetSocket socketFor(std::uint32_t addr) {
  for (const Endpoint& e : endpoints) {
    if (e.addr == addr && e.role != SocketRole::wildcard) {
      return e.sock;
    }
  }
  return NET_INVALID_SOCKET;
}

// --- the image ---------------------------------------------------------------

void writeImageFile() {
  if (options.imageOut.empty()) {
    return;
  }
  std::FILE* f = std::fopen(options.imageOut.c_str(), "wb");
  const bool ok = f != nullptr &&
                  (image.empty() || std::fwrite(image.data(), 1, image.size(), f) == image.size());
  if (f != nullptr && std::fclose(f) != 0) {
    logLine("image write failed -> %s", options.imageOut.c_str());
    return;
  }
  if (!ok) {
    logLine("image write failed -> %s", options.imageOut.c_str());
    return;
  }
  logLine("image %zu -> %s", image.size(), options.imageOut.c_str());
}

// Writes a block at its target address. A block at IMAGE_BASE starts a new
// image: whatever an earlier programming left behind is dropped.
void storeBlock(std::uint32_t target, const std::uint8_t* data, std::size_t size) {
  if (target < IMAGE_BASE) {
    logLine("ignored block at 0x%x: below 0x%x", static_cast<unsigned>(target),
            static_cast<unsigned>(IMAGE_BASE));
    return;
  }
  const std::size_t offset = target - IMAGE_BASE;
  if (offset > IMAGE_LIMIT || size > IMAGE_LIMIT - offset) {
    logLine("ignored block at 0x%x: beyond the %zu-byte image limit", static_cast<unsigned>(target),
            IMAGE_LIMIT);
    return;
  }
  if (offset == 0) {
    image.clear();
    imageHasHeader = true;
  }
  if (image.size() < offset + size) {
    image.resize(offset + size, 0);
  }
  if (size > 0) {
    std::memcpy(image.data() + offset, data, size);
  }
}

// The digest the drive reports: the header of the image it holds, or, before
// any image was programmed, the one it was started with.
void currentDigest(std::uint8_t* out) {
  if (!imageHasHeader) {
    std::memcpy(out, options.digest.data(), DIGEST_SIZE);
    return;
  }
  std::memset(out, 0, DIGEST_SIZE);
  std::memcpy(out, image.data(), std::min(image.size(), DIGEST_SIZE));
}

// --- sending -----------------------------------------------------------------

void queueSend(Clock::time_point due, PendingSend send) {
  if (pending.size() >= MAX_PENDING) {
    logLine("dropped send to %s:%u: too many pending", dotted(send.toAddr).c_str(),
            unsigned{send.toPort});
    return;
  }
  pending.emplace(due, std::move(send));
}

void sendNow(const PendingSend& send) {
  const std::string to = dotted(send.toAddr) + ":" + std::to_string(send.toPort);
  if (!netSendTo(send.sock, send.bytes.data(), send.bytes.size(), send.toAddr, send.toPort,
                 false)) {
    logLine("send failed %s -> %s", dotted(send.fromAddr).c_str(), to.c_str());
    return;
  }
  if (send.isReply) {
    logLine("reply %s -> %s", dotted(send.fromAddr).c_str(), to.c_str());
  } else {
    const std::uint8_t* b = send.bytes.data();
    logLine("tx %s code=%u status=%u length=%u size=%zu", to.c_str(), unsigned{getBig16(b)},
            unsigned{b[RESPONSE_STATUS_OFFSET]}, unsigned{getBig16(b + RESPONSE_LENGTH_OFFSET)},
            send.bytes.size());
  }
}

void sendDue(Clock::time_point now) {
  while (!pending.empty() && pending.begin()->first <= now) {
    const PendingSend send = std::move(pending.begin()->second);
    pending.erase(pending.begin());
    sendNow(send);
  }
}

// --- loader commands -----------------------------------------------------------

// The answer to one command: code, length, status, then the identity and
// digest for CMD_ENTER_MONITOR, nothing for the others. Sized once, then
// filled in place.
std::vector<std::uint8_t> buildAnswer(std::uint16_t code, std::uint16_t answerCode,
                                      std::uint8_t status, bool withDigest) {
  const bool identityAnswer = code == CMD_ENTER_MONITOR;
  const std::size_t bodySize =
      identityAnswer ? UNIT_IDENTITY_SIZE + (withDigest ? DIGEST_SIZE : 0) : 0;
  std::vector<std::uint8_t> answer(ANSWER_HEADER_SIZE + bodySize, 0);
  if (identityAnswer) {
    std::copy(options.identity.begin(), options.identity.end(),
              answer.begin() + ANSWER_HEADER_SIZE);
    if (withDigest) {
      currentDigest(answer.data() + ANSWER_HEADER_SIZE + UNIT_IDENTITY_SIZE);
    }
  }
  putBig16(answer.data() + RESPONSE_CODE_OFFSET, answerCode);
  putBig16(answer.data() + RESPONSE_LENGTH_OFFSET,
           static_cast<std::uint16_t>(answer.size() - ANSWER_HEADER_SIZE));
  answer[RESPONSE_STATUS_OFFSET] = status;
  return answer;
}

void handleCommand(const Endpoint& at, const std::uint8_t* data, std::size_t size,
                   std::uint32_t from, std::uint16_t fromPort) {
  const std::string src = dotted(from) + ":" + std::to_string(fromPort);
  if (size < COMMAND_HEADER_SIZE) {
    logLine("junk %s size=%zu: shorter than a command header", src.c_str(), size);
    return;
  }
  if (std::memcmp(data, COMMAND_MAGIC, sizeof COMMAND_MAGIC) != 0) {
    logLine("junk %s size=%zu: no command magic", src.c_str(), size);
    return;
  }
  const std::uint16_t code = getBig16(data + 4);
  const std::uint16_t length = getBig16(data + 6);
  const std::uint32_t target = getBig32(data + 8);
  logLine("rx %s code=%u len=%u target=0x%x size=%zu", src.c_str(), unsigned{code},
          unsigned{length}, static_cast<unsigned>(target), size);

  const bool faulty = options.faultCode < 0 || options.faultCode == code;
  // A drive that is silent is dead to these commands: it takes nothing in.
  if (faulty && (options.silent || wentSilent)) {
    return;
  }

  if (code == lastCode && target == lastTarget) {
    ++tryCount;
  } else {
    lastCode = code;
    lastTarget = target;
    tryCount = 1;
  }

  if (code == CMD_PROGRAM_BLOCK) {
    std::size_t payload = std::min<std::size_t>(length, size - COMMAND_HEADER_SIZE);
    if (length > MAX_PAYLOAD) {
      logLine("note: payload length %u is above %zu", unsigned{length}, MAX_PAYLOAD);
    }
    if (payload < length) {
      logLine("note: datagram holds %zu of %u payload bytes", payload, unsigned{length});
    }
    storeBlock(target, data + COMMAND_HEADER_SIZE, payload);
  } else if (code == CMD_VERIFY) {
    writeImageFile();
  }

  const Clock::time_point now = Clock::now();
  if (!faulty) {
    queueSend(now, {at.sock, at.addr, from, fromPort, false,
                    buildAnswer(code, code, STATUS_SUCCESS, true)});
    return;
  }
  if (options.stray && !strayDone) {
    strayDone = true;
    const std::uint8_t strayBytes[5] = {0, 0, 0, 0, 0};
    if (netSendTo(socketFor(options.strayFrom), strayBytes, sizeof strayBytes, from, fromPort,
                  false)) {
      logLine("stray %s -> %s", dotted(options.strayFrom).c_str(), src.c_str());
    } else {
      logLine("send failed %s -> %s", dotted(options.strayFrom).c_str(), src.c_str());
    }
    return;
  }
  if (tryCount < options.answerOn) {
    return;
  }
  const std::uint16_t answerCode =
      options.wrongCode >= 0 ? static_cast<std::uint16_t>(options.wrongCode) : code;
  const auto answer =
      buildAnswer(code, answerCode, static_cast<std::uint8_t>(options.status), !options.noDigest);
  const Clock::time_point due = now + std::chrono::milliseconds(options.delayMs);
  for (int copy = 0; copy < (options.twice ? 2 : 1); ++copy) {
    queueSend(due, {at.sock, at.addr, from, fromPort, false, answer});
  }
  if (code == CMD_PROGRAM_BLOCK && options.silentAfterBlock >= 0 &&
      std::uint64_t{target} ==
          IMAGE_BASE +
              std::uint64_t{BLOCK_BYTES} * static_cast<std::uint64_t>(options.silentAfterBlock)) {
    wentSilent = true;
  }
}

// --- discovery -----------------------------------------------------------------

void handleWildcard(const std::uint8_t* data, std::size_t size, std::uint32_t from,
                    std::uint16_t fromPort) {
  const std::string src = dotted(from) + ":" + std::to_string(fromPort);
  if (size != PROBE_SIZE || data[4] != PROBE_MARK) {
    logLine("junk %s size=%zu: not a discovery probe", src.c_str(), size);
    return;
  }
  logLine("probe %s size=%zu", src.c_str(), size);
  const Clock::time_point now = Clock::now();
  std::size_t index = 0;
  for (const Endpoint& e : endpoints) {
    if (e.role != SocketRole::drive) {
      continue;
    }
    const int delay = index < options.discoveryDelays.size() ? options.discoveryDelays[index] : 0;
    ++index;
    queueSend(now + std::chrono::milliseconds(delay),
              {e.sock, e.addr, from, fromPort, true, options.discoveryReply});
  }
}

// --- the loop ----------------------------------------------------------------------

[[noreturn]] void finish() {
  writeImageFile();
  endProcess(0);
}

void onSignal(int sig) { stopSignal = sig; }

void installSignals() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

[[noreturn]] void serve() {
  static std::uint8_t buf[65536];
  std::vector<pollfd> fds;
  for (const Endpoint& e : endpoints) {
    fds.push_back({static_cast<int>(e.sock), POLLIN, 0});
  }
  const auto idleLimit = std::chrono::seconds(options.idleTimeoutS);
  Clock::time_point lastDatagram = Clock::now();
  while (true) {
    if (stopSignal != 0) {
      logLine("stopped by signal %d", stopSignal.load());
      finish();
    }
    Clock::time_point now = Clock::now();
    sendDue(now);
    now = Clock::now();
    if (options.idleTimeoutS > 0 && now - lastDatagram >= idleLimit) {
      logLine("idle");
      finish();
    }
    auto wait = std::chrono::milliseconds(POLL_SLICE_MS);
    if (!pending.empty()) {
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                std::max(pending.begin()->first - now, Clock::duration::zero())));
    }
    if (options.idleTimeoutS > 0) {
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                std::max(lastDatagram + idleLimit - now, Clock::duration::zero())));
    }
    const int ready =
        poll(fds.data(), static_cast<nfds_t>(fds.size()), static_cast<int>(wait.count()));
    if (ready <= 0) {
      continue;  // time-out, or a signal: the top of the loop sees to both
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if ((fds[i].revents & (POLLIN | POLLERR)) == 0) {
        continue;
      }
      std::size_t received = 0;
      std::uint32_t from = 0;
      std::uint16_t fromPort = 0;
      const Endpoint& e = endpoints[i];
      // One datagram per socket and round, so a flood on one address
      // neither starves the others nor the pending sends.
      if (netReceiveFrom(e.sock, buf, sizeof buf, &received, &from, &fromPort) != NetResult::ok) {
        continue;
      }
      lastDatagram = Clock::now();
      if (e.role == SocketRole::drive) {
        handleCommand(e, buf, received, from, fromPort);
      } else if (e.role == SocketRole::wildcard) {
        handleWildcard(buf, received, from, fromPort);
      } else {
        logLine("junk %s:%u size=%zu: not a drive address", dotted(from).c_str(),
                unsigned{fromPort}, received);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  consoleInit();
  installSignals();
  parseOptions(argc, argv);
  openSockets();
  serve();
}

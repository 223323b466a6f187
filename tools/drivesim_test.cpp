// The simulated drive, run as a process and spoken to from a test socket.
//
// Every test first moves into a private network namespace (loopback only),
// so the simulator on 127.0.0.2 and the test socket on 127.0.0.1 see no one
// else; the discovery tests, which bind the wildcard address, need that
// isolation and skip without it.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/coding.h"
#include "platform/net.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t HOST = 0x7F000001;   // 127.0.0.1
constexpr std::uint32_t DRIVE = 0x7F000002;  // 127.0.0.2
constexpr std::uint16_t PORT = 8995;

struct Datagram {
  Bytes bytes;
  std::uint32_t from = 0;
  std::uint16_t fromPort = 0;
  Clock::time_point at;
};

NetSocket openSocket(std::uint32_t addr, std::uint16_t port) {
  const NetSocket s = netOpenUdp();
  EXPECT_NE(s, NET_INVALID_SOCKET);
  netSetReuseAddress(s);
  EXPECT_TRUE(netBind(s, addr, port));
  netSetReceiveTimeout(s, 20);
  return s;
}

// A loader command: magic, code, payload length, target, payload, zeros to 524 bytes.
Bytes command(std::uint16_t code, std::uint32_t target = 0, const Bytes& payload = {}) {
  Bytes d(524, 0);
  d[0] = 0x3C;
  d[1] = 0x3C;
  d[2] = 0xC3;
  d[3] = 0xC3;
  putBig16(&d[4], code);
  putBig16(&d[6], static_cast<std::uint16_t>(payload.size()));
  putBig32(&d[8], target);
  std::copy(payload.begin(), payload.end(), d.begin() + 12);
  return d;
}

void sendTo(NetSocket s, const Bytes& d, std::uint32_t to = DRIVE) {
  ASSERT_TRUE(netSendTo(s, d.data(), d.size(), to, PORT, false));
}

// Everything that arrives within the window, or until want datagrams came.
std::vector<Datagram> receive(NetSocket s, std::chrono::milliseconds window,
                              std::size_t want = SIZE_MAX) {
  std::vector<Datagram> got;
  const auto end = Clock::now() + window;
  while (Clock::now() < end && got.size() < want) {
    Datagram d;
    d.bytes.resize(65536);
    std::size_t n = 0;
    if (netReceiveFrom(s, d.bytes.data(), d.bytes.size(), &n, &d.from, &d.fromPort) ==
        NetResult::ok) {
      d.bytes.resize(n);
      d.at = Clock::now();
      got.push_back(std::move(d));
    }
  }
  return got;
}

Bytes pattern(std::size_t size, std::uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) {
    b[i] = static_cast<std::uint8_t>(seed + i * 7);
  }
  return b;
}

Bytes hexBytes(const std::string& hex) {
  Bytes b;
  std::string digits;
  for (char c : hex) {
    if (c != ' ') {
      digits += c;
    }
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    b.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return b;
}

struct Sim {
  BackgroundProcess process;
  std::string log() const { return readFile(process.outPath); }
};

Sim startSim(std::vector<std::string> args) {
  args.insert(args.begin(), drivesimPath());
  args.push_back("--idle-timeout");
  args.push_back("60");
  Sim sim{startProcess(args)};
  EXPECT_TRUE(waitForOutput(sim.process, "ready\n", 10s)) << sim.log();
  return sim;
}

ProcessResult terminate(Sim& sim) {
  kill(sim.process.pid, SIGTERM);
  return stopProcess(sim.process, 3s);
}

class DrivesimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    isolated = enterPrivateNetwork();
    host = openSocket(HOST, PORT);
  }
  void TearDown() override { netClose(host); }

  // Sends one command and takes what comes back within the window.
  std::vector<Datagram> ask(const Bytes& cmd, std::chrono::milliseconds window = 2000ms,
                            std::size_t want = 1, std::uint32_t to = DRIVE) {
    sendTo(host, cmd, to);
    return receive(host, window, want);
  }

  bool isolated = false;
  NetSocket host = NET_INVALID_SOCKET;
};

TEST_F(DrivesimTest, AnswersEveryCommandWithStatusOneAndItsCode) {
  Sim sim = startSim({"--ip", "127.0.0.2"});
  struct Case {
    std::uint16_t code;
    std::size_t size;
    std::uint16_t length;
  };
  const Case cases[] = {{16, 5, 0}, {17, 5, 0},     {18, 5, 0},
                        {19, 5, 0}, {20, 133, 128}, {0x0114, 5, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const auto got =
        ask(command(c.code, c.code == 17 ? 0x8000 : 0, c.code == 17 ? Bytes(512) : Bytes{}));
    ASSERT_EQ(got.size(), 1u);
    const Bytes& a = got[0].bytes;
    ASSERT_EQ(a.size(), c.size);
    EXPECT_EQ(getBig16(&a[0]), c.code);
    EXPECT_EQ(getBig16(&a[2]), c.length);
    EXPECT_EQ(a[4], 1);
    EXPECT_EQ(got[0].from, DRIVE);
    EXPECT_EQ(got[0].fromPort, PORT);
  }
  const ProcessResult r = terminate(sim);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("listening 127.0.0.2:8995\nready\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("rx 127.0.0.1:8995 code=17 len=512 target=0x8000 size=524\n"
                       "tx 127.0.0.1:8995 code=17 status=1 length=0 size=5\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("tx 127.0.0.1:8995 code=20 status=1 length=128 size=133\n"),
            std::string::npos);
}

TEST_F(DrivesimTest, IdentityAnswerCarriesTheConfiguredIdentityAndDigest) {
  const std::string digest = "00112233445566778899aabbccddeeff";
  {
    Sim sim = startSim({"--ip", "127.0.0.2", "--digest", digest});
    const auto got = ask(command(20));
    ASSERT_EQ(got.size(), 1u);
    const Bytes& a = got[0].bytes;
    ASSERT_EQ(a.size(), 133u);
    // The default identity, field by field (offsets from the record's start at 5).
    const std::string expected =
        "00000005"                  // monitor revision 5
        "000004d2"                  // build number 1234
        "41200000"                  // 10.0 A
        "41840000"                  // 16.5 counts/V
        "434ccccd"                  // 204.8 counts/A
        "0001e240"                  // serial number 123456
        "0000002a"                  // manufacturing code 42
        "31303220"                  // "102 "
        "4b563720"                  // "KV7 "
        "4b5637323053494d30303031"  // "KV720SIM0001"
        ;
    EXPECT_EQ(Bytes(a.begin() + 5, a.begin() + 5 + 48), hexBytes(expected));
    EXPECT_EQ(Bytes(a.begin() + 53, a.begin() + 105), Bytes(52, 0));  // rest of the VIN
    EXPECT_EQ(Bytes(a.begin() + 105, a.begin() + 117), hexBytes("02000012 34ab0000 0000001f"));
    EXPECT_EQ(Bytes(a.begin() + 117, a.end()), hexBytes(digest));
    terminate(sim);
  }
  {
    const Bytes identity = pattern(112, 3);
    std::string hex;
    for (std::uint8_t b : identity) {
      hex += "0123456789abcdef"[b >> 4];
      hex += "0123456789abcdef"[b & 15];
    }
    Sim sim = startSim({"--ip", "127.0.0.2", "--identity-hex", hex, "--no-digest"});
    const auto got = ask(command(20));
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 117u);
    EXPECT_EQ(getBig16(&got[0].bytes[2]), 112);
    EXPECT_EQ(Bytes(got[0].bytes.begin() + 5, got[0].bytes.end()), identity);
    terminate(sim);
  }
}

TEST_F(DrivesimTest, KeepsBlocksAtTheirAddressesAndReportsTheHeaderDigest) {
  ScratchDir dir;
  const std::string out = dir.file("image.bin");
  Sim sim = startSim({"--ip", "127.0.0.2", "--image-out", out});
  auto digestNow = [&] {
    const auto got = ask(command(20));
    return got.size() == 1 && got[0].bytes.size() == 133
               ? Bytes(got[0].bytes.begin() + 117, got[0].bytes.end())
               : Bytes{};
  };
  EXPECT_EQ(digestNow(), Bytes(16, 0));  // nothing programmed, no --digest

  const Bytes first = pattern(1124, 1);  // two full blocks and 100 bytes
  for (std::size_t off = 0; off < first.size(); off += 512) {
    const std::size_t n = std::min<std::size_t>(512, first.size() - off);
    const Bytes block(first.begin() + static_cast<long>(off),
                      first.begin() + static_cast<long>(off + n));
    ASSERT_EQ(ask(command(17, static_cast<std::uint32_t>(0x8000 + off), block)).size(), 1u);
  }
  EXPECT_EQ(digestNow(), Bytes(first.begin(), first.begin() + 16));
  ASSERT_EQ(ask(command(18)).size(), 1u);
  EXPECT_EQ(readFile(out), std::string(first.begin(), first.end()));
  EXPECT_NE(sim.log().find("image 1124 -> " + out + "\n"), std::string::npos);

  // A new programming replaces the old image, shorter as it is.
  const Bytes second = pattern(300, 99);
  ASSERT_EQ(ask(command(17, 0x8000, second)).size(), 1u);
  EXPECT_EQ(digestNow(), Bytes(second.begin(), second.begin() + 16));
  const ProcessResult r = terminate(sim);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(readFile(out), std::string(second.begin(), second.end()));
}

TEST_F(DrivesimTest, SurvivesHostileDatagramsAndStoresOnlyWhatFits) {
  ScratchDir dir;
  const std::string out = dir.file("image.bin");
  Sim sim = startSim({"--ip", "127.0.0.2", "--image-out", out});
  struct Case {
    const char* what;
    Bytes datagram;
    bool answered;
  };
  Bytes headerOnly = command(17, 0x8000, Bytes(512, 0xAA));
  headerOnly.resize(12);  // says 512 payload bytes, carries none
  Bytes oversized = command(17, 0x8000, pattern(512, 5));
  oversized.resize(60000, 0xEE);
  Bytes noMagic = command(16);
  noMagic[0] = 0;
  const Bytes connect = command(16);
  const Bytes shortHeader(connect.begin(), connect.begin() + 11);
  const Case cases[] = {
      {"empty", {}, false},
      {"three bytes", {0x3C, 0x3C, 0xC3}, false},
      {"header cut short", shortHeader, false},
      {"no magic", noMagic, false},
      {"payload missing", headerOnly, true},
      {"below the image", command(17, 0x10, Bytes(512, 1)), true},
      {"at the top of memory", command(17, 0xFFFFFFFF, Bytes(512, 2)), true},
      {"beyond the image limit", command(17, 0x8000 + (65u << 20), Bytes(512, 3)), true},
      {"oversized datagram", oversized, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sendTo(host, c.datagram);
    EXPECT_EQ(receive(host, c.answered ? 2000ms : 300ms, 1).size(), c.answered ? 1u : 0u);
  }
  EXPECT_EQ(ask(command(16)).size(), 1u);  // still alive
  const ProcessResult r = terminate(sim);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.signal, 0);
  // Only the oversized datagram's 512 announced bytes were stored.
  const Bytes stored = pattern(512, 5);
  EXPECT_EQ(readFile(out), std::string(stored.begin(), stored.end()));
  EXPECT_NE(r.out.find("junk 127.0.0.1:8995 size=0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ignored block at 0xffffffff"), std::string::npos);
  EXPECT_NE(r.out.find("ignored block at 0x10:"), std::string::npos);
}

// One command of a fault scenario and what must come back.
struct Step {
  std::uint16_t code;
  std::uint32_t target;
  std::size_t answers;
  int answerCode = -1;  // of the first answer; -1: the command's own
  int status = 1;
  std::size_t size = 0;  // 0: not checked
};

struct FaultCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<Step> steps;
};

// Names the case in test output instead of dumping its bytes (GoogleTest
// looks for this very name).
void PrintTo(const FaultCase& c, std::ostream* os) {  // NOLINT(readability-identifier-naming)
  *os << c.name;
}

class DrivesimFaultTest : public DrivesimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DrivesimFaultTest, AnswersAsTheFaultOptionsSay) {
  std::vector<std::string> args = {"--ip", "127.0.0.2"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  Sim sim = startSim(args);
  int index = 0;
  for (const Step& s : GetParam().steps) {
    SCOPED_TRACE("step " + std::to_string(index++));
    const Bytes payload = s.code == 17 ? Bytes(512, 7) : Bytes{};
    // Waiting for one datagram more than expected shows that no more came.
    const auto got =
        ask(command(s.code, s.target, payload), s.answers == 0 ? 300ms : 600ms, s.answers + 1);
    ASSERT_EQ(got.size(), s.answers);
    if (s.answers == 0) {
      continue;
    }
    const Bytes& a = got[0].bytes;
    ASSERT_GE(a.size(), 5u);
    EXPECT_EQ(getBig16(&a[0]), s.answerCode < 0 ? s.code : s.answerCode);
    EXPECT_EQ(a[4], s.status);
    if (s.size != 0) {
      EXPECT_EQ(a.size(), s.size);
      EXPECT_EQ(getBig16(&a[2]), s.size - 5);
    }
  }
  const ProcessResult r = terminate(sim);
  EXPECT_EQ(r.exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DrivesimFaultTest,
    ::testing::Values(
        FaultCase{"AnswerOnThirdTry",
                  {"--answer-on", "3"},
                  {{16, 0, 0},
                   {16, 0, 0},
                   {16, 0, 1},
                   {16, 0, 1},
                   {17, 0x8000, 0},
                   {17, 0x8000, 0},
                   {17, 0x8200, 0},
                   {17, 0x8200, 0},
                   {17, 0x8200, 1}}},
        FaultCase{"AnswerOnSecondTryOfBlocksOnly",
                  {"--answer-on", "2", "--fault-code", "17"},
                  {{16, 0, 1}, {17, 0x8000, 0}, {17, 0x8000, 1}, {18, 0, 1}}},
        FaultCase{"SilentAfterBlockOne",
                  {"--silent-after-block", "1"},
                  {{16, 0, 1},
                   {17, 0x8000, 1},
                   {17, 0x8200, 1},
                   {17, 0x8400, 0},
                   {18, 0, 0},
                   {16, 0, 0}}},
        FaultCase{"NoDigest", {"--no-digest"}, {{20, 0, 1, -1, 1, 117}, {16, 0, 1, -1, 1, 5}}},
        FaultCase{"StatusZero", {"--status", "0"}, {{16, 0, 1, -1, 0}, {20, 0, 1, -1, 0, 133}}},
        FaultCase{"WrongCodeForTheIdentityOnly",
                  {"--wrong-code", "276", "--fault-code", "20"},
                  {{20, 0, 1, 276, 1, 133}, {16, 0, 1, 16, 1, 5}}},
        FaultCase{"Twice", {"--twice"}, {{16, 0, 2}, {20, 0, 2, -1, 1, 133}}},
        FaultCase{"Silent", {"--silent"}, {{20, 0, 0}, {16, 0, 0}, {17, 0x8000, 0}}},
        FaultCase{"SilentToVerifyOnly",
                  {"--silent", "--fault-code", "18"},
                  {{16, 0, 1}, {18, 0, 0}, {19, 0, 1}}}),
    [](const ::testing::TestParamInfo<FaultCase>& p) { return p.param.name; });

TEST_F(DrivesimTest, DelayedAnswersDoNotHoldUpOtherCommands) {
  Sim sim = startSim({"--ip", "127.0.0.2", "--delay-ms", "400"});
  const auto start = Clock::now();
  sendTo(host, command(16));
  std::this_thread::sleep_for(100ms);
  sendTo(host, command(20));
  const auto got = receive(host, 3000ms, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(getBig16(&got[0].bytes[0]), 16);
  EXPECT_EQ(getBig16(&got[1].bytes[0]), 20);
  EXPECT_GE(got[0].at - start, 390ms);
  EXPECT_GE(got[1].at - start, 490ms);
  // Had the first delay blocked the receive, the second answer would come
  // 400 ms after the first one.
  EXPECT_LT(got[1].at - got[0].at, 350ms);
  terminate(sim);
}

TEST_F(DrivesimTest, StrayDatagramFromAnotherAddressStandsInForTheFirstAnswer) {
  Sim sim = startSim({"--ip", "127.0.0.2", "--stray-from", "127.0.0.9"});
  auto got = ask(command(20), 600ms, 2);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes, Bytes(5, 0));
  EXPECT_EQ(got[0].from, 0x7F000009u);
  EXPECT_EQ(got[0].fromPort, PORT);
  got = ask(command(20), 600ms, 2);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes.size(), 133u);
  EXPECT_EQ(got[0].from, DRIVE);
  const ProcessResult r = terminate(sim);
  EXPECT_NE(r.out.find("stray 127.0.0.9 -> 127.0.0.1:8995\n"), std::string::npos) << r.out;
}

TEST_F(DrivesimTest, AnswersFromTheAddressTheCommandArrivedOn) {
  Sim sim = startSim({"--ip", "127.0.0.2,127.0.0.10+3"});
  for (std::uint32_t to : {0x7F000002u, 0x7F00000Au, 0x7F00000Cu}) {
    const auto got = ask(command(16), 2000ms, 1, to);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].from, to);
  }
  const ProcessResult r = terminate(sim);
  EXPECT_NE(r.out.find("listening 127.0.0.2:8995\nlistening 127.0.0.10:8995\n"
                       "listening 127.0.0.11:8995\nlistening 127.0.0.12:8995\nready\n"),
            std::string::npos)
      << r.out;
}

TEST_F(DrivesimTest, StopsPromptlyOnSignalAndAfterTheIdleTimeOut) {
  ScratchDir dir;
  Sim sim = startSim({"--ip", "127.0.0.2", "--image-out", dir.file("img")});
  const auto before = Clock::now();
  const ProcessResult r = terminate(sim);
  EXPECT_LT(Clock::now() - before, 1000ms);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("stopped by signal 15\nimage 0 -> "), std::string::npos) << r.out;

  const ProcessResult idle =
      runProcess({drivesimPath(), "--ip", "127.0.0.2", "--idle-timeout", "1"}, 10s);
  EXPECT_EQ(idle.exitCode, 0);
  EXPECT_NE(idle.out.find("ready\nidle\n"), std::string::npos) << idle.out;
  EXPECT_LT(idle.seconds, 3.0);
}

TEST_F(DrivesimTest, RejectsBadOptionsBeforeBinding) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--ip", "300.1.1.1"},
      {"--ip", "127.0.0.2+0"},
      {"--ip", "127.0.0.2", "--bogus"},
      {"--ip", "127.0.0.2", "--digest", "0011"},
      {"--ip", "127.0.0.2", "--identity-hex", "zz"},
      {"--ip", "127.0.0.2", "--status", "256"},
      {"--ip", "127.0.0.2", "--answer-on", "0"},
      {"--ip", "127.0.0.2", "--delay-ms"},
  };
  for (const auto& args : cases) {
    std::vector<std::string> argv = {drivesimPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult r = runProcess(argv, 5s);
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_NE(r.out.find("error: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ready"), std::string::npos) << r.out;
  }
}

// Discovery binds 0.0.0.0:8995, so only inside a private namespace. There a
// probe sent to port 8995 of a loopback address that nothing else is bound to
// reaches the wildcard socket alone, just as a broadcast probe would.
class DrivesimDiscoveryTest : public DrivesimTest {
 protected:
  void SetUp() override {
    DrivesimTest::SetUp();
    if (!isolated) {
      GTEST_SKIP() << "needs a private network namespace (root)";
    }
    prober = openSocket(HOST, 0);
  }
  void TearDown() override {
    if (prober != NET_INVALID_SOCKET) {
      netClose(prober);
    }
    DrivesimTest::TearDown();
  }
  NetSocket prober = NET_INVALID_SOCKET;
};

constexpr std::uint32_t PROBE_TARGET = 0x7F0000FE;  // 127.0.0.254
const Bytes PROBE = hexBytes(
    "0a0e2000110000000000232300000000"
    "6d0000");

TEST_F(DrivesimDiscoveryTest, EveryAddressRepliesToAProbeInDelayOrder) {
  Sim sim = startSim({"--ip", "127.0.0.2+3", "--discovery", "--discovery-delays", "300,0,150"});
  sendTo(prober, PROBE, PROBE_TARGET);
  const auto got = receive(prober, 3000ms, 3);
  ASSERT_EQ(got.size(), 3u);
  const std::uint32_t order[] = {0x7F000003, 0x7F000004, 0x7F000002};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(got[i].from, order[i]);
    EXPECT_EQ(got[i].fromPort, PORT);
    EXPECT_EQ(got[i].bytes, hexBytes("000000006d"));
  }
  // Not a probe: wrong size, or byte 4 is not 0x11.
  Bytes longer = PROBE;
  longer.push_back(0);
  Bytes unmarked = PROBE;
  unmarked[4] = 0x6D;
  sendTo(prober, longer, PROBE_TARGET);
  sendTo(prober, unmarked, PROBE_TARGET);
  EXPECT_TRUE(receive(prober, 500ms).empty());
  // Loader commands are still answered at the drive's own address.
  EXPECT_EQ(ask(command(16)).size(), 1u);
  const ProcessResult r = terminate(sim);
  EXPECT_NE(r.out.find("listening 0.0.0.0:8995\nready\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("probe 127.0.0.1:"), std::string::npos);
  EXPECT_NE(r.out.find("reply 127.0.0.3 -> 127.0.0.1:"), std::string::npos);
}

TEST_F(DrivesimDiscoveryTest, AHundredAndOneAddressesReplyWithTheGivenBytes) {
  Sim sim = startSim({"--ip", "127.0.1.1+101", "--discovery", "--discovery-reply", "01020304"});
  sendTo(prober, PROBE, PROBE_TARGET);
  const auto got = receive(prober, 5000ms, 101);
  ASSERT_EQ(got.size(), 101u);
  EXPECT_TRUE(receive(prober, 300ms).empty());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].from, 0x7F000101u + i);
    EXPECT_EQ(got[i].bytes, hexBytes("01020304"));
  }
  terminate(sim);
}

}  // namespace

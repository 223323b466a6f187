// The Windows build against the simulated drive, under Wine: a programming
// run, a verify run and an identity run of Tovrin.exe must print what the
// Linux build prints for the same runs, line feeds turned into CR LF, and
// leave the same image in the drive.
//
// Each build runs in a network namespace of its own with only loopback up,
// the drive at 127.0.0.2; the two sequences run side by side. The Windows
// side runs through scripts/wine-sandbox, which gives its namespace a Wine
// prefix and server of its own. Without a configured Windows build (see
// TOVRIN_WINDOWS_EXE in CMakeLists.txt) or without root the test is skipped
// and says why.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "testkit/process.h"

#ifndef TOVRIN_WINDOWS_EXE
#define TOVRIN_WINDOWS_EXE ""
#endif
#ifndef TOVRIN_WINE
#define TOVRIN_WINE ""
#endif
#ifndef TOVRIN_WINE_PREFIX
#define TOVRIN_WINE_PREFIX ""
#endif
#ifndef TOVRIN_WINE_SANDBOX
#define TOVRIN_WINE_SANDBOX ""
#endif

namespace {

using std::chrono::seconds;
using Argv = std::vector<std::string>;

const std::string DRIVE_IP = "127.0.0.2";
const std::string CONNECTING = "\nEstablishing connection with selected device :\t";

struct Outputs {
  ProcessResult program;
  ProcessResult verify;
  ProcessResult identify;
  ProcessResult drive;
  std::string image;
  std::string failure;  // set when the sequence could not be run
};

// How a command is run on one side: in that side's namespace.
struct Side {
  Argv (*wrap)(const std::string& name, const Argv& argv);
  std::string name;
  Argv loader;  // the loader's argv prefix
};

Argv sandboxCommand(const std::string& verb, const std::string& name) {
  return {"env",
          std::string("TOVRIN_WINE=") + TOVRIN_WINE,
          std::string("TOVRIN_WINE_PREFIX=") + TOVRIN_WINE_PREFIX,
          TOVRIN_WINE_SANDBOX,
          verb,
          name};
}

// Windows side: "wine-sandbox exec NAME -- argv" runs a Linux command in the
// sandbox's namespace; "wine-sandbox exec NAME exe args" runs a Windows one.
Argv inSandbox(const std::string& name, const Argv& argv) {
  Argv out = sandboxCommand("exec", name);
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

Argv inNamespace(const std::string& name, const Argv& argv) {
  Argv out = {"ip", "netns", "exec", name};
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

Argv linuxCommand(const Side& side, const Argv& argv) {
  Argv inner = {"--"};
  inner.insert(inner.end(), argv.begin(), argv.end());
  return side.wrap == inSandbox ? side.wrap(side.name, inner) : side.wrap(side.name, argv);
}

Argv loaderCommand(const Side& side, const Argv& args) {
  Argv argv = side.loader;
  argv.insert(argv.end(), args.begin(), args.end());
  return side.wrap(side.name, argv);  // the sandbox puts Wine in front of Tovrin.exe
}

// Program, verify, identify against one simulated drive.
Outputs runSequence(const Side& side, const std::string& firmware, const std::string& imageOut) {
  Outputs o;
  BackgroundProcess drive = startProcess(linuxCommand(
      side, {drivesimPath(), "--ip", DRIVE_IP, "--idle-timeout", "90", "--image-out", imageOut}));
  if (!waitForOutput(drive, "ready", seconds(15))) {
    o.drive = stopProcess(drive, seconds(1));
    o.failure = "the simulated drive did not start: " + o.drive.out + o.drive.err;
    return o;
  }
  o.program = runProcess(loaderCommand(side, {"-ip", DRIVE_IP, "-fp", firmware}), seconds(60));
  o.verify = runProcess(loaderCommand(side, {"-ip", DRIVE_IP, "-fp", firmware, "-v"}), seconds(60));
  o.identify = runProcess(loaderCommand(side, {"-ip", DRIVE_IP, "-u"}), seconds(60));
  o.drive = stopProcess(drive, seconds(1));
  o.image = readFile(imageOut);
  return o;
}

// A Linux text as a text-mode Windows program writes it.
std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += '\r';
    }
    out += c;
  }
  return out;
}

// Cuts the countdown ("1000" and four backspaces, " 999" and four
// backspaces, ...) out of a run's output: how many tries it took depends on
// timing, not on the build. Returns the number of counts.
int cutCountdown(std::string& out, const std::string& label) {
  const std::size_t start = out.find(label);
  if (start == std::string::npos) {
    return 0;
  }
  const std::size_t from = start + label.size();
  std::size_t at = from;
  int counts = 0;
  while (at + 8 <= out.size() && out.compare(at + 4, 4, "\b\b\b\b") == 0) {
    at += 8;
    ++counts;
  }
  out.replace(from, at - from, "<countdown>");
  return counts;
}

void expectSameRun(ProcessResult& windows, ProcessResult& linux, const std::string& what,
                   bool connects) {
  EXPECT_EQ(linux.exitCode, 1) << what;
  EXPECT_EQ(windows.exitCode, 1) << what;
  EXPECT_FALSE(windows.timedOut) << what;
  EXPECT_EQ(windows.err, "") << what;
  const int linuxCounts = cutCountdown(linux.out, CONNECTING);
  const int windowsCounts = cutCountdown(windows.out, crlf(CONNECTING));
  EXPECT_EQ(linuxCounts >= 1, connects) << what;
  EXPECT_EQ(windowsCounts >= 1, connects) << what;
  EXPECT_EQ(windows.out, crlf(linux.out)) << what;
}

struct Namespace {
  explicit Namespace(std::string n) : name(std::move(n)) {
    runProcess({"ip", "netns", "del", name}, seconds(10));
    ok = runProcess({"ip", "netns", "add", name}, seconds(10)).exitCode == 0 &&
         runProcess({"ip", "netns", "exec", name, "ip", "link", "set", "lo", "up"}, seconds(10))
                 .exitCode == 0;
  }
  ~Namespace() { runProcess({"ip", "netns", "del", name}, seconds(10)); }
  Namespace(const Namespace&) = delete;
  Namespace& operator=(const Namespace&) = delete;
  std::string name;
  bool ok = false;
};

struct Sandbox {
  explicit Sandbox(std::string n) : name(std::move(n)) {
    up = runProcess(sandboxCommand("up", name), seconds(150));
  }
  ~Sandbox() { runProcess(sandboxCommand("down", name), seconds(60)); }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  std::string name;
  ProcessResult up;
};

std::string sampleFirmware(std::size_t size) {
  std::string file(size, '\0');
  std::uint32_t x = 88172645u;
  for (auto& c : file) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return file;
}

TEST(WindowsBuild, ProgramsVerifiesAndIdentifiesTheDriveUnderWineAsOnLinux) {
  if (std::string(TOVRIN_WINDOWS_EXE).empty()) {
    GTEST_SKIP() << "no Windows build to test: configure with -DTOVRIN_WINDOWS_EXE=<Tovrin.exe>"
                    " (scripts/test does when MinGW-w64 and Wine are at hand)";
  }
  if (geteuid() != 0) {
    GTEST_SKIP() << "the Windows build's network runs need root for private namespaces";
  }
  ScratchDir dir;
  // 77 blocks and a partial one: progress marks and a short last block.
  const std::string firmware = dir.file("fw.bin");
  writeFile(firmware, sampleFirmware(77 * 512 + 300));

  const std::string tag = std::to_string(getpid());
  Sandbox sandbox("e2e-" + tag);
  ASSERT_EQ(sandbox.up.exitCode, 0) << sandbox.up.out << sandbox.up.err;
  Namespace linuxNs("tv-wine-ref-" + tag);
  ASSERT_TRUE(linuxNs.ok);

  const Side windowsSide{inSandbox, sandbox.name, {TOVRIN_WINDOWS_EXE}};
  const Side linuxSide{inNamespace, linuxNs.name, tovrinCommand()};
  auto windowsRun = std::async(std::launch::async, runSequence, windowsSide, firmware,
                               dir.file("windows-image.bin"));
  Outputs linux = runSequence(linuxSide, firmware, dir.file("linux-image.bin"));
  Outputs windows = windowsRun.get();
  ASSERT_EQ(linux.failure, "");
  ASSERT_EQ(windows.failure, "");

  EXPECT_NE(linux.program.out.find("Reboot :"), std::string::npos) << linux.program.out;
  EXPECT_NE(linux.verify.out.find("Verifyed Successfully"), std::string::npos) << linux.verify.out;
  EXPECT_NE(linux.identify.out.find("Unit Identity"), std::string::npos) << linux.identify.out;
  expectSameRun(windows.program, linux.program, "programming run", true);
  expectSameRun(windows.verify, linux.verify, "verify run", false);
  expectSameRun(windows.identify, linux.identify, "identity run", false);
  EXPECT_FALSE(windows.image.empty());
  EXPECT_TRUE(windows.image == linux.image) << "the drive holds another image after Tovrin.exe";
}

}  // namespace

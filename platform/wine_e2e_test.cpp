// Tovrin.exe under Wine against the simulated drive: a programming, a verify
// and an identity run must print what the Linux build prints for the same
// runs, line feeds as CR LF, and leave the same image in the drive. Each
// build runs in a sandbox of scripts/wine-sandbox (a network namespace with
// only loopback up; the Linux build uses no more of it), the drive at
// 127.0.0.2, the two side by side. Skipped, saying why, without a Windows
// build (TOVRIN_WINDOWS_EXE) or without root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "testkit/expected.h"
#include "testkit/process.h"

// CMakeLists.txt defines these four together, given a Windows build.
#ifndef TOVRIN_WINDOWS_EXE
#define TOVRIN_WINDOWS_EXE ""
#define TOVRIN_WINE ""
#define TOVRIN_WINE_PREFIX ""
#define TOVRIN_WINE_SANDBOX ""
#endif

namespace {

using std::chrono::seconds;
using Argv = std::vector<std::string>;

const std::string DRIVE_IP = "127.0.0.2";

Argv cat(Argv a, const Argv& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// "wine-sandbox exec NAME -- argv" runs a Linux command in the sandbox's
// namespace, "wine-sandbox exec NAME exe args" a Windows one under Wine.
Argv sandboxCommand(const std::string& verb, const std::string& name, const Argv& argv = {}) {
  return cat(
      {"env", std::string("TOVRIN_WINE=") + TOVRIN_WINE,
       std::string("TOVRIN_WINE_PREFIX=") + TOVRIN_WINE_PREFIX, TOVRIN_WINE_SANDBOX, verb, name},
      argv);
}

// One build's sandbox, removed by the destructor.
struct Sandbox {
  Sandbox(std::string n, Argv l) : name(std::move(n)), loader(std::move(l)) {
    up = runProcess(sandboxCommand("up", name), seconds(150));
  }
  ~Sandbox() { runProcess(sandboxCommand("down", name), seconds(60)); }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  std::string name;
  Argv loader;  // the loader's command in the sandbox, -ip and the drive included
  ProcessResult up;
};

// One run of the loader: its arguments after -ip, whether it connects (and
// so counts down), and what the Linux build must print in it.
struct LoaderRun {
  const char* what;
  Argv args;
  bool connects;
  std::string prints;
};

struct Outcome {
  std::vector<ProcessResult> results;  // one per run, none when the drive did not start
  std::string image;
};

// The runs, one after the other, against one simulated drive.
Outcome runAll(const Sandbox& box, const std::vector<LoaderRun>& runs,
               const std::string& imageOut) {
  Outcome o;
  BackgroundProcess drive = startProcess(sandboxCommand(
      "exec", box.name,
      {"--", drivesimPath(), "--ip", DRIVE_IP, "--idle-timeout", "90", "--image-out", imageOut}));
  if (!waitForOutput(drive, "ready", seconds(15))) {
    ADD_FAILURE() << "no simulated drive in " << box.name << ": "
                  << stopProcess(drive, seconds(1)).out;
    return o;
  }
  for (const LoaderRun& run : runs) {
    const Argv argv = sandboxCommand("exec", box.name, cat(box.loader, run.args));
    o.results.push_back(runProcess(argv, seconds(60)));
  }
  stopProcess(drive, seconds(1));
  o.image = readFile(imageOut);
  return o;
}

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '\n' ? "\r\n" : std::string(1, c);
  }
  return out;
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
  const std::string file = sampleFile(77 * 512 + 300);
  const std::string image = expectedImage(file);
  const std::string fw = dir.file("fw.bin");
  writeFile(fw, file);
  const std::string digest = image.substr(0, 16);
  const std::vector<LoaderRun> runs = {
      {"programming run", {"-fp", fw}, true, REBOOT},
      {"verify run", {"-fp", fw, "-v"}, false, verifyLines(digest, digest)},
      {"identity run", {"-u"}, false, IDENTITY}};

  const std::string tag = std::to_string(getpid());
  const Sandbox windowsBox("e2e-" + tag, {TOVRIN_WINDOWS_EXE, "-ip", DRIVE_IP});
  const Sandbox linuxBox("ref-" + tag, cat(cat({"--"}, tovrinCommand()), {"-ip", DRIVE_IP}));
  ASSERT_EQ(windowsBox.up.exitCode, 0) << windowsBox.up.out << windowsBox.up.err;
  ASSERT_EQ(linuxBox.up.exitCode, 0) << linuxBox.up.out << linuxBox.up.err;

  auto windowsRuns = std::async(std::launch::async, runAll, std::cref(windowsBox), std::cref(runs),
                                dir.file("windows-image.bin"));
  Outcome linux = runAll(linuxBox, runs, dir.file("linux-image.bin"));
  Outcome windows = windowsRuns.get();
  ASSERT_EQ(linux.results.size(), runs.size());
  ASSERT_EQ(windows.results.size(), runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(runs[i].what);
    ProcessResult& l = linux.results[i];
    ProcessResult& w = windows.results[i];
    EXPECT_EQ(l.exitCode, 1);
    EXPECT_EQ(w.exitCode, 1);
    EXPECT_FALSE(w.timedOut);
    EXPECT_EQ(w.err, "");
    EXPECT_NE(l.out.find(runs[i].prints), std::string::npos) << l.out;
    // How many counts the connection took depends on timing, not on the build.
    EXPECT_EQ(takeCountdown(l.out) >= 1, runs[i].connects);
    EXPECT_EQ(takeCountdown(w.out) >= 1, runs[i].connects);
    EXPECT_EQ(w.out, crlf(l.out));
  }
  EXPECT_TRUE(linux.image == image) << "the drive holds another image after tovrin";
  EXPECT_TRUE(windows.image == image) << "the drive holds another image after Tovrin.exe";
}

}  // namespace

// Running the built executables as a user would, with bounded time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct ProcessResult {
  int exitCode = -1;      // exit status, or -1 when ended by a signal
  int signal = 0;         // the signal that ended it, or 0
  bool timedOut = false;  // killed because it overran its time
  std::string out;        // everything written to standard output
  std::string err;        // everything written to standard error
  double seconds = 0;     // wall time from start to end
};

// Runs argv to its end, or kills it (and its process group) once timeout has
// passed. Standard input is empty.
ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

// Runs argv with standard output and standard error on a new pseudo-
// terminal of 40 rows and `columns` columns, as a technician's console would
// be, to its end or until timeout; out holds what the terminal received,
// its line feeds turned into CR LF by the terminal as usual.
ProcessResult runInTerminal(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                            int columns = 120);

// A process left running in the background, its output going to files.
struct BackgroundProcess {
  pid_t pid = -1;
  std::string outPath;
  std::string errPath;
  std::chrono::steady_clock::time_point started;
};

BackgroundProcess startProcess(const std::vector<std::string>& argv);

// Waits up to timeout for the process to end by itself, then sends SIGTERM
// and, after another second, SIGKILL. Returns what it wrote.
ProcessResult stopProcess(BackgroundProcess& process, std::chrono::milliseconds timeout);

// Waits until the process's standard output contains text, or timeout.
bool waitForOutput(const BackgroundProcess& process, const std::string& text,
                   std::chrono::milliseconds timeout);

// The blank-separated words of text, as a command line is written in a table.
std::vector<std::string> words(const std::string& text);

std::string readFile(const std::string& path);
// The lines of text, without their line feeds.
std::vector<std::string> linesOf(const std::string& text);
// The line of out that starts with address and a blank (a summary's row).
std::string rowOf(const std::string& out, const std::string& address);
std::size_t countOf(const std::string& text, const std::string& part);
void writeFile(const std::string& path, const std::string& bytes);

// A fresh directory for one test's files, removed by the destructor.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

// The executables under test. TOVRIN_EXE and DRIVESIM_EXE in the environment
// override the built ones; TOVRIN_LAUNCHER (for example a Windows emulator)
// is put in front of the loader's command.
std::vector<std::string> tovrinCommand();
std::string drivesimPath();
// True when the loader under test writes its output in text mode (a
// Windows build), where every line feed reaches the output as CR LF.
bool tovrinTextMode();
// The bytes a text-mode loader writes for text.
std::string asConsoleBytes(const std::string& text);

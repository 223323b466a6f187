#include "testkit/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> argvOf(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  out.reserve(argv.size() + 1);
  for (const auto& a : argv) {
    out.push_back(const_cast<char*>(a.c_str()));
  }
  out.push_back(nullptr);
  return out;
}

pid_t spawn(const std::vector<std::string>& argv, int outFd, int errFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own process group, so a kill reaches everything it started.
  // The stop signals at their default action, whatever the test runner
  // inherited (a script's background job ignores SIGINT), so that tests
  // that interrupt the loader see what a user's terminal would.
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid = -1;
  auto args = argvOf(argv);
  const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    throw std::runtime_error("cannot start " + argv[0]);
  }
  return pid;
}

void fillStatus(ProcessResult& r, int status) {
  if (WIFEXITED(status)) {
    r.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.signal = WTERMSIG(status);
  }
}

// Waits for pid until deadline; true when it ended (status filled).
bool waitUntil(pid_t pid, Clock::time_point deadline, int& status) {
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      return true;
    }
    if (Clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void killGroup(pid_t pid, int sig) {
  kill(-pid, sig);
  kill(pid, sig);
}

// Reads every fd into its sink until each is closed at its writer's end (a
// terminal's side says so by EIO), or until deadline; false then.
bool readUntilClosed(const std::vector<int>& fds, const std::vector<std::string*>& sinks,
                     Clock::time_point deadline) {
  std::vector<pollfd> polled;
  for (const int fd : fds) {
    polled.push_back({fd, POLLIN, 0});
  }
  for (std::size_t open = fds.size(); open > 0;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return false;
    }
    if (poll(polled.data(), polled.size(), static_cast<int>(left)) <= 0) {
      continue;
    }
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if (polled[i].fd >= 0 && (polled[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char buf[65536];
        const ssize_t n = read(polled[i].fd, buf, sizeof buf);
        if (n > 0) {
          sinks[i]->append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          polled[i].fd = -1;  // negative: poll leaves it alone
          --open;
        }
      }
    }
  }
  return true;
}

// Takes what pid wrote to fds (closed here) into sinks, then its end and
// status into r; a process that overruns timeout, or does not end two
// seconds after its output did, is killed with its group.
void finish(pid_t pid, const std::vector<int>& fds, const std::vector<std::string*>& sinks,
            Clock::time_point start, std::chrono::milliseconds timeout, ProcessResult& r) {
  if (!readUntilClosed(fds, sinks, start + timeout)) {
    r.timedOut = true;
    killGroup(pid, SIGKILL);
  }
  for (const int fd : fds) {
    close(fd);
  }
  int status = 0;
  if (!waitUntil(pid, Clock::now() + std::chrono::seconds(2), status)) {
    r.timedOut = true;
    killGroup(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  fillStatus(r, status);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  const auto start = Clock::now();
  const pid_t pid = spawn(argv, outPipe[1], errPipe[1]);
  close(outPipe[1]);
  close(errPipe[1]);
  ProcessResult r;
  finish(pid, {outPipe[0], errPipe[0]}, {&r.out, &r.err}, start, timeout, r);
  return r;
}

ProcessResult runInTerminal(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                            int columns) {
  int master = -1;
  int slave = -1;
  winsize size{};
  size.ws_row = 40;
  size.ws_col = static_cast<unsigned short>(columns);
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    throw std::runtime_error("openpty");
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  const auto start = Clock::now();
  const pid_t pid = spawn(argv, slave, slave);
  close(slave);
  ProcessResult r;
  finish(pid, {master}, {&r.out}, start, timeout, r);
  return r;
}

BackgroundProcess startProcess(const std::vector<std::string>& argv) {
  char outTemplate[] = "/tmp/tovrin-bg-out-XXXXXX";
  char errTemplate[] = "/tmp/tovrin-bg-err-XXXXXX";
  const int outFd = mkstemp(outTemplate);
  const int errFd = mkstemp(errTemplate);
  BackgroundProcess p;
  p.outPath = outTemplate;
  p.errPath = errTemplate;
  p.started = Clock::now();
  p.pid = spawn(argv, outFd, errFd);
  close(outFd);
  close(errFd);
  return p;
}

ProcessResult stopProcess(BackgroundProcess& process, std::chrono::milliseconds timeout) {
  ProcessResult r;
  if (process.pid <= 0) {
    return r;
  }
  int status = 0;
  if (!waitUntil(process.pid, Clock::now() + timeout, status)) {
    killGroup(process.pid, SIGTERM);
    if (!waitUntil(process.pid, Clock::now() + std::chrono::seconds(1), status)) {
      r.timedOut = true;
      killGroup(process.pid, SIGKILL);
      waitpid(process.pid, &status, 0);
    }
  }
  fillStatus(r, status);
  r.seconds = std::chrono::duration<double>(Clock::now() - process.started).count();
  r.out = readFile(process.outPath);
  r.err = readFile(process.errPath);
  unlink(process.outPath.c_str());
  unlink(process.errPath.c_str());
  process.pid = -1;
  return r;
}

bool waitForOutput(const BackgroundProcess& process, const std::string& text,
                   std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (readFile(process.outPath).find(text) != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::string rowOf(const std::string& out, const std::string& address) {
  for (const std::string& line : linesOf(out)) {
    if (line.starts_with(address + " ")) {
      return line;
    }
  }
  return "";
}

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

ScratchDir::ScratchDir() {
  char tmpl[] = "/tmp/tovrin-test-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    throw std::runtime_error("mkdtemp");
  }
  path = tmpl;
}

ScratchDir::~ScratchDir() {
  const std::string cmd = "rm -rf '" + path + "'";
  if (std::system(cmd.c_str()) != 0) {
    // Leftovers in /tmp are harmless.
  }
}

std::vector<std::string> tovrinCommand() {
  std::vector<std::string> cmd;
  if (const char* launcher = std::getenv("TOVRIN_LAUNCHER"); launcher != nullptr && *launcher) {
    cmd.emplace_back(launcher);
  }
  const char* exe = std::getenv("TOVRIN_EXE");
  cmd.emplace_back(exe != nullptr && *exe ? exe : TOVRIN_EXE);
  return cmd;
}

std::string drivesimPath() {
  const char* exe = std::getenv("DRIVESIM_EXE");
  return exe != nullptr && *exe ? exe : DRIVESIM_EXE;
}

bool tovrinTextMode() {
  const char* mode = std::getenv("TOVRIN_TEXT_MODE");
  return mode != nullptr && std::string(mode) == "1";
}

std::string asConsoleBytes(const std::string& text) {
  if (!tovrinTextMode()) {
    return text;
  }
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\n') {
      out += '\r';
    }
    out += c;
  }
  return out;
}

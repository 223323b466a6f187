// Several-drives benchmark: programs the same image into N simulated drives
// side by side over the loader's one socket, for each N asked for, and
// reports the wall time against one drive's and against the protocol's
// floor, each drive's gap between confirmed blocks (least, median, 99th
// percentile over every drive), the loader's CPU time as a share of the wall
// time and its peak resident memory. Each N runs in a child process of its
// own, so CPU and memory figures are that run's alone.
//
// Run by bench/fleet_bench.sh, which starts the simulated drives first:
//   fleet_bench FIRST_ADDRESS IMAGE_BYTES N...
// (drives at FIRST_ADDRESS, FIRST_ADDRESS + 1, ...). A count written "Ns"
// runs N drives with -s (skip those that hold the file) at FIRST_ADDRESS +
// SKIP_OFFSET on, where the script has the first half hold the file. Exit
// status 0 when every run completed every drive, 32 drives (when asked for)
// took at most 1.02 x one drive's time with CPU under 1 % of the wall time,
// and 32 drives with -s at most 1.02 x one drive's time, half of them
// skipped.
//   fleet_bench --file PATH IMAGE_BYTES
// writes the file that every run programs, for the drives that hold it.
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "image/image.h"
#include "link/link.h"
#include "session/observer.h"
#include "session/runner.h"

namespace {

using std::chrono::duration;
using std::chrono::steady_clock;

// The least time one drive's programming run can take: every command
// answered at its first send, each pause exactly as long as the protocol
// asks (link start, one connect, monitor pause, enter monitor, each block,
// verify, reboot and the pause after it).
double floorMs(std::size_t blocks) {
  return 150 + 30 + 2500 + 150 + 60.0 * static_cast<double>(blocks) + 120 + 30 + 5000;
}

// Where the drives of the runs with -s begin, after those of the others.
constexpr std::uint32_t SKIP_OFFSET = 100;

// The file every run programs.
std::vector<std::uint8_t> benchFile(std::size_t bytes) {
  std::vector<std::uint8_t> file(bytes);
  for (std::size_t i = 0; i < file.size(); ++i) {
    file[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  return file;
}

struct Figures {
  double wallMs = 0;
  double cpuMs = 0;
  double userMs = 0;  // of cpuMs, in the loader's own code
  long peakKb = 0;
  double gapMin = 0;
  double gapMedian = 0;
  double gapP99 = 0;
  int completed = 0;
  int current = 0;  // -s: drives that held the file and were only rebooted
};

// Times each drive's block confirmations.
class GapTimer : public SessionObserver {
 public:
  void blockConfirmed(DriveAddress drive, std::size_t /*index*/, std::size_t /*count*/) override {
    const auto now = steady_clock::now();
    const auto last = last_.find(drive);
    if (last != last_.end()) {
      gaps_.push_back(duration<double, std::milli>(now - last->second).count());
    }
    last_[drive] = now;
  }
  void alreadyCurrent(DriveAddress /*drive*/) override { ++current_; }
  std::vector<double>& gaps() { return gaps_; }
  int current() const { return current_; }

 private:
  std::map<DriveAddress, steady_clock::time_point> last_;
  std::vector<double> gaps_;
  int current_ = 0;
};

// The process's CPU time so far, and its user part, in milliseconds.
std::pair<double, double> cpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_usec) / 1000;
  };
  return {ms(usage.ru_utime) + ms(usage.ru_stime), ms(usage.ru_utime)};
}

// One run of n drives in this process.
Figures runOnce(std::uint32_t first, std::size_t imageBytes, std::size_t n, bool skip) {
  const FirmwareImage image = makeImage(benchFile(imageBytes));
  // The drives' addresses count up from first, in the platform's form.
  std::vector<DriveAddress> drives;
  for (std::size_t i = 0; i < n; ++i) {
    drives.push_back(DriveAddress::fromNet(first + static_cast<std::uint32_t>(i)));
  }
  Figures f;
  const LinkOpening opened = Link::open(drives);
  if (opened.error != LinkError::none) {
    std::fprintf(stderr, "the link could not be opened\n");
    return f;
  }
  Link& link = *opened.link;
  GapTimer timer;
  const auto [cpuBefore, userBefore] = cpuMs();
  const auto start = steady_clock::now();
  const auto outcomes =
      runDrives(drives, SessionPlan{.image = &image, .skipCurrent = skip}, timer, link);
  f.wallMs = duration<double, std::milli>(steady_clock::now() - start).count();
  const auto [cpuAfter, userAfter] = cpuMs();
  f.cpuMs = cpuAfter - cpuBefore;
  f.userMs = userAfter - userBefore;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  f.peakKb = usage.ru_maxrss;
  f.current = timer.current();
  f.completed = static_cast<int>(std::count_if(outcomes.begin(), outcomes.end(), driveSucceeded));
  auto& gaps = timer.gaps();
  if (!gaps.empty()) {
    std::sort(gaps.begin(), gaps.end());
    f.gapMin = gaps.front();
    f.gapMedian = gaps[gaps.size() / 2];
    f.gapP99 = gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)];
  }
  return f;
}

// Runs n drives in a child process and reads its figures back.
bool runInChild(std::uint32_t first, std::size_t imageBytes, std::size_t n, bool skip, Figures& f) {
  int fds[2];
  if (pipe(fds) != 0) {
    return false;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const Figures mine = runOnce(first, imageBytes, n, skip);
    const ssize_t written = write(fds[1], &mine, sizeof mine);
    _exit(written == static_cast<ssize_t>(sizeof mine) ? 0 : 1);
  }
  close(fds[1]);
  const ssize_t got = read(fds[0], &f, sizeof f);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return got == static_cast<ssize_t>(sizeof f) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--file") {
    const auto file = benchFile(std::strtoul(argv[3], nullptr, 10));
    std::FILE* out = std::fopen(argv[2], "wb");
    const bool written =
        out != nullptr && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return out != nullptr && std::fclose(out) == 0 && written ? 0 : 1;
  }
  if (argc < 4) {
    std::fprintf(stderr, "usage: fleet_bench FIRST_ADDRESS IMAGE_BYTES N...\n");
    return 2;
  }
  in_addr a{};
  if (inet_pton(AF_INET, argv[1], &a) != 1) {
    std::fprintf(stderr, "not an address: %s\n", argv[1]);
    return 2;
  }
  const std::uint32_t first = ntohl(a.s_addr);
  const std::size_t imageBytes = std::strtoul(argv[2], nullptr, 10);
  const std::size_t rounded = (imageBytes + 3) / 4 * 4;
  const std::size_t blocks = (rounded + 511) / 512;
  const double floor = floorMs(blocks);
  std::printf("image %zu bytes, %zu blocks, one drive's floor %.0f ms\n\n", imageBytes, blocks,
              floor);
  std::printf("%6s %10s %8s %8s %10s %10s %10s %9s %7s %7s %10s %9s %8s\n", "drives", "wall ms",
              "x one", "x floor", "gap min", "gap median", "gap p99", "CPU ms", "CPU %", "user %",
              "peak kB", "complete", "skipped");
  bool ok = true;
  double oneDrive = 0;
  for (int i = 3; i < argc; ++i) {
    char* end = nullptr;
    const std::size_t n = std::strtoul(argv[i], &end, 10);
    const bool skip = *end == 's';
    Figures f;
    if (n == 0 || !runInChild(skip ? first + SKIP_OFFSET : first, imageBytes, n, skip, f)) {
      std::printf("%6s  run failed\n", argv[i]);
      ok = false;
      continue;
    }
    if (n == 1 && !skip) {
      oneDrive = f.wallMs;
    }
    const double toOne = oneDrive > 0 ? f.wallMs / oneDrive : 0;
    const double cpuShare = 100 * f.cpuMs / f.wallMs;
    std::printf("%6s %10.0f %8.3f %8.3f %10.1f %10.1f %10.1f %9.0f %7.2f %7.2f %10ld %5d/%zu %8d\n",
                argv[i], f.wallMs, toOne, f.wallMs / floor, f.gapMin, f.gapMedian, f.gapP99,
                f.cpuMs, cpuShare, 100 * f.userMs / f.wallMs, f.peakKb, f.completed, n, f.current);
    ok = ok && f.completed == static_cast<int>(n);
    if (n == 32 && oneDrive > 0) {
      ok = ok && toOne <= 1.02 && (skip ? f.current == 16 : cpuShare < 1.0);
    }
  }
  std::printf("\n%s\n", ok ? "targets met" : "targets missed");
  return ok ? 0 : 1;
}

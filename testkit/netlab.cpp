#include "testkit/netlab.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "testkit/process.h"

namespace {

void run(const std::vector<std::string>& argv) {
  const ProcessResult r = runProcess(argv, std::chrono::seconds(20));
  if (r.exitCode != 0) {
    std::string cmd;
    for (const auto& a : argv) {
      cmd += a + " ";
    }
    throw std::runtime_error("lab set-up failed: " + cmd + ": " + r.err);
  }
}

void runQuietly(const std::vector<std::string>& argv) {
  runProcess(argv, std::chrono::seconds(20));
}

// Namespaces left behind by test processes that died before cleaning up.
void removeStaleNamespaces() {
  DIR* dir = opendir("/run/netns");
  if (dir == nullptr) {
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() > 3 && name[0] == 't' && name[1] == 'v' && (name[2] == 'h' || name[2] == 'd')) {
      const pid_t owner = static_cast<pid_t>(std::atoi(name.c_str() + 3));
      if (owner > 0 && kill(owner, 0) != 0) {
        stale.push_back(name);
      }
    }
  }
  closedir(dir);
  for (const auto& name : stale) {
    runQuietly({"ip", "netns", "del", name});
  }
}

std::vector<std::string> prefixed(const std::string& ns, const std::vector<std::string>& argv) {
  if (ns.empty()) {
    return argv;
  }
  std::vector<std::string> out = {"ip", "netns", "exec", ns};
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

}  // namespace

bool canMakeNamespaces() {
  if (geteuid() != 0) {
    return false;
  }
  static const bool works = [] {
    const std::string probe = "tvh" + std::to_string(getpid()) + "_probe";
    const bool ok =
        runProcess({"ip", "netns", "add", probe}, std::chrono::seconds(10)).exitCode == 0;
    runQuietly({"ip", "netns", "del", probe});
    return ok;
  }();
  return works;
}

NetLab::~NetLab() {
  if (!hostNs.empty()) {
    runQuietly({"ip", "netns", "del", hostNs});
  }
  if (!driveNs.empty()) {
    runQuietly({"ip", "netns", "del", driveNs});
  }
  if (lockFd >= 0) {
    close(lockFd);
  }
}

std::vector<std::string> NetLab::inHost(const std::vector<std::string>& argv) const {
  return prefixed(hostNs, argv);
}

std::vector<std::string> NetLab::inDrive(const std::vector<std::string>& argv) const {
  return prefixed(driveNs, argv);
}

std::unique_ptr<NetLab> makeNetLab(const NetLabOptions& options) {
  auto lab = std::make_unique<NetLab>();
  if (!canMakeNamespaces()) {
    if (options.requireIsolation) {
      throw std::runtime_error("network namespaces are not available (not root?)");
    }
    lab->lockFd = open("/tmp/tovrin-loopback-8995.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (lab->lockFd >= 0) {
      flock(lab->lockFd, LOCK_EX);
    }
    lab->hostIp = "127.0.0.1";
    lab->driveIp = "127.0.0.2";
    for (int i = 0; i < options.extraDriveAddresses; ++i) {
      lab->extraDriveIps.push_back("127.0.0." + std::to_string(3 + i));
    }
    return lab;
  }
  static std::atomic<int> counter{0};
  removeStaleNamespaces();
  const std::string id = std::to_string(getpid()) + "_" + std::to_string(counter++);
  lab->isolated = true;
  lab->hostNs = "tvh" + id;
  lab->driveNs = "tvd" + id;
  lab->hostIp = "192.168.124.10";
  lab->driveIp = "192.168.124.120";
  // Interface names are made inside the namespaces, so short fixed names do.
  run({"ip", "netns", "add", lab->hostNs});
  run({"ip", "netns", "add", lab->driveNs});
  run({"ip", "-n", lab->hostNs, "link", "add", "lan0", "type", "veth", "peer", "name", "lan1",
       "netns", lab->driveNs});
  run({"ip", "-n", lab->hostNs, "link", "set", "lo", "up"});
  run({"ip", "-n", lab->driveNs, "link", "set", "lo", "up"});
  run({"ip", "-n", lab->hostNs, "addr", "add", "192.168.124.10/24", "dev", "lan0"});
  run({"ip", "-n", lab->driveNs, "addr", "add", "192.168.124.120/24", "dev", "lan1"});
  for (int i = 0; i < options.extraDriveAddresses; ++i) {
    // 101 addresses fit: .130 to .254, then 192.168.125.x on the same link.
    const int n = 130 + i;
    const std::string ip =
        n <= 254 ? "192.168.124." + std::to_string(n) : "192.168.125." + std::to_string(n - 254);
    run({"ip", "-n", lab->driveNs, "addr", "add", ip + "/16", "dev", "lan1"});
    lab->extraDriveIps.push_back(ip);
  }
  run({"ip", "-n", lab->hostNs, "link", "set", "lan0", "up"});
  run({"ip", "-n", lab->driveNs, "link", "set", "lan1", "up"});
  // The limited broadcast needs a route out of the host namespace.
  run({"ip", "-n", lab->hostNs, "route", "add", "default", "dev", "lan0"});
  run({"ip", "-n", lab->driveNs, "route", "add", "default", "dev", "lan1"});
  return lab;
}

bool enterPrivateNetwork() {
  static const bool isolated = [] {
    if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0 &&
        runProcess({"ip", "link", "set", "lo", "up"}, std::chrono::seconds(10)).exitCode == 0) {
      return true;
    }
    const int fd = open("/tmp/tovrin-loopback-8995.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
      flock(fd, LOCK_EX);  // held until the process ends
    }
    return false;
  }();
  return isolated;
}

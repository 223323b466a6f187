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
    if (name.size() > 3 && name[0] == 't' && name[1] == 'v' &&
        (name[2] == 'h' || name[2] == 'd' || name[2] == 'e')) {
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
  if (!hostNs.empty() && ownsHostNs) {
    runQuietly({"ip", "netns", "del", hostNs});
  }
  if (!driveNs.empty()) {
    runQuietly({"ip", "netns", "del", driveNs});
  }
  if (!secondDriveNs.empty()) {
    runQuietly({"ip", "netns", "del", secondDriveNs});
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

std::vector<std::string> NetLab::inSecondDrive(const std::vector<std::string>& argv) const {
  return prefixed(secondDriveNs, argv);
}

std::unique_ptr<NetLab> makeNetLab(const NetLabOptions& options) {
  auto lab = std::make_unique<NetLab>();
  if (!canMakeNamespaces()) {
    if (options.requireIsolation) {
      throw std::runtime_error("network namespaces are not available (not root?)");
    }
    lab->lockFd = open(TOVRIN_LOOPBACK_LOCK, O_CREAT | O_RDWR | O_CLOEXEC, 0666);
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
  const LabShape shape = options.shape;
  lab->isolated = true;
  lab->hostIp = "192.168.124.10";
  if (options.hostNamespace.empty()) {
    lab->hostNs = "tvh" + id;
    run({"ip", "netns", "add", lab->hostNs});
  } else {
    lab->hostNs = options.hostNamespace;
    lab->ownsHostNs = false;
  }
  run({"ip", "-n", lab->hostNs, "link", "set", "lo", "up"});
  if (shape == LabShape::loopbackOnly) {
    return lab;
  }
  lab->driveNs = "tvd" + id;
  lab->driveIp = "192.168.124.120";
  run({"ip", "netns", "add", lab->driveNs});
  run({"ip", "-n", lab->driveNs, "link", "set", "lo", "up"});
  // Interface names are made inside the namespaces, so short fixed names do.
  run({"ip", "-n", lab->hostNs, "link", "add", "lan0", "type", "veth", "peer", "name", "lan1",
       "netns", lab->driveNs});
  run({"ip", "-n", lab->hostNs, "addr", "add", "192.168.124.10/24", "dev", "lan0"});
  run({"ip", "-n", lab->hostNs, "link", "set", "lan0", "up"});
  run({"ip", "-n", lab->driveNs, "link", "set", "lan1", "up"});
  // The drive side's addresses sit on lan1, or on a bridge of lan1 and lan3
  // when both host adapters are on this LAN.
  std::string driveDev = "lan1";
  if (shape == LabShape::twoAdaptersOneLan) {
    driveDev = "br0";
    lab->secondHostIp = "192.168.124.11";
    run({"ip", "-n", lab->hostNs, "link", "add", "lan2", "type", "veth", "peer", "name", "lan3",
         "netns", lab->driveNs});
    run({"ip", "-n", lab->hostNs, "addr", "add", "192.168.124.11/24", "dev", "lan2"});
    run({"ip", "-n", lab->hostNs, "link", "set", "lan2", "up"});
    run({"ip", "-n", lab->driveNs, "link", "add", "br0", "type", "bridge"});
    run({"ip", "-n", lab->driveNs, "link", "set", "lan1", "master", "br0"});
    run({"ip", "-n", lab->driveNs, "link", "set", "lan3", "master", "br0"});
    run({"ip", "-n", lab->driveNs, "link", "set", "lan3", "up"});
    run({"ip", "-n", lab->driveNs, "link", "set", "br0", "up"});
  }
  run({"ip", "-n", lab->driveNs, "addr", "add", "192.168.124.120/24", "dev", driveDev});
  for (int i = 0; i < options.extraDriveAddresses; ++i) {
    // 101 addresses fit: .130 to .254, then 192.168.125.x on the same link.
    const int n = 130 + i;
    const std::string ip =
        n <= 254 ? "192.168.124." + std::to_string(n) : "192.168.125." + std::to_string(n - 254);
    run({"ip", "-n", lab->driveNs, "addr", "add", ip + "/16", "dev", driveDev});
    lab->extraDriveIps.push_back(ip);
  }
  // Drives answer whoever asked, on the link: their side needs no gateway.
  run({"ip", "-n", lab->driveNs, "route", "add", "default", "dev", driveDev});
  if (shape == LabShape::twoLans) {
    lab->secondDriveNs = "tve" + id;
    lab->secondHostIp = "10.20.30.10";
    lab->secondDriveIp = "10.20.30.120";
    run({"ip", "netns", "add", lab->secondDriveNs});
    run({"ip", "-n", lab->secondDriveNs, "link", "set", "lo", "up"});
    run({"ip", "-n", lab->hostNs, "link", "add", "lan2", "type", "veth", "peer", "name", "lan3",
         "netns", lab->secondDriveNs});
    run({"ip", "-n", lab->hostNs, "addr", "add", "10.20.30.10/24", "dev", "lan2"});
    run({"ip", "-n", lab->secondDriveNs, "addr", "add", "10.20.30.120/24", "dev", "lan3"});
    run({"ip", "-n", lab->hostNs, "link", "set", "lan2", "up"});
    run({"ip", "-n", lab->secondDriveNs, "link", "set", "lan3", "up"});
    run({"ip", "-n", lab->secondDriveNs, "route", "add", "default", "dev", "lan3"});
  }
  switch (shape) {
    case LabShape::gatewayRoute:
    case LabShape::twoAdaptersOneLan:
      run({"ip", "-n", lab->hostNs, "route", "add", "default", "via", "192.168.124.1", "dev",
           "lan0"});
      break;
    case LabShape::twoLans:
      run({"ip", "-n", lab->hostNs, "route", "add", "default", "via", "10.20.30.1", "dev", "lan2"});
      break;
    case LabShape::noDefaultRoute:
    case LabShape::loopbackOnly:
      break;
  }
  return lab;
}

bool enterPrivateNetwork() {
  static const bool isolated = [] {
    if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0 &&
        runProcess({"ip", "link", "set", "lo", "up"}, std::chrono::seconds(10)).exitCode == 0) {
      return true;
    }
    const int fd = open(TOVRIN_LOOPBACK_LOCK, O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
      flock(fd, LOCK_EX);  // held until the process ends
    }
    return false;
  }();
  return isolated;
}

// A private network for one end-to-end test.
//
// As root, the lab is a pair of network namespaces made for the test alone:
// a host namespace (192.168.124.10/24, with a default route so that the
// limited broadcast can be sent) and a drive namespace (192.168.124.120/24
// and any further addresses asked for), joined by a veth pair. Nothing a
// test sends leaves the lab, and labs of tests that run side by side never
// see each other.
//
// Without root the lab falls back to loopback: the drive at 127.0.0.2, the
// commands run as they are, and a file lock makes such tests take turns,
// since they all share port 8995 of 127.0.0.1. Broadcast tests need the
// namespaces and skip without them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct NetLab {
  NetLab() = default;
  ~NetLab();
  NetLab(const NetLab&) = delete;
  NetLab& operator=(const NetLab&) = delete;

  bool isolated = false;  // namespaces (true) or shared loopback
  std::string hostNs;     // empty when not isolated
  std::string driveNs;
  std::string hostIp;                      // "192.168.124.10" or "127.0.0.1"
  std::string driveIp;                     // "192.168.124.120" or "127.0.0.2"
  std::vector<std::string> extraDriveIps;  // further addresses of the drive side
  int lockFd = -1;

  // argv as run on the host side, or on the drive side, of the lab.
  std::vector<std::string> inHost(const std::vector<std::string>& argv) const;
  std::vector<std::string> inDrive(const std::vector<std::string>& argv) const;
};

struct NetLabOptions {
  int extraDriveAddresses = 0;    // 192.168.124.130 on (127.0.0.3 on in fallback)
  bool requireIsolation = false;  // throw instead of falling back
};

// True when this process may make network namespaces.
bool canMakeNamespaces();

std::unique_ptr<NetLab> makeNetLab(const NetLabOptions& options = {});

// Moves the calling test process into a network namespace of its own with
// only loopback up (as root), so in-process socket tests can bind port 8995
// of 127.0.0.1 while other tests run. Without root it takes the loopback
// lock instead, for the rest of the process. True when isolated.
bool enterPrivateNetwork();

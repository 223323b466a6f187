// A private network for one end-to-end test.
//
// As root, the lab is a set of network namespaces made for the test alone:
// a host namespace (the PC the loader runs on, 192.168.124.10/24 on its
// adapter lan0) and a drive namespace (192.168.124.120/24 and any further
// addresses asked for), joined by a veth pair. Its shape says how the host's
// network looks (see LabShape): the routes of an office PC (unless asked
// otherwise), of a PC cabled straight to a machine, a second adapter, or no
// adapter at all. Nothing a
// test sends leaves the lab, labs of tests that run side by side never see
// each other (namespace names carry the process id and a counter), and the
// lab's namespaces are removed with it.
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

enum class LabShape : std::uint8_t {
  // An office PC: the default route goes via a gateway, 192.168.124.1 (no
  // such host is in the lab).
  gatewayRoute,
  // A PC cabled straight to the machine: no default route at all.
  noDefaultRoute,
  // Two LANs: lan0 to the drive's LAN (no default route there) and lan2,
  // 10.20.30.10/24, to a second LAN with a second drive namespace
  // (10.20.30.120/24); the default route goes via 10.20.30.1 on lan2.
  twoLans,
  // Two adapters on the drive's LAN: lan0 (192.168.124.10) and lan2
  // (192.168.124.11), bridged on the drive's side; the default route goes via
  // 192.168.124.1 on lan0.
  twoAdaptersOneLan,
  // A host with loopback only, and no drive side.
  loopbackOnly,
};

struct NetLab {
  NetLab() = default;
  ~NetLab();
  NetLab(const NetLab&) = delete;
  NetLab& operator=(const NetLab&) = delete;

  bool isolated = false;                   // namespaces (true) or shared loopback
  std::string hostNs;                      // empty when not isolated
  bool ownsHostNs = true;                  // false: hostNs was there before the lab and stays
  std::string driveNs;                     // empty when not isolated, or with loopback only
  std::string hostIp;                      // "192.168.124.10" or "127.0.0.1"
  std::string driveIp;                     // "192.168.124.120" or "127.0.0.2"
  std::vector<std::string> extraDriveIps;  // further addresses of the drive side
  // The host's second adapter (twoLans, twoAdaptersOneLan), and with twoLans
  // the second LAN's drive namespace and address; empty otherwise.
  std::string secondHostIp;
  std::string secondDriveNs;
  std::string secondDriveIp;
  int lockFd = -1;

  // argv as run on the host side, the drive side, or the second LAN's drive
  // side of the lab.
  std::vector<std::string> inHost(const std::vector<std::string>& argv) const;
  std::vector<std::string> inDrive(const std::vector<std::string>& argv) const;
  std::vector<std::string> inSecondDrive(const std::vector<std::string>& argv) const;
};

struct NetLabOptions {
  int extraDriveAddresses = 0;    // 192.168.124.130 on (127.0.0.3 on in fallback)
  bool requireIsolation = false;  // throw instead of falling back
  LabShape shape = LabShape::gatewayRoute;
  // An existing namespace to be the host side (for one that a sandbox made
  // around the program under test); it is left in place when the lab goes.
  std::string hostNamespace = {};
};

// True when this process may make network namespaces.
bool canMakeNamespaces();

std::unique_ptr<NetLab> makeNetLab(const NetLabOptions& options = {});

// Moves the calling test process into a network namespace of its own with
// only loopback up (as root), so in-process socket tests can bind port 8995
// of 127.0.0.1 while other tests run. Without root it takes the loopback
// lock instead, for the rest of the process. True when isolated.
bool enterPrivateNetwork();

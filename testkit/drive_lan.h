// Simulated drives on a private LAN, for the end-to-end tests that run the
// built loader against them: a NetLab whose drive side holds the drives'
// addresses (one simulated drive process serves them all) and one spare
// address that no drive holds, a scratch folder with the test's firmware
// file, and the loader's command in the lab's host side.
//
// In the words of a command line (the loader's or the drives'), D0, D1, ...
// stand for the drives' addresses, DRIVES for all of them as one list, SPARE
// for the spare address, HOST for the PC's address on the drives' LAN, and
// fw.bin and rec.jsonl for files of the scratch folder.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "testkit/expected.h"
#include "testkit/netlab.h"
#include "testkit/process.h"

struct DriveLanOptions {
  std::size_t drives = 1;
  std::string driveArgs = {};  // further options of the simulated drives
  std::string firmware = {};   // the bytes of fw.bin
  NetLabOptions lab = {};      // its extraDriveAddresses are the lan's to set
  // With LabShape::twoLans: one drive more, on the second LAN (the last
  // address), served by a simulated drive of its own with the same options
  // and secondLanArgs.
  bool driveOnSecondLan = false;
  std::string secondLanArgs = {};
  bool startDrives = true;  // false: the test calls startDrives()
};

class DriveLan {
 public:
  explicit DriveLan(DriveLanOptions options);
  ~DriveLan();
  DriveLan(const DriveLan&) = delete;
  DriveLan& operator=(const DriveLan&) = delete;

  // Starts the simulated drives; true when they are ready (a failure is
  // reported to the test, with what the drives said).
  bool startDrives();
  // The words of text, with the stand-ins replaced.
  std::vector<std::string> argv(const std::string& text) const;
  // The first count addresses as one list (all without count).
  std::string list(std::size_t count = 0) const;
  // The loader's command with args, as run in the host side; before goes
  // in front of it there (a wrapper such as prlimit or sh -c).
  std::vector<std::string> loader(const std::string& args,
                                  const std::vector<std::string>& before = {}) const;
  ProcessResult run(const std::string& args,
                    std::chrono::milliseconds timeout = std::chrono::seconds(90)) const;
  // What the drive at place i holds after programming.
  std::string image(std::size_t i = 0) const;
  // Ends the simulated drives; their logs (with --timestamps).
  std::string stopDrives();
  // What each drive took in, by address; ends the simulated drives.
  std::map<std::string, std::vector<TakenCommand>> taken();

  DriveLanOptions options;
  ScratchDir dir;
  std::unique_ptr<NetLab> lab;
  std::vector<std::string> addresses;
  std::string spare;
  bool ready = false;

 private:
  std::vector<BackgroundProcess> sims_;
};

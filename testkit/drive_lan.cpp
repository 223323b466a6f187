#include "testkit/drive_lan.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

// The lab for a drive LAN: an address for each drive after the first, and
// the spare.
std::unique_ptr<NetLab> labFor(const DriveLanOptions& options) {
  NetLabOptions labOptions = options.lab;
  labOptions.extraDriveAddresses = static_cast<int>(options.drives);
  return makeNetLab(labOptions);
}

}  // namespace

DriveLan::DriveLan(DriveLanOptions lanOptions)
    : options(std::move(lanOptions)), lab(labFor(options)) {
  addresses.push_back(lab->driveIp);
  for (std::size_t i = 0; i + 1 < options.drives; ++i) {
    addresses.push_back(lab->extraDriveIps.at(i));
  }
  spare = lab->extraDriveIps.at(options.drives - 1);
  if (options.driveOnSecondLan) {
    addresses.push_back(lab->secondDriveIp);
  }
  writeFile(dir.file("fw.bin"), options.firmware);
  if (options.startDrives) {
    startDrives();
  }
}

DriveLan::~DriveLan() { stopDrives(); }

bool DriveLan::startDrives() {
  // The addresses come first: options after a --drive are that drive's.
  const auto command = [&](const std::string& ip) {
    return argv(drivesimPath() + " --ip " + ip + " --idle-timeout 120 --timestamps --image-out " +
                dir.file("%a.bin") + " " + options.driveArgs);
  };
  sims_.push_back(startProcess(lab->inDrive(command(list(options.drives)))));
  if (options.driveOnSecondLan) {
    sims_.push_back(
        startProcess(lab->inSecondDrive(command(addresses.back() + " " + options.secondLanArgs))));
  }
  ready = true;
  for (const BackgroundProcess& sim : sims_) {
    if (!waitForOutput(sim, "ready", std::chrono::seconds(10))) {
      ready = false;
      ADD_FAILURE() << "drivesim did not start: " << readFile(sim.outPath) << readFile(sim.errPath);
    }
  }
  return ready;
}

std::vector<std::string> DriveLan::argv(const std::string& text) const {
  std::vector<std::string> out;
  for (const std::string& word : words(text)) {
    if (word.size() == 2 && word[0] == 'D' && word[1] >= '0' && word[1] <= '9') {
      out.push_back(addresses.at(static_cast<std::size_t>(word[1] - '0')));
    } else if (word == "DRIVES" || word == "SPARE" || word == "HOST") {
      out.push_back(word == "DRIVES" ? list() : word == "SPARE" ? spare : lab->hostIp);
    } else {
      out.push_back(word == "fw.bin" || word == "rec.jsonl" ? dir.file(word) : word);
    }
  }
  return out;
}

std::string DriveLan::list(std::size_t count) const {
  std::string out;
  for (std::size_t i = 0; i < (count == 0 ? addresses.size() : count); ++i) {
    out += (i == 0 ? "" : ",") + addresses.at(i);
  }
  return out;
}

std::vector<std::string> DriveLan::loader(const std::string& args,
                                          const std::vector<std::string>& before) const {
  std::vector<std::string> command = before;
  const std::vector<std::string> tovrin = tovrinCommand();
  const std::vector<std::string> rest = argv(args);
  command.insert(command.end(), tovrin.begin(), tovrin.end());
  command.insert(command.end(), rest.begin(), rest.end());
  return lab->inHost(command);
}

ProcessResult DriveLan::run(const std::string& args, std::chrono::milliseconds timeout) const {
  return runProcess(loader(args), timeout);
}

std::string DriveLan::image(std::size_t i) const {
  return readFile(dir.file(addresses.at(i) + ".bin"));
}

std::string DriveLan::stopDrives() {
  std::string logs;
  for (BackgroundProcess& sim : sims_) {
    const ProcessResult r = stopProcess(sim, std::chrono::seconds(0));
    EXPECT_EQ(r.err, "") << "the simulated drive's errors";
    logs += r.out;
  }
  sims_.clear();
  return logs;
}

std::map<std::string, std::vector<TakenCommand>> DriveLan::taken() {
  return takenCommands(stopDrives());
}

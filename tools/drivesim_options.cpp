#include "tools/drivesim_options.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "image/image.h"
#include "tools/drivesim_values.h"

namespace {

// The identity of the n-th simulated drive: serial number 123456 + n, MAC
// 02:00:00:12:34:ab + n (in its last two bytes), the rest alike.
IdentityBytes defaultIdentity(std::size_t n) {
  UnitIdentity id;
  id.monitorRevision = 5;
  id.buildNumber = 1234;
  id.currentCapability = 10.0f;
  id.busSensorResolution = 16.5f;
  id.currentSensorResolution = 204.8f;
  id.serialNumber = static_cast<std::int32_t>(123456 + n);
  id.manufacturingCode = 42;
  id.hardwareRevision = {'1', '0', '2', ' '};
  id.modelCode = {'K', 'V', '7', ' '};
  const std::string vin = "KV720SIM0001";
  std::copy(vin.begin(), vin.end(), id.vinNumber.begin());
  const auto macTail = static_cast<std::uint16_t>(0x34AB + n);
  id.macAddress = {0x02,
                   0x00,
                   0x00,
                   0x12,
                   static_cast<std::uint8_t>(macTail >> 8),
                   static_cast<std::uint8_t>(macTail)};
  id.checksum = 0x1F;
  return encodeIdentity(id);
}

// One option of a drive: applied to the settings of every drive it covers.
using DriveOption = std::function<void(DriveSettings&)>;

struct Group {
  std::vector<DriveAddress> addresses;
  std::vector<DriveOption> options;
};

}  // namespace

std::string imagePathFor(const std::string& pattern, DriveAddress address) {
  std::string path = pattern;
  for (std::size_t at = path.find("%a"); at != std::string::npos; at = path.find("%a", at)) {
    path.replace(at, 2, addressText(address));
  }
  return path;
}

SimSettings parseSimOptions(int argc, const char* const* argv) {
  SimSettings sim;
  // Group 0 holds the common options and the addresses of --ip.
  std::vector<Group> groups(1);
  std::vector<long> discoveryDelays;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string value;
    bool hasValue = false;
    const std::size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    const auto take = [&]() -> std::string {
      if (hasValue) {
        return value;
      }
      if (i + 1 >= argc) {
        throw OptionError(name + " needs a value");
      }
      return argv[++i];
    };
    const auto flag = [&]() {
      if (hasValue) {
        throw OptionError(name + " takes no value");
      }
    };
    const auto processWide = [&]() {
      if (groups.size() > 1) {
        throw OptionError(name + " is for the whole process: give it before the first --drive");
      }
    };
    const auto num = [&](long long low, long long high) { return number(name, take(), low, high); };
    auto& opts = groups.back().options;
    if (name == "--help" || name == "-h") {
      sim.help = true;
      return sim;
    } else if (name == "--ip") {
      processWide();
      const auto list = addressList(name, take());
      groups[0].addresses.insert(groups[0].addresses.end(), list.begin(), list.end());
    } else if (name == "--drive") {
      groups.push_back({addressList(name, take()), {}});
    } else if (name == "--discovery") {
      flag();
      processWide();
      sim.discovery = true;
    } else if (name == "--discovery-delays") {
      processWide();
      discoveryDelays.clear();
      for (const std::string& d : splitCommas(take())) {
        discoveryDelays.push_back(static_cast<long>(number(name, d, 0, 600000)));
      }
    } else if (name == "--idle-timeout") {
      processWide();
      sim.idleTimeoutS = static_cast<long>(num(0, 86400));
    } else if (name == "--quiet") {
      flag();
      processWide();
      sim.quiet = true;
    } else if (name == "--timestamps") {
      flag();
      processWide();
      sim.timestamps = true;
    } else if (name == "--discovery-reply") {
      auto bytes = hexBytes(name, take());
      if (bytes.size() > 1400) {
        throw OptionError(name + ": at most 1400 bytes");
      }
      opts.push_back([bytes](DriveSettings& d) { d.discoveryReply = bytes; });
    } else if (name == "--image-out") {
      const std::string path = take();
      if (path.empty()) {
        throw OptionError(name + " needs a file name");
      }
      opts.push_back([path](DriveSettings& d) { d.imageOut = path; });
    } else if (name == "--holds") {
      const std::string path = take();
      ImageLoad load = loadFirmwareImage(path.c_str());
      if (load.error != ImageError::none) {
        throw OptionError(name + ": can't take " + path + " as a firmware file");
      }
      const auto bytes = load.image.bytes();
      std::vector<std::uint8_t> held(bytes.begin(), bytes.end());
      opts.push_back([held](DriveSettings& d) { d.heldImage = held; });
    } else if (name == "--digest") {
      const auto digest = hexArray<DIGEST_SIZE>(name, take());
      opts.push_back([digest](DriveSettings& d) { d.digest = digest; });
    } else if (name == "--model") {
      const std::string model = take();
      if (model.size() != 3) {
        throw OptionError("--model takes three characters, as the identity shows them");
      }
      opts.push_back([model](DriveSettings& d) { d.model = model; });
    } else if (name == "--hardware-revision") {
      const std::string revision = take();
      if (revision.size() != 4 || revision[1] != '.') {
        throw OptionError("--hardware-revision takes a revision as the identity shows it: 1.02");
      }
      opts.push_back([revision](DriveSettings& d) { d.hardwareRevision = revision; });
    } else if (name == "--identity-hex") {
      const auto identity = hexArray<UNIT_IDENTITY_SIZE>(name, take());
      opts.push_back([identity](DriveSettings& d) {
        d.identity = identity;
        d.identityGiven = true;
      });
    } else {
      // The faults, each one a field of DriveFaults.
      using Set = std::function<void(DriveFaults&)>;
      Set set;
      if (name == "--fault-code") {
        const long v = static_cast<long>(num(0, 0xFFFF));
        set = [v](DriveFaults& f) { f.faultCode = v; };
      } else if (name == "--answer-on") {
        const long v = static_cast<long>(num(1, 1000000));
        set = [v](DriveFaults& f) { f.answerOn = v; };
      } else if (name == "--silent-after-block") {
        const long long v = num(0, 0x7FFFFFFF);
        set = [v](DriveFaults& f) { f.silentAfterBlock = v; };
      } else if (name == "--silent-from-block") {
        const long long v = num(0, 0x7FFFFFFF);
        set = [v](DriveFaults& f) { f.silentFromBlock = v; };
      } else if (name == "--silent") {
        flag();
        set = [](DriveFaults& f) { f.silent = true; };
      } else if (name == "--no-digest") {
        flag();
        set = [](DriveFaults& f) { f.noDigest = true; };
      } else if (name == "--status") {
        const long v = static_cast<long>(num(0, 255));
        set = [v](DriveFaults& f) { f.status = v; };
      } else if (name == "--wrong-code") {
        const long v = static_cast<long>(num(0, 0xFFFF));
        set = [v](DriveFaults& f) { f.wrongCode = v; };
      } else if (name == "--delay-ms") {
        const long v = static_cast<long>(num(0, 600000));
        set = [v](DriveFaults& f) { f.delayMs = v; };
      } else if (name == "--jitter-ms") {
        const long v = static_cast<long>(num(0, 600000));
        set = [v](DriveFaults& f) { f.jitterMs = v; };
      } else if (name == "--seed") {
        const auto v = static_cast<unsigned long>(num(0, 0xFFFFFFFF));
        set = [v](DriveFaults& f) { f.seed = v; };
      } else if (name == "--twice") {
        flag();
        set = [](DriveFaults& f) { f.twice = true; };
      } else if (name == "--twice-gap-ms") {
        const long v = static_cast<long>(num(0, 600000));
        set = [v](DriveFaults& f) {
          f.twice = true;
          f.twiceGapMs = v;
        };
      } else if (name == "--stray-from") {
        const std::optional<DriveAddress> from = DriveAddress::parse(take());
        if (!from) {
          throw OptionError(name + " wants an IPv4 address");
        }
        set = [from = *from](DriveFaults& f) {
          f.stray = true;
          f.strayFrom = from;
        };
      } else if (name == "--answer-from") {
        const std::optional<DriveAddress> from = DriveAddress::parse(take());
        if (!from) {
          throw OptionError(name + " wants an IPv4 address");
        }
        set = [from = *from](DriveFaults& f) {
          f.answerElsewhere = true;
          f.answerFrom = from;
        };
      } else if (name == "--drop-in") {
        auto rules = dropRules(name, take());
        set = [rules](DriveFaults& f) {
          f.dropIn.insert(f.dropIn.end(), rules.begin(), rules.end());
        };
      } else if (name == "--drop-out") {
        auto rules = dropRules(name, take());
        set = [rules](DriveFaults& f) {
          f.dropOut.insert(f.dropOut.end(), rules.begin(), rules.end());
        };
      } else {
        throw OptionError("unknown option '" + std::string(argv[i]) + "'");
      }
      opts.push_back([set](DriveSettings& d) { set(d.faults); });
    }
  }

  // Every address once, with the common options and then its group's.
  std::map<DriveAddress, std::size_t> index;
  for (const Group& g : groups) {
    for (const DriveAddress a : g.addresses) {
      if (index.emplace(a, sim.drives.size()).second) {
        DriveSettings d;
        d.address = a;
        for (const auto& apply : groups[0].options) {
          apply(d);
        }
        sim.drives.push_back(d);
      }
    }
  }
  if (sim.drives.empty()) {
    throw OptionError("--ip or --drive is required");
  }
  if (sim.drives.size() > MAX_DRIVES) {
    throw OptionError("at most " + std::to_string(MAX_DRIVES) + " addresses");
  }
  for (std::size_t g = 1; g < groups.size(); ++g) {
    for (const DriveAddress a : groups[g].addresses) {
      for (const auto& apply : groups[g].options) {
        apply(sim.drives[index[a]]);
      }
    }
  }
  std::set<std::string> imageFiles;
  for (std::size_t n = 0; n < sim.drives.size(); ++n) {
    DriveSettings& d = sim.drives[n];
    if (!d.identityGiven) {
      d.identity = defaultIdentity(n);
    }
    if (!d.model.empty() || !d.hardwareRevision.empty()) {
      UnitIdentity id = decodeIdentity(d.identity);
      if (!d.model.empty()) {
        std::copy(d.model.begin(), d.model.end(), id.modelCode.begin());
      }
      if (!d.hardwareRevision.empty()) {
        id.hardwareRevision[0] = static_cast<std::uint8_t>(d.hardwareRevision[0]);
        id.hardwareRevision[1] = static_cast<std::uint8_t>(d.hardwareRevision[2]);
        id.hardwareRevision[2] = static_cast<std::uint8_t>(d.hardwareRevision[3]);
      }
      d.identity = encodeIdentity(id);
    }
    d.discoveryDelayMs = n < discoveryDelays.size() ? discoveryDelays[n] : 0;
    if (!d.imageOut.empty() && !imageFiles.insert(imagePathFor(d.imageOut, d.address)).second) {
      throw OptionError("--image-out: drives would share the file " +
                        imagePathFor(d.imageOut, d.address) + "; put %a in its name");
    }
  }
  return sim;
}

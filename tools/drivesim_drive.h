// One simulated drive: the boot monitor behind one address. It takes in
// command datagrams, keeps the image it is programmed with, and says which
// answers go out and how late; the caller owns the socket and the clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/drivesim_faults.h"
#include "tools/drivesim_image.h"
#include "tools/drivesim_log.h"
#include "tools/drivesim_options.h"

// An answer to send delayMs after the command came in.
struct Outgoing {
  long delayMs = 0;
  std::vector<std::uint8_t> bytes;
  bool fromElsewhere = false;  // from --answer-from, not the drive's address
};

struct Reaction {
  std::vector<Outgoing> answers;
  bool stray = false;  // meet the command with a stray datagram instead
};

class Drive {
 public:
  Drive(const DriveSettings& settings, const SimLog& log);

  // A datagram that came to the drive's address from src ("a.b.c.d:port").
  Reaction onDatagram(const std::uint8_t* data, std::size_t size, const std::string& src);

  // Writes the image held to the drive's --image-out file, if it has one.
  void writeImage() const;

  DriveAddress address() const { return settings_.address; }
  const DriveSettings& settings() const { return settings_; }

 private:
  void store(const Command& c);
  std::vector<std::uint8_t> answerTo(const Command& c, bool faulty) const;

  DriveSettings settings_;
  std::string name_;  // the address, dotted
  std::string imagePath_;
  const SimLog& log_;
  FaultState faults_;
  ImageStore image_;
};

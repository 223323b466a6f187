#include "cli/reporter.h"

#include "protocol/value_text.h"
#include "session/drive_text.h"

namespace {

// A mark follows every MARK_EVERY-th block, the first one included, and a
// partial last block.
constexpr std::size_t MARK_EVERY = 16;

const char* stageLabel(Stage stage) {
  switch (stage) {
    case Stage::connection:
      return "\nEstablishing connection with selected device :\t";
    case Stage::monitorPause:
      return "\nEnter Monitor State :\t\t";
    case Stage::programming:
      return "\nProgramming Firmware :\t\t";
    case Stage::verify:
      return "\nVerifing Firmware :\t\t";
    case Stage::reboot:
      return "\nReboot :\t\t\t";
    case Stage::identityProbe:
    case Stage::monitor:
      break;
  }
  return "";
}

// What a failure line calls the exchange that failed.
const char* exchangeName(Stage stage) {
  switch (stage) {
    case Stage::identityProbe:
    case Stage::monitorPause:
    case Stage::monitor:
      return "monitor state";
    case Stage::connection:
      return "connection";
    case Stage::programming:
      return "block";
    case Stage::verify:
      return "verify";
    case Stage::reboot:
      return "reboot";
  }
  return "";
}

}  // namespace

void ConsoleReporter::clearCount() {
  if (countShown_) {
    out_.write("\b\b\b\b");
    countShown_ = false;
  }
}

void ConsoleReporter::writeDigest(const Digest& digest) { out_.write(md5Text(digest)); }

void ConsoleReporter::writeAddress(DriveAddress address) { out_.write(addressText(address)); }

// The exchange a failure happened in: "connection", "block 12 of 40", ...
void ConsoleReporter::writeExchange(const Failure& failure) {
  out_.write(exchangeName(failure.stage));
  if (failure.block) {
    out_.format(" %lu of %lu", static_cast<unsigned long>(*failure.block + 1),
                static_cast<unsigned long>((imageSize_ + BLOCK_SIZE - 1) / BLOCK_SIZE));
  }
}

void ConsoleReporter::imageLoaded(const FirmwareImage& image) {
  imageSize_ = image.size;
  out_.write("File Firmware MD5  : \t");
  writeDigest(image.digest);
  // The size shown is the length field: the rounded size less 20.
  out_.format("\nFile Firmware Size : \t%d", static_cast<int>(imageSize_ - 20));
  if (releases_.file != nullptr) {
    out_.write("\nFile Firmware Release : \t" + releases_.file->manifest.version);
  }
}

void ConsoleReporter::imageFailed(ImageError error, const char* path) {
  const char* shown = path != nullptr ? path : "(null)";
  switch (error) {
    case ImageError::cantOpen:
    case ImageError::cantRead:
      out_.write(error == ImageError::cantOpen ? "\nERROR: Can't open file "
                                               : "\nERROR: Can't read file ");
      out_.write(shown);
      out_.write("\r\n");
      break;
    case ImageError::empty:
      out_.write("\nERROR: File is empty. Nothing to load.\r\n");
      break;
    case ImageError::tooSmall:
      out_.write("\nERROR: File is too small for a firmware header.\r\n");
      break;
    case ImageError::tooLarge:
      out_.write("\nERROR: File is too large for the loader.\r\n");
      break;
    case ImageError::none:
      break;
  }
}

void ConsoleReporter::linkFailed(LinkError error) {
  switch (error) {
    case LinkError::socketFailed:
      out_.write("\nERROR: server socket failed");
      break;
    case LinkError::optionFailed:
      out_.write("\nERROR: server setsockopt failed");
      break;
    case LinkError::hostAddressFailed:
      out_.write("\nERROR: host address lookup failed");
      break;
    case LinkError::bindFailed:
      out_.write("\nERROR: udpSocket bind failed");
      out_.write(
          "\nERROR: Another program (another loader?) holds UDP port 8995; close it and try again");
      break;
    case LinkError::none:
      break;
  }
}

void ConsoleReporter::stageStarted(DriveAddress /*drive*/, Stage stage) {
  clearCount();
  out_.write(stageLabel(stage));
}

void ConsoleReporter::stageCompleted(DriveAddress /*drive*/, Stage stage) {
  clearCount();
  if (stage == Stage::connection) {
    out_.write("\n");
  } else if (stage == Stage::monitorPause || stage == Stage::verify) {
    out_.write("DONE");
  }
}

void ConsoleReporter::countdown(DriveAddress /*drive*/, int count) {
  clearCount();
  out_.format("%4d", count);
  countShown_ = true;
}

void ConsoleReporter::sendFailed(DriveAddress /*drive*/) {
  clearCount();
  out_.write("ERROR: server sendto failed\n");
}

void ConsoleReporter::blockConfirmed(DriveAddress /*drive*/, std::size_t index, std::size_t count) {
  const bool partialLast = index + 1 == count && imageSize_ % BLOCK_SIZE != 0;
  if (index % MARK_EVERY == 0 || partialLast) {
    out_.write("|");
  }
}

void ConsoleReporter::identityReceived(DriveAddress /*drive*/, const UnitIdentity& id) {
  clearCount();
  identity_ = id;
  const auto& mac = id.macAddress;
  out_.write("\n\n\t----- Unit Identity -----");
  out_.format("\nMonitor Revision              %d", static_cast<int>(id.monitorRevision));
  out_.format("\nBuild Number                  %d", static_cast<int>(id.buildNumber));
  out_.format("\nDrive Current Capability      %.2f Amp",
              static_cast<double>(id.currentCapability));
  out_.format("\nBus Sensor Resolution         %.2f Counts/V",
              static_cast<double>(id.busSensorResolution));
  out_.format("\nCurrent Sensor Resolution     %.2f Counts/Amp",
              static_cast<double>(id.currentSensorResolution));
  out_.format("\nSerial Number                 %d", static_cast<int>(id.serialNumber));
  out_.format("\nManufacturing Code            %d", static_cast<int>(id.manufacturingCode));
  out_.format("\nHardware Revision             %c.%c%c", id.hardwareRevision[0],
              id.hardwareRevision[1], id.hardwareRevision[2]);
  out_.format("\nModel Code                    %c%c%c", id.modelCode[0], id.modelCode[1],
              id.modelCode[2]);
  // The precision stops the text at the field's end when no zero byte ends
  // it earlier.
  out_.format("\nVin Number                    %.*s", static_cast<int>(id.vinNumber.size()),
              reinterpret_cast<const char*>(id.vinNumber.data()));
  out_.format("\nMac Address                   %02x %02x %02x %02x %02x %02x",
              static_cast<unsigned>(mac[0]), static_cast<unsigned>(mac[1]),
              static_cast<unsigned>(mac[2]), static_cast<unsigned>(mac[3]),
              static_cast<unsigned>(mac[4]), static_cast<unsigned>(mac[5]));
  out_.format("\nChecksum                      %04lx", static_cast<unsigned long>(id.checksum));
  out_.write("\n\t-------------------------\n");
}

void ConsoleReporter::digestVerdict(DriveAddress /*drive*/, const Digest& fileDigest,
                                    const Digest& driveDigest, bool equal) {
  out_.write("\nDrive Firmware MD5 : ");
  writeDigest(driveDigest);
  out_.write("\nFile  Firmware MD5 : ");
  writeDigest(fileDigest);
  out_.write(
      equal ? "\nFile Firmware matches with Drive Firmware - Verifyed Successfully"
            : "\nFile Firmware in the DOES NOT match with Drive Firmware - Verification Failed");
  if (releases_.catalog != nullptr) {
    out_.write("\nDrive Firmware Release : " + versionText(releases_.releaseOf(driveDigest)));
  }
}

void ConsoleReporter::digestReceived(DriveAddress /*drive*/, const Digest& driveDigest) {
  driveDigest_ = driveDigest;
  if (mode_ == RunMode::plan) {
    out_.write("\nDrive Firmware MD5 : ");
    writeDigest(driveDigest);
  }
  if (mode_ != RunMode::program && releases_.catalog != nullptr) {
    out_.write("\nDrive Firmware Release : " + versionText(releases_.releaseOf(driveDigest)));
  }
}

// The drive as far as this console saw it, for the words the table and the
// records use too (session/drive_text.h).
DriveState ConsoleReporter::seen() const {
  DriveState drive;
  drive.identity = identity_;
  drive.driveDigest = driveDigest_;
  drive.withheld = refusal_;
  drive.fileRelease = releases_.file;
  drive.driveRelease = driveDigest_ ? releases_.releaseOf(*driveDigest_) : nullptr;
  return drive;
}

// Why the catalog refuses the drive the release, with what the release
// allows.
std::string ConsoleReporter::refusalText() const {
  if (incompatible(*refusal_)) {
    return "Incompatible drive, not programmed: " + withheldText(seen());
  }
  return "Newer release on the drive, not programmed: " + withheldText(seen()) +
         "; --allow-older programs it";
}

// A programming run's line for a drive the catalog refuses; its reboot
// follows. A plan says it at its end.
void ConsoleReporter::withheld(DriveAddress /*drive*/, Refusal refusal) {
  refusal_ = refusal;
  if (mode_ == RunMode::program) {
    out_.write("\nERROR: " + refusalText());
  }
}

// -s: one line in place of the programming and verify lines.
void ConsoleReporter::alreadyCurrent(DriveAddress /*drive*/) {
  current_ = true;
  if (mode_ == RunMode::program) {
    out_.write("\nFirmware on the drive matches the file, verified by the drive; not programmed");
  }
}

void ConsoleReporter::failed(DriveAddress drive, const Failure& failure) {
  clearCount();
  switch (failure.reason) {
    case FailureReason::interrupted:
      out_.write("\nERROR: Interrupted during ");
      writeExchange(failure);
      break;
    case FailureReason::noAnswer:
    case FailureReason::refused:
      out_.write(failure.reason == FailureReason::noAnswer ? "\nERROR: No answer from the drive ("
                                                           : "\nERROR: The drive refused ");
      writeExchange(failure);
      if (failure.reason == FailureReason::noAnswer) {
        out_.write(")");
      } else {
        out_.format(" (status %u)", static_cast<unsigned>(failure.status));
      }
      break;
    case FailureReason::unreachable:
      out_.write("ERROR: server sendto failed\nERROR: ");
      writeAddress(drive);
      out_.write(" is not on a network this PC is attached to");
      break;
    case FailureReason::ownAddress:
      out_.write("\nERROR: ");
      writeAddress(drive);
      out_.write(" is an address of this PC, not of a drive");
      break;
    case FailureReason::notUnicast:
      out_.write("\nERROR: ");
      writeAddress(drive);
      out_.write(drive.isMulticast() ? " is a multicast address, not of a drive"
                                     : " is a reserved address, not of a drive");
      break;
    case FailureReason::noIdentity:
      out_.write("\nERROR: Drive did not report its identity");
      break;
    case FailureReason::noDigest:
      out_.write("\nERROR: Drive did not report its firmware digest");
      break;
  }
  // Whatever stopped it after the first block was sent.
  if (failure.imageIncomplete) {
    out_.write(": ");
    out_.write(PARTIAL_IMAGE_TEXT);
  }
}

void ConsoleReporter::finished(DriveAddress /*drive*/, SessionResult result) {
  clearCount();
  if (result == SessionResult::completed && mode_ == RunMode::program) {
    out_.write("DONE\n");
  }
  if (result == SessionResult::completed && mode_ == RunMode::plan) {
    writePlan();
  }
}

// -n: what the programming run would do to the drive.
void ConsoleReporter::writePlan() {
  if (refusal_) {
    out_.write("\nPlan: " + refusalText());
  } else if (current_) {
    out_.write("\nPlan: already current, not programmed");
  } else if (releases_.file != nullptr) {
    DriveState drive = seen();
    drive.result = DriveResult::wouldProgram;
    out_.write("\nPlan: program, " + firmwareText(drive));
  } else {
    out_.write("\nPlan: program");
  }
}

#include "testkit/expected.h"

#include <openssl/evp.h>

#include <cstdio>

#include "testkit/process.h"
#include "tovrin_version.h"

namespace {

std::string identityLine(const std::string& label, const std::string& value) {
  return "\n" + label + std::string(30 - label.size(), ' ') + value;
}

const std::string RULE(63, '-');

}  // namespace

const std::string BANNER = "\r\n" + RULE + "\r\n" + "KV720 Drive" + std::string(26, ' ') +
                           "(c) Tovrin Motion Controls" + "\r\n" + "Ethernet Firmware Loader" +
                           std::string(39 - std::string(TOVRIN_VERSION_LABEL).size(), ' ') +
                           TOVRIN_VERSION_LABEL + "\r\n" + RULE + "\r\n";
const std::string CONNECTING = "\nEstablishing connection with selected device :\t";
const std::string MONITOR = "\n\nEnter Monitor State :\t\tDONE";
const std::string PROGRAMMING = "\nProgramming Firmware :\t\t";
const std::string VERIFYING = "\nVerifing Firmware :\t\t";
const std::string REBOOT = "\nReboot :\t\t\t";
const std::string COUNTDOWN = "<countdown>";
const std::string IDENTITY =
    "\n\n\t----- Unit Identity -----" + identityLine("Monitor Revision", "5") +
    identityLine("Build Number", "1234") + identityLine("Drive Current Capability", "10.00 Amp") +
    identityLine("Bus Sensor Resolution", "16.50 Counts/V") +
    identityLine("Current Sensor Resolution", "204.80 Counts/Amp") +
    identityLine("Serial Number", "123456") + identityLine("Manufacturing Code", "42") +
    identityLine("Hardware Revision", "1.02") + identityLine("Model Code", "KV7") +
    identityLine("Vin Number", "KV720SIM0001") + identityLine("Mac Address", "02 00 00 12 34 ab") +
    identityLine("Checksum", "001f") + "\n\t-------------------------\n";

std::string hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (const unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

std::vector<std::uint8_t> fromHex(std::string text) {
  std::erase(text, ' ');
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string md5(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), nullptr);
  return {reinterpret_cast<const char*>(digest), size};
}

std::string sha256(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
  return {reinterpret_cast<const char*>(digest), size};
}

std::string sampleFile(std::size_t size, std::uint32_t seed) {
  std::string file(size, '\0');
  std::uint32_t x = seed;
  for (auto& c : file) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return file;
}

std::string expectedImage(const std::string& file) {
  std::string image = file;
  image.resize((file.size() + 3) / 4 * 4, '\0');
  const std::size_t length = image.size() - 20;
  for (std::size_t i = 0; i < 4; ++i) {
    image[16 + i] = '\0';
    image[20 + i] = static_cast<char>((length >> (24 - 8 * i)) & 0xFF);
  }
  image.replace(0, 16, md5(image.substr(20)));
  return image;
}

std::string fileLines(const std::string& image) {
  return "File Firmware MD5  : \t" + hex(image.substr(0, 16)) + "\nFile Firmware Size : \t" +
         std::to_string(image.size() - 20);
}

std::string verifyLines(const std::string& driveDigest, const std::string& fileDigest) {
  return "\nDrive Firmware MD5 : " + hex(driveDigest) +
         "\nFile  Firmware MD5 : " + hex(fileDigest) +
         (driveDigest == fileDigest
              ? "\nFile Firmware matches with Drive Firmware - Verifyed Successfully"
              : "\nFile Firmware in the DOES NOT match with Drive Firmware - Verification Failed");
}

std::string marks(std::size_t imageSize) {
  const std::size_t full = imageSize / 512;
  return std::string((full + 15) / 16 + (imageSize % 512 != 0 ? 1 : 0), '|');
}

int takeCountdown(std::string& out) {
  const std::string label = asConsoleBytes(CONNECTING);
  const std::size_t start = out.find(label);
  if (start == std::string::npos) {
    return 0;
  }
  const std::size_t from = start + label.size();
  std::size_t at = from;
  int counts = 0;
  char entry[16];
  while (counts < 1000) {
    std::snprintf(entry, sizeof entry, "%4d\b\b\b\b", 1000 - counts);
    if (out.compare(at, 8, entry) != 0) {
      break;
    }
    at += 8;
    ++counts;
  }
  if (counts == 0) {
    return -1;
  }
  out.replace(from, at - from, COUNTDOWN);
  return counts;
}

std::map<std::string, std::vector<TakenCommand>> takenCommands(const std::string& log) {
  std::map<std::string, std::vector<TakenCommand>> byDrive;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    const auto arrow = line.find(" -> ");
    const auto code = line.find(" code=");
    const auto at = line.rfind(" t=");
    if (!line.starts_with("rx ") || arrow == std::string::npos || code == std::string::npos ||
        at == std::string::npos || code < arrow) {
      continue;
    }
    byDrive[line.substr(arrow + 4, code - arrow - 4)].push_back(
        {std::stoi(line.substr(code + 6)), std::stod(line.substr(at + 3))});
  }
  return byDrive;
}

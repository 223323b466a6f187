// What the loader must print and what a drive must end up holding, written
// out independently of the product code, for the tests that run the built
// executables. OpenSSL's MD5 is the digest oracle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Console texts as the loader writes them (before any text-mode CR LF).
extern const std::string BANNER;
extern const std::string CONNECTING;   // label before the connection countdown
extern const std::string MONITOR;      // monitor stage, answered
extern const std::string PROGRAMMING;  // label before the block marks
extern const std::string VERIFYING;
extern const std::string REBOOT;
// The simulated drive's identity block, as printed.
extern const std::string IDENTITY;
// Stands for the connection countdown in an expected text; see takeCountdown.
extern const std::string COUNTDOWN;

// Lower-case hex of bytes.
std::string hex(const std::string& bytes);
// The bytes that hex text stands for; blanks between the pairs are skipped.
std::vector<std::uint8_t> fromHex(std::string text);
// MD5 of bytes (16 raw bytes), by OpenSSL.
std::string md5(const std::string& bytes);
// SHA-256 of bytes (32 raw bytes), by OpenSSL.
std::string sha256(const std::string& bytes);

// Deterministic sample file bytes (xorshift), no two nearby blocks alike.
std::string sampleFile(std::size_t size, std::uint32_t seed = 2463534242u);

// The image a drive must hold after programming file: the file rounded up to
// a multiple of 4 with zeros, its first 24 bytes replaced by the digest of
// bytes 20 onward, a zero word and the big-endian length N - 20.
std::string expectedImage(const std::string& file);

// The two lines the loader prints after loading a file whose image is image.
std::string fileLines(const std::string& image);
// The digest report and its verdict.
std::string verifyLines(const std::string& driveDigest, const std::string& fileDigest);
// The programming marks: one after blocks 0, 16, 32, ... and one after a
// partial last block.
std::string marks(std::size_t imageSize);

// Replaces the countdown after the connection label in out ("1000" and four
// backspaces, then " 999" and four backspaces, ...) by COUNTDOWN and returns
// how many counts it held: 0 without a connection label, -1 when the label
// has no count after it. out is in console bytes (see asConsoleBytes).
int takeCountdown(std::string& out);

// One datagram a simulated drive took in: its command code and when
// (seconds since the simulator started).
struct TakenCommand {
  int code = 0;
  double at = 0;
};
// The commands in a simulated drive's log (started with --timestamps), by
// the drive address that took them, in order.
std::map<std::string, std::vector<TakenCommand>> takenCommands(const std::string& log);

// The loader link: process-wide values shared by the front end, the session,
// discovery and the link threads, and the link's entry points.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/net.h"

// Which kind of run the session makes.
enum RunMode : std::uint8_t {
  MODE_PROGRAM = 0,   // program the firmware file (initial)
  MODE_IDENTITY = 1,  // -u: show the unit identity
  MODE_VERIFY = 2,    // -v: compare the file's digest with the drive's
};

// Settings written by the command line before any thread starts.
inline constexpr std::uint32_t DEFAULT_DRIVE_IP = 0xC0A87C78u;  // 192.168.124.120
extern std::uint32_t driveIp;                                   // host byte order
extern RunMode runMode;

// Shared between the main thread and the link threads (or the discovery
// collector). A store on one thread is seen by the other thread's next test.
extern std::atomic<NetSocket> udpSocket;  // 0 while no socket was opened
extern std::atomic<bool> ackReceived;     // any datagram arrived since cleared
extern std::atomic<bool> doneFlag;        // report done, or link shut down

// Sends one command datagram to driveIp:LOADER_PORT from udpSocket. The
// payload is length bytes of source from offset (source is not read when
// length is 0). Prints "ERROR: server sendto failed\n" and returns false
// when the send fails.
bool sendCommand(std::uint8_t code, std::uint32_t target, const std::uint8_t* source,
                 std::size_t offset, std::size_t length);

// Starts comthread, which opens udpSocket, binds it to the host's address on
// LOADER_PORT and starts rxthread. False when the thread can't be created.
bool startLink();

// Ends the link: sets doneFlag, stops rxthread, closes udpSocket. Harmless
// at any time and more than once; prints nothing when nothing runs.
void shutdownLink();

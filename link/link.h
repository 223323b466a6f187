// The loader link: process-wide values shared by the front end, the session,
// discovery and the link threads, and the link's entry points.
#pragma once

#include <atomic>
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

// Ends the link: sets doneFlag, stops rxthread, closes udpSocket. Harmless
// at any time and more than once; prints nothing when nothing runs.
void shutdownLink();

// The link's process-wide values.
#include "link/link.h"

std::uint32_t driveIp = DEFAULT_DRIVE_IP;
RunMode runMode = MODE_PROGRAM;

std::atomic<NetSocket> udpSocket{0};
std::atomic<bool> ackReceived{false};
std::atomic<bool> doneFlag{false};

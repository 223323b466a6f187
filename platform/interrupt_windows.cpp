// Windows backend of the interrupt watch: a console control handler for
// Ctrl+C, Ctrl+Break and the console window being closed, and a pair of
// loopback sockets: the handler sends one datagram, which makes the
// receiving socket readable for every select that watches it.
// winsock2.h brings windows.h with it, in the order Winsock needs.
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>

#include "platform/interrupt.h"

namespace {

// The exit code of a console process ended by Ctrl+C (STATUS_INTERRUPT_EXIT_CODE).
constexpr unsigned INTERRUPT_EXIT_CODE = 0xC000013Au;

// What the handler needs, since it can reach no object: how many requests
// came (it runs on a thread of its own), and where its datagram goes.
volatile LONG requests = 0;
SOCKET wakeSender = INVALID_SOCKET;
sockaddr_in wakeAddress{};

void wake() {
  if (wakeSender != INVALID_SOCKET) {
    const char byte = 1;
    sendto(wakeSender, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&wakeAddress),
           sizeof wakeAddress);
  }
}

BOOL WINAPI onConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (InterlockedIncrement(&requests) > 1) {
    // The second request: end at once.
    ExitProcess(INTERRUPT_EXIT_CODE);
  }
  wake();
  if (event == CTRL_CLOSE_EVENT) {
    // The system ends the process when this handler returns: hold it until
    // the run has recorded its drives and ended the process itself (it does
    // within a second; the system's own limit is longer).
    Sleep(INFINITE);
  }
  return TRUE;
}

SOCKET loopbackSocket() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    return s;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  requests = 0;
  library_ = NetLibrary::start();
  if (library_) {
    const SOCKET reader = loopbackSocket();
    const SOCKET sender = loopbackSocket();
    int length = sizeof wakeAddress;
    if (reader != INVALID_SOCKET && sender != INVALID_SOCKET &&
        getsockname(reader, reinterpret_cast<sockaddr*>(&wakeAddress), &length) == 0) {
      wakeRead_ = static_cast<NetSocket>(reader);
      wakeWrite_ = static_cast<NetSocket>(sender);
      wakeSender = sender;
    } else {
      if (reader != INVALID_SOCKET) {
        closesocket(reader);
      }
      if (sender != INVALID_SOCKET) {
        closesocket(sender);
      }
      library_.reset();
    }
  }
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(onConsoleControl, FALSE);
  wakeSender = INVALID_SOCKET;
  closeWake();
}

void InterruptWatch::closeWake() {
  if (wakeRead_ == NET_INVALID_SOCKET) {
    return;
  }
  closesocket(static_cast<SOCKET>(wakeRead_));
  closesocket(static_cast<SOCKET>(wakeWrite_));
  wakeRead_ = NET_INVALID_SOCKET;
  wakeWrite_ = NET_INVALID_SOCKET;
  library_.reset();  // after the sockets are closed
}

bool InterruptWatch::requested() const { return requests != 0; }

NetSocket InterruptWatch::wakeHandle() const { return wakeRead_; }

void InterruptWatch::request() {
  if (InterlockedCompareExchange(&requests, 1, 0) == 0) {
    wake();
  }
}

void InterruptWatch::endAsInterrupted() const {
  std::fflush(stdout);
  ExitProcess(INTERRUPT_EXIT_CODE);
}

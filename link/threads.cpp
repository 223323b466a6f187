// The link threads and the end of the link.
//
// comthread sets the link up and then waits for rxthread; rxthread receives
// and dispatches. Neither is ever killed from outside (a thread killed while
// it holds the console's lock would take the process down with it):
// shutdownLink asks them to stop, wakes the pending receive by shutting the
// socket down, joins them, and only then closes the socket, so no thread can
// receive on a closed handle, or on a new socket that got the same number.
//
// The ordering between shutdownLink and a set-up still under way rests on
// two sequentially consistent atomics: shutdownLink stores stopRequested and
// then loads udpSocket; comthread stores udpSocket and then loads
// stopRequested before it starts rxthread. At least one of them sees the
// other's store, so either rxthread is never started or its socket is shut
// down.
//
// A socket of discovery's, whose collector thread the link can't join, is
// only shut down.
//
// shutdownLink waits for comthread at most SHUTDOWN_WAIT_MS (its set-up may
// hang in a host name lookup). When it gives up, comthread is left to end by
// itself and to release the socket then; comState decides, by one
// compare-and-swap, which of the two releases it.
#include "link/threads.h"

#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

#include "link/dispatch.h"
#include "link/link.h"
#include "platform/net.h"
#include "platform/pause.h"
#include "protocol/loader.h"

namespace {

// A receive pending when the link ends returns at the latest after this
// long, where shutting a socket down does not wake it.
constexpr int RECEIVE_WAKE_MS = 50;
// After a failed receive, before the next one: a socket that fails at once
// (errored, unbound) must not spin the processor.
constexpr int FAILED_RECEIVE_PAUSE_MS = 1;
// How long shutdownLink waits for comthread to end.
constexpr int SHUTDOWN_WAIT_MS = 80;

enum ComState : int {
  COM_IDLE,             // no comthread, or it has been joined
  COM_RUNNING,          // started, not yet ended
  COM_ENDED,            // ended; shutdownLink joins it and releases the socket
  COM_ABANDONED,        // shutdownLink stopped waiting; comthread releases the socket
  COM_ABANDONED_ENDED,  // ... and has done so and ended
};

struct LinkThreads {
  std::thread com;  // touched by the main thread only (startLink, shutdownLink)
  std::thread rx;   // touched by comthread only
  std::atomic<int> comState{COM_IDLE};
  std::atomic<bool> stopRequested{false};
  // The udpSocket value last released; 0 when none. However many ends of
  // the link meet it (a second shutdownLink, an abandoned comthread), a
  // handle is closed once.
  std::atomic<NetSocket> releasedSocket{0};
};

// Never destroyed: the process ends through _Exit with the threads possibly
// still running, and a destroyed joinable std::thread would end it badly.
LinkThreads& linkThreads() {
  static LinkThreads* const threads = new LinkThreads;
  return *threads;
}

bool isOpen(NetSocket s) { return s != 0 && s != NET_INVALID_SOCKET; }

// Closes udpSocket and ends this use of the socket library, once per socket.
// udpSocket keeps its value. A value of 0 means no netStartup succeeded for
// it, so there is nothing to release.
void releaseSocket() {
  const NetSocket s = udpSocket;
  if (s == 0 || linkThreads().releasedSocket.exchange(s) == s) {
    return;
  }
  if (s != NET_INVALID_SOCKET) {
    netClose(s);
  }
  netCleanup();
}

void endComthread() {
  LinkThreads& t = linkThreads();
  int expected = COM_RUNNING;
  if (!t.comState.compare_exchange_strong(expected, COM_ENDED)) {
    releaseSocket();
    t.comState = COM_ABANDONED_ENDED;
  }
}

// The host's own address: the one the routing uses to reach the drive, else
// the first IPv4 address of the host's name.
bool chooseHostAddress(std::uint32_t* host) {
  return netSourceAddressFor(driveIp, host) || netHostNameAddress(host);
}

// Steps of comthread up to the start of rxthread. True when rxthread is to
// be started.
bool setUpLink() {
  const LinkThreads& t = linkThreads();
  if (!netStartup()) {
    return false;
  }
  std::uint32_t host = 0;
  if (!chooseHostAddress(&host)) {
    std::fputs("\nERROR: host address lookup failed", stdout);
    netCleanup();
    return false;
  }
  if (t.stopRequested) {  // the link ended before it had a socket
    netCleanup();
    return false;
  }
  const NetSocket s = netOpenUdp();
  udpSocket = s;
  if (s == NET_INVALID_SOCKET) {
    std::fputs("\nERROR: server socket failed", stdout);
    return false;
  }
  if (!netSetReuseAddress(s)) {
    std::fputs("\nERROR: server setsockopt failed", stdout);
    return false;
  }
  if (!netBind(s, host, LOADER_PORT)) {
    std::fputs("\nERROR: udpSocket bind failed", stdout);
    return false;
  }
  netSetReceiveTimeout(s, RECEIVE_WAKE_MS);  // a safeguard only; shutdown wakes it too
  return !t.stopRequested;
}

// Waits for comthread to end, at most SHUTDOWN_WAIT_MS. True when it has
// ended and may be joined; false when it is left running (it then releases
// the socket itself).
bool waitForComthread() {
  LinkThreads& t = linkThreads();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(SHUTDOWN_WAIT_MS);
  for (;;) {
    int state = t.comState;
    if (state == COM_ENDED || state == COM_ABANDONED_ENDED) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      if (state == COM_ABANDONED) {
        return false;
      }
      if (t.comState.compare_exchange_strong(state, COM_ABANDONED)) {
        return false;
      }
      continue;  // it ended just now
    }
    pauseMs(1);
  }
}

}  // namespace

void rxthread() {
  const LinkThreads& t = linkThreads();
  std::uint8_t area[MAX_PAYLOAD];
  while (!t.stopRequested) {
    std::size_t received = 0;
    const NetResult result =
        netReceiveFrom(udpSocket, area, sizeof area, &received, nullptr, nullptr);
    if (t.stopRequested) {
      return;
    }
    if (result == NetResult::ok) {
      dispatchResponse(area, received);
    } else if (result == NetResult::failed) {
      pauseMs(FAILED_RECEIVE_PAUSE_MS);
    }
  }
}

void comthread() {
  LinkThreads& t = linkThreads();
  if (setUpLink()) {
    try {
      t.rx = std::thread(rxthread);
    } catch (const std::system_error&) {
      std::fputs("\nERROR: CreateThread() failed", stdout);
    }
    if (t.rx.joinable()) {
      t.rx.join();
    }
  }
  endComthread();
}

bool resetLink() {
  LinkThreads& t = linkThreads();
  if (t.com.joinable()) {
    return false;
  }
  t.comState = COM_IDLE;
  t.stopRequested = false;
  t.releasedSocket = 0;
  udpSocket = 0;
  return true;
}

bool startLink() {
  LinkThreads& t = linkThreads();
  if (!resetLink()) {
    return false;  // one link at a time
  }
  t.comState = COM_RUNNING;
  try {
    t.com = std::thread(comthread);
  } catch (const std::system_error&) {
    t.comState = COM_IDLE;
    return false;
  }
  return true;
}

void shutdownLink() {
  LinkThreads& t = linkThreads();
  // doneFlag ends discovery's collector, which wakes from the shutdown
  // below; stopRequested ends the link threads. doneFlag alone can't serve
  // them: the digest report sets it while the link must go on receiving.
  doneFlag = true;
  t.stopRequested = true;
  const int state = t.comState;
  const NetSocket s = udpSocket;
  if (isOpen(s) && t.releasedSocket != s && state != COM_ABANDONED &&
      state != COM_ABANDONED_ENDED) {
    netShutdown(s);
  }
  if (t.com.joinable()) {
    if (!waitForComthread()) {
      return;
    }
    t.com.join();
    t.comState = COM_IDLE;
    releaseSocket();  // no thread of the link can use it any more
  } else if (s == NET_INVALID_SOCKET) {
    releaseSocket();  // a failed creation: only the socket library to let go
  }
  // A socket that discovery put in udpSocket stays open: its collector is not
  // the link's to join and may still be on its way out of the receive the
  // shutdown above woke, so closing the handle under it could hand the
  // number to a new file. The shutdown already ends every receive on it;
  // the end of the process closes it.
}

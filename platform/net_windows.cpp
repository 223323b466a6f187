// Windows Sockets backend of the socket layer.
//
// Winsock differs from the POSIX sockets in ways the loader meets, and they
// are all handled here so that the rest of the program sees one behaviour:
//
// - A datagram longer than the receive area is reported as the error
//   WSAEMSGSIZE, with the area filled; that is a normal receive of capacity
//   bytes.
// - After a datagram was sent to a host with no listener on the port, the
//   next receive may fail with WSAECONNRESET (the ICMP port-unreachable that
//   came back). That report is switched off on every socket
//   (SIO_UDP_CONNRESET); where it still comes, the receive fails and the
//   caller simply receives again.
// - A receive on a socket that has no local port yet fails at once on
//   Windows but blocks under Wine; here it always fails at once,
//   so a collector that receives before its first send does not wait or
//   spin (callers pause briefly after a failed receive).
// - A receive waits with select, for the time-out kept in the socket itself
//   (SO_RCVTIMEO, read back before each receive), so that a waiting receive
//   ends when the time is up whatever the system's own time-out does.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstring>

#include "platform/net.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

// Requested Winsock version: 1.1.
constexpr WORD WINSOCK_VERSION_1_1 = 0x0101;

SOCKET sockOf(NetSocket s) { return static_cast<SOCKET>(s); }

NetSocket handleOf(SOCKET s) { return static_cast<NetSocket>(s); }

sockaddr_in endpoint(std::uint32_t addr, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(addr);
  return sa;
}

bool setIntOption(NetSocket s, int level, int option, int value) {
  return setsockopt(sockOf(s), level, option, reinterpret_cast<const char*>(&value),
                    sizeof value) == 0;
}

// True when the socket has a local port (it was bound, or a send gave it
// one).
bool hasLocalPort(NetSocket s) {
  sockaddr_in mine{};
  int mineLen = sizeof mine;
  return getsockname(sockOf(s), reinterpret_cast<sockaddr*>(&mine), &mineLen) == 0 &&
         mine.sin_port != 0;
}

// The receive time-out kept in the socket; 0: wait without limit.
int receiveTimeoutMs(NetSocket s) {
  DWORD ms = 0;
  int size = sizeof ms;
  if (getsockopt(sockOf(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&ms), &size) != 0) {
    return 0;
  }
  return static_cast<int>(ms);
}

}  // namespace

std::optional<NetLibrary> NetLibrary::start() {
  WSADATA data{};
  if (WSAStartup(WINSOCK_VERSION_1_1, &data) != 0) {
    return std::nullopt;
  }
  return NetLibrary();
}

void NetLibrary::release() noexcept {
  if (held_) {
    held_ = false;
    WSACleanup();
  }
}

UdpSocket UdpSocket::open() {
  const SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (sock == INVALID_SOCKET) {
    return {};
  }
  const NetSocket s = handleOf(sock);
  if (s == 0 || s == NET_INVALID_SOCKET) {
    closesocket(sock);
    return {};
  }
  // No WSAECONNRESET on receives after a send to a port nobody listens on.
  // Where the system does not know the control, the receive handles the
  // error instead.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(sock, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
           nullptr);
  return UdpSocket(s);
}

bool UdpSocket::setReuseAddress() { return setIntOption(handle_, SOL_SOCKET, SO_REUSEADDR, 1); }

bool UdpSocket::setExclusiveAddress() {
  return setIntOption(handle_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
}

bool UdpSocket::setBroadcast() { return setIntOption(handle_, SOL_SOCKET, SO_BROADCAST, 1); }

bool UdpSocket::setReceiveTimeout(int ms) {
  const NetSocket s = handle_;
  const DWORD value = ms < 0 ? 0 : static_cast<DWORD>(ms);
  return ms >= 0 && setsockopt(sockOf(s), SOL_SOCKET, SO_RCVTIMEO,
                               reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool UdpSocket::setNonBlocking() {
  const NetSocket s = handle_;
  u_long on = 1;
  // The command's bit pattern, which the header's macro builds unsigned.
  constexpr auto NON_BLOCKING = static_cast<long>(FIONBIO);
  return ioctlsocket(sockOf(s), NON_BLOCKING, &on) == 0;
}

std::size_t UdpSocket::setSendBuffer(std::size_t bytes) {
  const NetSocket s = handle_;
  setIntOption(s, SOL_SOCKET, SO_SNDBUF, static_cast<int>(bytes < INT_MAX ? bytes : INT_MAX));
  int granted = 0;
  int size = sizeof granted;
  if (getsockopt(sockOf(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&granted), &size) != 0 ||
      granted < 0) {
    return 0;
  }
  return static_cast<std::size_t>(granted);
}

bool UdpSocket::bind(std::uint32_t addr, std::uint16_t port) {
  const sockaddr_in sa = endpoint(addr, port);
  return ::bind(sockOf(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

NetSend UdpSocket::send(std::span<const std::uint8_t> datagram, std::uint32_t addr,
                        std::uint16_t port, bool dontRoute) const {
  const NetSocket s = handle_;
  const std::uint8_t* data = datagram.data();
  const std::size_t size = datagram.size();
  if (size > INT_MAX) {
    return NetSend::failed;
  }
  const sockaddr_in sa = endpoint(addr, port);
  const int length = static_cast<int>(size);
  const int sent =
      sendto(sockOf(s), reinterpret_cast<const char*>(data), length, dontRoute ? MSG_DONTROUTE : 0,
             reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  if (sent == length) {
    return NetSend::sent;
  }
  const int error = sent == SOCKET_ERROR ? WSAGetLastError() : 0;
  if (error == WSAEWOULDBLOCK) {
    return NetSend::wouldBlock;
  }
  const bool never = error == WSAENETUNREACH || error == WSAEACCES || error == WSAEADDRNOTAVAIL;
  return never ? NetSend::unreachable : NetSend::failed;
}

// A negative time waits without limit, as poll() does on POSIX systems.
namespace {

NetResult waitReadable(NetSocket s, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(sockOf(s), &readable);
  timeval tv{};
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  const int n = select(0, &readable, nullptr, nullptr, timeoutMs >= 0 ? &tv : nullptr);
  if (n > 0) {
    return NetResult::ok;
  }
  return n == 0 ? NetResult::timedOut : NetResult::failed;
}

}  // namespace

NetResult UdpSocket::receive(std::span<std::uint8_t> into, std::size_t* received,
                             std::uint32_t* fromAddr, std::uint16_t* fromPort) const {
  const NetSocket s = handle_;
  std::uint8_t* buf = into.data();
  const std::size_t capacity = into.size();
  *received = 0;
  if (capacity > INT_MAX || !hasLocalPort(s)) {
    return NetResult::failed;
  }
  const int limit = receiveTimeoutMs(s);
  const NetResult ready = waitReadable(s, limit > 0 ? limit : -1);
  if (ready != NetResult::ok) {
    return ready;
  }
  sockaddr_in from{};
  int fromLen = sizeof from;
  const int area = static_cast<int>(capacity);
  int n = recvfrom(sockOf(s), reinterpret_cast<char*>(buf), area, 0,
                   reinterpret_cast<sockaddr*>(&from), &fromLen);
  if (n == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (error == WSAEMSGSIZE) {
      n = area;  // cut to the area: still a datagram received
    } else if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK) {
      return NetResult::timedOut;
    } else {
      return NetResult::failed;  // WSAECONNRESET among others
    }
  }
  if (fromLen < static_cast<int>(sizeof from) || from.sin_family != AF_INET) {
    return NetResult::failed;
  }
  *received = static_cast<std::size_t>(n);
  if (fromAddr != nullptr) {
    *fromAddr = ntohl(from.sin_addr.s_addr);
  }
  if (fromPort != nullptr) {
    *fromPort = ntohs(from.sin_port);
  }
  return NetResult::ok;
}

void UdpSocket::close() {
  if (isOpen()) {
    closesocket(sockOf(handle_));
    handle_ = NET_INVALID_SOCKET;
  }
}

bool netSourceAddressFor(std::uint32_t dest, std::uint32_t* local) {
  const SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (sock == INVALID_SOCKET) {
    return false;
  }
  // Connecting a datagram socket sends nothing; it only makes the system
  // choose the route and with it the local address.
  const sockaddr_in sa = endpoint(dest, 9);
  sockaddr_in mine{};
  int mineLen = sizeof mine;
  const bool found = connect(sock, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 &&
                     getsockname(sock, reinterpret_cast<sockaddr*>(&mine), &mineLen) == 0 &&
                     mine.sin_addr.s_addr != 0;
  closesocket(sock);
  if (found) {
    *local = ntohl(mine.sin_addr.s_addr);
  }
  return found;
}

bool netHostNameAddress(std::uint32_t* local) {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) {
    return false;
  }
  const hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
      host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr) {
    return false;
  }
  std::uint32_t addr = 0;
  std::memcpy(&addr, host->h_addr_list[0], sizeof addr);
  *local = ntohl(addr);
  return true;
}

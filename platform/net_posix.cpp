// POSIX backend of the socket layer (Linux and other Unix systems).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/net.h"

namespace {

int fdOf(NetSocket s) { return static_cast<int>(s); }

sockaddr_in endpoint(std::uint32_t addr, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(addr);
  return sa;
}

bool setIntOption(NetSocket s, int level, int option, int value) {
  return setsockopt(fdOf(s), level, option, &value, sizeof value) == 0;
}

}  // namespace

std::optional<NetLibrary> NetLibrary::start() { return NetLibrary(); }

void NetLibrary::release() noexcept { held_ = false; }

UdpSocket UdpSocket::open() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    return {};
  }
  // Handle 0 means "no socket" to the callers; with standard input closed
  // the system may hand out descriptor 0, so move it out of the way.
  if (fd < 3) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    if (moved < 0) {
      return {};
    }
    fd = moved;
  }
  return UdpSocket(fd);
}

bool UdpSocket::setReuseAddress() { return setIntOption(handle_, SOL_SOCKET, SO_REUSEADDR, 1); }

bool UdpSocket::setExclusiveAddress() { return isOpen(); }

bool UdpSocket::setBroadcast() { return setIntOption(handle_, SOL_SOCKET, SO_BROADCAST, 1); }

bool UdpSocket::setReceiveTimeout(int ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
  return setsockopt(fdOf(handle_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool UdpSocket::setNonBlocking() {
  const int flags = fcntl(fdOf(handle_), F_GETFL);
  return flags >= 0 && fcntl(fdOf(handle_), F_SETFL, flags | O_NONBLOCK) == 0;
}

std::size_t UdpSocket::setSendBuffer(std::size_t bytes) {
  const NetSocket s = handle_;
  const int asked = static_cast<int>(bytes < INT_MAX / 2 ? bytes : INT_MAX / 2);
#ifdef SO_SNDBUFFORCE
  // Beyond the system's limit where the process is allowed to; else within it.
  if (!setIntOption(s, SOL_SOCKET, SO_SNDBUFFORCE, asked)) {
    setIntOption(s, SOL_SOCKET, SO_SNDBUF, asked);
  }
#else
  setIntOption(s, SOL_SOCKET, SO_SNDBUF, asked);
#endif
  int granted = 0;
  socklen_t size = sizeof granted;
  if (getsockopt(fdOf(s), SOL_SOCKET, SO_SNDBUF, &granted, &size) != 0 || granted < 0) {
    return 0;
  }
  return static_cast<std::size_t>(granted);
}

bool UdpSocket::bind(std::uint32_t addr, std::uint16_t port) {
  const sockaddr_in sa = endpoint(addr, port);
  return ::bind(fdOf(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

NetSend UdpSocket::send(std::span<const std::uint8_t> datagram, std::uint32_t addr,
                        std::uint16_t port, bool dontRoute) const {
  const sockaddr_in sa = endpoint(addr, port);
  const int flags = MSG_NOSIGNAL | (dontRoute ? MSG_DONTROUTE : 0);
  ssize_t sent = 0;
  do {
    sent = sendto(fdOf(handle_), datagram.data(), datagram.size(), flags,
                  reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (sent < 0 && errno == EINTR);
  if (sent == static_cast<ssize_t>(datagram.size())) {
    return NetSend::sent;
  }
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    return NetSend::wouldBlock;
  }
  // No directly attached network holds the address (the do-not-route flag
  // keeps sends off gateways), it is a broadcast address, or the socket's
  // address can't reach it (bound to loopback for want of a route). A host
  // that does not answer address resolution (EHOSTUNREACH) may yet come up.
  const bool never = errno == ENETUNREACH || errno == EACCES || errno == EINVAL;
  return sent < 0 && never ? NetSend::unreachable : NetSend::failed;
}

NetResult UdpSocket::receive(std::span<std::uint8_t> area, std::size_t* received,
                             std::uint32_t* fromAddr, std::uint16_t* fromPort) const {
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  // A datagram longer than the area is cut by the system; that is a normal
  // receive of capacity bytes.
  const ssize_t n = recvfrom(fdOf(handle_), area.data(), area.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLen);
  if (n < 0) {
    *received = 0;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? NetResult::timedOut : NetResult::failed;
  }
  // Once the socket is shut down, a receive returns at once with no data and
  // no sender; that is the end of the socket, not an empty datagram.
  if (fromLen < sizeof from || from.sin_family != AF_INET) {
    *received = 0;
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
    ::close(fdOf(handle_));
    handle_ = NET_INVALID_SOCKET;
  }
}

bool netSourceAddressFor(std::uint32_t dest, std::uint32_t* local) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    return false;
  }
  // Connecting a datagram socket sends nothing; it only makes the system
  // choose the route and with it the local address.
  const sockaddr_in sa = endpoint(dest, 9);
  sockaddr_in mine{};
  socklen_t mineLen = sizeof mine;
  const bool found = connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &mineLen) == 0 &&
                     mine.sin_addr.s_addr != 0;
  close(fd);
  if (found) {
    *local = ntohl(mine.sin_addr.s_addr);
  }
  return found;
}

bool netHostNameAddress(std::uint32_t* local) {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) {
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) {
    return false;
  }
  std::uint32_t addr = 0;
  std::memcpy(&addr, &reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr,
              sizeof addr);
  freeaddrinfo(list);
  *local = ntohl(addr);
  return true;
}

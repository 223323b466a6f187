// IPv4 UDP sockets behind one small interface.
//
// Every socket call of the loader goes through this socket type and these
// procedures; one
// backend file per platform implements them (net_posix.cpp, net_windows.cpp)
// and turns the system's error codes into the few results below at the
// boundary. Addresses and ports are passed in host byte order: the first
// dotted component of an address is its most significant byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

// A socket handle. 0 means "no socket was opened"; NET_INVALID_SOCKET is
// what a failed creation leaves behind. A live socket is never 0.
using NetSocket = std::intptr_t;
inline constexpr NetSocket NET_INVALID_SOCKET = -1;

enum class NetResult : std::uint8_t {
  ok,        // the call did what was asked
  timedOut,  // a receive time-out ran out before a datagram came
  failed,    // any other failure (closed or unbound socket, network error)
};

// The system's socket library, held while the object lives: sockets are
// opened and used only while a library is held, and closed before it is
// released, so a holder is declared before the sockets it serves (members
// end in the reverse order). Moves, never copies: one holder releases it
// once. Holders may overlap; the library stays until the last one ends.
// Windows counts each start (WSAStartup) against one release (WSACleanup);
// on POSIX systems there is nothing to start or release.
class NetLibrary {
 public:
  // The library, or nothing when the system would not start it.
  static std::optional<NetLibrary> start();

  ~NetLibrary() { release(); }
  NetLibrary(NetLibrary&& other) noexcept : held_(std::exchange(other.held_, false)) {}
  NetLibrary& operator=(NetLibrary&& other) noexcept {
    if (this != &other) {
      release();
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  NetLibrary(const NetLibrary&) = delete;
  NetLibrary& operator=(const NetLibrary&) = delete;

 private:
  NetLibrary() = default;
  void release() noexcept;

  bool held_ = true;  // false once released or moved from
};

// How a send ended: sent; failed this time (an address not yet resolved on
// the LAN, a host that does not answer there); wouldBlock, when a
// non-blocking socket's send queue is full (nothing was sent; a later send
// may go); or unreachable, when no network this host is attached to leads
// to the address, or it is a broadcast address the socket may not send to,
// so no later send can go out either.
enum class NetSend : std::uint8_t { sent, failed, wouldBlock, unreachable };

// An IPv4 UDP socket (AF_INET, SOCK_DGRAM, IPPROTO_UDP), closed when the
// object ends. Moves, never copies: one owner closes it once.
class UdpSocket {
 public:
  // Opens a socket; isOpen() says whether the system gave one.
  static UdpSocket open();

  UdpSocket() = default;  // no socket
  ~UdpSocket() { close(); }
  UdpSocket(UdpSocket&& other) noexcept : handle_(other.handle_) {
    other.handle_ = NET_INVALID_SOCKET;
  }
  UdpSocket& operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = NET_INVALID_SOCKET;
    }
    return *this;
  }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  bool isOpen() const { return handle_ != NET_INVALID_SOCKET; }
  // The system's handle, for waits over several sockets (netWaitAny).
  NetSocket handle() const { return handle_; }

  bool setReuseAddress();
  // Makes a later bind take the address and port for this socket alone, so
  // that no other socket can bind them as well, with or without address
  // reuse (SO_EXCLUSIVEADDRUSE on Windows; on POSIX a socket without
  // SO_REUSEADDR already binds so, and this does nothing).
  bool setExclusiveAddress();
  bool setBroadcast();
  // A receive that waits longer than ms milliseconds returns timedOut.
  bool setReceiveTimeout(int ms);
  // Sends and receives return at once instead of waiting: a send the
  // socket's queue has no room for ends wouldBlock.
  bool setNonBlocking();
  // Asks for a send queue of bytes (beyond the system's usual limit where
  // the process may) and returns the bytes of datagrams the queue may hold
  // as granted, 0 when unknown.
  std::size_t setSendBuffer(std::size_t bytes);

  bool bind(std::uint32_t addr, std::uint16_t port);

  // Sends one datagram. dontRoute keeps it to directly attached networks.
  NetSend send(std::span<const std::uint8_t> datagram, std::uint32_t addr, std::uint16_t port,
               bool dontRoute = false) const;

  // Receives one datagram into area. A datagram longer than the area is
  // cut to it and counts as received. from/fromPort may be null.
  NetResult receive(std::span<std::uint8_t> area, std::size_t* received,
                    std::uint32_t* from = nullptr, std::uint16_t* fromPort = nullptr) const;

  void close();

 private:
  explicit UdpSocket(NetSocket handle) : handle_(handle) {}

  NetSocket handle_ = NET_INVALID_SOCKET;
};

// The local address that the host's routing uses to reach dest (found with a
// scratch socket connected to dest). False when there is no route.
bool netSourceAddressFor(std::uint32_t dest, std::uint32_t* local);

// The first IPv4 address that the local host name resolves to.
bool netHostNameAddress(std::uint32_t* local);

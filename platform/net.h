// IPv4 UDP sockets behind one small interface.
//
// Every socket call of the loader goes through these procedures; one
// backend file per platform implements them (net_posix.cpp, net_windows.cpp)
// and turns the system's error codes into the few results below at the
// boundary. Addresses and ports are passed in host byte order: the first
// dotted component of an address is its most significant byte.
#pragma once

#include <cstddef>
#include <cstdint>

// A socket handle. 0 means "no socket was opened"; NET_INVALID_SOCKET is
// what a failed creation leaves behind. A live socket is never 0.
using NetSocket = std::intptr_t;
inline constexpr NetSocket NET_INVALID_SOCKET = -1;

enum class NetResult : std::uint8_t {
  ok,        // the call did what was asked
  timedOut,  // a receive time-out ran out before a datagram came
  failed,    // any other failure (closed or unbound socket, network error)
};

// Starts and releases the socket library. Counted: every successful
// netStartup needs one netCleanup. On POSIX systems both do nothing.
bool netStartup();
void netCleanup();

// Opens an IPv4 UDP socket (AF_INET, SOCK_DGRAM, IPPROTO_UDP).
// Returns NET_INVALID_SOCKET on failure.
NetSocket netOpenUdp();

bool netSetReuseAddress(NetSocket s);
// Makes a later bind take the address and port for this socket alone, so
// that no other socket can bind them as well, with or without address
// reuse (SO_EXCLUSIVEADDRUSE on Windows; on POSIX a socket without
// SO_REUSEADDR already binds so, and this does nothing).
bool netSetExclusiveAddress(NetSocket s);
bool netSetBroadcast(NetSocket s);
// A receive that waits longer than ms milliseconds returns timedOut.
bool netSetReceiveTimeout(NetSocket s, int ms);
// Sends and receives on s return at once instead of waiting: a send the
// socket's queue has no room for ends wouldBlock.
bool netSetNonBlocking(NetSocket s);
// Asks for a send queue of bytes (beyond the system's usual limit where the
// process may) and returns the bytes of datagrams the queue may hold as
// granted, 0 when unknown.
std::size_t netSetSendBuffer(NetSocket s, std::size_t bytes);

bool netBind(NetSocket s, std::uint32_t addr, std::uint16_t port);

// Sends one datagram. dontRoute keeps it to directly attached networks.
bool netSendTo(NetSocket s, const std::uint8_t* data, std::size_t size, std::uint32_t addr,
               std::uint16_t port, bool dontRoute);

// How a send ended: sent; failed this time (an address not yet resolved on
// the LAN, a host that does not answer there); wouldBlock, when a
// non-blocking socket's send queue is full (nothing was sent; a later send
// may go); or unreachable, when no network this host is attached to leads
// to the address, or it is a broadcast address the socket may not send to,
// so no later send can go out either.
enum class NetSend : std::uint8_t { sent, failed, wouldBlock, unreachable };
NetSend netSend(NetSocket s, const std::uint8_t* data, std::size_t size, std::uint32_t addr,
                std::uint16_t port, bool dontRoute);

// Waits at most timeoutMs (0: not at all; negative: without limit) until a
// datagram waits on s, or a receive on it would fail at once: ok. timedOut
// when the time ran out first or a signal cut the wait short; failed when
// the system can't wait on s.
NetResult netWaitReadable(NetSocket s, int timeoutMs);

// Receives one datagram into buf. A datagram longer than capacity is cut to
// capacity bytes and counts as received. fromAddr/fromPort may be null.
NetResult netReceiveFrom(NetSocket s, std::uint8_t* buf, std::size_t capacity,
                         std::size_t* received, std::uint32_t* fromAddr, std::uint16_t* fromPort);

void netClose(NetSocket s);

// The local address that the host's routing uses to reach dest (found with a
// scratch socket connected to dest). False when there is no route.
bool netSourceAddressFor(std::uint32_t dest, std::uint32_t* local);

// The first IPv4 address that the local host name resolves to.
bool netHostNameAddress(std::uint32_t* local);
